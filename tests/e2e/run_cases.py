#!/usr/bin/env python3
"""Runs tessaly's end-to-end cases: the real binary against disk images.

A case is a folder holding
  case.toml      what to run: arguments, answers to the boxes, disks, the
                 expected exit code and what must hold of the disks afterwards
  expected.out   standard output, byte for byte
Disks are sparse image files made fresh for every run, either blank of a
given size or by the sample disk maker, and served through ASPI_DISKS.

case.toml keys (all optional but expect_exit):
  args = ["-v2"]               command-line arguments
  answers = "ok\\nok\\n"        standard input, one line per box
  env = { ASPI_SUPPORT = "0x0100" }   extra environment
  expect_exit = 0              the exit status as a POSIX shell sees it
  expected = "expected.out"    the file with the expected standard output
  stderr_contains = ["..."]    texts that the boxes drawn on standard error
                               must show
  stderr_ends = ["regex", ...] the last lines of standard error, each matched
                               whole by its regular expression
  stdout_ends = ["regex", ...] the same for standard output
  boxes = ["all-clear", "D1"]  the boxes shown, in order and no others,
                               known by their captions on standard error
                               (names in BOX_CAPTIONS)
  second_run = "all-clear.out" after the run, run again (answers refused)
                               and compare with this file
  undo = true                  then undo the repair with tessaly-undo (see
                               undo_steps.py)
  kill_after_journal = 0.5     kill tessaly this many seconds after its undo
                               journal is named (standard output is not
                               compared)
Every run keeps its undo journals in the case's folder (TESSALY_UNDO_DIR).
  [[disk]]                     one entry of ASPI_DISKS each
  sectors = 200000             blank sparse image of this many sectors, or
  maker = ["--damage", "x"]    arguments of the disk maker (after the path)
  attrs = "model=...,async"    ASPI_DISKS attributes of the entry
  after = "unchanged"          unchanged | changed | a list of checks, each
                               a dict understood by check_disk below;
                               {check="sectors-kept", first=69, count=1}
                               compares sectors with their content before
                               the run
"""
import argparse
import hashlib
import os
import re
import shutil
import subprocess
import sys
import time
import tomllib

import undo_steps


def data_ranges(f, size):
    """The parts of a sparse file that may hold data; holes read as zero."""
    if not hasattr(os, "SEEK_DATA"):
        return [(0, size)]
    ranges, offset = [], 0
    while offset < size:
        try:
            start = os.lseek(f.fileno(), offset, os.SEEK_DATA)
        except OSError:
            break
        end = os.lseek(f.fileno(), start, os.SEEK_HOLE)
        ranges.append((start, end))
        offset = end
    return ranges


def sha256(path):
    """Digest of a disk's content: its size and every block that is not all
    zero, with its offset. Holes and zero blocks hash alike, so a multi-
    gigabyte sparse image is compared without reading its holes."""
    digest = hashlib.sha256()
    block_size = 1 << 20
    zero = bytes(block_size)
    size = os.path.getsize(path)
    digest.update(str(size).encode())
    with open(path, "rb") as f:
        done = 0  # every block below this offset is hashed already
        for start, end in data_ranges(f, size):
            offset = max(start - start % block_size, done)
            f.seek(offset)
            while offset < end:
                block = f.read(block_size)
                if not block:
                    break
                if block != zero[:len(block)]:
                    digest.update(offset.to_bytes(8, "little") + block)
                offset += len(block)
            done = offset
    return digest.hexdigest()


def read_sectors(path, first, count):
    with open(path, "rb") as f:
        f.seek(first * 512)
        return f.read(count * 512)


def after_checks(disk):
    after = disk.get("after", [])
    return [{"check": after}] if isinstance(after, str) else after


def disk_state(path, disk):
    """What the checks after the run compare with: the digest of the whole
    disk, and the content of the sectors that must be kept."""
    kept = {(c["first"], c["count"]): read_sectors(path, c["first"], c["count"])
            for c in after_checks(disk) if c["check"] == "sectors-kept"}
    return sha256(path), kept


