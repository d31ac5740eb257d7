#!/usr/bin/env python3
"""Runs the Windows programs under Wine against the end-to-end cases.

Each scenario of scenarios.toml names a case folder of tests/e2e/cases and
reuses everything it holds: arguments, disks (made by the same disk maker),
the expected standard output byte for byte, the exit status and the checks
of the disks afterwards. What the Linux stand-ins do on the console, Wine
does for real: WNASPI32.DLL is loaded by the program on its first ASPI call,
and every MessageBoxA is a real window that this runner finds by its caption
on the X display and answers with a key press (Return for OK, Escape for
Cancel).

A scenario with a test DLL runs once with each of the two (LAYERS): the
prompt one, and the paced one that posts late, keeps a request pending now
and then and refuses missing targets. Wine reports every DLL it loads
(WINEDEBUG=+loaddll); the runner checks that WNASPI32.DLL came from the
program's folder, or was not loaded at all where the scenario says so.

The program is started through a batch file that records the exit code as
Windows sees it (300 whole) and hands it on to Wine, whose own exit status
is what a POSIX shell sees (300 as 44), compared with the case's
expect_exit.

Scenario keys:
  case = "start-no-supported-drive"   the e2e case folder
  name = "..."                        how the scenario is reported (default:
                                      the case name)
  aspi = "test-dll" | "none" | "planted"
                                      our test WNASPI32.DLLs beside the
                                      program; no ASPI layer at all; or the
                                      DLL only where a planted one would lie,
                                      in the current folder and a folder on
                                      PATH, the program in a folder of its own
  planted_helper = "HELPER.DLL"       the test DLL loads a library of this name
                                      at run time (ASPI_SECOND_LIBRARY); one
                                      is planted in the current folder and on
                                      PATH only, and must never be loaded
  journal_in = "APPDATA"              the undo journal's folder is left to the
                                      program (TESSALY_UNDO_DIR unset,
                                      LOCALAPPDATA and the shell's folder
                                      lookup taken away): it must land in
                                      this variable's folder (APPDATA or
                                      USERPROFILE, each set to a folder of
                                      the scenario's own; the other unset)
  dll_sees_no_player = true           only in the pass-through pass: the
                                      prompt test DLL beside the program
                                      serves no disk (ASPI_DISKS empty), so the
                                      player must be found through the
                                      pass-through behind it
  loads_dll = false                   WNASPI32.DLL must not be loaded at all
                                      (default: loaded from the program's
                                      folder with "test-dll", never otherwise)
  windows_exit = 300                  the exit code Windows sees (default:
                                      the case's expect_exit)
  archs = ["win32"]                   only these builds (default: all)
  boxes = [{ caption = "...", shot = "name.png" }, ...]
                                      the boxes in the order they must
                                      appear. Each is answered with the
                                      case's answer line of the same rank
                                      ("cancel" presses Escape, anything
                                      else Return) unless it says
                                      answer = "ok" or "cancel" itself;
                                      "shot" saves a picture under --shots
  second_run_boxes = ["caption", ...] with the case's second_run: the boxes
                                      of the second run, each answered
                                      "cancel" as the Linux runner does
A box that is not listed, or a listed box that never appears, fails the
scenario.
"""
import argparse
import os
import shutil
import subprocess
import sys
import time
import tomllib

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
import run_cases  # noqa: E402  (the Linux runner: disks, checks, output comparison)

BOX_TIMEOUT = 60       # seconds until a box must have appeared (--box-timeout)
PROCESS_TIMEOUT = 300  # seconds for a whole run after its last box
KEYS = {"ok": "Return", "cancel": "Escape"}
# The test ASPI layers, each a WNASPI32.DLL under the build folder.
LAYERS = {"prompt": "WNASPI32.DLL", "paced": os.path.join("paced", "WNASPI32.DLL")}
PROGRAM_FOLDER = {"planted": "program"}  # where tessaly.exe goes, below the work folder
ERE_SPECIALS = set(".[]()*+?{}|^$\\")


def caption_pattern(caption):
    """An anchored POSIX extended regular expression matching exactly caption."""
    escaped = "".join("\\" + c if c in ERE_SPECIALS else c for c in caption)
    return "^" + escaped + "$"


def xdotool(*args, timeout=BOX_TIMEOUT):
    proc = subprocess.run(["xdotool", *args], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                          timeout=timeout)
    return proc.stdout.decode("latin-1").split("\n")[0] if proc.returncode == 0 else None


