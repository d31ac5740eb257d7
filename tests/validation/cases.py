"""The validation cases: a damage applied to a copy of a fresh disk, and what
tessaly is predicted to print, ask and write for it.

Every case names
  - the disks it runs on,
  - `damage`: changes a copy of the disk and returns {sector: bytes} of what
    it wrote,
  - `report`: lines that must appear on standard output, in this order, and
    `absent`: lines that must not appear at all,
  - `boxes`: the captions of the message boxes, in order, when every box is
    answered OK (the first OK/Cancel box is the one the Cancel run refuses),
  - `after`: {sector: bytes} that the image must differ in from the fresh
    disk once the OK run is over (every other sector must be as the fresh
    disk has it), or None for "not one byte written",
  - `fsck`: what fsck.fat -n must say of the volume afterwards,
  - `files`: "intact" (every file reads back through mtools with its
    recorded sha256) or "gone",
  - `settled`: what a further run on the repaired disk must print and ask,
    as (report, absent, boxes); it must write nothing,
  - `fats_differ`: whether the damage leaves the two FATs of the volume
    with different sums (by default: whether the report says so),
  - `tells`: lines (each the beginning of a line) that standard error must
    show, in this order and before the first box, in the Cancel run and in
    the OK run alike: what the FAT repair does for the files,
  - `replaces`: whether the repair replaces a layout of another kind, which
    it must name on standard error before the first box (every other run
    must name none); such a repair is then undone by tessaly-undo, which
    must give back the disk byte for byte, in place of a further run.
"""
import random

import disk_image
import layout
from build_disks import CHAIN_TARGET, GROWN_FILES, GROWN_FOLDER, NEW_ALBUM, NEW_SONGS, PLAYER_SECTORS

ALL_CLEAR = "  Pellora Hard Drive partition was found OK ! "
DAMAGED = "  ERROR: Hard Drive file structure is damaged ! "
ABOUT_TO_REPAIR = "  About to repair the Pellora Hard Disk !  "
REMOVABLE = "  ERROR: Hard Disk is removable ! "

HARD_DRIVE_OK = "Pellora Hard Drive is OK"
MAY_BE_DAMAGED = "   Hard Drive may be damaged"
FATS_EQUAL = "FAT1 == FAT2"
FATS_DIFFER = "FAT1 != FAT2"
REPAIRING = " Repairing FAT..."
SEARCHING = " Shearching FAT..."
CHECKING = " Checking FAT ..."
FAT_NOT_CHECKED = "ERROR: FAT location does not match the boot sector, FAT not checked"

PARTITIONED = ("big", "small")
UNPARTITIONED = ("big-flat", "small-flat")
# Sound volumes laid out otherwise than the player's: at sector 2048, at 63
# with 40 reserved sectors, and with an end-of-chain entry 0x0FFFFFF8 that
# opens a FAT sector behind a free one.
OTHER_LAYOUTS = ("small-2048", "small-r40", "small-eoc")
# Layouts of other kinds that a repair replaces with the player's, named as
# the repair names them.
REPLACED_LAYOUTS = {
    "gpt-2048": "a GUID partition table",
    "fat16-63": "a FAT16 volume at sector 63",
    "fat12-63": "a FAT12 volume at sector 63",
    "fat32-spc1": "a FAT32 volume with 1 sector per cluster at sector 63",
}
REPLACED_WARNING = ("tessaly: the disk holds {}, which the player cannot use: the repair replaces it with the "
                    "player's layout, and its files can then be read again only after tessaly-undo on the "
                    "journal the repair will name")
BPB_NOT_FOUND = ["ERROR: Hard Drive BPB not found:", MAY_BE_DAMAGED]
MBR_NOT_FOUND = ["ERROR: Hard Drive MBR not found", MAY_BE_DAMAGED]


def first_fat(disk):
    return disk["offset"] + disk["volume"]["reserved"]


def second_fat(disk):
    return first_fat(disk) + disk["volume"]["fat_size"]


def search_stop(disk):
    """Where the search by content finds what it takes for FAT2 on a volume
    not laid out as the player's: the entry that opens a FAT sector behind
    a free one, else the FAT of a FAT32 image held in a file of a one-FAT
    volume, else a volume's own FAT1 behind the free sectors before a
    partition at 2048, else the real FAT2."""
    if "fat_found" in disk:
        return disk["fat_found"]
    if "eoc_sector" in disk:
        return disk["eoc_sector"]
    if disk["offset"] != layout.PARTITION_START:
        return first_fat(disk)
    return second_fat(disk)


def fat_lines(disk):
    f = second_fat(disk)
    size = f - layout.FIRST_FAT_SECTOR
    return [f"Fat found on sector {f} at Address 0x{f * 512:x} ",
            f"Fat size : {size} SECTORS = 0x{size * 512:x} BYTES ",
            " Checking FAT ..."]


