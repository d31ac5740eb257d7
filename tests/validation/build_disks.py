#!/usr/bin/env python3
"""Builds the player disks of the validation suite with Debian's own tools.

Each disk is a sparse image partitioned with sfdisk (one partition at sector
63), formatted by mkfs.fat as FAT32 (8 sectors per cluster, 32 reserved
sectors, backup boot sector at 6, 63 hidden sectors) and filled through mtools
with a tree of files of many sizes, one of them fragmented. The unpartitioned
variants carry the same volume at sector 0 without a partition table.

Three more disks carry volumes that are sound but not laid out as the
player's own: one partition at sector 2048 (what current partitioners
choose), one at 63 with 40 reserved sectors, and one on the player's layout
whose last file ends in an end-of-chain entry stored as 0x0FFFFFF8, the
first entry of a FAT sector that follows a wholly free one, so that it
looks like the start of a FAT to a search by content.

Five small disks hold layouts of other kinds, each with a few files: a
FAT32 volume at 63 with a single FAT (its only FAT where the player's FAT1
is, and a file holding a FAT32 image early in its data area), a GUID
partition table with a FAT32 volume at 2048, FAT16 and FAT12 volumes at 63,
and a FAT32 volume at 63 with clusters of one sector.

The builder records everything the suite later checks against in
manifest.json: the files' sizes and sha256 sums, the volume's geometry, the
clusters of the files that the damage cases aim at, and what fsck.fat said
of the fresh volume.

    build_disks.py WORKDIR            builds all disks into WORKDIR
"""
import sys
sys.dont_write_bytecode = True  # keep the source tree free of caches

import hashlib
import json
import os
import random
import struct
import sys
import tempfile

import disk_image
import fat_tools

PLAYER_SECTORS = 11_695_320
SMALL_SECTORS = 1_200_000
VOLUME_START = 63
FIRST_FAT_SECTOR = 95          # 63 + 32 reserved sectors
FAT_SEARCH_END = 95 + 15_000   # where a FAT2 must begin to be found at all

# name: (sectors, partitioned, partition type)
DISKS = {
    "big": (PLAYER_SECTORS, True, "c"),
    "small": (SMALL_SECTORS, True, "b"),
    "big-flat": (PLAYER_SECTORS, False, None),
    "small-flat": (SMALL_SECTORS, False, None),
    "small-2048": (SMALL_SECTORS, True, "c"),
    "small-r40": (SMALL_SECTORS, True, "c"),
    "small-eoc": (SMALL_SECTORS, True, "c"),
}
# The disks that get the later files and keep their stale FATs.
LATER_FILES_ON = ("big", "small")
# Disks whose volume is not the player's (partition at 63, 32 reserved
# sectors, nothing but FATs looking like FATs): name: (volume start,
# reserved sectors, end-of-chain entry opening a FAT sector).
OTHER_LAYOUTS = {
    "small-2048": (2048, 32, False),
    "small-r40": (VOLUME_START, 40, False),
    "small-eoc": (VOLUME_START, 32, True),
}
# Layouts of other kinds: name: (sectors, partition label, volume start,
# partition type, mkfs.fat arguments). mkfs.fat picks 8 sectors per cluster
# for the one-FAT volume, and a FAT12 volume of 32 sectors per cluster.
FOREIGN = {
    "small-onefat": (SMALL_SECTORS, "dos", VOLUME_START, "c", ["-F", "32", "-f", "1", "-R", "32"]),
    "gpt-2048": (200_000, "gpt", 2048, "EBD0A0A2-B9E5-4433-87C0-68B6B72699C7", ["-F", "32"]),
    "fat16-63": (200_000, "dos", VOLUME_START, "6", ["-F", "16"]),
    "fat12-63": (65_536, "dos", VOLUME_START, "1", ["-F", "12"]),
    "fat32-spc1": (200_000, "dos", VOLUME_START, "c", ["-F", "32", "-s", "1", "-R", "32"]),
}
GPT_BACKUP_SECTORS = 33  # the backup partition entries and header at the disk's end
FAT_SIGNATURE = b"\xf8\xff\xff\x0f"
EOC_FILE = ("LAST.BIN", "random", 100)

