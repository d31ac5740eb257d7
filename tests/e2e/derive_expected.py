#!/usr/bin/env python3
"""Writes the expected standard output of tessaly's run cases.

Each expected.out under cases/run-*/ is put together here from the texts the
program is meant to print, with the sector numbers, sizes and progress stars
worked out from the disk layout and the progress rules, never from a run of
the program. The disks are those of the sample disk maker: a volume at sector
63 (or 0 when removable), 32 reserved sectors, 2 FATs, 8-sector clusters.

    derive_expected.py CASES_DIR [--maker PATH]

The maker is needed only for the verbose case, whose dump shows the bytes of
the input disk.
"""
import argparse
import os
import subprocess
import tempfile

BANNER = "\nPellora Hard Drive Check Utility - (c) the tessaly authors Ver 1.07\n\n"
FOUND = "   found Pellora HD 'TOSHIBA MK6015MAP       '\n"
FAILED = "status=$4 : SRB completed with error\n"
READ_HEADER = "ERROR: reading sectors...\n"
WRITE_HEADER = "ERROR: writing sectors...\n"
ALL_CLEAR = "Pellora Hard Drive is OK\n"
MBR_DAMAGED = "ERROR: Hard Drive MBR damaged:\n   Hard Drive may be damaged\n"
BPB_DAMAGED = "ERROR: Hard Drive BPB damaged:\n   Hard Drive may be damaged\n"
BPB_NOT_FOUND = "ERROR: Hard Drive BPB not found:\n   Hard Drive may be damaged\n"
MBR_NOT_FOUND = "ERROR: Hard Drive MBR not found\n   Hard Drive may be damaged\n"
REMOVABLE = "ERROR: Hard Drive is removable\n   Hard Drive must be reformated\n"
CAPACITY_UNKNOWN = "ERROR: Hard Drive capacity unknown, MBR cannot be rebuilt\n"
FAT_NOT_CHECKED = "ERROR: FAT location does not match the boot sector, FAT not checked\n"
FIRST_FAT = 95
SPAN = 15000

SMALL = 200000
FULL = 11695320
TINY = 50000


def fat_size(capacity, volume_start=63):
    """Smallest FAT holding an entry for every cluster (plus the two media entries)."""
    total = capacity - volume_start
    size = 1
    while size * 128 < (total - 32 - 2 * size) // 8 + 2:
        size += 1
    return size


def second_fat(capacity):
    return FIRST_FAT + fat_size(capacity)


