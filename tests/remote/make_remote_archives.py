#!/usr/bin/python3
"""Makes the archives the remote tests serve, with the real tools, into a folder.

usage: make_remote_archives.py DIR          the small set (a second or two)
       make_remote_archives.py --big DIR    one archive of >= 100 MB with >= 5000 entries

Small set:
  zip_many.zip   Info-ZIP zip: 3000 deflated and stored files in folders, folder entries
  sevenz.zip     7z: a few deflated files and a folder
  py.zip         Python zipfile: stored, deflated, UTF-8 names, a folder, an entry comment
  stream.zip     Info-ZIP zip writing to a pipe: every entry has a data descriptor
  pipe.zip       "echo data | zip - -": one entry read from standard input, descriptor
  commented.zip  Info-ZIP zip with an archive comment
  empty.zip      Python zipfile with no entries (22 bytes)
  tiny.bin       10 bytes, not an archive
"""

import os
import random
import subprocess
import sys
import zipfile


def run(cmd, cwd, **kw):
    subprocess.run(cmd, cwd=cwd, check=True, stdout=kw.pop("stdout", subprocess.DEVNULL), **kw)


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def make_small(out):
    rng = random.Random(1234)
    src = os.path.join(out, "src")
    # Compressible text for deflate, random bytes that zip stores as they are.
    for i in range(3000):
        folder = "dir%02d" % (i % 30)
        if i % 7 == 0:
            data = rng.randbytes(200 + i % 500)
        else:
            data = (("line %d of file %d\n" % (i, i)) * (1 + i % 40)).encode()
        write(os.path.join(src, "many", folder, "f%04d.txt" % i), data)
    run(["zip", "-q", "-r", os.path.join(out, "zip_many.zip"), "."], os.path.join(src, "many"))

    write(os.path.join(src, "seven", "alpha.txt"), b"alpha " * 500)
    write(os.path.join(src, "seven", "sub", "beta.bin"), rng.randbytes(3000))
    write(os.path.join(src, "seven", "sub", "gamma.txt"), b"gamma\n" * 77)
    run(["7z", "a", "-tzip", "-bd", os.path.join(out, "sevenz.zip"), "alpha.txt", "sub"],
        os.path.join(src, "seven"))

    with zipfile.ZipFile(os.path.join(out, "py.zip"), "w") as z:
        z.writestr(zipfile.ZipInfo("stored.txt", (2004, 3, 5, 14, 3, 8)),
                   b"stored bytes\n" * 20, compress_type=zipfile.ZIP_STORED)
        z.writestr("deflated.txt", b"deflate me " * 1000, compress_type=zipfile.ZIP_DEFLATED)
        z.writestr("docs/", b"")
        z.writestr("docs/caf\u00e9 na\u00efve \u00fcber.txt", "unicode name\n".encode() * 9,
                   compress_type=zipfile.ZIP_DEFLATED)
        info = zipfile.ZipInfo("docs/readme.old.txt", (2010, 1, 2, 3, 4, 6))
        info.comment = b"an entry comment"
        info.compress_type = zipfile.ZIP_DEFLATED
        z.writestr(info, b"read me\n" * 50)

    write(os.path.join(src, "stream", "one.txt"), b"first streamed entry\n" * 30)
    write(os.path.join(src, "stream", "two.bin"), rng.randbytes(700))
    write(os.path.join(src, "stream", "three.txt"), b"third\n" * 300)
    with open(os.path.join(out, "stream.zip"), "wb") as f:
        zipper = subprocess.Popen(["zip", "-q", "-fz-", "-", "one.txt", "two.bin", "three.txt"],
                                  cwd=os.path.join(src, "stream"), stdout=subprocess.PIPE)
        f.write(zipper.stdout.read())
        if zipper.wait() != 0:
            raise SystemExit("zip to a pipe failed")
    with open(os.path.join(out, "pipe.zip"), "wb") as f:
        zipper = subprocess.Popen(["zip", "-q", "-fz-", "-", "-"], cwd=out,
                                  stdin=subprocess.PIPE, stdout=subprocess.PIPE)
        data, _ = zipper.communicate(b"data from a pipe\n" * 10)
        if zipper.returncode != 0:
            raise SystemExit("zip from a pipe failed")
        f.write(data)

    write(os.path.join(src, "commented", "c.txt"), b"commented archive member\n")
    run(["zip", "-q", "-z", os.path.join(out, "commented.zip"), "c.txt"],
        os.path.join(src, "commented"), input=b"an archive comment\n")

    with zipfile.ZipFile(os.path.join(out, "empty.zip"), "w"):
        pass
    write(os.path.join(out, "tiny.bin"), b"PK\x05\x06tiny!!")


def make_big(out):
    # Stored random data: no compression work, and the CRC is the only per-byte cost.
    rng = random.Random(99)
    path = os.path.join(out, "big.zip")
    block = rng.randbytes(1 << 20)
    with zipfile.ZipFile(path, "w", compression=zipfile.ZIP_STORED) as z:
        for i in range(5200):
            size = 20000 + (i * 7919) % 4000
            start = (i * 104729) % (len(block) - size)
            z.writestr("big/part%02d/file%05d.dat" % (i % 50, i), block[start:start + size])
    if os.path.getsize(path) < 100 * 1000 * 1000:
        raise SystemExit("big archive came out too small")


def main():
    args = sys.argv[1:]
    big = args[:1] == ["--big"]
    if big:
        args = args[1:]
    if len(args) != 1:
        raise SystemExit(__doc__)
    out = os.path.abspath(args[0])
    os.makedirs(out, exist_ok=True)
    (make_big if big else make_small)(out)


if __name__ == "__main__":
    main()
