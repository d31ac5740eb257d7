#!/usr/bin/env python3
"""Validation of tessaly on real FAT32 volumes made by dosfstools and mtools.

For every case and disk: a copy of the fresh disk is damaged; tessaly runs
once refusing the first OK/Cancel box (the image must stay byte-identical)
and once answering OK to every box; then the report lines, the boxes, the
sectors written, the partition table (sfdisk), the volume (fsck.fat -n) and
every file (mtools, sha256) are checked against the case's prediction. A
repaired partitioned disk must then pass one more run as in order: the
all-clear report, "FAT1 == FAT2", nothing written.

    run_validation.py --tessaly BUILD/tessaly --work DIR [--disks DIR] [--only TEXT]
    run_validation.py --self-check --work DIR [--disks DIR] [--only TEXT]

--self-check runs no tessaly: it proves the checks themselves, by applying
each case's predicted repair to a copy (all checks must pass) and by leaving
the damage unrepaired or adding a stray write (the checks must fail).

--disks names the folder of the fresh disks (default: the work folder). The
cases only ever read them, through copies, so runs with different binaries
can share one folder: disks that the same builder made there are reused,
any others are built anew.

Prints one line per case and disk and a closing "N passed, N failed"; exits
non-zero when any failed.
"""
import sys
sys.dont_write_bytecode = True  # keep the source tree free of caches

import argparse
import hashlib
import json
import os
import re
import subprocess
import time
import types

import build_disks
import cases
import checks
import disk_image
import layout

CONFIRMATION_BOXES = (cases.DAMAGED, cases.ABOUT_TO_REPAIR, cases.REMOVABLE)
JOURNAL_NAMED = re.compile(r'this repair overwrites are saved in .*; to put them back: tessaly-undo "([^"]+)"')


def run_tessaly(tessaly, image, answers, args=()):
    env = {k: v for k, v in os.environ.items() if not k.startswith("ASPI_")}
    env["ASPI_DISKS"] = image
    # The undo journals of the repairs stay beside the image, not in HOME.
    env["TESSALY_UNDO_DIR"] = os.path.join(os.path.dirname(os.path.abspath(image)), "undo")
    proc = subprocess.run([tessaly, *args], input="".join(a + "\n" for a in answers).encode(),
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=env, timeout=600)
    return proc.returncode, proc.stdout.decode(errors="replace"), proc.stderr.decode(errors="replace")


def cancel_plan(boxes):
    """Answers and expected boxes of the Cancel run: OK to the all-clear box,
    Cancel to the first OK/Cancel box, which ends the run."""
    for i, caption in enumerate(boxes):
        if caption in CONFIRMATION_BOXES:
            return ["ok"] * i + ["cancel"], boxes[:i + 1]
    return ["cancel"] * len(boxes), boxes


def check_report(run, disk, rc, out, err, boxes, with_repair, warning=None, tells=None):
    """`run` is (report, absent, boxes) of one run of a case; `warning` the
    line that names a layout the run's repair replaces, if any; `tells` the
    case's lines of what the FAT repair does for the files, if any."""
    report, absent, _ = run
    failures = [] if rc == 0 else [f"exit status {rc}"]
    wanted = report(disk)
    if not with_repair:
        wanted = [line for line in wanted if line != cases.REPAIRING]
    failures += checks.lines_in_order(out, wanted)
    absent = list(absent) + ([] if with_repair else [cases.REPAIRING])
    failures += checks.lines_absent(out, absent)
    failures += checks.check_boxes(err, boxes)
    failures += checks.check_warning(out, err, warning)
    if tells:
        failures += checks.check_tells(err, tells(disk), CONFIRMATION_BOXES)
    return failures


def fat_sums_differ(image, disk):
    size = disk["volume"]["fat_size"]
    fat1 = disk_image.read_sectors(image, cases.first_fat(disk), size)
    fat2 = disk_image.read_sectors(image, cases.second_fat(disk), size)
    return layout.fat_sum(fat1) != layout.fat_sum(fat2)


