"""The judgements the suite makes of one run: the report on standard output,
the boxes drawn on standard error, and the disk afterwards as the Debian
tools and a sector-by-sector comparison see it.

Each check returns a list of failure texts; an empty list is a pass.
"""
import os

import disk_image
import fat_tools
import layout

MAX_LISTED = 6


def lines_in_order(output, wanted):
    """Failures for lines of `wanted` that are not found, whole and in this
    order, among the lines of `output`."""
    lines = output.split("\n")
    pos = 0
    for want in wanted:
        try:
            pos = lines.index(want, pos) + 1
        except ValueError:
            return [f"report lacks the line {want!r} (in this place)"]
    return []


def lines_absent(output, unwanted):
    """Failures for texts of `unwanted` that some line of `output` begins with."""
    lines = output.split("\n")
    return [f"report has the line {line!r}" for text in unwanted
            for line in lines if line.startswith(text)][:MAX_LISTED]


def box_captions(stderr):
    """Captions of the boxes drawn on standard error, in order."""
    return [line[2:] for line in stderr.split("\n") if line.startswith("| ")]


def check_boxes(stderr, wanted):
    got = box_captions(stderr)
    failures = []
    if got != wanted:
        failures.append(f"boxes {got!r}, expected {wanted!r}")
    if "(closed: Cancel)" in stderr:
        failures.append("a box ran out of answers")
    return failures


def is_layout_warning(line):
    return line.startswith("tessaly: the disk holds") or "which the player cannot use" in line


def check_warning(out, err, wanted):
    """The line that names a layout the repair replaces: exactly `wanted`,
    once, on standard error before the first box; none at all when `wanted`
    is None (the player's own layout, damaged or not); never on standard
    output."""
    lines = err.split("\n")
    found = [i for i, line in enumerate(lines) if is_layout_warning(line)]
    failures = [f"report has the line {line!r}" for line in out.split("\n") if is_layout_warning(line)]
    got, want = [lines[i] for i in found], [wanted] if wanted else []
    if got != want:
        return failures + [f"layout warnings {got!r}, expected {want!r}"]
    first_box = next((i for i, line in enumerate(lines) if line.startswith("| ")), len(lines))
    if found and found[0] > first_box:
        failures.append("the layout warning comes after the first box")
    return failures


def check_tells(err, wanted, confirmations):
    """Lines of standard error that begin with the texts of `wanted`, in this
    order, all before the first box whose caption is one of `confirmations`."""
    lines = err.split("\n")
    first_box = next((i for i, line in enumerate(lines) if line[2:] in confirmations and line.startswith("| ")),
                     len(lines))
    pos = 0
    for want in wanted:
        found = next((i for i in range(pos, len(lines)) if lines[i].startswith(want)), None)
        if found is None:
            return [f"standard error lacks a line beginning {want!r} (in this place)"]
        if found > first_box:
            return [f"the line beginning {want!r} comes after the first confirmation box"]
        pos = found + 1
    return []


def check_writes(case, disk, fresh, damaged, damage, result):
    """The image after the run against the prediction, sector by sector."""
    if case.after is None:
        changed = disk_image.differing_sectors(damaged, result)
        return [f"sectors written although nothing should be: {changed[:MAX_LISTED]}"] if changed else []
    expected = case.after(fresh, damaged, disk, damage, result)
    changed = set(disk_image.differing_sectors(fresh, result))
    wrong = []
    for s in sorted(changed | set(expected)):
        want = expected[s] if s in expected else disk_image.read_sectors(fresh, s)
        got = disk_image.read_sectors(result, s)
        if got != want:
            at = next(i for i in range(512) if got[i] != want[i])
            wrong.append(f"{s} (byte {at}: {got[at]:02x}, expected {want[at]:02x})")
    if wrong:
        return [f"{len(wrong)} sectors not as predicted: " + ", ".join(wrong[:MAX_LISTED])]
    return []


def check_fsck(case, disk, result, scratch):
    if case.fsck is None:
        return []
    # After every run the volume is the disk's own partition; an unpartitioned
    # volume has been repartitioned to sector 63.
    first = disk["offset"] if disk["partitioned"] else layout.PARTITION_START
    outcome = fat_tools.fsck(result, first, disk["sectors"] - first, scratch)
    error = case.fsck(outcome, disk)
    return [f"fsck.fat: {error}"] if error else []


def check_files(case, disk, result):
    """Reads every recorded file back through mtools and compares sha256."""
    offsets = [disk["offset"]] if case.files != "gone" else [0, layout.PARTITION_START]
    failures = []
    for path, info in sorted(disk["files"].items()):
        sums = [fat_tools.file_sha256(result, off, path) for off in offsets]
        intact = info["sha256"] in sums
        if case.files == "gone":
            if intact:
                failures.append(f"{path} survived the repartition")
        elif not intact:
            failures.append(f"{path} does not read back intact ({'unreadable' if sums[0] is None else 'sha256 differs'})")
    return failures[:MAX_LISTED]


def check_partition(case, disk, result):
    """`partition`: "fresh" (the table as made), "rebuilt" (the player's
    one partition at 63), "as-judged" (fresh when its type is one the player
    takes, else rebuilt)."""
    if case.partition is None:
        return []
    kept = case.partition == "fresh" or (case.partition == "as-judged"
                                         and layout.mbr_accepted(disk["partition_type"]))
    want_type = disk["partition_type"] if kept else 0x0B
    start = disk["offset"] if kept else layout.PARTITION_START
    want = [(start, disk["sectors"] - start, want_type)]
    got = fat_tools.partition_table(result)
    return [] if got == want else [f"sfdisk reads the partition table {got}, expected {want}"]


def check_disk(case, disk, fresh, damaged, damage, result, scratch):
    """Everything the disk must show after the OK run."""
    return (check_writes(case, disk, fresh, damaged, damage, result)
            + check_partition(case, disk, result)
            + check_fsck(case, disk, result, scratch)
            + check_files(case, disk, result))


def cleanup(*paths):
    for p in paths:
        if os.path.exists(p):
            os.remove(p)