DIRS = ["MUSIC", "MUSIC/Artist One", "MUSIC/Artist One/Album One",
        "MUSIC/Artist One/Album Two", "MUSIC/ARTIST2", "DATA", "FRAG",
        "PLAYLIST", "EMPTYDIR", "A", "A/B", "A/B/C", "A/B/C/D"]

# Written in this order; the large mostly-zero file first, so that the files
# after it have their FAT entries beyond FAT sector 96 (disk sector 191).
FILES = [
    ("DATA/SPARSE.BIN", "sparse", 80 << 20),
    ("EMPTY.TXT", "random", 0),
    ("ONE.BIN", "random", 1),
    ("README.TXT", "text", 511),
    ("SECTOR.BIN", "random", 512),
    ("CLUSTER.BIN", "random", 4096),
    ("CLUSTER1.BIN", "random", 4097),
    ("FRAG/GAP1.BIN", "random", 1 << 20),
    ("FRAG/GAP2.BIN", "random", 1 << 20),
    ("FRAG/GAP3.BIN", "random", 1 << 20),
]
# Written after GAP2 is deleted and the allocator is sent back to the start,
# so that this file fills GAP2's clusters and then continues after GAP3.
FRAGMENTED = ("FRAG/FRAGMENTED.BIN", "random", 1_600_000)
LATER_FILES = [
    ("MUSIC/Artist One/Album One/01 Opening.mp3", "random", 3_400_000),
    ("MUSIC/Artist One/Album One/02 Second Song.mp3", "random", 2_750_123),
    ("MUSIC/Artist One/Album Two/01 Track.mp3", "random", 5_000_000),
    ("MUSIC/ARTIST2/SINGLE.WMA", "random", 777_777),
    ("PLAYLIST/ALL.M3U", "text", 2_345),
    ("A/B/C/D/DEEP.TXT", "text", 100),
]
DELETED = "FRAG/GAP2.BIN"
CHAIN_TARGET = "MUSIC/Artist One/Album One/01 Opening.mp3"

# What the player writes last on the player-sized disks, after the FATs are
# recorded as they stand (the "stale" FATs a power cut between writing the
# two copies leaves): six songs in a new folder, and a folder that grows
# past one cluster (70 files whose long names take four entries each).
NEW_ALBUM = "NEW ALBUM"
# The last song's name is not ASCII: tessaly shows it in UTF-8.
NEW_SONGS = [(f"{NEW_ALBUM}/{n:02d} New Song Number {n}.mp3", "random", 600_000 + 37_000 * n) for n in range(1, 6)]
NEW_SONGS.append((f"{NEW_ALBUM}/06 Café – Ünïcode.mp3", "random", 822_000))
GROWN_FOLDER = "MUSIC/ARTIST2"
GROWN_FILES = [(f"{GROWN_FOLDER}/Later recording number {n:02d} of the artist.txt", "text", 1_500 + 11 * n)
               for n in range(1, 71)]

# The few files of a foreign disk. On the one-FAT volume an ordinary file
# holding a FAT32 image goes first, so that its FAT lies early in the data
# area, where a search by content for the player's FAT2 comes upon it.
FOREIGN_DIRS = ["MUSIC"]
FOREIGN_FILES = [
    ("README.TXT", "text", 511),
    ("MUSIC/01 Track.mp3", "random", 300_000),
    ("CLUSTER1.BIN", "random", 4097),
]
INNER_IMAGE = ("FAT32.IMG", "fat32-image", 8 << 20)
INNER_RESERVED = 32  # mkfs.fat's FAT32 default


def fat32_image(size, scratch):
    """A FAT32 image as mkfs.fat makes it, for a file's content."""
    local = os.path.join(scratch, "inner.img")
    with open(local, "wb") as f:
        f.truncate(size)
    fat_tools.checked(["mkfs.fat", "-F", "32", "-R", str(INNER_RESERVED), "-i", "1a2b3c4d",
                       "--invariant", local])
    with open(local, "rb") as f:
        data = f.read()
    os.remove(local)
    return data