def precondition(case, disk, damaged):
    """The damage does what the case says before tessaly sees it."""
    if not disk["partitioned"] or disk["volume"]["fats"] < 2:
        return []
    differ = fat_sums_differ(damaged, disk)
    expected = case.fats_differ if case.fats_differ is not None else cases.FATS_DIFFER in case.report(disk)
    if differ != expected:
        return [f"precondition: FAT sums {'differ' if differ else 'agree'} after the damage"]
    return []


def prepare(case, disk, work):
    fresh = disk["image"]
    damaged = os.path.join(work, f"{case.name}.damaged.img")
    disk_image.sparse_copy(fresh, damaged)
    damage = case.damage(damaged, disk)
    return fresh, damaged, damage


def check_settled(case, tessaly, disk, result):
    """A run after the repair finds the disk in order and writes nothing."""
    before = disk_image.content_digest(result)
    rc, out, err = run_tessaly(tessaly, result, ["ok"])
    failures = check_report(case.settled, disk, rc, out, err, case.settled[2], False)
    if disk_image.content_digest(result) != before:
        failures.append("the disk was written again")
    return failures


def undo_repair(tessaly, result, damaged, err):
    """tessaly-undo, beside tessaly, on the journal the repair named, must
    give back the disk as it was before the repair, byte for byte."""
    named = JOURNAL_NAMED.findall(err)
    if len(named) != 1:
        return [f"undo: the repair named {len(named)} journals"]
    undo = os.path.join(os.path.dirname(tessaly), "tessaly-undo")
    rc, out, undo_err = run_tessaly(undo, result, ["yes"], [named[0]])
    if rc != 0:
        return [f"undo: tessaly-undo exit status {rc}: {(out + undo_err).strip()[-300:]!r}"]
    changed = disk_image.differing_sectors(damaged, result)
    return [f"undo: sectors not put back: {changed[:checks.MAX_LISTED]}"] if changed else []


def run_case(case, disk, tessaly, work):
    fresh, damaged, damage = prepare(case, disk, work)
    result = os.path.join(work, f"{case.name}.result.img")
    scratch = os.path.join(work, "volume.img")
    try:
        failures = precondition(case, disk, damaged)
        before = disk_image.content_digest(damaged)

        first = (case.report, case.absent, case.boxes)
        answers, boxes = cancel_plan(case.boxes)
        disk_image.sparse_copy(damaged, result)
        warning = cases.replaced_warning(case, disk)
        rc, out, err = run_tessaly(tessaly, result, answers)
        found = check_report(first, disk, rc, out, err, boxes, False, warning, case.tells)
        failures += [f"cancel run: {f}" for f in found]
        if disk_image.content_digest(result) != before:
            changed = disk_image.differing_sectors(damaged, result)
            failures.append(f"cancel run: image changed in sectors {changed[:checks.MAX_LISTED]}")

        disk_image.sparse_copy(damaged, result)
        stem = os.path.join(work, f"{case.name}.{disk['name']}")
        for number, run in enumerate([first] + list(case.then), 1):
            rc, out, err = run_tessaly(tessaly, result, ["ok"] * len(run[2]))
            for suffix, text in ((f".{number}.stdout", out), (f".{number}.stderr", err)):
                with open(stem + suffix, "w") as f:
                    f.write(text)
            found = check_report(run, disk, rc, out, err, run[2], True, *((warning, case.tells) if number == 1 else ()))
            failures += [f"run {number}: {f}" if case.then else f for f in found]
            if number == 1 and case.after_first:
                first_writes = types.SimpleNamespace(after=case.after_first)
                found = checks.check_writes(first_writes, disk, fresh, damaged, damage, result)
                failures += [f"run 1: {f}" for f in found]
        failures += checks.check_disk(case, disk, fresh, damaged, damage, result, scratch)
        if case.after is not None and disk["partitioned"]:
            failures += [f"next run: {f}" for f in check_settled(case, tessaly, disk, result)]
        if case.replaces:
            failures += undo_repair(tessaly, result, damaged, err)
        if failures:
            # Kept for a look with the tools (sparse, so cheap).
            os.replace(result, stem + ".failed.img")
        return failures
    finally:
        checks.cleanup(damaged, result, scratch)