def visible_window_names():
    proc = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", "."],
                          stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    names = []
    for window in proc.stdout.decode().split():
        name = xdotool("getwindowname", window)
        if name:
            names.append(name)
    return names


box_timeout = BOX_TIMEOUT


def wait_for_box(caption, process):
    """The X window id of the visible box with exactly this caption, or None."""
    deadline = time.monotonic() + box_timeout
    pattern = caption_pattern(caption)
    while time.monotonic() < deadline:
        window = xdotool("search", "--onlyvisible", "--name", pattern)
        if window:
            return window
        if process.poll() is not None:
            return None
        time.sleep(0.1)
    return None


def wait_until_gone(window):
    deadline = time.monotonic() + BOX_TIMEOUT
    while time.monotonic() < deadline:
        if xdotool("getwindowname", window) is None:
            return True
        time.sleep(0.05)
    return False


def take_shot(window, caption, path):
    """The box as Wine draws it, with the exact caption read back from the
    window underneath: Wine sizes a box by its text, so a long caption is cut
    off in the title bar."""
    os.makedirs(os.path.dirname(path), exist_ok=True)
    raw = path + ".raw.png"
    time.sleep(0.5)  # let Wine finish painting
    subprocess.run(["import", "-window", window, raw], check=True)
    label = "caption: '" + caption.replace("\\", "\\\\") + "'"
    labelled = subprocess.run(["convert", raw, "-background", "white", "-fill", "black", "-font",
                               "DejaVu-Sans-Mono", "-pointsize", "12", "label:" + label, "-gravity", "west",
                               "-append", "-strip", path], stderr=subprocess.DEVNULL)
    if labelled.returncode != 0:  # no such font here: the box alone
        subprocess.run(["convert", raw, "-strip", path], check=True)
    os.remove(raw)


def answer_box(window, answer):
    xdotool("windowfocus", "--sync", window)
    xdotool("key", "--clearmodifiers", KEYS[answer])


def windows_path(path):
    """A Unix path as the Windows program sees it through Wine's Z: drive."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def program_env(case, disks, aspi, work, post_on_refusal, preload=None):
    env = {k: v for k, v in os.environ.items() if not k.startswith("ASPI_")}
    env.update(case.get("env", {}))
    env["WINEDEBUG"] = "-all,+loaddll"
    # Wine has its own WNASPI32.DLL: take ours (never Wine's), or none at all
    # when the machine is to have no ASPI layer.
    env["WINEDLLOVERRIDES"] = "wnaspi32=d" if aspi == "none" or preload else "wnaspi32=n"
    # Wine opens \\.\PhysicalDriveN without passing SCSI commands through: the
    # pass-through backend gets its devices from this list instead.
    env["TESSALY_PASSTHROUGH_DEVICES"] = ""
    if aspi == "planted":
        env["WINEPATH"] = windows_path(os.path.join(work, "on-path"))
    env["ASPI_POST_ON_REFUSAL"] = post_on_refusal
    entries = []
    for disk, path in zip(case.get("disk", []), disks):
        attrs = disk.get("attrs", "")
        entries.append(windows_path(path) + ("," + attrs if attrs else ""))
    if entries and preload:
        # No DLL: the image files are the devices, their SG_IO answered by
        # the preloaded fake driver with the same attributes.
        if aspi != "none":
            env["LD_PRELOAD"] = preload
            env["TESSALY_FAKE_SG_DISKS"] = ";".join(
                p + ("," + d.get("attrs", "") if d.get("attrs") else "") for d, p in zip(case.get("disk", []), disks))
            env["TESSALY_PASSTHROUGH_DEVICES"] = ";".join(windows_path(p) for p in disks)
        env["TESSALY_UNDO_DIR"] = windows_path(os.path.join(os.path.dirname(disks[0]), "undo"))
    elif entries:
        env["ASPI_DISKS"] = ";".join(entries)
        # The undo journals of the repairs stay in the case's folder.
        env["TESSALY_UNDO_DIR"] = windows_path(os.path.join(os.path.dirname(disks[0]), "undo"))
    return env


def box_answers(boxes, answer_lines):
    """The answer to each box: its own, else the case's line of that rank."""
    answers = []
    for rank, box in enumerate(boxes):
        line = answer_lines[rank].strip() if rank < len(answer_lines) else ""
        answers.append(box.get("answer", "cancel" if line == "cancel" else "ok"))
    return answers


