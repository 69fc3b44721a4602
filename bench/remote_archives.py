#!/usr/bin/env python3
"""Archives and checks for bench/remote_list.sh.

  remote_archives.py make DIR          the archives, one "key<TAB>file<TAB>what" line each
  remote_archives.py tail FILE          bytes a minimal first request asks for (end record,
                                        comment, ZIP64 locator and record), from the local copy
  remote_archives.py range TAILFILE SIZE  "FIRST LAST" of the central directory, read from the
                                        fetched tail of an archive of SIZE bytes
  remote_archives.py directory FILE     "OFFSET SIZE" of the central directory
  remote_archives.py compare LISTING ARCHIVE   a `fennic list` table against `zipinfo -v`
  remote_archives.py verify FILE        zipfile reads the directory and every entry under
                                        1 GiB (checking CRCs); the huge zero runs are skipped
"""
import os
import random
import struct
import subprocess
import sys
import time
import zipfile
import zlib

EOCD = b"PK\x05\x06"
LOCATOR = b"PK\x06\x07"
ZIP64_EOCD = b"PK\x06\x06"
U32 = 0xFFFFFFFF


def dos_stamp(y, mo, d, h, mi, s):
    return (h << 11) | (mi << 5) | (s // 2), ((y - 1980) << 9) | (mo << 5) | d


def stamp_of(i):
    # A spread of times so the Time column is compared on more than one value.
    return (2001 + i % 20, 1 + i % 12, 1 + i % 28, i % 24, (i * 7) % 60, (i * 2) % 60)


def zero_crc(size, _cache={}):
    """CRC-32 of `size` zero bytes, in chunks (zeros are what a hole reads as)."""
    if size not in _cache:
        block = bytes(64 << 20)
        crc, left = 0, size
        while left:
            n = min(left, len(block))
            crc = zlib.crc32(memoryview(block)[:n], crc)
            left -= n
        _cache[size] = crc
    return _cache[size]


def write_stored_zeros(path, entries, force_zip64=False):
    """A hand-made archive of stored entries (name, size, data-or-None for zeros).

    Zero data is skipped with a seek, so the file is sparse. ZIP64 extra fields go where a
    size or an offset does not fit in 32 bits (or everywhere with force_zip64), and the ZIP64
    end record and locator follow the directory when anything needed them."""
    central = []
    any64 = force_zip64
    with open(path, "wb") as f:
        for i, (name, size, data) in enumerate(entries):
            size = len(data) if data is not None else size
            offset = f.tell()
            crc = zlib.crc32(data) if data is not None else zero_crc(size)
            tm, dt = dos_stamp(*stamp_of(i))
            raw = name.encode()
            big = size >= U32
            far = offset >= U32
            local64 = big or far or force_zip64
            any64 |= local64
            extra = struct.pack("<HHQQ", 1, 16, size, size) if local64 else b""
            f.write(struct.pack("<IHHHHHIIIHH", 0x04034B50, 45 if local64 else 10, 0, 0, tm,
                                dt, crc, U32 if local64 else size, U32 if local64 else size,
                                len(raw), len(extra)))
            f.write(raw + extra)
            if data is not None:
                f.write(data)
            else:
                f.seek(size, os.SEEK_CUR)
            central.append((raw, size, crc, tm, dt, offset))
        cd_offset = f.tell()
        for raw, size, crc, tm, dt, offset in central:
            fields = b""
            if size >= U32 or force_zip64:
                fields += struct.pack("<QQ", size, size)
            if offset >= U32 or force_zip64:
                fields += struct.pack("<Q", offset)
            extra = struct.pack("<HH", 1, len(fields)) + fields if fields else b""
            small = size if size < U32 and not force_zip64 else U32
            f.write(struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, 45 | (3 << 8),
                                45 if extra else 10, 0, 0, tm, dt, crc, small, small, len(raw),
                                len(extra), 0, 0, 0, 0o100644 << 16,
                                offset if offset < U32 and not force_zip64 else U32))
            f.write(raw + extra)
        cd_size = f.tell() - cd_offset
        n = len(central)
        if any64 or cd_offset >= U32:
            z64 = f.tell()
            f.write(struct.pack("<IQHHIIQQQQ", 0x06064B50, 44, 45, 45, 0, 0, n, n, cd_size,
                                cd_offset))
            f.write(struct.pack("<IIQI", 0x07064B50, 0, z64, 1))
        f.write(struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, min(n, 0xFFFF), min(n, 0xFFFF),
                            min(cd_size, U32), min(cd_offset, U32), 0))


