#!/usr/bin/env python3
"""Check-only wall time of tessaly on a player disk image against fsck.fat -n
on the same volume, and the commands that reach the disk with and without
read-ahead. Prints figures; judges nothing.

The disk is the validation suite's full-size player disk (11,695,320
sectors: sfdisk, mkfs.fat, files written by mtools). tessaly checks the whole
image through ASPI_DISKS, the all-clear box answered by an empty line;
fsck.fat -n checks the same volume, copied out sparsely into a file of its
own beforehand (fsck.fat takes no offset). The runs alternate, tessaly with
read-ahead and fsck.fat in pairs, tessaly without read-ahead, and, given
--compare, another build of tessaly (say, of main: figures before and after a
change from one run); the medians are printed, and the check's against
fsck.fat's.

    bench/image_bench.py --tessaly build/tessaly --bench build/tessaly-bench
                         [--compare OTHER_TESSALY] [--work DIR] [--runs N]
"""
import argparse
import os
import re
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "validation"))
sys.dont_write_bytecode = True
import build_disks  # noqa: E402
import disk_image  # noqa: E402


def timed(command, env=None, stdin=b""):
    start = time.monotonic()
    proc = subprocess.run(command, input=stdin, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env=env)
    seconds = time.monotonic() - start
    if proc.returncode != 0:
        sys.exit(f"{' '.join(command)} exited with {proc.returncode}")
    return seconds


def commands(bench, image, readahead):
    """READ(10) and all requests reaching the disk in one check, from tessaly-bench."""
    args = [bench, "--image", image, "--check-only"] + ([] if readahead else ["--no-readahead"])
    text = subprocess.run(args, stdout=subprocess.PIPE, check=True).stdout.decode()
    m = re.search(r"ASPI requests\s+(\d+) \(INQUIRY (\d+), READ CAPACITY (\d+), READ\(10\) (\d+), WRITE\(10\) (\d+)\)",
                  text)
    total, _, _, reads, _ = map(int, m.groups())
    read_bytes = int(re.search(r"bytes read\s+(\d+)", text).group(1))
    return total, reads, read_bytes


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--tessaly", required=True)
    parser.add_argument("--bench", required=True, help="the tessaly-bench program")
    parser.add_argument("--compare", help="another tessaly program, timed in the same alternation")
    parser.add_argument("--work", default="build/image-bench")
    parser.add_argument("--runs", type=int, default=15)
    args = parser.parse_args()
    os.makedirs(args.work, exist_ok=True)
    image = os.path.join(os.path.abspath(args.work), "big.img")
    volume = os.path.join(os.path.abspath(args.work), "volume.img")
    if not os.path.exists(image):
        print("building the player disk (sfdisk, mkfs.fat, mtools) ...", flush=True)
        build_disks.build_all(os.path.abspath(args.work), ["big"])
    sectors = disk_image.sector_count(image)
    disk_image.extract_range(image, volume, build_disks.VOLUME_START, sectors - build_disks.VOLUME_START)

    env = {k: v for k, v in os.environ.items() if not k.startswith("ASPI_")}
    env["ASPI_DISKS"] = image
    programs = {"tessaly, read-ahead on": ([args.tessaly], dict(env, TESSALY_READAHEAD="1"), b"\n"),
                "fsck.fat -n": (["fsck.fat", "-n", volume], None, b""),
                "tessaly, read-ahead off": ([args.tessaly], dict(env, TESSALY_READAHEAD="0"), b"\n")}
    if args.compare:
        programs[f"{args.compare}, read-ahead on"] = ([args.compare], dict(env, TESSALY_READAHEAD="1"), b"\n")
    runs = {name: [] for name in programs}
    for _ in range(args.runs):
        for name, (command, command_env, stdin) in programs.items():
            runs[name].append(timed(command, command_env, stdin))

    print(f"\ncheck only, {sectors} sectors, medians of {args.runs} alternating runs")
    print(f"{'program':40} {'median s':>9} {'min s':>7} {'max s':>7}")
    for name, seconds in runs.items():
        print(f"{name:40} {statistics.median(seconds):9.4f} {min(seconds):7.4f} {max(seconds):7.4f}")
    fsck = statistics.median(runs["fsck.fat -n"])
    for name, seconds in runs.items():
        if name.endswith("read-ahead on"):
            print(f"{name}: {statistics.median(seconds) / fsck:.2f} times fsck.fat -n")
    print(f"\ncommands reaching the disk in one check")
    print(f"{'read-ahead':12} {'requests':>9} {'READ(10)':>9} {'bytes read':>11}")
    for readahead in (True, False):
        total, reads, read_bytes = commands(args.bench, image, readahead)
        print(f"{'on' if readahead else 'off':12} {total:9} {reads:9} {read_bytes:11}")
    os.remove(volume)
    return 0


if __name__ == "__main__":
    sys.exit(main())