def run_boxes(boxes, answers, process, shots, failures, name):
    for box, answer in zip(boxes, answers):
        window = wait_for_box(box["caption"], process)
        if window is None:
            failures.append(f"{name}: no box captioned {box['caption']!r}; visible: {visible_window_names()!r}")
            return False
        seen = xdotool("getwindowname", window)
        if seen != box["caption"]:
            failures.append(f"{name}: box caption {seen!r}, expected {box['caption']!r}")
        if "shot" in box and shots:
            take_shot(window, seen, os.path.join(shots, box["shot"]))
        answer_box(window, answer)
        if not wait_until_gone(window):
            failures.append(f"{name}: box {box['caption']!r} stayed open after {answer}")
            return False
    return True


# Runs the program with the scenario's arguments and leaves the exit code as
# Windows reports it in exit-code.txt (redirection first: "echo 0>file"
# would redirect handle 0).
def launcher(program_folder, program="tessaly.exe", settings=()):
    program = program_folder + "\\" + program if program_folder else program
    lines = [f"@set {name}={value}" for name, value in settings]
    lines += [f"@{program} %*", "@>exit-code.txt echo %ERRORLEVEL%", "@exit /b %ERRORLEVEL%"]
    return "".join(line + "\r\n" for line in lines)


# Wine sets LOCALAPPDATA, APPDATA and USERPROFILE for every program from its
# registry, and its shell always names a local application data folder: the
# launcher unsets them (cmd's "set NAME="), and the program runs under a name
# for which the prefix has SHELL32 and SHFOLDER disabled (set up in main), as
# on a Windows whose shell cannot tell.
SHELL_LESS_PROGRAM = "tessaly-without-shell.exe"
JOURNAL_SETTINGS = {
    "APPDATA": [("LOCALAPPDATA", ""), ("APPDATA", "{folder}")],
    "USERPROFILE": [("LOCALAPPDATA", ""), ("APPDATA", ""), ("USERPROFILE", "{folder}")],
}


def journal_settings(scenario, env, work):
    """The launcher's settings for a journal_in scenario, and the folder the
    journal must land in (None for other scenarios)."""
    variable = scenario.get("journal_in")
    if variable is None:
        return [], None
    env.pop("TESSALY_UNDO_DIR", None)
    folder = os.path.join(work, variable.lower())
    os.makedirs(folder)
    settings = [(name, value.format(folder=windows_path(folder))) for name, value in JOURNAL_SETTINGS[variable]]
    return settings, os.path.join(folder, "tessaly")