def file_bytes(path, kind, size, scratch=None):
    if kind == "fat32-image":
        return fat32_image(size, scratch)
    rng = random.Random(path)
    if kind == "random":
        return rng.randbytes(size)
    if kind == "text":
        words = ["pellora", "track", "album", "disk", "music", "player", "FAT32"]
        text = ""
        while len(text) < size:
            text += rng.choice(words) + (" " if rng.random() < 0.85 else "\r\n")
        return text[:size].encode()
    # Mostly zero, with a random 4 KiB marker at the start of each megabyte.
    data = bytearray(size)
    for mb in range(0, size, 1 << 20):
        data[mb:mb + 4096] = rng.randbytes(min(4096, size - mb))
    return bytes(data)


def boot_field(sector, offset, size):
    return int.from_bytes(sector[offset:offset + size], "little")


def clusters_of(image, offset, path):
    """The file's clusters in chain order, as mshowfat lists them."""
    proc = fat_tools.checked(["mshowfat", "-i", f"{image}@@{offset * 512}", "::/" + path])
    clusters = []
    for part in proc.stdout.decode().split("<")[1:]:
        span = part.split(">")[0]
        lo, _, hi = span.partition("-")
        clusters.extend(range(int(lo), int(hi or lo) + 1))
    return clusters


def forget_next_free(image, offset):
    """Sets the FSInfo next-free hint to 0xFFFFFFFF, the FAT32 value for
    'unknown', as a device that does not keep the hint leaves it; mtools then
    allocates from the start of the FAT again."""
    fsinfo = bytearray(disk_image.read_sectors(image, offset + 1))
    fsinfo[492:496] = b"\xff\xff\xff\xff"
    disk_image.write_sectors(image, offset + 1, bytes(fsinfo))


def put_file(image, offset, scratch, files, path, kind, size):
    data = file_bytes(path, kind, size, scratch)
    local = os.path.join(scratch, "payload")
    with open(local, "wb") as f:
        f.write(data)
    fat_tools.put_file(image, offset, local, path)
    files[path] = {"size": size, "sha256": hashlib.sha256(data).hexdigest()}


def put_many(image, offset, scratch, files, folder, entries):
    """Files of one folder made locally under their own names and copied in
    one mcopy."""
    local_dir = os.path.join(scratch, "many")
    os.makedirs(local_dir, exist_ok=True)
    locals_ = []
    for path, kind, size in entries:
        data = file_bytes(path, kind, size)
        local = os.path.join(local_dir, os.path.basename(path))
        with open(local, "wb") as f:
            f.write(data)
        locals_.append(local)
        files[path] = {"size": size, "sha256": hashlib.sha256(data).hexdigest()}
    fat_tools.put_files(image, offset, locals_, folder)
    for local in locals_:
        os.remove(local)


def fat_sectors(image, offset):
    boot = disk_image.read_sectors(image, offset)
    fat1 = offset + boot_field(boot, 14, 2)
    return fat1, disk_image.read_sectors(image, fat1, boot_field(boot, 36, 4))


