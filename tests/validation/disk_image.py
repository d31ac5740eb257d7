"""Sector-level access to sparse disk image files.

The player's disk is 11,695,320 sectors (almost 6 GB); the images are sparse
and hold only a few megabytes of data. Everything here walks the data extents
of a file (SEEK_DATA / SEEK_HOLE) instead of reading the holes, so copying,
comparing and digesting an image costs time in proportion to its data only.
"""
import hashlib
import os

SECTOR = 512
CHUNK = 1 << 20


def data_extents(path):
    """The (start, end) byte ranges of a file that hold data, in order."""
    extents = []
    size = os.path.getsize(path)
    fd = os.open(path, os.O_RDONLY)
    try:
        pos = 0
        while pos < size:
            try:
                start = os.lseek(fd, pos, os.SEEK_DATA)
            except OSError:
                break  # nothing but a hole up to the end
            end = os.lseek(fd, start, os.SEEK_HOLE)
            extents.append((start, end))
            pos = end
    finally:
        os.close(fd)
    return extents


def _chunked(extents):
    """Splits byte ranges into pieces of at most CHUNK bytes on CHUNK borders."""
    for start, end in extents:
        pos = start
        while pos < end:
            stop = min(end, (pos // CHUNK + 1) * CHUNK)
            yield pos, stop
            pos = stop


def _merge(ranges):
    merged = []
    for start, end in sorted(ranges):
        if merged and start <= merged[-1][1]:
            merged[-1] = (merged[-1][0], max(merged[-1][1], end))
        else:
            merged.append((start, end))
    return merged


def sparse_copy(src, dst):
    """Copies src to dst byte for byte, leaving holes where src has holes."""
    with open(src, "rb") as fin, open(dst, "wb") as fout:
        fout.truncate(os.path.getsize(src))
        for start, end in data_extents(src):
            fin.seek(start)
            fout.seek(start)
            left = end - start
            while left:
                block = fin.read(min(left, CHUNK))
                fout.write(block)
                left -= len(block)


def extract_range(src, dst, first_sector, sector_count):
    """Writes sectors first_sector .. first_sector + sector_count - 1 of src
    into a new sparse file dst (a partition as a file of its own)."""
    lo = first_sector * SECTOR
    hi = lo + sector_count * SECTOR
    with open(src, "rb") as fin, open(dst, "wb") as fout:
        fout.truncate(hi - lo)
        for start, end in data_extents(src):
            start, end = max(start, lo), min(end, hi)
            if start >= end:
                continue
            fin.seek(start)
            fout.seek(start - lo)
            left = end - start
            while left:
                block = fin.read(min(left, CHUNK))
                fout.write(block)
                left -= len(block)


def content_digest(path):
    """sha256 of the image's content, with all-zero megabytes left out.

    Two images of the same size get the same digest exactly when their bytes
    are equal, however their holes lie: each non-zero megabyte enters the hash
    with its number, zero megabytes (holes or written zeros) not at all.
    """
    digest = hashlib.sha256(str(os.path.getsize(path)).encode())
    zero = bytes(CHUNK)
    with open(path, "rb") as f:
        for start, end in _chunked(_merge(
                (s // CHUNK * CHUNK, -(-e // CHUNK) * CHUNK) for s, e in data_extents(path))):
            f.seek(start)
            block = f.read(end - start)
            if block != zero[:len(block)]:
                digest.update(start.to_bytes(8, "little"))
                digest.update(block)
    return digest.hexdigest()


def differing_sectors(path_a, path_b):
    """Sector numbers whose bytes differ between two images of equal size."""
    if os.path.getsize(path_a) != os.path.getsize(path_b):
        raise ValueError(f"{path_a} and {path_b} differ in size")
    ranges = _merge(data_extents(path_a) + data_extents(path_b))
    found = []
    with open(path_a, "rb") as fa, open(path_b, "rb") as fb:
        for start, end in _chunked(ranges):
            start = start // SECTOR * SECTOR
            fa.seek(start)
            fb.seek(start)
            a = fa.read(end - start)
            b = fb.read(end - start)
            if a == b:
                continue
            for i in range(0, max(len(a), len(b)), SECTOR):
                if a[i:i + SECTOR] != b[i:i + SECTOR]:
                    found.append((start + i) // SECTOR)
    return sorted(set(found))


def read_sectors(path, first, count=1):
    with open(path, "rb") as f:
        f.seek(first * SECTOR)
        data = f.read(count * SECTOR)
    return data + bytes(count * SECTOR - len(data))


def write_sectors(path, first, data):
    assert len(data) % SECTOR == 0
    with open(path, "r+b") as f:
        f.seek(first * SECTOR)
        f.write(data)


def sector_count(path):
    return os.path.getsize(path) // SECTOR
