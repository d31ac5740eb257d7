"""The undo step of an end-to-end case: after tessaly's run, tessaly-undo on
the journal that standard error named must bring every disk back to its
digest before the run, byte for byte, and refuse whatever it must refuse.

case.toml:
  undo = true         refused on damaged journals and with -n writes nothing;
                      refused on a copy whose drive loses the write of one
                      sector; then restores (answer "yes"); a second restore writes
                      nothing; the restore's own journal undoes the restore
                      and the repair journal restores once more
  undo = "conflict"   one sector the repair wrote is changed first: refused,
                      then --force restores; a disk of another capacity and
                      two disks of the journal's model and capacity are refused
"""
import os
import re
import shutil
import subprocess
import zlib

JOURNAL_LINE = re.compile(rb'tessaly(?:-undo)?: .*; to put them back: tessaly-undo "([^"]+)"')


def named_journal(stderr):
    found = JOURNAL_LINE.findall(stderr)
    return found[-1].decode() if found else None


def run_undo(undo, args, aspi_disks, work, answers="yes\n"):
    env = {k: v for k, v in os.environ.items() if not k.startswith("ASPI_")}
    env["ASPI_DISKS"] = aspi_disks
    env["TESSALY_UNDO_DIR"] = os.path.join(work, "undo")
    proc = subprocess.run([undo] + args, input=answers.encode(), stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, env=env, cwd=work, timeout=600)
    with open(os.path.join(work, "undo.log"), "ab") as log:
        log.write(f"$ tessaly-undo {' '.join(args)}  (exit {proc.returncode})\n".encode()
                  + proc.stdout + proc.stderr + b"\n")
    return proc


def resealed(data, part_start, part_end):
    """`data` with the CRC-32 behind [part_start, part_end) and the file's
    own made anew: a crafted journal whose every checksum holds."""
    data = bytearray(data)
    data[part_end:part_end + 4] = zlib.crc32(data[part_start:part_end]).to_bytes(4, "little")
    data[-4:] = zlib.crc32(data[:-4]).to_bytes(4, "little")
    return bytes(data)


def damaged_copies(journal, work):
    """A journal damaged in each of its parts, cut short at sector
    boundaries (header, sector list, data, trailer), and crafted with every
    checksum sound: a sector listed twice, a count past its length."""
    with open(journal, "rb") as f:
        data = f.read()
    count = int.from_bytes(data[12:16], "little")
    list_end = 72 + 16 * count + 4
    spots = {"header": 20, "list": 72 + 3, "data": list_end + 100, "trailer": len(data) - 10}
    copies = []
    for part, offset in spots.items():
        copies.append((f"{part} byte flipped", data[:offset] + bytes([data[offset] ^ 0x01]) + data[offset + 1:]))
    for cut in sorted({72, list_end, list_end + 512, len(data) - 16, len(data) - 1}):
        copies.append((f"cut at {cut}", data[:cut]))
    if count >= 2:
        twice = data[:72 + 16] + data[72:76] + data[72 + 20:]
        copies.append(("a sector listed twice", resealed(twice, 72, list_end - 4)))
    longer = data[:12] + (count + 1000000).to_bytes(4, "little") + data[16:]
    copies.append(("a count past its length", resealed(longer, 0, 68)))
    paths = []
    for i, (what, content) in enumerate(copies):
        path = os.path.join(work, f"damaged-{i}.undo")
        with open(path, "wb") as f:
            f.write(content)
        paths.append((what, path))
    return paths


def expect(failures, name, proc, code, what):
    if proc.returncode != code:
        failures.append(f"{name}: undo {what}: exit {proc.returncode}, expected {code}\n"
                        f"  {proc.stdout.decode(errors='replace')}{proc.stderr.decode(errors='replace')}")
        return False
    return True


def check_digests(failures, name, disks, digests, what, sha256):
    for path, want in zip(disks, digests):
        if sha256(path) != want:
            failures.append(f"{name}: {what}: {os.path.basename(path)} differs")


def first_changed_sector(journal, disk):
    """The first sector the repair changed on `disk`: its old content saved,
    and what it holds now (the journal's CRC of the new content) other than
    that."""
    with open(journal, "rb") as f:
        data = f.read()
    count = int.from_bytes(data[12:16], "little")
    for i in range(count):
        entry = data[72 + 16 * i:72 + 16 * (i + 1)]
        sector = int.from_bytes(entry[0:4], "little")
        now = zlib.crc32(read_sector(disk, sector)).to_bytes(4, "little")
        if entry[4] == 1 and entry[5] == 1 and entry[8:12] != entry[12:16] and now == entry[12:16]:
            return sector
    return None