def add_later_files(image, offset, scratch, files):
    """The new folder of six songs and the grown folder; returns the FAT
    sectors (from 0) that these writes changed, as they were before, in
    hexadecimal: what a stale copy of either FAT still holds."""
    _, before = fat_sectors(image, offset)
    fat_tools.make_dir(image, offset, NEW_ALBUM)
    put_many(image, offset, scratch, files, NEW_ALBUM, NEW_SONGS)
    put_many(image, offset, scratch, files, GROWN_FOLDER, GROWN_FILES)
    _, after = fat_sectors(image, offset)
    return {str(i): before[i * 512:(i + 1) * 512].hex() for i in range(len(before) // 512)
            if before[i * 512:(i + 1) * 512] != after[i * 512:(i + 1) * 512]}


def fill(image, offset, scratch):
    files = {}

    def put(path, kind, size):
        put_file(image, offset, scratch, files, path, kind, size)

    for d in DIRS:
        fat_tools.make_dir(image, offset, d)
    for entry in FILES:
        put(*entry)
    fat_tools.delete_file(image, offset, DELETED)
    del files[DELETED]
    forget_next_free(image, offset)
    put(*FRAGMENTED)
    for entry in LATER_FILES:
        put(*entry)
    return files


def set_next_free(image, offset, cluster):
    """The FSInfo next-free hint, from which mtools allocates."""
    fsinfo = bytearray(disk_image.read_sectors(image, offset + 1))
    fsinfo[492:496] = cluster.to_bytes(4, "little")
    disk_image.write_sectors(image, offset + 1, bytes(fsinfo))


def place_end_of_chain_first(image, offset, scratch, files):
    """A one-cluster file in the first cluster of the FAT sector after the
    next wholly free one, its end-of-chain entry stored as 0x0FFFFFF8 in
    both FATs (a valid end-of-chain value, and the media entry's value).
    Returns the disk sector of that entry in FAT1."""
    boot = disk_image.read_sectors(image, offset)
    fat1 = offset + boot_field(boot, 14, 2)
    fat_size = boot_field(boot, 36, 4)
    last = max(max(clusters_of(image, offset, p)) for p in files if files[p]["size"])
    cluster = (last // 128 + 2) * 128
    set_next_free(image, offset, cluster - 1)
    path = EOC_FILE[0]
    put_file(image, offset, scratch, files, *EOC_FILE)
    if clusters_of(image, offset, path) != [cluster]:
        raise RuntimeError(f"{path} did not land in cluster {cluster}")
    for fat in (fat1, fat1 + fat_size):
        sector = bytearray(disk_image.read_sectors(image, fat + cluster // 128))
        sector[0:4] = FAT_SIGNATURE
        disk_image.write_sectors(image, fat + cluster // 128, bytes(sector))
    return fat1 + cluster // 128


def describe_volume(image, offset):
    """The boot sector's geometry; FAT12 and FAT16 keep their FAT size in
    the 16-bit field and their root folder ahead of the data area."""
    boot = disk_image.read_sectors(image, offset)
    return {
        "reserved": boot_field(boot, 14, 2),
        "fats": boot[16],
        "sectors_per_cluster": boot[13],
        "fat_size": boot_field(boot, 22, 2) or boot_field(boot, 36, 4),
        "root_sectors": (boot_field(boot, 17, 2) * 32 + 511) // 512,
        "fat_type": (boot[54:62] if boot_field(boot, 22, 2) else boot[82:90]).decode(errors="replace").strip(),
        "total_sectors": boot_field(boot, 19, 2) or boot_field(boot, 32, 4),
        "hidden": boot_field(boot, 28, 4),
        "backup_boot": boot_field(boot, 50, 2),
    }


def require_clean(name, disk, problems):
    """Adds fsck.fat's verdict on the fresh volume to `problems` and stops the
    build when there are any."""
    if disk["fsck"]["findings"] or disk["fsck"]["returncode"] != 0:
        problems.append(f"fsck.fat does not find the fresh volume clean: {disk['fsck']}")
    if problems:
        raise RuntimeError(f"disk {name}: " + "; ".join(problems))


def check_other_layout(name, image, disk):
    """The properties of a disk not laid out as the player's that the cases
    rely on: both FATs where the boot sector says, the volume clean, and
    for the end-of-chain disk the entry that opens a FAT sector behind a
    free one, inside FAT1 and past sector 190."""
    vol = disk["volume"]
    fat1 = disk["offset"] + vol["reserved"]
    problems = []
    for fat in (fat1, fat1 + vol["fat_size"]):
        if disk_image.read_sectors(image, fat)[:4] != FAT_SIGNATURE:
            problems.append(f"no FAT begins at {fat}")
    eoc = disk.get("eoc_sector")
    if eoc is not None:
        if not 190 < eoc < fat1 + vol["fat_size"]:
            problems.append(f"the end-of-chain entry at {eoc} lies outside FAT1 past 190")
        if disk_image.read_sectors(image, eoc)[:4] != FAT_SIGNATURE or any(disk_image.read_sectors(image, eoc - 1)):
            problems.append(f"sector {eoc} does not open with 0x0FFFFFF8 behind a free FAT sector")
    require_clean(name, disk, problems)


def check_layout(name, image, disk):
    """The properties of a partitioned disk that the cases rely on."""
    if name in OTHER_LAYOUTS:
        check_other_layout(name, image, disk)
        return
    vol = disk["volume"]
    problems = []
    if vol["reserved"] != 32 or disk["offset"] + vol["reserved"] != FIRST_FAT_SECTOR:
        problems.append("FAT1 does not begin at sector 95")
    fat2 = FIRST_FAT_SECTOR + vol["fat_size"]
    if not 191 < fat2 < FAT_SEARCH_END:
        problems.append(f"FAT2 at {fat2} lies outside 192..{FAT_SEARCH_END - 1}")
    if disk_image.read_sectors(image, FIRST_FAT_SECTOR)[:4] != b"\xf8\xff\xff\x0f":
        problems.append("FAT1 does not begin with F8 FF FF 0F")
    if disk_image.read_sectors(image, fat2)[:4] != b"\xf8\xff\xff\x0f":
        problems.append("FAT2 does not begin with F8 FF FF 0F")
    if any(disk_image.read_sectors(image, fat2 - 8, 8)):
        problems.append("the tail of FAT1 is not free clusters")
    if FIRST_FAT_SECTOR + disk["last_cluster"] // 128 <= 190:
        problems.append("no used FAT entry lies beyond disk sector 190")
    if FIRST_FAT_SECTOR + min(disk["chains"][CHAIN_TARGET]) // 128 <= 190:
        problems.append(f"{CHAIN_TARGET} has FAT entries at or below disk sector 190")
    frag = disk["chains"][FRAGMENTED[0]]
    if all(b == a + 1 for a, b in zip(frag, frag[1:])):
        problems.append(f"{FRAGMENTED[0]} is not fragmented")
    require_clean(name, disk, problems)


def check_foreign(name, image, disk):
    """The properties of a foreign disk that the cases rely on: the volume
    clean and of the kind its name says; the one-FAT volume with clusters
    the player's boot checks accept, its FAT at 95, and the FAT of the
    image inside a file opening a sector behind a free one, within the
    search's reach; a second FAT within that reach where there is one."""
    vol = disk["volume"]
    fat1 = disk["offset"] + vol["reserved"]
    want_type = FOREIGN[name][4][1]
    problems = []
    if vol["fat_type"] != "FAT" + want_type:
        problems.append(f"mkfs.fat made a {vol['fat_type']} volume")
    if want_type == "32" and disk_image.read_sectors(image, fat1)[:4] != FAT_SIGNATURE:
        problems.append(f"no FAT begins at {fat1}")
    found = disk.get("fat_found")
    if found is not None:
        if vol["fats"] != 1 or fat1 != FIRST_FAT_SECTOR or vol["sectors_per_cluster"] < 4:
            problems.append(f"not one FAT at 95 with clusters of 4 sectors or more: {vol}")
        if not found < FAT_SEARCH_END or disk_image.read_sectors(image, found)[:4] != FAT_SIGNATURE \
                or any(disk_image.read_sectors(image, found - 1)):
            problems.append(f"the image's FAT at {found} does not open behind a free sector before {FAT_SEARCH_END}")
    elif want_type == "32" and fat1 + vol["fat_size"] >= FAT_SEARCH_END:
        problems.append(f"FAT2 at {fat1 + vol['fat_size']} lies past {FAT_SEARCH_END}")
    require_clean(name, disk, problems)


def build_foreign(name, image, scratch):
    """A disk with a layout of another kind and a few files."""
    sectors, label, offset, ptype, mkfs_args = FOREIGN[name]
    size = sectors - offset - (GPT_BACKUP_SECTORS if label == "gpt" else 0)
    fat_tools.partition(image, offset, size, ptype, label)
    fat_tools.format_volume(image, offset, size, mkfs_args, "%08x" % (0x0F0E_0000 + offset), "FOREIGN")
    files = {}
    one_fat = "-f" in mkfs_args
    if one_fat:
        put_file(image, offset, scratch, files, *INNER_IMAGE)
    for d in FOREIGN_DIRS:
        fat_tools.make_dir(image, offset, d)
    for entry in FOREIGN_FILES:
        put_file(image, offset, scratch, files, *entry)
    fat_tools.dig_holes(image)
    fsck = fat_tools.fsck(image, offset, size, os.path.join(scratch, "volume"))
    probe = FOREIGN_FILES[1][0]
    disk = {
        "image": image, "sectors": sectors, "offset": offset, "partitioned": True,
        "partition_type": int(ptype, 16) if label == "dos" else None,
        "volume": describe_volume(image, offset), "files": files, "dirs": FOREIGN_DIRS,
        "probe": probe, "chains": {probe: clusters_of(image, offset, probe)},
        "fsck": {"returncode": fsck.returncode, "findings": fsck.findings,
                 "files": fsck.files, "used": fsck.used, "clusters": fsck.clusters},
    }
    if one_fat:
        vol = disk["volume"]
        data_start = offset + vol["reserved"] + vol["fat_size"]
        first = clusters_of(image, offset, INNER_IMAGE[0])[0]
        disk["fat_found"] = data_start + (first - 2) * vol["sectors_per_cluster"] + INNER_RESERVED
    check_foreign(name, image, disk)
    return disk


def build(name, workdir, scratch):
    image = os.path.join(workdir, f"{name}.img")
    if os.path.exists(image):
        os.remove(image)
    with open(image, "wb") as f:
        f.truncate((FOREIGN[name][0] if name in FOREIGN else DISKS[name][0]) * 512)
    if name in FOREIGN:
        return build_foreign(name, image, scratch)
    sectors, partitioned, ptype = DISKS[name]
    start, reserved, end_of_chain = OTHER_LAYOUTS.get(name, (VOLUME_START, 32, False))
    offset = start if partitioned else 0
    if partitioned:
        fat_tools.partition(image, offset, sectors - offset, ptype)
    serial = "%08x" % (0x50E1_0000 + sectors % 0x10000)
    fat_tools.format_fat32(image, offset, offset, serial, "PELLORA", reserved=reserved)
    files = fill(image, offset, scratch)
    stale_fat = add_later_files(image, offset, scratch, files) if name in LATER_FILES_ON else None
    eoc_sector = place_end_of_chain_first(image, offset, scratch, files) if end_of_chain else None
    fat_tools.dig_holes(image)
    fsck = fat_tools.fsck(image, offset, sectors - offset, os.path.join(scratch, "volume"))
    disk = {
        "image": image,
        "sectors": sectors,
        "offset": offset,
        "partitioned": partitioned,
        "partition_type": int(ptype, 16) if ptype else None,
        "volume": describe_volume(image, offset),
        "files": files,
        "dirs": DIRS,
        "probe": FRAGMENTED[0],
        "chains": {p: clusters_of(image, offset, p) for p in (CHAIN_TARGET, FRAGMENTED[0])},
        "last_cluster": max(max(clusters_of(image, offset, p)) for p in files if files[p]["size"]),
        "fsck": {"returncode": fsck.returncode, "findings": fsck.findings,
                 "files": fsck.files, "used": fsck.used, "clusters": fsck.clusters},
    }
    if eoc_sector is not None:
        disk["eoc_sector"] = eoc_sector
    if stale_fat is not None:
        disk["stale_fat"] = stale_fat
    if partitioned:
        check_layout(name, image, disk)
    elif fat_tools.partition_table(image):
        raise RuntimeError(f"disk {name}: mkfs.fat left a partition table in sector 0")
    return disk


def build_all(workdir, names=None):
    os.makedirs(workdir, exist_ok=True)
    manifest = {}
    with tempfile.TemporaryDirectory(dir=workdir) as scratch:
        for name in names or list(DISKS) + list(FOREIGN):
            manifest[name] = build(name, workdir, scratch)
    with open(os.path.join(workdir, "manifest.json"), "w") as f:
        json.dump(manifest, f, indent=1)
    return manifest


def main():
    if len(sys.argv) != 2:
        print(__doc__)
        return 2
    for name, disk in build_all(os.path.abspath(sys.argv[1])).items():
        print(f"{name}: {disk['sectors']} sectors, volume at {disk['offset']}, "
              f"FAT size {disk['volume']['fat_size']}, {len(disk['files'])} files, "
              f"fsck.fat: {disk['fsck']['used']}/{disk['fsck']['clusters']} clusters used")
    return 0


if __name__ == "__main__":
    sys.exit(main())