def sectors(image, first, count=1):
    return disk_image.read_sectors(image, first, count)


def put(image, sector, data):
    disk_image.write_sectors(image, sector, data)
    return {sector: data}


# ---- predicted writes --------------------------------------------------------

def refreshed_mbr_copies(fresh):
    copy = layout.mbr_copy(sectors(fresh, 0))
    return {s: copy for s in layout.MBR_COPIES}


def refreshed_pair_copies(fresh):
    boot, fsinfo = layout.pair_copy(sectors(fresh, 63), sectors(fresh, 64))
    return {66: boot, 67: fsinfo, 72: boot, 73: fsinfo}


def free_count_unknown(fsinfo):
    return {64: layout.with_free_count_unknown(fsinfo)}


# ---- damages -----------------------------------------------------------------

def no_damage(image, disk):
    return {}


def fat1_lost_cluster(image, disk):
    """A free cluster past the files marked as a one-cluster chain in the
    volume's FAT1 only; the files read back as before."""
    cluster = disk["last_cluster"] + 300
    s = first_fat(disk) + cluster // 128
    data = bytearray(sectors(image, s))
    data[(cluster % 128) * 4:(cluster % 128) * 4 + 4] = b"\xff\xff\xff\x0f"
    return put(image, s, bytes(data))


def fat1_garbage(image, disk):
    """Random bytes over FAT1 sectors in the used area: three near its start
    and two among the entries beyond disk sector 190."""
    rng = random.Random(f"garbage-{disk['sectors']}")
    target = layout.FIRST_FAT_SECTOR + min(disk["chains"][CHAIN_TARGET]) // 128
    written = {}
    for s in (96, 97, 98, target, target + 1):
        written.update(put(image, s, rng.randbytes(512)))
    return written