def simulate_repair(case, disk, damaged, damage, result):
    """Writes the case's predicted outcome into `result`, as a correct
    tessaly would leave it."""
    disk_image.sparse_copy(damaged, result)
    if case.after is None:
        return
    if case.after is cases.after_repartition:
        # A stand-in bootstrap: the template's bytes 90..509 are tessaly's.
        disk_image.write_sectors(result, 63, layout.template_boot_head() + bytes(420) + b"\x55\xaa")
    patches = case.after(disk["image"], damaged, disk, damage, result)
    fresh_changes = set(disk_image.differing_sectors(disk["image"], damaged))
    for s in sorted(fresh_changes - set(patches)):
        disk_image.write_sectors(result, s, disk_image.read_sectors(disk["image"], s))
    for s, data in patches.items():
        disk_image.write_sectors(result, s, data)


def self_check_case(case, disk, work):
    """The checks pass on the predicted outcome and fail on a wrong one."""
    fresh, damaged, damage = prepare(case, disk, work)
    result = os.path.join(work, f"{case.name}.result.img")
    scratch = os.path.join(work, "volume.img")
    try:
        failures = precondition(case, disk, damaged)
        simulate_repair(case, disk, damaged, damage, result)
        found = checks.check_disk(case, disk, fresh, damaged, damage, result, scratch)
        failures += [f"predicted outcome rejected: {f}" for f in found]

        # A wrong outcome: the damage left as it was, or a stray write.
        if case.after is not None and (damage or not disk["partitioned"]):
            wrong, what = damaged, "unrepaired damage"
        else:
            wrong, what = result, "a stray write to sector 1"
            disk_image.write_sectors(result, 1, b"\x01" + bytes(511))
        if not checks.check_disk(case, disk, fresh, damaged, damage, wrong, scratch):
            failures.append(f"{what} passes the checks")

        if case.files == "intact":
            # One cluster of a file spoilt behind the tools' backs.
            vol = disk["volume"]
            cluster = disk["chains"][disk["probe"]][-1]
            data_start = disk["offset"] + vol["reserved"] + vol["fats"] * vol["fat_size"] + vol["root_sectors"]
            disk_image.sparse_copy(damaged if case.after is None else result, scratch)
            simulate_repair(case, disk, damaged, damage, scratch)
            disk_image.write_sectors(scratch, data_start + (cluster - 2) * vol["sectors_per_cluster"], b"\xee" * 512)
            if not checks.check_files(case, disk, scratch):
                failures.append("a spoilt file cluster passes the file check")
        return failures
    finally:
        checks.cleanup(damaged, result, scratch)


def self_check_report():
    """The report and box checks on made-up output."""
    failures = []
    out = "banner\nPellora Hard Drive is OK\nFAT1 == FAT2\n"
    if checks.lines_in_order(out, ["Pellora Hard Drive is OK", "FAT1 == FAT2"]):
        failures.append("lines in order rejected")
    if not checks.lines_in_order(out, ["FAT1 == FAT2", "Pellora Hard Drive is OK"]):
        failures.append("lines out of order accepted")
    if not checks.lines_in_order(out, ["FAT1 == FAT"]):
        failures.append("a partial line accepted")
    if not checks.lines_absent(out, ["FAT1 =="]):
        failures.append("an unwanted line not seen")
    err = "\n+---\n| " + cases.DAMAGED + "\n+---\n text\n+---\nAnswer ok or cancel: \n(closed: Cancel)\n"
    if checks.box_captions(err) != [cases.DAMAGED]:
        failures.append(f"captions read as {checks.box_captions(err)!r}")
    if len(checks.check_boxes(err, [cases.DAMAGED])) != 1:
        failures.append("a box without an answer not seen")
    warning = cases.REPLACED_WARNING.format(cases.REPLACED_LAYOUTS["fat16-63"])
    for text, wanted, passes in ((warning + err, warning, True), (err, warning, False), (warning + err, None, False),
                                 (err + warning + "\n", warning, False), (warning + err, warning[:-1], False)):
        if (not checks.check_warning(out, text, wanted)) != passes:
            failures.append(f"layout warning {'rejected' if passes else 'accepted'} in {text!r}, expected {wanted!r}")
    return failures