def disable_shell_for_shell_less_program():
    key = "HKCU\\Software\\Wine\\AppDefaults\\" + SHELL_LESS_PROGRAM + "\\DllOverrides"
    for library in ("shell32", "shfolder"):
        subprocess.run([os.environ.get("TESSALY_WINE", "wine"), "reg", "add", key, "/v", library, "/t", "REG_SZ",
                        "/d", "", "/f"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)


def check_journal_folder(name, folder, failures):
    journals = sorted(os.listdir(folder)) if os.path.isdir(folder) else []
    if len(journals) != 1 or not (journals[0].startswith("repair-") and journals[0].endswith(".undo")):
        failures.append(f"{name}: journals in {folder}: {journals!r}, expected one repair-*.undo")


def plant_helper(scenario, env, arch_dir, work):
    """A library the test DLL loads by name, only where an unsafe search looks."""
    helper = scenario.get("planted_helper")
    if helper is None:
        return None
    on_path = os.path.join(work, "on-path")
    os.makedirs(on_path, exist_ok=True)
    for folder in (work, on_path):
        shutil.copy(os.path.join(arch_dir, "HALFASPI.DLL"), os.path.join(folder, helper))
    env["ASPI_SECOND_LIBRARY"] = helper
    env["WINEPATH"] = windows_path(on_path)
    return helper


def check_helper_not_loaded(name, stderr_path, helper, failures):
    with open(stderr_path, "rb") as f:
        lines = f.read().decode("latin-1").splitlines()
    loads = [line for line in lines if ":loaddll:" in line and helper.lower() in line.lower()]
    if loads:
        failures.append(f"{name}: the planted {helper} was loaded: {loads!r}")


def aspi_loads(stderr_path):
    """The WNASPI32.DLL files Wine reports loading, as Windows paths."""
    with open(stderr_path, "rb") as f:
        lines = f.read().decode("latin-1").splitlines()
    return [line.split('L"', 1)[1].split('"', 1)[0].replace("\\\\", "\\")
            for line in lines if ":loaddll:" in line and "wnaspi32.dll" in line.lower() and 'L"' in line]


def check_aspi_load(name, stderr_path, expected, failures):
    """expected: the Windows path the DLL must come from, or None for no load."""
    loads = aspi_loads(stderr_path)
    want = [expected] if expected else []
    if [p.lower() for p in loads] != [p.lower() for p in want]:
        failures.append(f"{name}: WNASPI32.DLL loaded from {loads!r}, expected {want!r}")


def run_program(work, case, env, boxes, answers, shots, failures, name, out_name, dll_from):
    """One run under Wine with its boxes; returns (stdout bytes, Wine's exit
    status, the exit code Windows saw or None). `dll_from` is where
    WNASPI32.DLL must be loaded from (None: not at all)."""
    out_path = os.path.join(work, out_name)
    code_path = os.path.join(work, "exit-code.txt")
    if os.path.exists(code_path):
        os.remove(code_path)
    with open(out_path, "wb") as out, open(out_path + ".stderr", "wb") as err:
        process = subprocess.Popen([os.environ.get("TESSALY_WINE", "wine"), "cmd", "/c", "run.bat", *case.get("args", [])],
                                   stdin=subprocess.DEVNULL, stdout=out, stderr=err, cwd=work, env=env)
        boxes_ok = run_boxes(boxes, answers, process, shots, failures, name)
        try:
            process.wait(timeout=PROCESS_TIMEOUT if boxes_ok else 5)
        except subprocess.TimeoutExpired:
            failures.append(f"{name}: still running; visible windows {visible_window_names()!r}")
            process.kill()
            process.wait()
    check_aspi_load(name, out_path + ".stderr", dll_from, failures)
    with open(out_path, "rb") as f:
        got = f.read()
    windows_code = None
    if os.path.exists(code_path):
        with open(code_path, "rb") as f:
            windows_code = int(f.read().strip() or b"-1")
    return got, process.returncode, windows_code


def program_place(scenario):
    """The program's folder below the work folder ("" for the work folder,
    which is the current folder) and its file name."""
    aspi = scenario.get("aspi", "test-dll")
    folder = "program" if "planted_helper" in scenario else PROGRAM_FOLDER.get(aspi, "")
    return folder, SHELL_LESS_PROGRAM if "journal_in" in scenario else "tessaly.exe"


def place_files(work, arch_dir, aspi, layer, program_folder, program):
    """The program and the test DLL where the scenario wants them; returns
    where the DLL must be loaded from (None: nowhere)."""
    os.makedirs(os.path.join(work, program_folder), exist_ok=True)
    shutil.copy(os.path.join(arch_dir, "tessaly.exe"), os.path.join(work, program_folder, program))
    if layer is None:
        return None
    dll = os.path.join(arch_dir, LAYERS[layer])
    if aspi == "planted":
        # Where an ordinary search would find it: the current folder and PATH.
        shutil.copy(dll, work)
        os.makedirs(os.path.join(work, "on-path"))
        shutil.copy(dll, os.path.join(work, "on-path"))
        return None
    shutil.copy(dll, os.path.join(work, program_folder))
    return windows_path(os.path.join(work, program_folder, "WNASPI32.DLL"))


def run_scenario(scenario, args, arch_dir, arch, layer, preload=None):
    label = scenario.get("name", scenario["case"])
    name = f"{arch}/{layer}/{label}" if layer else f"{arch}/{label}"
    case_dir = os.path.join(args.cases, scenario["case"])
    with open(os.path.join(case_dir, "case.toml"), "rb") as f:
        case = tomllib.load(f)
    work = os.path.join(args.work, arch, layer or "", label.replace(" ", "-"))
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    aspi = scenario.get("aspi", "test-dll")
    program_folder, program = program_place(scenario)
    dll_from = place_files(work, arch_dir, aspi, layer, program_folder, program)
    if not scenario.get("loads_dll", True):
        dll_from = None

    disks = [os.path.join(work, f"disk{i}.img") for i in range(len(case.get("disk", [])))]
    for disk, path in zip(case.get("disk", []), disks):
        run_cases.make_disk(disk, path, args.maker)
    before = [run_cases.disk_state(p, d) for p, d in zip(disks, case.get("disk", []))]

    failures = []
    env = program_env(case, disks, aspi, work, args.post_on_refusal, preload)
    if scenario.get("dll_sees_no_player"):
        env["WINEDLLOVERRIDES"] = "wnaspi32=n"
        env["ASPI_DISKS"] = ""
    settings, journal_folder = journal_settings(scenario, env, work)
    helper = plant_helper(scenario, env, arch_dir, work)
    with open(os.path.join(work, "run.bat"), "w", newline="") as f:
        f.write(launcher(program_folder, program, settings))
    boxes = scenario.get("boxes", [])
    answers = box_answers(boxes, case.get("answers", "").split("\n"))
    shots = args.shots if arch == args.shots_arch and layer in (None, "prompt") else None
    got, status, windows_code = run_program(work, case, env, boxes, answers, shots, failures, name, "stdout",
                                            dll_from)
    run_cases.compare_output(name, got, os.path.join(case_dir, case.get("expected", "expected.out")), failures)
    if journal_folder:
        check_journal_folder(name, journal_folder, failures)
    if helper:
        check_helper_not_loaded(name, os.path.join(work, "stdout.stderr"), helper, failures)
    if status != case["expect_exit"]:
        failures.append(f"{name}: Wine exit status {status}, expected {case['expect_exit']}")
    windows_exit = scenario.get("windows_exit", case["expect_exit"])
    if windows_code != windows_exit:
        failures.append(f"{name}: exit code {windows_code} as Windows sees it, expected {windows_exit}")
    for disk, path, state in zip(case.get("disk", []), disks, before):
        after = disk.get("after", [])
        for check in ([{"check": after}] if isinstance(after, str) else after):
            error = run_cases.check_disk(path, state, check)
            if error:
                failures.append(f"{name}: {os.path.basename(path)}: {error}")

    if "second_run" in case:
        second = [{"caption": c} for c in scenario.get("second_run_boxes", [])]
        got, _, _ = run_program(work, case, env, second, ["cancel"] * len(second), None, failures,
                                name + " (second run)", "stdout-second", dll_from)
        run_cases.compare_output(name + " (second run)", got, os.path.join(case_dir, case["second_run"]), failures)
    return failures


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--scenarios", required=True)
    parser.add_argument("--cases", required=True, help="tests/e2e/cases")
    parser.add_argument("--arch", action="append", required=True,
                        help="NAME=DIR: a build folder holding tessaly.exe and WNASPI32.DLL")
    parser.add_argument("--maker")
    parser.add_argument("--work", required=True)
    parser.add_argument("--shots", help="folder for the box pictures")
    parser.add_argument("--shots-arch", default="win32", help="the build whose boxes are pictured")
    parser.add_argument("--only", help="run only the scenarios whose case name contains this text")
    parser.add_argument("--box-timeout", type=float, default=BOX_TIMEOUT,
                        help="seconds a box may take to appear (a full-size disk needs more)")
    parser.add_argument("--layers", default=",".join(LAYERS), help="the test DLLs to run with, comma-separated")
    parser.add_argument("--passthrough", metavar="PRELOAD",
                        help="no ASPI DLL: serve the disks through pass-through and this fake SG_IO library")
    parser.add_argument("--post-on-refusal", default="never", choices=["never", "inside", "thread"],
                        help="whether and when the paced DLL also posts a request it refused")
    args = parser.parse_args()
    global box_timeout
    box_timeout = args.box_timeout
    args.maker = os.path.abspath(args.maker) if args.maker else None
    with open(args.scenarios, "rb") as f:
        scenarios = tomllib.load(f)["scenario"]
    if args.only:
        scenarios = [s for s in scenarios if args.only in s.get("name", s["case"])]

    if any("journal_in" in scenario for scenario in scenarios):
        disable_shell_for_shell_less_program()
    tally = run_cases.Tally()
    for arch_spec in args.arch:
        arch, arch_dir = arch_spec.split("=", 1)
        preload = os.path.abspath(args.passthrough) if args.passthrough else None
        if preload:
            arch += "-passthrough"
        for scenario in scenarios:
            if arch.split("-")[0] not in scenario.get("archs", [arch.split("-")[0]]):
                continue
            if scenario.get("dll_sees_no_player") and not preload:
                continue
            if scenario.get("dll_sees_no_player"):
                layers = ["prompt"]
            elif scenario.get("aspi", "test-dll") == "none" or preload:
                layers = [None]
            else:
                layers = args.layers.split(",")
            for layer in layers:
                started = time.monotonic()
                failures = run_scenario(scenario, args, arch_dir, arch, layer, preload)
                took = time.monotonic() - started
                label = "/".join(filter(None, [arch, layer, scenario.get("name", scenario["case"])]))
                tally.report(f"{label} ({took:.1f} s)", failures)
    return tally.close()


if __name__ == "__main__":
    sys.exit(main())
