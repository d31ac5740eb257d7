#!/usr/bin/env python3
"""Checks the import table of a Windows program against an allowlist.

Reads the PE import directory of each program itself, lists every imported
DLL!function, and looks each one up in imports_allowlist.toml, which gives
the first Windows of each family that exports it. A 32-bit program must start
on Windows 98 SE, a 64-bit one on Windows XP x64 / Server 2003: a function
missing from the list, imported by ordinal, or first exported by a later
Windows fails the check.

    check_imports.py [--allowlist FILE] [--list] PROGRAM.exe...
"""
import argparse
import os
import struct
import sys
import tomllib

# The releases of each family, oldest first.
WIN9X = ["95", "98", "98 SE", "Me", "none"]
NT = ["NT 3.1", "NT 3.5", "NT 4.0", "2000", "XP", "XP x64 / Server 2003", "Vista", "7", "8", "10", "none"]
# What each bitness must start on: (family key, release, the family's list).
TARGETS = {
    "win32": ("w9x", "98 SE", WIN9X),
    "win64": ("nt", "XP x64 / Server 2003", NT),
}
MACHINES = {0x014C: "win32", 0x8664: "win64"}


class PeImage:
    def __init__(self, data):
        self.data = data
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        if data[pe:pe + 4] != b"PE\0\0":
            raise ValueError("not a PE image")
        machine, sections, _, _, _, optional_size, _ = struct.unpack_from("<HHIIIHH", data, pe + 4)
        self.bitness = MACHINES.get(machine)
        optional = pe + 24
        self.wide = struct.unpack_from("<H", data, optional)[0] == 0x20B  # PE32+
        directories = optional + (112 if self.wide else 96)
        self.import_rva = struct.unpack_from("<I", data, directories + 8)[0]
        self.sections = []
        table = optional + optional_size
        for i in range(sections):
            size, rva, raw_size, raw = struct.unpack_from("<IIII", data, table + 40 * i + 8)
            self.sections.append((rva, max(size, raw_size), raw))

    def offset(self, rva):
        for start, size, raw in self.sections:
            if start <= rva < start + size:
                return raw + rva - start
        raise ValueError(f"address {rva:#x} lies in no section")

    def text(self, rva):
        at = self.offset(rva)
        return self.data[at:self.data.index(b"\0", at)].decode("ascii")

    def imports(self):
        """(dll, function) pairs; a function imported by ordinal is '#N'."""
        found = []
        entry = self.offset(self.import_rva) if self.import_rva else None
        thunk_size, ordinal_flag = (8, 1 << 63) if self.wide else (4, 1 << 31)
        while entry is not None:
            lookup, _, _, name, first = struct.unpack_from("<IIIII", self.data, entry)
            if name == 0:
                break
            dll = self.text(name)
            at = self.offset(lookup or first)
            while True:
                thunk = int.from_bytes(self.data[at:at + thunk_size], "little")
                if thunk == 0:
                    break
                found.append((dll, f"#{thunk & 0xFFFF}" if thunk & ordinal_flag else self.text(thunk + 2)))
                at += thunk_size
            entry += 20
        return found


def module(dll):
    """The allowlist's name for an imported DLL: no ".dll", upper case."""
    name = dll.upper()
    return name[:-4] if name.endswith(".DLL") else name


def allowed(allowlist, dll):
    return {module(k): v for k, v in allowlist.items()}.get(module(dll), {})


def problem(allowlist, bitness, dll, function):
    """Why this import keeps the program off its oldest Windows, or None."""
    key, release, family = TARGETS[bitness]
    functions = allowed(allowlist, dll)
    if function not in functions:
        return "not on the allowlist"
    first = functions[function][key]
    if family.index(first) > family.index(release):
        return f"needs Windows {first}" if first != "none" else f"missing from every {key} Windows"
    return None


def check(path, allowlist, listing):
    with open(path, "rb") as f:
        image = PeImage(f.read())
    if image.bitness is None:
        print(f"{path}: unknown machine type")
        return False
    key, release, _ = TARGETS[image.bitness]
    failures = 0
    for dll, function in image.imports():
        why = problem(allowlist, image.bitness, dll, function)
        if why:
            failures += 1
            print(f"{path}: {dll}!{function}: {why} (target Windows {release})")
        elif listing:
            first = allowed(allowlist, dll)[function][key]
            print(f"  {dll}!{function}  (from Windows {first})")
    count = len(image.imports())
    print(f"{os.path.basename(path)} ({image.bitness}): {count} imports, {failures} not on Windows {release}")
    return failures == 0


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--allowlist", default=os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                                            "imports_allowlist.toml"))
    parser.add_argument("--list", action="store_true", help="also list every allowed import")
    parser.add_argument("programs", nargs="+")
    args = parser.parse_args()
    with open(args.allowlist, "rb") as f:
        allowlist = tomllib.load(f)
    ok = [check(p, allowlist, args.list) for p in args.programs]
    return 0 if all(ok) else 1


if __name__ == "__main__":
    sys.exit(main())