def zero_chain(image, disk, fat_first):
    """Zeroes the FAT entries of CHAIN_TARGET's clusters in the FAT that
    begins at fat_first."""
    written = {}
    by_sector = {}
    for cluster in disk["chains"][CHAIN_TARGET]:
        by_sector.setdefault(fat_first + cluster // 128, []).append(cluster % 128)
    for s, entries in by_sector.items():
        data = bytearray(sectors(image, s))
        for e in entries:
            data[e * 4:e * 4 + 4] = bytes(4)
        written.update(put(image, s, bytes(data)))
    return written


def stale_fat(image, disk, fat_first):
    """The FAT that begins at fat_first put back as it was before the later
    files were written, as a power cut between the two FAT writes leaves it."""
    written = {}
    for index, data in disk["stale_fat"].items():
        written.update(put(image, fat_first + int(index), bytes.fromhex(data)))
    return written


def fat2_stale(image, disk):
    return stale_fat(image, disk, second_fat(disk))


def fat1_stale(image, disk):
    return stale_fat(image, disk, layout.FIRST_FAT_SECTOR)


def noise_sector(disk):
    """The FAT sector (from 0) of CHAIN_TARGET's first entry, which the
    later files leave alone."""
    index = min(disk["chains"][CHAIN_TARGET]) // 128
    if str(index) in disk["stale_fat"]:
        raise RuntimeError(f"FAT sector {index} holds entries of the later files too")
    return index


def fat2_noise(image, disk):
    """One sector of random bytes in FAT2, where CHAIN_TARGET begins."""
    rng = random.Random(f"noise-{disk['sectors']}")
    return put(image, second_fat(disk) + noise_sector(disk), rng.randbytes(512))


def fat1_stale_fat2_noise(image, disk):
    written = fat1_stale(image, disk)
    written.update(fat2_noise(image, disk))
    return written


def fat1_chain_zeroed(image, disk):
    return zero_chain(image, disk, layout.FIRST_FAT_SECTOR)


def fat2_chain_zeroed(image, disk):
    return zero_chain(image, disk, second_fat(disk))


def boot_sector_zeroed(image, disk):
    return put(image, 63, bytes(512))


def fsinfo_trail_broken(image, disk):
    data = sectors(image, 64)
    return put(image, 64, data[:510] + b"\x00\x00")


def fsinfo_lead_broken(image, disk):
    data = sectors(image, 64)
    return put(image, 64, b"XXaA" + data[4:])


def sector0_zeroed_with_copies(image, disk):
    """The MBR copies a previous repair leaves in sectors 1 to 7, then
    sector 0 lost."""
    written = {}
    copy = layout.mbr_copy(sectors(image, 0))
    for s in layout.MBR_COPIES:
        written.update(put(image, s, copy))
    written.update(put(image, 0, bytes(512)))
    return written


def sectors0_7_zeroed(image, disk):
    disk_image.write_sectors(image, 0, bytes(8 * 512))
    return {s: bytes(512) for s in range(8)}


def boot_and_backup_lost(image, disk):
    """The primary boot sector and the signed backup at 69 both zeroed;
    copy pairs A and B are zero on a fresh disk, so no pair is left."""
    written = boot_sector_zeroed(image, disk)
    written.update(put(image, 69, bytes(512)))
    return written


def mbr_and_boot_sector_lost(image, disk):
    written = sector0_zeroed_with_copies(image, disk)
    written.update(boot_sector_zeroed(image, disk))
    return written


def no_mbr_no_boot_sector(image, disk):
    written = sectors0_7_zeroed(image, disk)
    written.update(boot_sector_zeroed(image, disk))
    return written


# ---- expected results --------------------------------------------------------

def after_fat1_repair(fresh, damaged, disk, damage, result):
    """Boot area as read, its copies refreshed, the free count reset; FAT1
    copied back from FAT2, which makes it the fresh disk's FAT1 again."""
    out = refreshed_mbr_copies(fresh)
    out.update(refreshed_pair_copies(fresh))
    out.update(free_count_unknown(sectors(fresh, 64)))
    return out


def after_pair_restored(fresh, damaged, disk, damage, result):
    """Primary pair restored from the signed backup pair at 69/70; copy pairs
    A and B left as they are in this run."""
    out = refreshed_mbr_copies(fresh)
    out[63] = layout.with_signature(sectors(fresh, 69))
    out.update(free_count_unknown(layout.with_signature(sectors(fresh, 70))))
    return out


def after_mbr_restored(fresh, damaged, disk, damage, result):
    """Sector 0 restored from copy 1; the copies stay as the damage left them."""
    out = {s: damage[s] for s in layout.MBR_COPIES}
    out[0] = layout.with_signature(damage[1])
    out.update(refreshed_pair_copies(fresh))
    out.update(free_count_unknown(sectors(fresh, 64)))
    return out


def after_both_restored(fresh, damaged, disk, damage, result):
    """Sector 0 from copy 1 and the primary pair from 69/70; neither the MBR
    copies nor the copy pairs are refreshed in a run that restores."""
    out = {s: damage[s] for s in layout.MBR_COPIES}
    out[0] = layout.with_signature(damage[1])
    out[63] = layout.with_signature(sectors(fresh, 69))
    out.update(free_count_unknown(layout.with_signature(sectors(fresh, 70))))
    return out


def after_two_runs(fresh, damaged, disk, damage, result):
    """First run: a fresh MBR, the pair at 63/64 left damaged (the FAT size
    and free count stored into the zeroed sector 63). Second run: the MBR is
    accepted and its copies written, the pair restored from 69/70."""
    mbr = layout.fresh_mbr(disk["sectors"])
    out = {0: mbr}
    out.update({s: layout.mbr_copy(mbr) for s in layout.MBR_COPIES})
    out[63] = layout.with_signature(sectors(fresh, 69))
    out.update(free_count_unknown(layout.with_signature(sectors(fresh, 70))))
    return out


def after_pair_restored_alone(fresh, damaged, disk, damage, result):
    """The primary pair restored from the signed backup pair at 69/70 and the
    MBR copies written; no FAT size is stored, so the FSInfo sector is the
    backup's as it stands."""
    out = refreshed_mbr_copies(fresh)
    out[63] = layout.with_signature(sectors(fresh, 69))
    out[64] = layout.with_signature(sectors(fresh, 70))
    return out


def after_first_of_two(fresh, damaged, disk, damage, result):
    """After the first run only: the fresh MBR, and the FAT size and free
    count stored into a primary pair that is still broken (sector 63 is
    zero but for the FAT size)."""
    mbr = layout.fresh_mbr(disk["sectors"])
    out = {s: bytes(512) for s in range(1, 8)}
    out[0] = mbr
    boot = bytearray(512)
    boot[36:40] = disk["volume"]["fat_size"].to_bytes(4, "little")
    out[63] = bytes(boot)
    out.update(free_count_unknown(sectors(fresh, 64)))
    return out


def after_templates_placed(fresh, damaged, disk, damage, result):
    """The templates at 63/64 with the measured FAT size and the free count
    reset; the copy pairs and the signed backup are not written."""
    out = refreshed_mbr_copies(fresh)
    head = bytearray(layout.template_boot_head())
    head[36:40] = disk["volume"]["fat_size"].to_bytes(4, "little")
    out[63] = bytes(head) + sectors(result, 63)[90:510] + b"\x55\xaa"
    out.update(free_count_unknown(layout.fsinfo_template()))
    out[69] = damage[69]
    return out


def after_layout_replaced(fresh, damaged, disk, damage, result):
    """The player's layout over one of another kind: sector 0 kept when its
    partition type is one the player takes, else a fresh MBR; its copies in
    1 to 7; the templates at 63/64, with the measured FAT size and the free
    count reset where the search found the volume's own FATs at 95 (a FAT32
    volume at 63). The copy pairs are not written."""
    mbr = sectors(fresh, 0) if layout.mbr_accepted(disk["partition_type"]) else layout.fresh_mbr(disk["sectors"])
    out = {s: layout.mbr_copy(mbr) for s in layout.MBR_COPIES}
    out[0] = mbr
    head = bytearray(layout.template_boot_head())
    fsinfo = layout.fsinfo_template()
    if disk["volume"]["fat_type"] == "FAT32" and disk["offset"] == layout.PARTITION_START:
        head[36:40] = disk["volume"]["fat_size"].to_bytes(4, "little")
        fsinfo = layout.with_free_count_unknown(fsinfo)
    out[63] = bytes(head) + sectors(result, 63)[90:510] + b"\x55\xaa"
    out[64] = fsinfo
    return out


def after_mbr_rebuilt(fresh, damaged, disk, damage, result):
    """A fresh MBR in sector 0 and nothing else but the free count."""
    out = {0: layout.fresh_mbr(disk["sectors"])}
    out.update(free_count_unknown(sectors(fresh, 64)))
    return out


def after_repartition(fresh, damaged, disk, damage, result):
    """The partitioned layout over the old unpartitioned volume: fresh MBR
    and its copies, the templates at 63/64 and in copy pairs A and B. The
    template's bootstrap code (bytes 90 to 509) is tessaly's own, so it is
    taken from the result after its other bytes are checked."""
    mbr = layout.fresh_mbr(disk["sectors"])
    out = {0: mbr}
    out.update({s: layout.mbr_copy(mbr) for s in layout.MBR_COPIES})
    placed = sectors(result, 63)
    boot = layout.template_boot_head() + placed[90:510] + b"\x55\xaa"
    fsinfo = layout.fsinfo_template()
    out[63], out[64] = boot, fsinfo
    copy_boot, copy_fsinfo = layout.pair_copy(boot, fsinfo)
    out.update({66: copy_boot, 67: copy_fsinfo, 72: copy_boot, 73: copy_fsinfo})
    return out


# ---- what fsck.fat must say ----------------------------------------------------

def free_count_note(disk):
    free = disk["fsck"]["clusters"] - disk["fsck"]["used"]
    return f"Free cluster summary uninitialized (should be {free})"


def fsck_clean_but_free_count(result, disk):
    """After a repair the only remark allowed is the free cluster count that
    tessaly sets to 'unknown' on purpose (0xFFFFFFFF, to be counted anew)."""
    if result.findings != [free_count_note(disk)] or result.returncode != 0:
        return f"expected only '{free_count_note(disk)}', got {result}"
    if (result.used, result.clusters) != (disk["fsck"]["used"], disk["fsck"]["clusters"]):
        return f"cluster use {result.used}/{result.clusters} differs from the fresh volume's"
    return None


def fsck_as_fresh(result, disk):
    if result.findings != disk["fsck"]["findings"] or result.returncode != 0:
        return f"expected a clean volume, got {result}"
    return None


def fsck_backup_free_count(result, disk):
    """The FSInfo sector restored from its backup carries the free count of
    the day the volume was made (mkfs.fat writes the backup, mtools keeps
    only the primary up to date). That advisory count is the only remark
    allowed; fsck.fat -n exits 1 for it, as for anything it would correct."""
    free = disk["fsck"]["clusters"] - disk["fsck"]["used"]
    stale = [f for f in result.findings if f.startswith("Free cluster summary wrong (")]
    rest = [f for f in result.findings if f not in stale + ["Auto-correcting.", "Leaving filesystem unchanged."]]
    if result.returncode not in (0, 1) or len(stale) != 1 or not stale[0].endswith(f"really {free})") or rest:
        return f"expected only a stale free cluster count, got {result}"
    if (result.used, result.clusters) != (disk["fsck"]["used"], disk["fsck"]["clusters"]):
        return f"cluster use {result.used}/{result.clusters} differs from the fresh volume's"
    return None


def fsck_fats_differ(result, disk):
    """The FATs differ as the damage left them (FAT1 marks one lost cluster
    in use), and nothing else is wrong."""
    wanted = ["FATs differ but appear to be intact.", "Using first FAT.",
              "Reclaimed 1 unused cluster (4096 bytes).", "Leaving filesystem unchanged."]
    if result.findings != wanted or result.used != disk["fsck"]["used"]:
        return f"expected fsck.fat to find only the lost cluster in FAT1, got {result}"
    return None


def fsck_fsinfo_magic(result, disk):
    """The broken FSInfo lead signature is still there for fsck.fat to see."""
    if "FSINFO sector has bad magic number(s):" not in result.findings:
        return f"expected fsck.fat to name the FSInfo magic, got {result}"
    if "Offset 0: 0x41615858 != expected 0x41615252" not in result.findings:
        return f"expected fsck.fat to name offset 0 of FSInfo, got {result}"
    return None


def fsck_template_volume(result, disk):
    """The template describes the player's own disk size. There the volume
    is whole, and fsck.fat only finds the signed backup at 69 (never written
    by tessaly) unlike the boot sector; on a smaller disk the template's
    sector count reaches beyond the disk's end."""
    found = result.findings
    if disk["sectors"] != PLAYER_SECTORS:
        if found != [f"Failed to read sector {PLAYER_SECTORS - 63 - 2}."]:
            return f"expected a volume reaching beyond the disk, got {result}"
        return None
    harmless = ("This is mostly harmless.", ", ")
    if (result.returncode != 0 or len(found) < 4
            or found[0] != "There are differences between boot sector and its backup."
            or found[-2:] != ["Not automatically fixing this.", free_count_note(disk)]
            or not all(f.startswith(harmless) or f[0].isdigit() for f in found[1:-2])):
        return f"expected only the boot sector backup difference and the free count, got {result}"
    return None


# ---- what the FAT repair tells of the files ------------------------------------

def told(path, what, folder=False):
    return f"tessaly: /{path}{'/' if folder else ''}: {what}"


KEPT = "kept from the first FAT"
MENDED = "mended from the second FAT"


def later_tells(what):
    """The lines of the later files, in the order of the walk (the new
    folder at the top level first, then the folder that grew, then their
    files), the first 20 of them and how many more."""
    lines = [told(NEW_ALBUM, what, True), told(GROWN_FOLDER, what, True)]
    lines += [told(path, what) for path, _, _ in NEW_SONGS + GROWN_FILES][:18]
    more = 2 + len(NEW_SONGS) + len(GROWN_FILES) - 20
    return lines + [f"tessaly: and {more} more files and folders whose chains differ between the FATs"]


def copies_line(to_first, to_second):
    return (f"tessaly: the FAT repair copies {to_first} sector{'' if to_first == 1 else 's'} from the second FAT "
            f"over the first and {to_second} from the first over the second; ")


def stale_count(disk):
    return len(disk["stale_fat"])


class Case:
    def __init__(self, name, disks, damage, report, absent, boxes, after, fsck, files,
                 partition=None, note="", then=(), after_first=None, settled=None, fats_differ=None,
                 replaces=False, tells=None):
        self.name = name
        self.disks = disks
        self.damage = damage
        self.report = report
        self.absent = absent
        self.boxes = boxes
        self.after = after
        self.fsck = fsck
        self.files = files
        self.partition = partition
        self.note = note
        # Further runs answered OK, each (report, absent, boxes), before the
        # disk is judged.
        self.then = then
        self.after_first = after_first  # the writes of the first of them
        self.settled = settled or SETTLED
        self.fats_differ = fats_differ
        self.replaces = replaces
        self.tells = tells


def replaced_warning(case, disk):
    """The line naming the layout the case's repair replaces, or None."""
    return REPLACED_WARNING.format(REPLACED_LAYOUTS[disk["name"]]) if case.replaces else None


def fat_report_settled(disk):
    return fat_report(disk, FATS_EQUAL, [HARD_DRIVE_OK])


SETTLED = (fat_report_settled, ["ERROR:", FATS_DIFFER, REPAIRING], [ALL_CLEAR])


def fat_report(disk, verdict, first_lines=()):
    return list(first_lines) + fat_lines(disk) + [verdict]


def refused_report(disk, first_lines=()):
    """The search's find, then the refusal in place of the comparison."""
    f = search_stop(disk)
    size = f - layout.FIRST_FAT_SECTOR
    return list(first_lines) + [f"Fat found on sector {f} at Address 0x{f * 512:x} ",
                                f"Fat size : {size} SECTORS = 0x{size * 512:x} BYTES ", FAT_NOT_CHECKED]


def replaced_report(disk):
    """A foreign volume at 63: no boot pair the player takes, nor an MBR
    when the partition type is not one of the player's; the search finds
    no FAT32 FAT in a FAT12 or FAT16 volume, and a FAT32 volume's own FAT2,
    compared as the templates placed in this run let it be."""
    lines = BPB_NOT_FOUND + ([] if layout.mbr_accepted(disk["partition_type"]) else MBR_NOT_FOUND)
    if disk["volume"]["fat_type"] != "FAT32":
        return lines + ["No Fat found ????"]
    return fat_report(disk, FATS_EQUAL, lines)


def replaced_settled_report(disk):
    """The player's layout in place of a foreign volume at 63: all clear;
    behind the templates, a FAT32 volume's own FATs at 95 compare equal, a
    FAT12 or FAT16 volume holds no FAT32 FAT to find."""
    if disk["volume"]["fat_type"] != "FAT32":
        return [HARD_DRIVE_OK, "No Fat found ????"]
    return fat_report(disk, FATS_EQUAL, [HARD_DRIVE_OK])


REPLACED_SETTLED = (replaced_settled_report, ["ERROR:", FATS_DIFFER, REPAIRING], [ALL_CLEAR])


def after_boot_area_rebuilt(fresh, damaged, disk, damage, result):
    """The MBR lost over a volume elsewhere: a fresh MBR with its copies, the
    templates at 63/64 as stored (no FAT size: the FATs found are that
    volume's), nothing else."""
    mbr = layout.fresh_mbr(disk["sectors"])
    out = {s: layout.mbr_copy(mbr) for s in layout.MBR_COPIES}
    out[0] = mbr
    out[63] = bytes(layout.template_boot_head()) + sectors(result, 63)[90:510] + b"\x55\xaa"
    out[64] = layout.fsinfo_template()
    return out


REFUSED_ABSENT = [CHECKING, FATS_EQUAL, FATS_DIFFER, REPAIRING, "Impossible"]
REFUSED_SETTLED = (lambda d: refused_report(d, [HARD_DRIVE_OK]), ["ERROR: Hard Drive"] + REFUSED_ABSENT,
                   [ALL_CLEAR])


CASES = [
    Case("sound", PARTITIONED, no_damage,
         lambda d: fat_report(d, FATS_EQUAL, [HARD_DRIVE_OK]),
         ["ERROR: Hard Drive", FATS_DIFFER, REPAIRING],
         [ALL_CLEAR], None, fsck_as_fresh, "intact", partition="fresh",
         note="all clear, nothing written"),
    Case("fat1-garbage", PARTITIONED, fat1_garbage,
         lambda d: fat_report(d, FATS_DIFFER, [HARD_DRIVE_OK]) + [REPAIRING],
         ["ERROR: Hard Drive", FATS_EQUAL],
         [ALL_CLEAR, DAMAGED, ABOUT_TO_REPAIR], after_fat1_repair,
         fsck_clean_but_free_count, "intact", partition="fresh"),
    Case("fat1-chain-zeroed", PARTITIONED, fat1_chain_zeroed,
         lambda d: fat_report(d, FATS_DIFFER, [HARD_DRIVE_OK]) + [REPAIRING],
         ["ERROR: Hard Drive", FATS_EQUAL],
         [ALL_CLEAR, DAMAGED, ABOUT_TO_REPAIR], after_fat1_repair,
         fsck_clean_but_free_count, "intact", partition="fresh"),
    Case("fat2-chain-zeroed", PARTITIONED, fat2_chain_zeroed,
         lambda d: fat_report(d, FATS_DIFFER, [HARD_DRIVE_OK]) + [REPAIRING],
         ["ERROR: Hard Drive", FATS_EQUAL],
         [ALL_CLEAR, DAMAGED, ABOUT_TO_REPAIR], after_fat1_repair,
         fsck_clean_but_free_count, "intact", partition="fresh",
         tells=lambda d: [told(CHAIN_TARGET, KEPT + " (in the second its chain runs into a free cluster)")],
         note="the first FAT keeps the chain the second lost: its sectors go over the second's"),
    Case("fat2-stale", ("small",), fat2_stale,
         lambda d: fat_report(d, FATS_DIFFER, [HARD_DRIVE_OK]) + [REPAIRING],
         ["ERROR: Hard Drive", FATS_EQUAL],
         [ALL_CLEAR, DAMAGED, ABOUT_TO_REPAIR], after_fat1_repair,
         fsck_clean_but_free_count, "intact", partition="fresh",
         tells=lambda d: later_tells(KEPT) + [copies_line(0, stale_count(d))],
         note="the second FAT as before the last writes: the new songs and the grown folder kept"),
    Case("fat1-stale", ("small",), fat1_stale,
         lambda d: fat_report(d, FATS_DIFFER, [HARD_DRIVE_OK]) + [REPAIRING],
         ["ERROR: Hard Drive", FATS_EQUAL],
         [ALL_CLEAR, DAMAGED, ABOUT_TO_REPAIR], after_fat1_repair,
         fsck_clean_but_free_count, "intact", partition="fresh",
         tells=lambda d: later_tells(MENDED) + [copies_line(stale_count(d), 0)]),
    Case("fat2-noise", ("small",), fat2_noise,
         lambda d: fat_report(d, FATS_DIFFER, [HARD_DRIVE_OK]) + [REPAIRING],
         ["ERROR: Hard Drive", FATS_EQUAL],
         [ALL_CLEAR, DAMAGED, ABOUT_TO_REPAIR], after_fat1_repair,
         fsck_clean_but_free_count, "intact", partition="fresh",
         tells=lambda d: [told(CHAIN_TARGET, KEPT), copies_line(0, 1)]),
    Case("fat1-stale-fat2-noise", ("small",), fat1_stale_fat2_noise,
         lambda d: fat_report(d, FATS_DIFFER, [HARD_DRIVE_OK]) + [REPAIRING],
         ["ERROR: Hard Drive", FATS_EQUAL],
         [ALL_CLEAR, DAMAGED, ABOUT_TO_REPAIR], after_fat1_repair,
         fsck_clean_but_free_count, "intact", partition="fresh",
         tells=lambda d: [told(CHAIN_TARGET, KEPT), told(NEW_ALBUM, MENDED, True), copies_line(stale_count(d), 1)],
         note="each FAT keeps what the other lost, in different sectors"),
    Case("boot-sector-zeroed", PARTITIONED, boot_sector_zeroed,
         lambda d: fat_report(d, FATS_EQUAL, ["ERROR: Hard Drive BPB damaged:", MAY_BE_DAMAGED]),
         [HARD_DRIVE_OK, FATS_DIFFER, REPAIRING],
         [DAMAGED, ABOUT_TO_REPAIR], after_pair_restored,
         fsck_clean_but_free_count, "intact", partition="fresh"),
    Case("fsinfo-trail-signature", PARTITIONED, fsinfo_trail_broken,
         lambda d: fat_report(d, FATS_EQUAL, ["ERROR: Hard Drive BPB damaged:", MAY_BE_DAMAGED]),
         [HARD_DRIVE_OK, FATS_DIFFER, REPAIRING],
         [DAMAGED, ABOUT_TO_REPAIR], after_pair_restored,
         fsck_clean_but_free_count, "intact", partition="fresh"),
    Case("fsinfo-lead-signature", PARTITIONED, fsinfo_lead_broken,
         lambda d: fat_report(d, FATS_EQUAL, [HARD_DRIVE_OK]),
         ["ERROR: Hard Drive", FATS_DIFFER, REPAIRING],
         [ALL_CLEAR], None, fsck_fsinfo_magic, "intact", partition="fresh",
         note="only bytes 510/511 of FSInfo are judged: reported OK, left for fsck.fat"),
    Case("sector0-zeroed", PARTITIONED, sector0_zeroed_with_copies,
         lambda d: fat_report(d, FATS_EQUAL, ["ERROR: Hard Drive MBR damaged:", MAY_BE_DAMAGED]),
         [HARD_DRIVE_OK, FATS_DIFFER, REPAIRING, "ERROR: Hard Drive BPB"],
         [DAMAGED, ABOUT_TO_REPAIR], after_mbr_restored,
         fsck_clean_but_free_count, "intact", partition="fresh",
         note="MBR copies present in 1..7, sector 0 restored from copy 1"),
    Case("sectors0-7-zeroed", PARTITIONED, sectors0_7_zeroed,
         lambda d: fat_report(d, FATS_EQUAL, ["ERROR: Hard Drive MBR not found", MAY_BE_DAMAGED]),
         [HARD_DRIVE_OK, FATS_DIFFER, REPAIRING, "ERROR: Hard Drive BPB"],
         [DAMAGED, ABOUT_TO_REPAIR], after_mbr_rebuilt,
         fsck_clean_but_free_count, "intact", partition="rebuilt"),
    Case("boot-and-backup-lost", PARTITIONED, boot_and_backup_lost,
         lambda d: fat_report(d, FATS_EQUAL, ["ERROR: Hard Drive BPB not found:", MAY_BE_DAMAGED]),
         [HARD_DRIVE_OK, FATS_DIFFER, REPAIRING, "ERROR: Hard Drive MBR", "ERROR: Hard Drive BPB damaged"],
         [DAMAGED, ABOUT_TO_REPAIR], after_templates_placed,
         fsck_template_volume, "intact", partition="fresh",
         note="templates with the measured FAT size; whole on the player's size only"),
    Case("mbr-and-boot-sector-lost", PARTITIONED, mbr_and_boot_sector_lost,
         lambda d: fat_report(d, FATS_EQUAL, ["ERROR: Hard Drive MBR damaged:", MAY_BE_DAMAGED,
                                              "ERROR: Hard Drive BPB damaged:", MAY_BE_DAMAGED]),
         [HARD_DRIVE_OK, FATS_DIFFER, REPAIRING, "ERROR: Hard Drive MBR not", "ERROR: Hard Drive BPB not"],
         [DAMAGED, ABOUT_TO_REPAIR], after_both_restored,
         fsck_clean_but_free_count, "intact", partition="fresh"),
    Case("no-mbr-no-boot-sector", PARTITIONED, no_mbr_no_boot_sector,
         lambda d: fat_report(d, FATS_EQUAL, ["ERROR: Hard Drive MBR not found", MAY_BE_DAMAGED]),
         [HARD_DRIVE_OK, FATS_DIFFER, REPAIRING, "ERROR: Hard Drive BPB"],
         [DAMAGED, ABOUT_TO_REPAIR], after_two_runs,
         fsck_clean_but_free_count, "intact", partition="rebuilt",
         note="mended in two runs: fresh MBR first, boot pair restored in the second",
         after_first=after_first_of_two,
         then=[(lambda d: fat_report(d, FATS_EQUAL, ["ERROR: Hard Drive BPB damaged:", MAY_BE_DAMAGED]),
                [HARD_DRIVE_OK, FATS_DIFFER, REPAIRING, "ERROR: Hard Drive MBR"],
                [DAMAGED, ABOUT_TO_REPAIR])]),
    Case("unpartitioned", UNPARTITIONED, no_damage,
         lambda d: ["ERROR: Hard Drive is removable", "   Hard Drive must be reformated"],
         [HARD_DRIVE_OK, SEARCHING, "Fat found", "No Fat found ????", FATS_EQUAL, FATS_DIFFER,
          REPAIRING, "ERROR: Hard Drive MBR", "ERROR: Hard Drive BPB"],
         [REMOVABLE, DAMAGED], after_repartition, None, "gone", partition="rebuilt",
         note="repartitioned over the old volume: templates installed, files not kept"),
    Case("other-layout-sound", OTHER_LAYOUTS + ("small-onefat",), no_damage,
         lambda d: refused_report(d, [HARD_DRIVE_OK]), ["ERROR: Hard Drive"] + REFUSED_ABSENT,
         [ALL_CLEAR], None, fsck_as_fresh, "intact", partition="fresh",
         note="FATs not where the search found them: not checked, nothing written"),
    Case("other-layout-fats-differ", ("small-2048",), fat1_lost_cluster,
         lambda d: refused_report(d, [HARD_DRIVE_OK]), ["ERROR: Hard Drive"] + REFUSED_ABSENT,
         [ALL_CLEAR], None, fsck_fats_differ, "intact", partition="fresh", fats_differ=True,
         note="FATs that differ on a volume at 2048 are not copied either"),
    Case("other-layout-boot-sector-zeroed", ("small-r40", "small-onefat"), boot_sector_zeroed,
         lambda d: refused_report(d, ["ERROR: Hard Drive BPB damaged:", MAY_BE_DAMAGED]),
         [HARD_DRIVE_OK] + REFUSED_ABSENT, [DAMAGED, ABOUT_TO_REPAIR], after_pair_restored_alone,
         fsck_backup_free_count, "intact", partition="fresh", settled=REFUSED_SETTLED,
         note="boot pair restored from its backup, which keeps the volume's own layout; FATs left alone"),
    Case("other-layout-mbr-lost", ("small-2048",), sectors0_7_zeroed,
         lambda d: refused_report(d, BPB_NOT_FOUND + MBR_NOT_FOUND), [HARD_DRIVE_OK] + REFUSED_ABSENT,
         [DAMAGED, ABOUT_TO_REPAIR], after_boot_area_rebuilt, fsck_as_fresh, "intact", partition="rebuilt",
         settled=REFUSED_SETTLED,
         note="the player's layout rebuilt at 63; the volume at 2048, found by the search, left whole"),
    Case("guid-partition-table", ("gpt-2048",), no_damage,
         lambda d: refused_report(d, BPB_NOT_FOUND + MBR_NOT_FOUND), [HARD_DRIVE_OK] + REFUSED_ABSENT,
         [DAMAGED, ABOUT_TO_REPAIR], after_layout_replaced, fsck_as_fresh, "intact", partition="rebuilt",
         replaces=True, settled=REFUSED_SETTLED,
         note="boot area replaced, the volume at 2048 untouched, also by a second run; undone byte for byte"),
    Case("foreign-volume-replaced", ("fat16-63", "fat12-63", "fat32-spc1"), no_damage, replaced_report,
         [HARD_DRIVE_OK, FAT_NOT_CHECKED, FATS_DIFFER, REPAIRING, "ERROR: Hard Drive MBR damaged",
          "ERROR: Hard Drive BPB damaged", "ERROR: Hard Drive is removable"],
         [DAMAGED, ABOUT_TO_REPAIR], after_layout_replaced, None, "gone", partition="as-judged",
         replaces=True, settled=REPLACED_SETTLED, note="replaced by the player's layout; undone byte for byte"),
]
