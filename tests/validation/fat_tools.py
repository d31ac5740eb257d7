"""Thin wrappers around the Debian tools that make and judge the volumes:
sfdisk, mkfs.fat and fsck.fat (dosfstools), and mtools.

Nothing here knows tessaly; these are the independent witnesses.
"""
import hashlib
import os
import re
import subprocess

import disk_image

# mtools refuses volumes whose geometry fields look odd to it unless told not
# to check; the player's volumes are ordinary but some damaged ones are not.
# mtools turns local names into long names by the locale's character set:
# UTF-8, whatever the caller's locale.
MTOOLS_ENV = dict(os.environ, MTOOLS_SKIP_CHECK="1", LC_ALL="C.UTF-8")


def run(cmd, **kwargs):
    return subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                          env=kwargs.pop("env", MTOOLS_ENV), **kwargs)


def checked(cmd, **kwargs):
    proc = run(cmd, **kwargs)
    if proc.returncode != 0:
        raise RuntimeError(f"{' '.join(cmd)} failed ({proc.returncode}): "
                           f"{proc.stderr.decode(errors='replace').strip()}")
    return proc


def partition(image, start, size, type_hex, label="dos"):
    """One partition in a fresh partition table, DOS (a type byte in hex) or
    GPT (a type GUID)."""
    script = f"label: {label}\nstart={start}, size={size}, type={type_hex}\n"
    checked(["sfdisk", "--no-reread", "--no-tell-kernel", "--wipe", "never", image],
            input=script.encode())


def partition_table(image):
    """The partitions sfdisk reads from the image: [(start, size, type)]."""
    proc = run(["sfdisk", "--dump", image])
    if proc.returncode != 0:
        return None
    parts = []
    for line in proc.stdout.decode().splitlines():
        m = re.search(r"start=\s*(\d+), size=\s*(\d+), type=(\w+)", line)
        if m:
            parts.append((int(m.group(1)), int(m.group(2)), int(m.group(3), 16)))
    return parts


def format_fat32(image, offset, hidden, volume_id, label, mbr="n", reserved=32):
    """FAT32 with 8-sector clusters, `reserved` reserved sectors, the backup
    boot sector at 6, written at sector `offset` of the image."""
    checked(["mkfs.fat", "-F", "32", "-s", "8", "-R", str(reserved), "-b", "6",
             "-h", str(hidden), f"--offset={offset}", f"--mbr={mbr}",
             "-i", volume_id, "-n", label, "--invariant", image])


def format_volume(image, offset, sectors, args, volume_id, label):
    """A FAT volume of `sectors` sectors at sector `offset` of the image,
    made as mkfs.fat makes it given `args`."""
    checked(["mkfs.fat", *args, "-h", str(offset), f"--offset={offset}", "--mbr=n",
             "-i", volume_id, "-n", label, "--invariant", image, str(sectors // 2)])


def _volume(image, offset):
    return f"{image}@@{offset * disk_image.SECTOR}"


def make_dir(image, offset, path):
    checked(["mmd", "-i", _volume(image, offset), "::/" + path])


def put_file(image, offset, local, path):
    checked(["mcopy", "-i", _volume(image, offset), local, "::/" + path])


def put_files(image, offset, locals_, folder):
    """Several local files into one folder, in one mcopy: each keeps its
    local name, long names included."""
    checked(["mcopy", "-i", _volume(image, offset), *locals_, "::/" + folder + "/"])


def delete_file(image, offset, path):
    checked(["mdel", "-i", _volume(image, offset), "::/" + path])


def read_file(image, offset, path):
    """The file's bytes through mtools, or None when mtools cannot read it."""
    proc = run(["mcopy", "-n", "-i", _volume(image, offset), "::/" + path, "-"])
    return proc.stdout if proc.returncode == 0 else None


def file_sha256(image, offset, path):
    data = read_file(image, offset, path)
    return None if data is None else hashlib.sha256(data).hexdigest()


class FsckResult:
    """What `fsck.fat -n` said: exit status, the summary line's counts and
    the remaining lines (its findings)."""

    def __init__(self, returncode, output):
        self.returncode = returncode
        self.output = output
        self.files = self.used = self.clusters = None
        self.findings = []
        for line in output.splitlines():
            if line.startswith("fsck.fat ") or not line.strip():
                continue
            m = re.search(r": (\d+) files, (\d+)/(\d+) clusters$", line)
            if m:
                self.files, self.used, self.clusters = map(int, m.groups())
                continue
            self.findings.append(line.strip())

    def __repr__(self):
        return f"fsck.fat rc={self.returncode} findings={self.findings}"


def fsck(image, first_sector, count, scratch):
    """Runs `fsck.fat -n` over sectors first_sector.. of the image, copied out
    sparsely into the file `scratch` (fsck.fat has no offset option)."""
    disk_image.extract_range(image, scratch, first_sector, count)
    try:
        proc = run(["fsck.fat", "-n", scratch])
        text = (proc.stdout + proc.stderr).decode(errors="replace").replace(scratch, "<volume>")
        return FsckResult(proc.returncode, text)
    finally:
        os.remove(scratch)


def dig_holes(image):
    """Turns all-zero blocks of the image into holes (util-linux fallocate)."""
    checked(["fallocate", "--dig-holes", image])
