#!/usr/bin/env python3
"""Runs tessaly's cases in a virtual machine, against disks that a USB mass
storage device presents to a real Linux kernel, through its SCSI generic
driver.

Each case boots its own machine: qemu's xHCI controller with one USB bulk-only
device (usb-bot) per disk, a scsi-hd on each carrying the vendor and product
texts of the case, backed by an image file made fresh on the host. The init
of the machine (init.sh) loads the drivers, runs tessaly with the case's
answers and sends its standard output, standard error and exit status back
over the second serial port. The host compares them and checks the images.

A case is a folder under tests/vm/cases with a case.toml in the format of the
end-to-end cases (see tests/e2e/run_cases.py), plus:
  same_as = "NAME"        start from the end-to-end case NAME: its case.toml
                          is read first and its expected files are used, so
                          that both runs are held to the same bytes; the
                          keys here replace its keys, but add to its
                          *_contains lists
  sg = false              do not load the SCSI generic driver
  hold_player = "mount"   what holds the first disk's first partition while
                          tessaly runs: "mount" (mounted read-only), "loop"
                          (a loop device over it, mounted read-only) or
                          "swap" (mkswap, then swapon); what mkswap writes is
                          sent back and counts as part of the disk before
                          the run
  stdout_contains = [...] texts standard output must hold (for cases that
                          compare no whole file: expected = false)
  expect_disks = N        SCSI devices to wait for (default: the disks)
  sg_mode = "0660"        permissions of /dev/sg* (owner root, group disk)
  run_as = "player"       run tessaly as this user instead of root: player
                          is in the group disk, guest is not
  script = "FILE"         a shell script of the case folder that the
                          machine runs instead of tessaly (see init.sh)
  undo_in_vm = true       after the runs, tessaly-undo puts the disk back
                          (answer "yes") from the journal the first run
                          named; it must end with 0 ("after" then compares
                          the disk with its state before the run)
  blocks_before = [...]   the block devices the kernel shows before the run
  blocks_after = [...]    and after the first run (/sys/class/block), a
                          partition with its start sector: ["sda", "sda1 63"]
The end-to-end keys map onto the machine like this: the model attribute
becomes the scsi-hd vendor (its first 8 characters) and product (the next
16); badread and badwrite become blkdebug rules that fail reads or writes of
those sectors with EIO; ro makes the drive read-only; ha orders the disks
(each USB disk is a SCSI host of its own, at target id 0) and id is not
reproduced. env is not passed on: the machine has its own SCSI devices.
"""
import argparse
import concurrent.futures
import base64
import os
import shutil
import subprocess
import sys
import time
import tomllib

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "e2e"))
import run_cases  # noqa: E402  (the disk maker and the disk checks)
import make_initramfs  # noqa: E402

E2E_CASES = os.path.join(HERE, "..", "e2e", "cases")


class CaseError(Exception):
    pass


def load_case(case_dir):
    """The case's settings and the folder its expected files come from."""
    with open(os.path.join(case_dir, "case.toml"), "rb") as f:
        own = tomllib.load(f)
    if "script" in own:
        own["script"] = os.path.join(case_dir, own["script"])
    if "same_as" not in own:
        return own, case_dir
    base_dir = os.path.join(E2E_CASES, own["same_as"])
    if not os.path.isfile(os.path.join(base_dir, "case.toml")):
        raise CaseError(f"same_as: no end-to-end case {own['same_as']}")
    with open(os.path.join(base_dir, "case.toml"), "rb") as f:
        case = tomllib.load(f)
    for key in ("stdout_contains", "stderr_contains"):
        if key in own:
            own[key] = case.get(key, []) + own[key]
    case.update(own)
    return case, base_dir


def parse_attrs(text):
    attrs = {}
    for item in filter(None, text.split(",")):
        key, _, value = item.partition("=")
        attrs[key] = value
    return attrs


def sector_list(text):
    sectors = []
    for part in text.split("+"):
        first, _, last = part.partition("-")
        sectors.extend(range(int(first), int(last or first) + 1))
    return sectors


def blkdebug_rules(attrs):
    rules = []
    for key, iotype in (("badread", "read"), ("badwrite", "write")):
        for sector in sector_list(attrs[key]) if key in attrs else []:
            # The first read of the raw driver arms every rule; iotype keeps
            # a read rule from failing writes of the same sector.
            rules.append(f'[inject-error]\nevent = "read_aio"\niotype = "{iotype}"\n'
                         f'errno = "5"\nsector = "{sector}"\nonce = "off"\n')
    return "\n".join(rules)


