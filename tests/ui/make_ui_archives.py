#!/usr/bin/env python3
"""Makes the archives the window tests list.

  make_ui_archives.py OUTDIR

list.zip: an Info-ZIP -P encrypted entry, then (added by zipfile) a stored, a deflated, a
directory, an empty and three commented entries (short, 1024 and 1025 characters).
nodir.bin: bytes without any end record. empty.zip: no entries.
expected.tsv: name, CRC in upper-case hex, uncompressed size, per row of list.zip.
many.zip: 5000 entries; row 3777 has the longest name, of wide letters.
wide.zip: 40 entries; row 1 has a 200-letter name that pushes the other columns right.
"""
import os
import subprocess
import sys
import time
import zipfile

STAMP = (2004, 3, 5, 14, 3, 8)

out = sys.argv[1]
os.makedirs(out, exist_ok=True)
src = os.path.join(out, "src")
os.makedirs(src, exist_ok=True)
with open(os.path.join(src, "secret.txt"), "wb") as f:
    f.write(b"secret words " * 20)
os.utime(os.path.join(src, "secret.txt"), (time.mktime(STAMP + (0, 0, -1)),) * 2)
path = os.path.join(out, "list.zip")
if os.path.exists(path):
    os.remove(path)
subprocess.run(["zip", "-q", "-P", "pw", path, "secret.txt"], cwd=src, check=True)


def info(name, method, comment=b"", attr=0x20):
    zi = zipfile.ZipInfo(name, STAMP)
    zi.compress_type = method
    zi.comment = comment
    zi.external_attr = attr
    return zi


with zipfile.ZipFile(path, "a") as z:
    z.writestr(info("stored.txt", zipfile.ZIP_STORED, attr=0x21), b"stored bytes\n")
    z.writestr(info("deflated.txt", zipfile.ZIP_DEFLATED), b"abcabcabc " * 300)
    z.writestr(info("folder/", zipfile.ZIP_STORED, attr=0x10), b"")
    z.writestr(info("empty.dat", zipfile.ZIP_STORED), b"")
    z.writestr(info("commented.txt", zipfile.ZIP_STORED, b"a short note"), b"x")
    z.writestr(info("c1024.txt", zipfile.ZIP_STORED, b"k" * 1024), b"y")
    z.writestr(info("c1025.txt", zipfile.ZIP_STORED, b"m" * 1024 + b"Z"), b"z")

with zipfile.ZipFile(path) as z, open(os.path.join(out, "expected.tsv"), "w") as f:
    for zi in z.infolist():
        f.write("%s\t%X\t%d\n" % (zi.filename, zi.CRC, zi.file_size))

with open(os.path.join(out, "nodir.bin"), "wb") as f:
    f.write(bytes(range(256)) * 8)
zipfile.ZipFile(os.path.join(out, "empty.zip"), "w").close()

with zipfile.ZipFile(os.path.join(out, "many.zip"), "w") as z:
    for i in range(5000):
        name = "deep/" + "W" * 40 + ".log" if i == 3777 else "n%04d.txt" % i
        z.writestr(info(name, zipfile.ZIP_STORED), b"")

with zipfile.ZipFile(os.path.join(out, "wide.zip"), "w") as z:
    for i in range(40):
        z.writestr(info("L" * 200 + ".txt" if i == 1 else "f%02d.dat" % i, zipfile.ZIP_STORED), b"")