def check_disk(path, state, check):
    """One condition on a disk after the run; returns an error text or None."""
    before, kept = state
    kind = check["check"]
    if kind == "sectors-kept":
        if read_sectors(path, check["first"], check["count"]) == kept[(check["first"], check["count"])]:
            return None
        return f"sectors {check['first']}+{check['count']} changed"
    if kind == "unchanged":
        return None if sha256(path) == before else "image changed"
    if kind == "changed":
        return None if sha256(path) != before else "image unchanged"
    if kind == "sectors-equal":
        # {check="sectors-equal", a=95, b=1095, count=1000}
        a = read_sectors(path, check["a"], check["count"])
        b = read_sectors(path, check["b"], check["count"])
        if a == b:
            return None
        for i in range(check["count"]):
            if a[i * 512:(i + 1) * 512] != b[i * 512:(i + 1) * 512]:
                return f"sector {check['a'] + i} differs from sector {check['b'] + i}"
    if kind == "bytes":
        # {check="bytes", sector=0, offset=510, hex="55aa"}
        data = read_sectors(path, check["sector"], 1)[check["offset"]:]
        want = bytes.fromhex(check["hex"])
        if data[:len(want)] == want:
            return None
        return (f"sector {check['sector']} offset {check['offset']}: "
                f"{data[:len(want)].hex()} instead of {want.hex()}")
    if kind == "sectors-sha256":
        data = read_sectors(path, check["first"], check["count"])
        got = hashlib.sha256(data).hexdigest()
        return None if got == check["sha256"] else f"sectors {check['first']}+{check['count']}: sha256 {got}"
    return f"unknown check {kind}"


# The captions of every box, as they show on standard error.
BOX_CAPTIONS = {
    "all-clear": "Pellora Hard Drive partition was found OK !",
    "D1": "ERROR: Hard Drive file structure is damaged !",
    "D2": "About to repair the Pellora Hard Disk !",
    "R1": "ERROR: Hard Disk is removable !",
    "no-aspi": "ERROR: no ASPI for WIN32 support detected !",
    "no-drive": "ERROR: Pellora Hard Drive not detected !",
}


def shown_boxes(stderr):
    """The boxes in the order their captions appear. R2 shares D1's caption;
    after R1 it is named R2."""
    found = []
    for name, caption in BOX_CAPTIONS.items():
        start = stderr.find(caption)
        while start != -1:
            found.append((start, name))
            start = stderr.find(caption, start + 1)
    names = [name for _, name in sorted(found)]
    return ["R2" if name == "D1" and "R1" in names[:i] else name for i, name in enumerate(names)]


def make_disk(disk, path, maker):
    if os.path.exists(path):
        os.remove(path)
    if "maker" in disk:
        if not maker:
            raise RuntimeError("case needs the disk maker (--maker)")
        subprocess.run([maker, path] + disk["maker"], check=True, stdout=subprocess.DEVNULL)
    else:
        with open(path, "wb") as f:
            f.truncate(disk.get("sectors", 2048) * 512)


def aspi_disks(case, disks):
    entries = []
    for disk, path in zip(case.get("disk", []), disks):
        attrs = disk.get("attrs", "")
        entries.append(path + ("," + attrs if attrs else ""))
    return ";".join(entries)


def run_tessaly(tessaly, case, work, disks, answers):
    env = {k: v for k, v in os.environ.items() if not k.startswith("ASPI_")}
    env["TESSALY_UNDO_DIR"] = os.path.join(work, "undo")
    env.update(case.get("env", {}))
    if disks:
        env["ASPI_DISKS"] = aspi_disks(case, disks)
    if "kill_after_journal" in case:
        return run_and_kill(tessaly, case, work, env, answers)
    proc = subprocess.run([tessaly] + case.get("args", []), input=answers.encode(),
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=env, cwd=work,
                          timeout=300)
    return proc


def run_and_kill(tessaly, case, work, env, answers):
    """Kills tessaly in the middle of its writes: a given time after its
    standard error has named the journal."""
    err_path = os.path.join(work, "stderr-live")
    with open(err_path, "wb") as err:
        proc = subprocess.Popen([tessaly] + case.get("args", []), stdin=subprocess.PIPE,
                                stdout=subprocess.DEVNULL, stderr=err, env=env, cwd=work)
        proc.stdin.write(answers.encode())
        proc.stdin.close()
        deadline = time.monotonic() + 120
        while proc.poll() is None and time.monotonic() < deadline:
            with open(err_path, "rb") as f:
                if undo_steps.named_journal(f.read()):
                    break
            time.sleep(0.01)
        time.sleep(case["kill_after_journal"])
        proc.kill()
        proc.wait()
    with open(err_path, "rb") as f:
        return subprocess.CompletedProcess(proc.args, proc.returncode, b"", f.read())


def first_difference(got, want):
    for i, (a, b) in enumerate(zip(got, want)):
        if a != b:
            return i
    return min(len(got), len(want))


def compare_output(name, got, want_path, failures):
    with open(want_path, "rb") as f:
        want = f.read()
    if got != want:
        at = first_difference(got, want)
        failures.append(f"{name}: standard output differs at byte {at}:\n"
                        f"  got:      {got[max(0, at - 40):at + 60]!r}\n"
                        f"  expected: {want[max(0, at - 40):at + 60]!r}")


