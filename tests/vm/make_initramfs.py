#!/usr/bin/env python3
"""Packs the initramfs of the test machine: busybox, the programs under test,
the init script, the case folders and the kernel modules the init loads.

Modules come from an unpacked Debian kernel package (its lib/modules tree);
their dependencies are read from each module's own .modinfo section, since
the package ships no modules.dep. Compressed modules (.ko.xz) are unpacked
here, so the guest's insmod needs no decompressor.

The modules are grouped; the init loads a group by name:
  base   the xHCI controller, USB core, SCSI core and usb-storage
  sg     the SCSI generic driver
  mount  the SCSI disk driver and VFAT, for the cases that mount, loop or
         swap on the player's partition or look at its block devices
  loop   the loop device driver
Each group gets /modules/<group>.order, in load order, without the modules of
the groups before it.
"""
import argparse
import gzip
import io
import lzma
import os
import re
import stat
import sys

GROUPS = [
    ("base", ["xhci-pci", "usb-storage"]),
    ("sg", ["sg"]),
    ("mount", ["sd_mod", "vfat", "nls_cp437", "nls_ascii", "nls_utf8"]),
    ("loop", ["loop"]),
]


def canonical(name):
    return name.replace("-", "_")


def index_modules(tree):
    """Maps each module's canonical name to its file."""
    found = {}
    for root, _dirs, files in os.walk(tree):
        for f in files:
            m = re.match(r"(.+)\.ko(\.xz|\.zst|\.gz)?$", f)
            if m:
                found[canonical(m.group(1))] = os.path.join(root, f)
    return found


def module_bytes(path):
    with open(path, "rb") as f:
        data = f.read()
    if path.endswith(".xz"):
        return lzma.decompress(data)
    if path.endswith(".gz"):
        return gzip.decompress(data)
    if path.endswith(".zst"):
        raise SystemExit(f"{path}: zstd-compressed modules are not supported")
    return data


def dependencies(data):
    m = re.search(rb"(?:^|\0)depends=([^\0]*)\0", data)
    if not m or not m.group(1):
        return []
    return [canonical(d.decode()) for d in m.group(1).split(b",") if d]


def load_order(names, index, cache, loaded):
    """The modules `names` need, dependencies first, leaving out `loaded`."""
    order = []

    def visit(name, trail):
        if name in loaded or name in order:
            return
        if name in trail:
            raise SystemExit(f"dependency loop through {name}")
        if name not in index:
            raise SystemExit(f"module {name} not found in the kernel package")
        if name not in cache:
            cache[name] = module_bytes(index[name])
        for dep in dependencies(cache[name]):
            visit(dep, trail | {name})
        order.append(name)

    for n in names:
        visit(canonical(n), frozenset())
    return order


class Cpio:
    """Writer of the "newc" cpio format the kernel unpacks."""

    def __init__(self):
        self.out = io.BytesIO()
        self.ino = 1
        self.dirs = set()

    def _entry(self, name, mode, data=b"", target=None):
        body = target.encode() if target is not None else data
        header = "070701" + "".join(f"{v:08x}" for v in (
            self.ino, mode, 0, 0, 1, 0, len(body), 0, 0, 0, 0, len(name) + 1, 0))
        self.ino += 1
        self.out.write(header.encode() + name.encode() + b"\0")
        self._pad()
        self.out.write(body)
        self._pad()

    def _pad(self):
        self.out.write(b"\0" * (-self.out.tell() % 4))

    def directory(self, name):
        parts = name.split("/")
        for i in range(1, len(parts) + 1):
            d = "/".join(parts[:i])
            if d and d not in self.dirs:
                self.dirs.add(d)
                self._entry(d, stat.S_IFDIR | 0o755)

    def file(self, name, data, mode=0o644):
        self.directory(os.path.dirname(name))
        self._entry(name, stat.S_IFREG | mode, data)

    def symlink(self, name, target):
        self.directory(os.path.dirname(name))
        self._entry(name, stat.S_IFLNK | 0o777, target=target)

    def finish(self):
        self._entry("TRAILER!!!", 0)
        return self.out.getvalue()


def read(path):
    with open(path, "rb") as f:
        return f.read()


def add_tree(archive, source, dest):
    for root, _dirs, files in os.walk(source):
        for f in sorted(files):
            path = os.path.join(root, f)
            rel = os.path.relpath(path, source)
            mode = 0o755 if os.access(path, os.X_OK) else 0o644
            archive.file(f"{dest}/{rel}", read(path), mode)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--modules", required=True, help="the kernel's lib/modules/<version> folder")
    parser.add_argument("--busybox", required=True)
    parser.add_argument("--init", required=True)
    parser.add_argument("--program", action="append", default=[], help="NAME=PATH, installed as /bin/NAME")
    parser.add_argument("--cases", help="folder of prepared case folders, installed as /cases")
    parser.add_argument("--out", required=True)
    args = parser.parse_args()

    archive = Cpio()
    for d in ("dev", "proc", "sys", "tmp", "mnt", "bin", "modules"):
        archive.directory(d)
    archive.file("bin/busybox", read(args.busybox), 0o755)
    for applet in ("sh", "mount", "umount", "insmod", "sleep", "cat", "ls", "base64", "poweroff",
                   "echo", "sync", "mkdir", "printf", "grep", "timeout", "dmesg", "wc", "tr", "su",
                   "chown", "chmod", "dd", "losetup", "mkswap", "swapon", "swapoff"):
        archive.symlink(f"bin/{applet}", "busybox")
    for entry in args.program:
        name, path = entry.split("=", 1)
        archive.file(f"bin/{name}", read(path), 0o755)
    archive.file("init", read(args.init), 0o755)
    # Two users for the permission cases: one in the group that owns the
    # devices, one outside it.
    archive.file("etc/passwd", b"root:x:0:0:root:/:/bin/sh\n"
                 b"player:x:1000:1000::/tmp:/bin/sh\nguest:x:1001:1001::/tmp:/bin/sh\n")
    archive.file("etc/group", b"root:x:0:\ndisk:x:6:player\nplayer:x:1000:\nguest:x:1001:\n")
    if args.cases:
        add_tree(archive, args.cases, "cases")

    index = index_modules(args.modules)
    cache = {}
    loaded = set()
    for group, names in GROUPS:
        order = load_order(names, index, cache, loaded)
        loaded.update(order)
        for name in order:
            archive.file(f"modules/{name}.ko", cache[name])
        archive.file(f"modules/{group}.order", "".join(n + "\n" for n in order).encode())

    with open(args.out, "wb") as f:
        f.write(gzip.compress(archive.finish(), compresslevel=6))
    return 0


if __name__ == "__main__":
    sys.exit(main())