# The modules whose code decides what the fresh disks hold.
BUILDER_SOURCES = ("build_disks.py", "fat_tools.py", "disk_image.py")


def builder_stamp():
    digest = hashlib.sha256()
    here = os.path.dirname(os.path.abspath(__file__))
    for name in BUILDER_SOURCES:
        with open(os.path.join(here, name), "rb") as f:
            digest.update(f.read())
    return digest.hexdigest()


def fresh_disks(folder):
    """The manifest of the fresh disks in `folder`, and whether they were
    built now: disks built there by the same builder code are reused."""
    manifest_path = os.path.join(folder, "manifest.json")
    stamp_path = os.path.join(folder, "builder.sha256")
    stamp = builder_stamp()
    try:
        with open(stamp_path) as f:
            kept = f.read().strip() == stamp
        with open(manifest_path) as f:
            manifest = json.load(f)
        if kept and all(os.path.isfile(d["image"]) for d in manifest.values()):
            return manifest, False
    except (OSError, ValueError, KeyError, AttributeError):
        pass
    # A build cut short must not leave an older stamp beside half-made disks.
    checks.cleanup(stamp_path)
    manifest = build_disks.build_all(folder)
    with open(stamp_path, "w") as f:
        f.write(stamp + "\n")
    return manifest, True


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--tessaly")
    parser.add_argument("--self-check", action="store_true")
    parser.add_argument("--work", required=True)
    parser.add_argument("--disks", help="folder of the fresh disks, shared between runs (default: --work)")
    parser.add_argument("--only", help="run only the cases whose name contains this text")
    args = parser.parse_args()
    if not args.self_check and not args.tessaly:
        parser.error("--tessaly or --self-check is needed")
    work = os.path.abspath(args.work)
    disks = os.path.abspath(args.disks or args.work)
    os.makedirs(work, exist_ok=True)
    os.makedirs(disks, exist_ok=True)

    started = time.monotonic()
    try:
        manifest, built = fresh_disks(disks)
    except (RuntimeError, OSError) as error:
        print(f"FAIL building the disks: {error}")
        print("0 passed, 1 failed")
        return 1
    for name, disk in manifest.items():
        disk["name"] = name
    print(f"disks {'built' if built else 'reused'} in {time.monotonic() - started:.1f}s: "
          + ", ".join(f"{n} ({d['sectors']} sectors, FAT size {d['volume']['fat_size']})"
                      for n, d in manifest.items()))

    passed = failed = 0
    if args.self_check:
        failures = self_check_report()
        print(("FAIL" if failures else "ok  ") + " report and box checks")
        for f in failures:
            print("  " + f)
        passed, failed = (0, 1) if failures else (1, 0)
    for case in cases.CASES:
        if args.only and args.only not in case.name:
            continue
        for name in case.disks:
            t = time.monotonic()
            try:
                if args.self_check:
                    failures = self_check_case(case, manifest[name], work)
                else:
                    failures = run_case(case, manifest[name], os.path.abspath(args.tessaly), work)
            except (RuntimeError, OSError, subprocess.SubprocessError) as error:
                failures = [f"{type(error).__name__}: {error}"]
            label = f"{case.name} on {name}"
            took = f"({time.monotonic() - t:.1f}s)"
            if failures:
                failed += 1
                print(f"FAIL {label} {took}")
                for f in failures:
                    print("  " + f)
            else:
                passed += 1
                print(f"ok   {label} {took}" + (f" -- {case.note}" if case.note else ""))
            sys.stdout.flush()
    print(f"{passed} passed, {failed} failed")
    return 1 if failed or not passed else 0


if __name__ == "__main__":
    sys.exit(main())