def check_ends(name, case, stdout, stderr, failures):
    """stdout_ends and stderr_ends: the lines before the final newline, empty ones included."""
    for key, output, what in (("stdout_ends", stdout, "output"), ("stderr_ends", stderr, "error")):
        patterns = case.get(key, [])
        lines = output.decode(errors="replace").removesuffix("\n").split("\n")[-len(patterns):] if patterns else []
        if len(lines) < len(patterns) or not all(re.fullmatch(p, line) for p, line in zip(patterns, lines)):
            failures.append(f"{name}: standard {what} ends {lines!r},\n  expected {patterns!r}")


def run_case(case_dir, tessaly, maker, work_root, undo):
    name = os.path.basename(case_dir.rstrip("/"))
    with open(os.path.join(case_dir, "case.toml"), "rb") as f:
        case = tomllib.load(f)
    work = os.path.join(work_root, name)
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work, exist_ok=True)
    disks = [os.path.join(work, f"disk{i}.img") for i in range(len(case.get("disk", [])))]
    for disk, path in zip(case.get("disk", []), disks):
        make_disk(disk, path, maker)
    before = [disk_state(p, d) for p, d in zip(disks, case.get("disk", []))]

    failures = []
    proc = run_tessaly(tessaly, case, work, disks, case.get("answers", ""))
    with open(os.path.join(work, "stdout"), "wb") as f:
        f.write(proc.stdout)
    with open(os.path.join(work, "stderr"), "wb") as f:
        f.write(proc.stderr)
    if "kill_after_journal" not in case:
        compare_output(name, proc.stdout, os.path.join(case_dir, case.get("expected", "expected.out")), failures)
    for text in case.get("stderr_contains", []):
        if text.encode() not in proc.stderr:
            failures.append(f"{name}: standard error lacks {text!r}")
    check_ends(name, case, proc.stdout, proc.stderr, failures)
    if "boxes" in case:
        shown = shown_boxes(proc.stderr.decode(errors="replace"))
        if shown != case["boxes"]:
            failures.append(f"{name}: boxes shown {shown}, expected {case['boxes']}")
    if proc.returncode != case["expect_exit"]:
        failures.append(f"{name}: exit status {proc.returncode}, expected {case['expect_exit']}")

    for disk, path, state in zip(case.get("disk", []), disks, before):
        for check in after_checks(disk):
            error = check_disk(path, state, check)
            if error:
                failures.append(f"{name}: {os.path.basename(path)}: {error}")

    if "second_run" in case:
        again = run_tessaly(tessaly, case, work, disks, "cancel\ncancel\n")
        compare_output(name + " (second run)", again.stdout, os.path.join(case_dir, case["second_run"]), failures)
    if "undo" in case:
        if not undo:
            raise RuntimeError("case needs tessaly-undo (--undo)")
        failures += undo_steps.undo_step(case, name, work, disks, aspi_disks(case, disks),
                                         [state[0] for state in before], proc.stderr, undo, sha256)
    return failures


class Tally:
    """One line per case (ok or FAIL with its failures) and the closing count."""

    def __init__(self):
        self.passed = self.failed = 0

    def report(self, label, failures):
        if failures:
            self.failed += 1
            print(f"FAIL {label}")
            for line in failures:
                print("  " + line.replace("\n", "\n  "))
        else:
            self.passed += 1
            print(f"ok   {label}")
        sys.stdout.flush()

    def close(self):
        print(f"{self.passed} passed, {self.failed} failed")
        return 1 if self.failed or not self.passed else 0


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--tessaly", required=True)
    parser.add_argument("--maker")
    parser.add_argument("--undo", help="tessaly-undo, for the cases with an undo step")
    parser.add_argument("--work", required=True)
    parser.add_argument("--only", help="run only the cases whose name contains this text")
    parser.add_argument("cases")
    args = parser.parse_args()
    tessaly = os.path.abspath(args.tessaly)
    maker = os.path.abspath(args.maker) if args.maker else None
    undo = os.path.abspath(args.undo) if args.undo else None
    # Disks are named by path from the case's own working directory.
    args.work = os.path.abspath(args.work)
    os.makedirs(args.work, exist_ok=True)

    names = sorted(d for d in os.listdir(args.cases)
                   if os.path.isfile(os.path.join(args.cases, d, "case.toml")))
    if args.only:
        names = [n for n in names if args.only in n]
    tally = Tally()
    for name in names:
        tally.report(name, run_case(os.path.join(args.cases, name), tessaly, maker, args.work, undo))
    return tally.close()


if __name__ == "__main__":
    sys.exit(main())