def with_zipfile(path, names_and_data, comment=b"", method=zipfile.ZIP_STORED):
    with zipfile.ZipFile(path, "w") as z:
        for i, (name, data) in enumerate(names_and_data):
            info = zipfile.ZipInfo(name, date_time=stamp_of(i))
            info.compress_type = method
            info.external_attr = (0o40755 << 16 | 0x10) if name.endswith("/") else 0o100644 << 16
            z.writestr(info, data)
        z.comment = comment


def make(d):
    rnd = random.Random(1)
    made = []

    # 1. 200 entries in about 50 KB, a few of them directories.
    items = [(f"dir{i // 50}/", b"") if i % 50 == 0 else (f"dir{i // 50}/f{i:03}.txt", None)
             for i in range(200)]
    files = sum(1 for _, v in items if v is None)
    overhead = sum(30 + 46 + 2 * len(n.encode()) for n, _ in items) + 22
    each = (50_000 - overhead) // files
    items = [(n, rnd.randbytes(each) if v is None else v) for n, v in items]
    with_zipfile(f"{d}/e200-50k.zip", items)
    made.append(("e200-50k", "200 entries, 50 KB"))

    # 2. 200 entries in 200 MB: stored zeros, sparse.
    write_stored_zeros(f"{d}/e200-200m.zip",
                       [(f"part{i:03}.bin", 1_000_000, None) for i in range(200)])
    made.append(("e200-200m", "200 entries, 200 MB"))

    # 3. 5,000 entries with names of 100 to 200 bytes.
    levels = "".join(f"level-{j:02}-of-a-deep-tree/" for j in range(12))
    items = []
    for i in range(5000):
        base = f"file-{i:05}.txt"
        length = 100 + (i * 37) % 101
        items.append((levels[:length - len(base)] + base, rnd.randbytes(i % 40)))
    with_zipfile(f"{d}/e5000-long.zip", items, method=zipfile.ZIP_DEFLATED)
    made.append(("e5000-long", "5,000 entries, names 100-200 B"))

    # 4., 5. 65,535 entries and 70,000 (zipfile adds the ZIP64 end record past 65,535).
    for n in (65535, 70000):
        with_zipfile(f"{d}/e{n}.zip", [(f"d{i % 100}/f{i:05}.txt", b"") for i in range(n)])
    made.append(("e65535", "65,535 entries"))
    made.append(("e70000", "70,000 entries (ZIP64)"))

    # 6. 5 GiB, sparse, ZIP64, one entry's local header past 4 GiB.
    big = 4 * 2**30 + 512 * 2**20
    write_stored_zeros(f"{d}/zip64-5g.zip", [
        ("readme.txt", 0, b"A sparse archive past 4 GiB.\n"),
        ("zeros-4.5GiB.bin", big, None),
        ("after-4GiB.txt", 0, b"This local header lies past 4 GiB.\n"),
        ("zeros-512MiB.bin", 512 * 2**20, None),
    ])
    made.append(("zip64-5g", "5 GiB ZIP64, header past 4 GiB"))

    # 7. A 60,000-byte archive comment.
    with_zipfile(f"{d}/comment60k.zip", [(f"c/f{i:03}.txt", rnd.randbytes(64)) for i in range(200)],
                 comment=bytes(rnd.choice(b"abcdefghij ") for _ in range(60_000)))
    made.append(("comment60k", "60,000-byte comment"))

    for key, what in made:
        print(f"{key}\t{key}.zip\t{what}")


def end_records(tail, size):
    """(cd_offset, cd_size, start of the end records in `tail`) from the last bytes of an
    archive of `size` bytes; raises when the tail does not hold what is needed."""
    base = size - len(tail)
    e = len(tail) - 22
    while e >= 0:
        if tail[e:e + 4] == EOCD and e + 22 + struct.unpack_from("<H", tail, e + 20)[0] == len(tail):
            break
        e -= 1
    else:
        raise ValueError("no end record in the tail")
    count, cd_size, cd_offset = struct.unpack_from("<HII", tail, e + 10)
    start = e
    loc = e - 20
    if loc >= 0 and tail[loc:loc + 4] == LOCATOR:
        z64 = struct.unpack_from("<Q", tail, loc + 8)[0] - base
        if z64 < 0 or tail[z64:z64 + 4] != ZIP64_EOCD:
            raise ValueError("the ZIP64 end record lies before the tail")
        cd_size, cd_offset = struct.unpack_from("<QQ", tail, z64 + 40)
        start = z64
    elif U32 in (cd_size, cd_offset):
        raise ValueError("saturated end record without a ZIP64 locator")
    return cd_offset, cd_size, start