def disk_devices(index, disk, path, work):
    """The qemu arguments of one USB disk."""
    attrs = parse_attrs(disk.get("attrs", ""))
    unknown = set(attrs) - {"model", "badread", "badwrite", "ro", "ha", "id", "async"}
    if unknown:
        raise CaseError(f"attributes {sorted(unknown)} cannot be reproduced in the machine")
    model = attrs.get("model", "TOSHIBA MK6015MAP")
    vendor, product = model[:8].rstrip(), model[8:24].rstrip()
    file = path
    rules = blkdebug_rules(attrs)
    if rules:
        config = os.path.join(work, f"blkdebug{index}.conf")
        with open(config, "w") as f:
            f.write(rules)
        file = f"blkdebug:{config}:{path}"
    readonly = ",readonly=on" if "ro" in attrs else ""
    return ["-drive", f"if=none,id=d{index},format=raw,file={file}{readonly}",
            "-device", f"usb-bot,id=bot{index},bus=xhci.0",
            "-device", f"scsi-hd,bus=bot{index}.0,drive=d{index},vendor={vendor},product={product}"]


def prepare_case(name, case, folder):
    """The case folder inside the initramfs."""
    os.makedirs(folder, exist_ok=True)
    settings = {
        "LOAD_SG": int(case.get("sg", True)),
        "DISKS": case.get("expect_disks", len(case.get("disk", []))),
        "HOLD_PLAYER": case.get("hold_player", ""),
        "SECOND_RUN": int("second_run" in case),
        "SG_MODE": case.get("sg_mode", ""),
        "RUN_AS": case.get("run_as", ""),
        "UNDO": int(case.get("undo_in_vm", False)),
        "BLOCKS": int("blocks_before" in case or "blocks_after" in case),
    }
    with open(os.path.join(folder, "settings"), "w") as f:
        f.write("".join(f"{k}={v}\n" for k, v in settings.items()))
    with open(os.path.join(folder, "args"), "w") as f:
        f.write("".join(a + "\n" for a in case.get("args", [])))
    with open(os.path.join(folder, "answers"), "w") as f:
        f.write(case.get("answers", ""))
    if "script" in case:
        shutil.copyfile(case["script"], os.path.join(folder, "script.sh"))


def read_results(path):
    """The files the guest sent, by name."""
    files, current, done = {}, None, False
    with open(path, "rb") as f:
        for raw in f:
            line = raw.decode("ascii", "replace").strip()
            if line.startswith("@@file "):
                current = line[7:]
                files[current] = []
            elif line == "@@end":
                current = None
            elif line == "@@done":
                done = True
            elif current is not None:
                files[current].append(line)
    return {k: base64.b64decode("".join(v)) for k, v in files.items()}, done


def boot(args, name, work, devices):
    console = os.path.join(work, "console.log")
    results = os.path.join(work, "results.log")
    for p in (console, results):
        if os.path.exists(p):
            os.remove(p)
    command = [args.qemu, "-accel", "tcg", "-cpu", "max", "-m", "512", "-nographic", "-no-reboot",
               "-monitor", "none", "-serial", f"file:{console}", "-serial", f"file:{results}",
               "-kernel", args.kernel, "-initrd", args.initramfs,
               "-append", f"console=ttyS0 loglevel=4 panic=-1 tcase={name}",
               "-device", "qemu-xhci,id=xhci"] + devices
    with open(os.path.join(work, "qemu.cmd"), "w") as f:
        f.write(" ".join(command) + "\n")
    try:
        subprocess.run(command, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=open(os.path.join(work, "qemu.err"), "wb"), timeout=args.timeout,
                       check=False)
    except subprocess.TimeoutExpired:
        raise CaseError(f"the machine did not power off within {args.timeout} s (see {console})")
    files, done = read_results(results)
    if not done:
        raise CaseError(f"the machine sent no results (see {console})")
    if "setup_error" in files:
        raise CaseError("the machine could not set up the case: " +
                        files["setup_error"].decode(errors="replace").strip())
    return files


def compare(name, files, suffix, case, base_dir, key, failures):
    got = files.get("stdout" + suffix, b"")
    expected = case.get(key, "expected.out") if key == "expected" else case[key]
    if expected is not False:
        run_cases.compare_output(name, got, os.path.join(base_dir, expected), failures)


