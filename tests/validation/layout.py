"""What the player's boot area holds, as this suite predicts tessaly leaves
it: the checksummed copy forms of the MBR and of a boot pair, the fresh MBR,
the two templates, and the byte sum by which the two FATs are compared.

These follow the disk's published layout; they are the suite's predictions,
written independently of tessaly's sources.
"""
SECTOR = 512
FIRST_FAT_SECTOR = 95
PARTITION_START = 63
MBR_COPIES = range(1, 8)
# The partition types the player takes for its volume.
ACCEPTED_PARTITION_TYPES = (0x06, 0x0B, 0x0C, 0x0E)


def mbr_accepted(partition_type):
    """Whether the player takes a partition of this type (None: a GUID
    partition table, whose protective entry it never takes)."""
    return partition_type in ACCEPTED_PARTITION_TYPES


def sum16(data):
    """16-bit wrapping sum of unsigned bytes."""
    return sum(data) & 0xFFFF


def mbr_copy(sector0):
    """Sector 0 in its checksummed copy form (sectors 1 to 7)."""
    body = sector0[:510]
    return body + sum16(body).to_bytes(2, "big")


def pair_copy(boot, fsinfo):
    """A boot pair in its checksummed copy form (copy pairs A and B): the
    sum of the boot sector's 512 bytes and the FSInfo sector's first 510,
    big-endian in the FSInfo sector's last two bytes."""
    total = sum16(boot + fsinfo[:510])
    return boot, fsinfo[:510] + total.to_bytes(2, "big")


def with_free_count_unknown(fsinfo):
    """FSInfo with the free cluster count 0xFFFFFFFF (to be counted anew)."""
    return fsinfo[:488] + b"\xff\xff\xff\xff" + fsinfo[492:]


def with_signature(sector):
    return sector[:510] + b"\x55\xaa"


def fresh_mbr(capacity):
    """The one-partition MBR tessaly builds when the disk has none."""
    sector = bytearray(SECTOR)
    entry = bytes([0x00, 0x01, 0x01, 0x00, 0x0B, 0xFE, 0xFF, 0xFF])
    sector[446:454] = entry
    sector[454:458] = (63).to_bytes(4, "little")
    sector[458:462] = ((capacity - 63) & 0xFFFFFFFF).to_bytes(4, "little")
    sector[510:512] = b"\x55\xaa"
    return bytes(sector)


def template_boot_head():
    """Bytes 0 to 89 of the boot sector template; 90 to 509 are bootstrap
    code of tessaly's own choosing, 510 and 511 the signature."""
    h = bytearray(90)
    h[0:3] = b"\xeb\x5a\x90"
    h[3:11] = b"*&hnwIHC"
    h[11:13] = (512).to_bytes(2, "little")
    h[13] = 8
    h[14:16] = (32).to_bytes(2, "little")
    h[16] = 2
    h[21] = 0xF8
    h[24:26] = (63).to_bytes(2, "little")
    h[26:28] = (255).to_bytes(2, "little")
    h[28:32] = (63).to_bytes(4, "little")
    h[32:36] = (11_695_257).to_bytes(4, "little")
    h[36:40] = (11_399).to_bytes(4, "little")
    h[44:48] = (2).to_bytes(4, "little")
    h[48:50] = (1).to_bytes(2, "little")
    h[50:52] = (6).to_bytes(2, "little")
    h[64] = 0x80
    h[66] = 0x29
    h[67:71] = (0x1CE83E41).to_bytes(4, "little")
    h[71:82] = b"PELLORA    "
    h[82:90] = b"FAT32   "
    return bytes(h)


def fsinfo_template():
    s = bytearray(SECTOR)
    s[0:4] = b"RRaA"
    s[484:488] = b"rrAa"
    s[488:492] = (1_450_828).to_bytes(4, "little")
    s[492:496] = (2).to_bytes(4, "little")
    s[508:512] = b"\x00\x00\x55\xaa"
    return bytes(s)


def fat_sum(data):
    """Sum of the bytes taken as signed values, wrapped to 16 bits, read as
    a signed number: the measure by which the two FATs are compared."""
    high = len(data) - len(data.translate(None, bytes(range(0x80, 0x100))))
    total = (sum(data) - 256 * high) & 0xFFFF
    return total - 0x10000 if total >= 0x8000 else total