def read_tail(path, n):
    size = os.path.getsize(path)
    with open(path, "rb") as f:
        f.seek(max(0, size - n))
        return f.read(), size


def compare(listing_path, archive):
    """Rows of a `fennic list` table against `zipinfo -v`: name, Dir, Size, Time, Attr,
    Ratio, CRC and Comment of every entry, in order. Prints ok or MISMATCH and why."""
    rows = open(listing_path, encoding="utf-8", errors="replace").read().split("\n")
    if not rows or not rows[0].startswith("File Name\t"):
        return print("MISMATCH (no table header)")
    rows = [r.split("\t") for r in rows[1:] if r]
    out = subprocess.run(["zipinfo", "-v", archive], capture_output=True, text=True,
                         errors="replace").stdout.split("\n")
    want, want_name = [], False
    for line in out:
        if line.startswith("Central directory entry #"):
            want.append({"comment": ""})
            want_name = True
            continue
        if not want or not line.strip() or line.startswith("-"):
            continue
        e, text = want[-1], line.strip()
        if want_name:
            if text.startswith("There are an extra"):
                continue
            e["name"], want_name = line[2:], False
        elif text.startswith("file last modified on (DOS date/time):"):
            y, mon, day, hms = text.split(":", 1)[1].split()
            e["time"] = f"{int(day):02} {mon} {y}, {hms}"
        elif text.startswith("32-bit CRC value (hex):"):
            e["crc"] = int(text.split(":", 1)[1], 16)
        elif text.startswith("compressed size:"):
            e["csize"] = int(text.split(":", 1)[1].split()[0])
        elif text.startswith("uncompressed size:"):
            e["size"] = int(text.split(":", 1)[1].split()[0])
        elif text.startswith("MS-DOS file attributes ("):
            bits = int(text.split("(", 1)[1].split()[0], 16)
            e["attr"] = "".join(c if bits & b else "-"
                                for c, b in (("r", 1), ("a", 0x20), ("h", 2), ("s", 4)))
        elif text.startswith("------------------------- file comment begins"):
            e["comment"] = None  # some comment: the cell must not be empty
    if len(rows) != len(want):
        return print(f"MISMATCH ({len(rows)} rows, zipinfo {len(want)})")
    for i, (r, w) in enumerate(zip(rows, want)):
        size, csize = w.get("size", -1), w.get("csize", -1)
        expect = [
            w.get("name", "?"),
            "YES" if w.get("name", "").endswith("/") else "NO",
            str(size),
            w.get("time", "?"),
            w.get("attr", "?"),
            f"{csize * 100 // size if size else 0}%",
            f"{w.get('crc', -1):X}",
        ]
        got = r[:7]
        if got:
            got[0] = got[0].replace("\\", "/")
        comment_ok = len(r) == 8 and (r[7] == "") == (w["comment"] == "")
        if got != expect or not comment_ok:
            return print(f"MISMATCH (entry {i}: {r} against {expect})")
    print(f"ok ({len(rows)} entries)")


def main():
    cmd, args = sys.argv[1], sys.argv[2:]
    if cmd == "make":
        make(args[0])
    elif cmd == "tail":
        # The local copy stands in for the one guess a client would have to get right.
        tail, size = read_tail(args[0], 65535 + 22 + 20 + 56)
        _, _, start = end_records(tail, size)
        print(len(tail) - start)
    elif cmd == "range":
        tail = open(args[0], "rb").read()
        cd_offset, cd_size, _ = end_records(tail, int(args[1]))
        print(cd_offset, cd_offset + cd_size - 1)
    elif cmd == "directory":
        tail, size = read_tail(args[0], 65535 + 22 + 20 + 56)
        cd_offset, cd_size, _ = end_records(tail, size)
        print(cd_offset, cd_size)
    elif cmd == "verify":
        with zipfile.ZipFile(args[0]) as z:
            infos = z.infolist()
            for i in infos:
                if i.file_size < 2**30:
                    with z.open(i) as f:
                        while f.read(1 << 20):
                            pass
        print(f"{len(infos)} entries")
    elif cmd == "compare":
        compare(args[0], args[1])
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main()