def read_sector(disk, sector):
    with open(disk, "rb") as f:
        f.seek(sector * 512)
        return f.read(512)


def change_written_sector(journal, disk):
    """Writes junk over the first sector the repair changed."""
    sector = first_changed_sector(journal, disk)
    if sector is not None:
        with open(disk, "r+b") as f:
            f.seek(sector * 512)
            f.write(b"\xa5" * 512)
    return sector


def lost_write_step(name, work, disks, aspi_disks, journal, undo):
    """A copy of the repaired disk whose drive acknowledges the write of one
    sector without keeping it: the read-back after the restore must tell,
    with read-ahead on as off, and name that sector."""
    sector = first_changed_sector(journal, disks[0])
    if sector is None:
        return [f"{name}: the repair changed no sector"]
    lost = os.path.join(work, "lost-write.img")
    subprocess.run(["cp", "--sparse=always", disks[0], lost], check=True)
    entries = aspi_disks.split(";")
    entries[0] = entries[0].replace(disks[0], lost, 1) + f",lostwrite={sector}"
    proc = run_undo(undo, [journal], ";".join(entries), work)
    failures = []
    if expect(failures, name, proc, 1, "with a write the disk did not keep"):
        if f"failed: sector {sector}\n".encode() not in proc.stdout:
            failures.append(f"{name}: undo with a lost write does not name sector {sector}")
    os.remove(lost)
    return failures


def undo_step(case, name, work, disks, aspi_disks, before, stderr, undo, sha256):
    failures = []
    journal = named_journal(stderr)
    if journal is None:
        return [f"{name}: standard error names no undo journal"]
    repaired = [sha256(p) for p in disks]

    for what, path in damaged_copies(journal, work):
        proc = run_undo(undo, [path], aspi_disks, work)
        expect(failures, name, proc, 1, what)
    proc = run_undo(undo, ["-n", journal], aspi_disks, work)
    expect(failures, name, proc, 0, "dry run")
    check_digests(failures, name, disks, repaired, "damaged journals or dry run wrote", sha256)

    if case["undo"] == "conflict":
        failures += conflict_steps(name, work, disks, aspi_disks, journal, before, undo, sha256)
        return failures

    failures += lost_write_step(name, work, disks, aspi_disks, journal, undo)
    proc = run_undo(undo, [journal], aspi_disks, work)
    if not expect(failures, name, proc, 0, "restore"):
        return failures
    check_digests(failures, name, disks, before, "after the restore", sha256)
    own = named_journal(proc.stderr)
    again = run_undo(undo, [journal], aspi_disks, work)
    expect(failures, name, again, 0, "second restore")
    if b"already as before" not in again.stdout:
        failures.append(f"{name}: a second restore found something to write")
    if own is None:
        return failures + [f"{name}: the restore named no journal of its own"]
    proc = run_undo(undo, [own], aspi_disks, work)
    expect(failures, name, proc, 0, "undo of the restore")
    check_digests(failures, name, disks, repaired, "after undoing the restore", sha256)
    proc = run_undo(undo, [journal], aspi_disks, work)
    expect(failures, name, proc, 0, "restore once more")
    check_digests(failures, name, disks, before, "after restoring once more", sha256)
    return failures


def conflict_steps(name, work, disks, aspi_disks, journal, before, undo, sha256):
    failures = []
    # Another disk: the same model, another capacity; then two of the right one.
    other = os.path.join(work, "other.img")
    with open(other, "wb") as f:
        f.truncate(100000 * 512)
    proc = run_undo(undo, [journal], other, work)
    expect(failures, name, proc, 1, "on a disk of another capacity")
    twin = os.path.join(work, "twin.img")
    shutil.copyfile(disks[0], twin)
    proc = run_undo(undo, [journal], f"{aspi_disks};{twin}", work)
    expect(failures, name, proc, 1, "with two matching disks")

    if change_written_sector(journal, disks[0]) is None:
        return failures + [f"{name}: the repair changed no sector"]
    changed = [sha256(p) for p in disks]
    proc = run_undo(undo, [journal], aspi_disks, work)
    expect(failures, name, proc, 1, "after a change")
    if b"conflict: sector" not in proc.stdout:
        failures.append(f"{name}: the conflict is not named")
    check_digests(failures, name, disks, changed, "a refused restore wrote", sha256)
    proc = run_undo(undo, ["--force", journal], aspi_disks, work, answers="no\n")
    expect(failures, name, proc, 1, "answered no")
    check_digests(failures, name, disks, changed, "a restore answered no wrote", sha256)
    proc = run_undo(undo, ["--force", journal], aspi_disks, work)
    expect(failures, name, proc, 0, "--force")
    check_digests(failures, name, disks, before, "after --force", sha256)
    return failures