def run_case(args, name, case, base_dir):
    work = os.path.join(args.work, name)
    os.makedirs(work, exist_ok=True)
    disks = case.get("disk", [])
    order = sorted(range(len(disks)), key=lambda i: int(parse_attrs(disks[i].get("attrs", "")).get("ha", 0)))
    paths = [os.path.join(work, f"disk{i}.img") for i in range(len(disks))]
    for disk, path in zip(disks, paths):
        run_cases.make_disk(disk, path, args.maker)
    before = [run_cases.disk_state(p, d) for p, d in zip(paths, disks)]
    if "hold_player" in case:
        # The set-up may write to the first disk: a copy receives its writes.
        subprocess.run(["cp", "--sparse=always", paths[0], paths[0] + ".setup"], check=True)
    devices = []
    for i in order:
        devices += disk_devices(i, disks[i], paths[i], work)

    files = boot(args, name, work, devices)
    for k, v in files.items():
        with open(os.path.join(work, k), "wb") as f:
            f.write(v)
    if "setup_page" in files:
        with open(paths[0] + ".setup", "r+b") as f:
            f.seek(int(files["setup_start"]) * 512)
            f.write(files["setup_page"])
        before[0] = run_cases.disk_state(paths[0] + ".setup", disks[0])
    failures = []
    compare(name, files, "1", case, base_dir, "expected", failures)
    stdout, stderr = files.get("stdout1", b""), files.get("stderr1", b"")
    for text in case.get("stdout_contains", []):
        if text.encode() not in stdout:
            failures.append(f"{name}: standard output lacks {text!r}")
    for text in case.get("stderr_contains", []):
        if text.encode() not in stderr:
            failures.append(f"{name}: standard error lacks {text!r}")
    run_cases.check_ends(name, case, stdout, stderr, failures)
    status = int(files.get("status1", b"-1").strip() or -1)
    if status != case["expect_exit"]:
        failures.append(f"{name}: exit status {status}, expected {case['expect_exit']}")
    for key in ("blocks_before", "blocks_after"):
        lines = files.get(key, b"").decode(errors="replace").splitlines()
        shown = [line.strip() for line in lines if line.strip()]
        if key in case and shown != case[key]:
            failures.append(f"{name}: {key}: the kernel showed {shown}, expected {case[key]}")
    if "second_run" in case:
        compare(name + " (second run)", files, "2", case, base_dir, "second_run", failures)
    if case.get("undo_in_vm", False):
        undo_status = int(files.get("status_undo", b"-1").strip() or -1)
        if undo_status != 0 or b"put back and read back equal" not in files.get("stdout_undo", b""):
            failures.append(f"{name}: tessaly-undo ended with {undo_status}: "
                            + files.get("stdout_undo", b"").decode(errors="replace")
                            + files.get("stderr_undo", b"").decode(errors="replace"))
    for disk, path, state in zip(disks, paths, before):
        after = disk.get("after", [])
        for check in [{"check": after}] if isinstance(after, str) else after:
            error = run_cases.check_disk(path, state, check)
            if error:
                failures.append(f"{name}: {os.path.basename(path)}: {error}")
    return failures


def build_initramfs(args, cases):
    staging = os.path.join(args.work, "initramfs-cases")
    shutil.rmtree(staging, ignore_errors=True)
    for name, (case, _base) in cases.items():
        prepare_case(name, case, os.path.join(staging, name))
    sys.argv = ["make_initramfs", "--modules", args.modules, "--busybox", args.busybox,
                "--init", os.path.join(HERE, "init.sh"), "--program", f"tessaly={args.tessaly}",
                "--program", f"tessaly-undo={args.undo}",
                "--cases", staging, "--out", args.initramfs]
    make_initramfs.main()


def run_one(args, name, case, base_dir):
    start = time.monotonic()
    try:
        failures = run_case(args, name, case, base_dir)
    except (CaseError, subprocess.CalledProcessError, OSError, ValueError) as e:
        failures = [f"{name}: {e}"]
    return name, failures, time.monotonic() - start


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--kernel", required=True)
    parser.add_argument("--modules", required=True)
    parser.add_argument("--busybox", required=True)
    parser.add_argument("--tessaly", required=True)
    parser.add_argument("--undo", required=True, help="tessaly-undo, statically linked")
    parser.add_argument("--maker")
    parser.add_argument("--qemu", default="qemu-system-x86_64")
    parser.add_argument("--work", required=True)
    parser.add_argument("--only", help="run only the cases whose name contains this text")
    parser.add_argument("--jobs", type=int, default=1)
    parser.add_argument("--timeout", type=int, default=240, help="seconds per machine")
    parser.add_argument("cases")
    args = parser.parse_args()
    args.work = os.path.abspath(args.work)
    args.maker = os.path.abspath(args.maker) if args.maker else None
    os.makedirs(args.work, exist_ok=True)
    args.initramfs = os.path.join(args.work, "initramfs.gz")

    names = sorted(d for d in os.listdir(args.cases)
                   if os.path.isfile(os.path.join(args.cases, d, "case.toml")))
    if args.only:
        names = [n for n in names if args.only in n]
    cases, tally = {}, run_cases.Tally()
    for name in names:
        try:
            cases[name] = load_case(os.path.join(args.cases, name))
        except CaseError as e:
            tally.report(name, [str(e)])
    build_initramfs(args, cases)

    with concurrent.futures.ThreadPoolExecutor(max_workers=args.jobs) as pool:
        jobs = [pool.submit(run_one, args, n, c, b) for n, (c, b) in cases.items()]
        for job in jobs:
            name, failures, seconds = job.result()
            tally.report(f"{name} ({seconds:.0f} s)", failures)
    return tally.close()


if __name__ == "__main__":
    sys.exit(main())
