#!/usr/bin/env python3
"""What judging the files costs a FAT repair: commands and seconds, with
read-ahead on, of a repair of a full-size player disk holding 5,000 files in
250 folders, beside the check of the same disk with its FATs equal. Prints
figures; judges nothing.

The disk is made once by tessaly-mkdisk and mtools: 250 folders, each made
and then filled with 20 files (30 to 200 KiB) in one mcopy, as a copy from a
computer lays out a music collection. The second FAT is then put back as it
was before the last ten folders were written, as a power cut between the
player's two FAT writes leaves it. tessaly-bench checks the sound disk
(--check-only) and repairs a copy of the damaged one (--repair-only), which
also gives the figures at the first confirmation box: the check plus the
reading of the FATs and folders that judges the differing sectors.

    bench/files_bench.py --bench build/tessaly-bench --maker build/tessaly-mkdisk
                         [--work DIR] [--runs N]
"""
import argparse
import os
import random
import re
import statistics
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "validation"))
sys.dont_write_bytecode = True
import disk_image  # noqa: E402
import fat_tools  # noqa: E402

FOLDERS = 250
FILES_PER_FOLDER = 20
STALE_FOLDERS = 10
VOLUME_START = 63
FIRST_FAT = 95


def fat_size(image):
    return int.from_bytes(disk_image.read_sectors(image, VOLUME_START)[36:40], "little")


def fill_folder(image, scratch, number):
    rng = random.Random(number)
    folder = f"Album {number:03d} of the collection"
    fat_tools.make_dir(image, VOLUME_START, folder)
    locals_ = []
    for track in range(1, FILES_PER_FOLDER + 1):
        local = os.path.join(scratch, f"{track:02d} Track number {track} of album {number}.mp3")
        with open(local, "wb") as f:
            f.write(rng.randbytes(rng.randrange(30_000, 200_000)))
        locals_.append(local)
    fat_tools.put_files(image, VOLUME_START, locals_, folder)
    for local in locals_:
        os.remove(local)


def build(maker, work):
    """sound.img and stale.img (its second FAT as before the last folders)."""
    sound = os.path.join(work, "sound.img")
    stale = os.path.join(work, "stale.img")
    if os.path.exists(sound) and os.path.exists(stale):
        return sound, stale
    print(f"building the disk: {FOLDERS} folders of {FILES_PER_FOLDER} files (mtools) ...", flush=True)
    subprocess.run([maker, sound], check=True, stdout=subprocess.DEVNULL)
    scratch = os.path.join(work, "scratch")
    os.makedirs(scratch, exist_ok=True)
    size = fat_size(sound)
    for number in range(1, FOLDERS + 1):
        if number == FOLDERS - STALE_FOLDERS + 1:
            before = disk_image.read_sectors(sound, FIRST_FAT, size)
        fill_folder(sound, scratch, number)
    os.rmdir(scratch)
    fat_tools.dig_holes(sound)
    disk_image.sparse_copy(sound, stale)
    disk_image.write_sectors(stale, FIRST_FAT + size, before)
    fat_tools.dig_holes(stale)
    return sound, stale


def figures(text, heading):
    """(requests, READ(10), seconds) of one block of tessaly-bench's output."""
    block = text[text.index(heading):]
    m = re.search(r"wall time\s+([\d.]+) s\s+ASPI requests\s+(\d+) \(INQUIRY \d+, READ CAPACITY \d+, "
                  r"READ\(10\) (\d+), WRITE\(10\) (\d+)\)", block)
    return int(m.group(2)), int(m.group(3)), int(m.group(4)), float(m.group(1))


def run(bench, args):
    return subprocess.run([bench] + args, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                          check=True).stdout.decode()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--bench", required=True, help="the tessaly-bench program")
    parser.add_argument("--maker", required=True, help="the tessaly-mkdisk program")
    parser.add_argument("--work", default="build/files-bench")
    parser.add_argument("--runs", type=int, default=5)
    args = parser.parse_args()
    work = os.path.abspath(args.work)
    os.makedirs(work, exist_ok=True)
    sound, stale = build(args.maker, work)
    copy = os.path.join(work, "repaired.img")

    rows = {"check of the sound disk": [], "to the first box (check, FATs, folders)": [],
            "whole repair (OK, OK)": []}
    for _ in range(args.runs):
        rows["check of the sound disk"].append(figures(run(args.bench, ["--image", sound, "--check-only"]),
                                                       "check only"))
        disk_image.sparse_copy(stale, copy)
        text = run(args.bench, ["--image", copy, "--repair-only"])
        rows["to the first box (check, FATs, folders)"].append(figures(text, "at the first confirmation box"))
        rows["whole repair (OK, OK)"].append(figures(text, "check and repair"))
    os.remove(copy)

    print(f"\n{FOLDERS * FILES_PER_FOLDER} files in {FOLDERS} folders, read-ahead on, "
          f"medians of {args.runs} runs (commands do not vary)")
    print(f"{'run':42} {'commands':>9} {'READ(10)':>9} {'WRITE(10)':>10} {'seconds':>8}")
    for name, values in rows.items():
        requests, reads, writes, _ = values[0]
        seconds = statistics.median(v[3] for v in values)
        print(f"{name:42} {requests:9} {reads:9} {writes:10} {seconds:8.3f}")
    check, walk = rows["check of the sound disk"][0], rows["to the first box (check, FATs, folders)"][0]
    print(f"{'  of which judging the files':42} {walk[0] - check[0]:9} {walk[1] - check[1]:9}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