def step_of(span):
    # A span under 60 would give a step of 0; the program then advances one
    # star per sector.
    return max(span // 60, 1)


def failure(kind_seen, header, sector):
    text = FAILED + ("" if kind_seen else header) + " $%2x" % sector
    return text


def search_pass(match=None, bad=()):
    """One FAT search over 95..15094: header, failures, stars, closing newline."""
    out = "\n Shearching FAT...\n"
    step = step_of(FIRST_FAT + SPAN)
    stars = 0
    failed = False
    for k in range(FIRST_FAT, FIRST_FAT + SPAN):
        if k in bad:
            out += failure(failed, READ_HEADER, k)
            failed = True
        elif k == match:
            return out + "\n"
        if k // step > stars:
            out += "*"
            stars += 1
    return out + "\n"


def found_head(start):
    size = start - FIRST_FAT
    return ("Fat found on sector %d at Address 0x%x \n" % (start, start * 512) +
            "Fat size : %d SECTORS = 0x%x BYTES \n" % (size, size * 512))


def found_lines(start):
    return found_head(start) + "\n Checking FAT ...\n"


def refused_step(start):
    """A search that stops at `start` on a disk that shows another layout
    than FAT1 at 95: the refusal takes the place of the comparison."""
    return search_pass(start) + found_head(start) + FAT_NOT_CHECKED


def sum_lines(first, count, bad=()):
    """The sum of the second FAT; the first unreadable sector ends it."""
    out = ""
    step = step_of(count)
    stars = 0
    for k in range(first, first + count):
        if k in bad:
            return out + failure(False, READ_HEADER, k), False
        if (k - first) // step > stars:
            out += "*"
            stars += 1
    return out + "\n", True


# A repair writes only what differs from the disk: of a sound boot area the
# FSInfo sector (its free count becomes unknown), and of the sample disk's
# FAT1 with fat-differ its first sector, the one with the lost cluster. A
# write that is not made cannot fail.
SOUND_BOOT_AREA_WRITES = (64,)
FAT_DIFFER_WRITES = (FIRST_FAT,)


def repair_lines(second, bad_reads=(), bad_writes=(), written=FAT_DIFFER_WRITES):
    size = second - FIRST_FAT
    out = "\n Repairing FAT...\n"
    step = step_of(size)
    stars = 0
    read_failed = write_failed = False
    for s in range(second, second + size):
        if s in bad_reads:
            out += failure(read_failed, READ_HEADER, s)
            read_failed = True
        elif s - size in bad_writes and s - size in written:
            out += failure(write_failed, WRITE_HEADER, s)
            write_failed = True
        if (s - second) // step > stars:
            out += "*"
            stars += 1
    if read_failed or write_failed:
        out += "\nImpossible to repair FAT\n"
    return out


def fat_step(capacity, verdict, search_bad=(), sum_bad=()):
    """Search that finds the second FAT of a sound layout, then the sum."""
    start = second_fat(capacity)
    text, read_whole = sum_lines(start, start - FIRST_FAT, sum_bad)
    out = search_pass(start, search_bad) + found_lines(start) + text
    return out + (verdict if read_whole else "Impossible to check FAT\n")


def boot_writes(bad=(), written=SOUND_BOOT_AREA_WRITES):
    out = ""
    for j in range(95):
        if j in bad and j in written:
            out += failure(out != "", WRITE_HEADER, j)
    return out + ("Impossible to repair 95 first sectors\n" if out else "")


def head():
    return BANNER + FOUND


def sound(capacity=SMALL):
    return head() + ALL_CLEAR + fat_step(capacity, "FAT1 == FAT2\n")


def repaired_boot_area(report, capacity=SMALL):
    return head() + report + fat_step(capacity, "FAT1 == FAT2\n") + "\n"


def differing_fats(capacity=SMALL, boot_bad=(), fat_bad=()):
    return (head() + ALL_CLEAR + fat_step(capacity, "FAT1 != FAT2\n") + boot_writes(boot_bad) +
            repair_lines(second_fat(capacity), bad_writes=fat_bad) + "\n")


def hex_dump(data):
    out = ""
    for i, byte in enumerate(data):
        if i % 8 == 0:
            out += " "
        if i % 16 == 0:
            out += "\n"
        out += " 0x%x," % byte
    return out + "\n"


def verbose_sound(maker):
    with tempfile.TemporaryDirectory() as work:
        path = os.path.join(work, "disk.img")
        subprocess.run([maker, path, "--capacity", str(SMALL)], check=True, stdout=subprocess.DEVNULL)
        with open(path, "rb") as f:
            area = f.read(95 * 512)
    dumps = "".join("\nHex Dump of Sector=%d=$%x ...\n" % (s, s) + hex_dump(area[s * 512:(s + 1) * 512])
                    for s in range(95))
    return head() + dumps + ALL_CLEAR + fat_step(SMALL, "FAT1 == FAT2\n")


def no_fat_passes():
    return search_pass() + search_pass() + "No Fat found ????\n"


def cases(maker):
    # The tiny disk's FAT2 lies at 95 + 48, before free runs count: the
    # second pass stops at FAT1 itself, which the boot sector and the FATs
    # where it puts them contradict.
    tiny_pass = search_pass() + search_pass(FIRST_FAT) + found_head(FIRST_FAT) + FAT_NOT_CHECKED
    elsewhere = head() + ALL_CLEAR + refused_step(second_fat(SMALL))
    table = {
        "run-sound": {"expected.out": sound()},
        "run-sound-async": {"expected.out": sound()},
        "run-sound-full-size": {"expected.out": sound(FULL)},
        "run-stale-copies": {"expected.out": sound()},
        "run-fat-differ-ok": {"expected.out": differing_fats(), "all-clear.out": sound()},
        "run-fat-differ-full-size": {"expected.out": differing_fats(FULL), "all-clear.out": sound(FULL)},
        "run-fat-differ-cancel-d1": {"expected.out": head() + ALL_CLEAR + fat_step(SMALL, "FAT1 != FAT2\n")},
        "run-fat-differ-cancel-d2": {"expected.out": head() + ALL_CLEAR + fat_step(SMALL, "FAT1 != FAT2\n")},
        "run-mbr-restored": {"expected.out": repaired_boot_area(MBR_DAMAGED), "all-clear.out": sound()},
        "run-bpb-restored": {"expected.out": repaired_boot_area(BPB_DAMAGED), "all-clear.out": sound()},
        "run-mbr-and-bpb-restored": {"expected.out": repaired_boot_area(MBR_DAMAGED + BPB_DAMAGED),
                                     "all-clear.out": sound()},
        "run-bpb-replaced": {"expected.out": repaired_boot_area(BPB_NOT_FOUND), "all-clear.out": sound()},
        "run-mbr-restored-bpb-replaced": {"expected.out": repaired_boot_area(MBR_DAMAGED + BPB_NOT_FOUND),
                                          "all-clear.out": sound()},
        "run-mbr-rebuilt": {"expected.out": repaired_boot_area(MBR_NOT_FOUND), "all-clear.out": sound()},
        "run-mbr-rebuilt-bpb-replaced": {"expected.out": repaired_boot_area(BPB_NOT_FOUND + MBR_NOT_FOUND),
                                         "all-clear.out": sound()},
        # An accepted MBR pointing elsewhere with no boot pair there is not
        # reported as damage (status 0x0001); the FATs found from 95 on are
        # not that volume's, so they are neither compared nor copied.
        "run-partition-elsewhere": {"expected.out": elsewhere},
        "run-partition-elsewhere-mbr-restored": {
            "expected.out": head() + MBR_DAMAGED + refused_step(second_fat(SMALL)) + "\n",
            "all-clear.out": elsewhere},
        # 40 reserved sectors: FAT2 is found 8 sectors further on, and the
        # FATs lie where the boot sector says.
        "run-reserved-40-refused": {"expected.out": head() + ALL_CLEAR + refused_step(second_fat(SMALL) + 8)},
        # The end-of-chain entry 0x0FFFFFF8 opening FAT sector 100 (disk
        # sector 195) behind a free one stops the search inside FAT1.
        "run-end-of-chain-first-refused": {"expected.out": head() + ALL_CLEAR + refused_step(FIRST_FAT + 100)},
        # The boot sector's FAT size is wrong and the disk shows no FAT where
        # it says: the run goes on as designed and stores the measured size.
        "run-fat-size-field-mended": {"expected.out": differing_fats(), "all-clear.out": sound()},
        "run-removable-ok": {"expected.out": head() + REMOVABLE + "\n"},
        "run-removable-cancel-r2": {"expected.out": head() + REMOVABLE},
        "run-unreadable-boot-sectors": {"expected.out": head() + FAILED + READ_HEADER + " $ 5" + FAILED + " $1e" +
                                        "\nERROR: found 2 unreadable boot sectors\n" + ALL_CLEAR +
                                        fat_step(SMALL, "FAT1 == FAT2\n")},
        "run-unreadable-mbr": {"expected.out": head() + FAILED + READ_HEADER + " $ 0" +
                               "\nERROR: found 1 unreadable boot sectors\n" + MBR_DAMAGED +
                               fat_step(SMALL, "FAT1 == FAT2\n") + "\n"},
        "run-unreadable-backup-kept": {"expected.out": head() + FAILED + READ_HEADER + " $45" +
                                       "\nERROR: found 1 unreadable boot sectors\n" + ALL_CLEAR +
                                       fat_step(SMALL, "FAT1 != FAT2\n") + repair_lines(second_fat(SMALL)) +
                                       "\n"},
        "run-search-read-errors": {"expected.out": head() + ALL_CLEAR +
                                   fat_step(SMALL, "FAT1 == FAT2\n", search_bad=(150, 200))},
        "run-sum-read-error": {"expected.out": head() + ALL_CLEAR + fat_step(SMALL, "", sum_bad=(300,))},
        "run-boot-write-errors": {"expected.out": differing_fats(boot_bad=(3, 9, 64))},
        "run-fat-write-errors": {"expected.out": differing_fats(fat_bad=(95, 100, 101))},
        # Writes from sector 150 on fail; the copy needs none of them.
        "run-fat-copy-interrupted": {"expected.out": differing_fats(fat_bad=range(150, 290))},
        # Every FAT1 sector but the damaged one equals its twin, and sector
        # 200 cannot be read: only those two are written (every other one,
        # and every boot sector but the FSInfo, would fail to).
        "run-fat-copy-only-changes": {"expected.out": head() + ALL_CLEAR +
                                      fat_step(SMALL, "FAT1 != FAT2\n", search_bad=(200,)) +
                                      repair_lines(second_fat(SMALL)) + "\n"},
        "run-fat-not-found": {"expected.out": head() + BPB_DAMAGED + no_fat_passes() + "\n",
                              "all-clear.out": head() + ALL_CLEAR + no_fat_passes()},
        "run-fat-at-first-sector": {"expected.out": head() + ALL_CLEAR + tiny_pass},
        "run-fat-sum-minus-one": {"expected.out": sound()},
        "run-fat-sum-minus-one-differ": {"expected.out": differing_fats(), "all-clear.out": sound()},
        "run-capacity-unknown-removable": {"expected.out": head() + FAILED + REMOVABLE + CAPACITY_UNKNOWN},
        "run-capacity-unknown-mbr-gone": {"expected.out": head() + FAILED + MBR_NOT_FOUND +
                                          fat_step(SMALL, "FAT1 == FAT2\n") + CAPACITY_UNKNOWN},
    }
    if maker:
        table["run-verbose-dumps"] = {"expected.out": verbose_sound(maker)}
    return table


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("cases")
    parser.add_argument("--maker")
    args = parser.parse_args()
    for name, files in cases(args.maker).items():
        folder = os.path.join(args.cases, name)
        os.makedirs(folder, exist_ok=True)
        for file_name, text in files.items():
            with open(os.path.join(folder, file_name), "wb") as f:
                f.write(text.encode())


if __name__ == "__main__":
    main()
