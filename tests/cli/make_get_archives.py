"""Archives for the tests of `fennic cat` and `fennic get`, with the files they were made of.

Usage: make_get_archives.py DIR WRITE_ZIP_PY
DIR/src holds the originals; every archive lands in DIR. Each method archive is checked to hold
the method it is named for, so that a tool's silent fallback cannot hollow out a test.
"""
import os
import random
import subprocess
import sys
import zipfile

d, write_zip = sys.argv[1], sys.argv[2]
src = os.path.join(d, 'src')
os.makedirs(src)
WORDS = [b'range ', b'byte ', b'archive ', b'entry\n', b'zip ', b'window ', b'0123456789 ']


def sample(size, seed):
    """Text that compresses, with incompressible stretches inside."""
    r = random.Random(seed)
    out = bytearray()
    while len(out) < size:
        out += r.choice(WORDS)
        if r.random() < 0.01:
            out += r.randbytes(300)
    return bytes(out[:size])


def put(folder, name, data):
    path = os.path.join(folder, name)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, 'wb') as f:
        f.write(data)
    return path


def sh(command, cwd=src):
    subprocess.run(command, shell=True, check=True, cwd=cwd, stdout=subprocess.DEVNULL)


def methods(name, want):
    with zipfile.ZipFile(os.path.join(d, name)) as z:
        got = {i.filename: i.compress_type for i in z.infolist()}
    if got != want:
        sys.exit('%s holds %r, not %r' % (name, got, want))


put(src, 'sample.bin', sample(200000, 1))
put(src, 'small.txt', b'a small entry\n' * 5)
put(src, 'empty', b'')
for seed, name in enumerate(['deflate.bin', 'bzip2.bin', 'lzma.bin']):
    put(src, name, sample(150000, 10 + seed))

# 7z stores an empty file without compression whatever the method.
for method, number in [('Deflate', 8), ('BZip2', 12), ('LZMA', 14), ('Copy', 0)]:
    sh('7z a -tzip -mm=%s ../m-7z-%s.zip sample.bin small.txt empty' % (method, method))
    methods('m-7z-%s.zip' % method, {'sample.bin': number, 'small.txt': number, 'empty': 0})
with zipfile.ZipFile(os.path.join(d, 'm-py.zip'), 'w') as z:
    z.write(os.path.join(src, 'deflate.bin'), 'deflate.bin', zipfile.ZIP_DEFLATED)
    z.write(os.path.join(src, 'bzip2.bin'), 'bzip2.bin', zipfile.ZIP_BZIP2)
    z.write(os.path.join(src, 'lzma.bin'), 'lzma.bin', zipfile.ZIP_LZMA)
methods('m-py.zip', {'deflate.bin': 8, 'bzip2.bin': 12, 'lzma.bin': 14})
sh('zstd -q -19 -c sample.bin > ../s.zst && xz -c sample.bin > ../s.xz && '
   'cp sample.bin sample.zst && cp sample.bin sample.xz')
sh('%s %s ../m-zstd-xz.zip sample.zst 93 ../s.zst sample.bin sample.xz 95 ../s.xz sample.bin' %
   (sys.executable, write_zip))
methods('m-zstd-xz.zip', {'sample.zst': 93, 'sample.xz': 95})
sh('zip -q -P Secret ../m-zipcrypto.zip sample.bin small.txt')
sh('7z a -tzip -mem=AES256 -pSecret ../m-aes.zip sample.bin small.txt')
methods('m-aes.zip', {'sample.bin': 99, 'small.txt': 99})
with zipfile.ZipFile(os.path.join(d, 'm-zipcrypto.zip')) as z:
    if not all(i.flag_bits & 1 for i in z.infolist()):
        sys.exit('m-zipcrypto.zip is not encrypted')
# Deflate64 between two entries that extract.
sh('7z a -tzip -mm=Deflate ../deflate64.zip small.txt && '
   '7z a -tzip -mm=Deflate64 ../deflate64.zip sample.bin && '
   'zip -q ../deflate64.zip deflate.bin')
methods('deflate64.zip', {'small.txt': 8, 'sample.bin': 9, 'deflate.bin': 8})

# A damaged byte in the middle of a deflated and of a stored entry.
bad = os.path.join(d, 'corrupt.zip')
with zipfile.ZipFile(bad, 'w') as z:
    z.writestr('ok1.txt', b'first good entry\n' * 50, zipfile.ZIP_DEFLATED)
    z.writestr('deflated.txt', sample(300000, 3), zipfile.ZIP_DEFLATED)
    z.writestr('stored.bin', random.Random(4).randbytes(300000), zipfile.ZIP_STORED)
    z.writestr('ok2.txt', b'second good entry\n' * 50, zipfile.ZIP_DEFLATED)
    damaged = [i for i in z.infolist() if i.filename in ('deflated.txt', 'stored.bin')]
with open(bad, 'r+b') as f:
    for info in damaged:
        f.seek(info.header_offset + 26)
        lengths = f.read(4)
        data = info.header_offset + 30 + lengths[0] + 256 * lengths[1] + lengths[2] + 256 * lengths[3]
        f.seek(data + info.compress_size // 2)
        byte = f.read(1)
        f.seek(-1, 1)
        f.write(bytes([byte[0] ^ 0x55]))

# A Unix tree with modes, times, a link inside and folders of every depth.
tree = os.path.join(d, 'tree-src')
files = {
    'tree/a.txt': (0o644, b'alpha\n' * 100), 'tree/run.sh': (0o755, b'#!/bin/sh\necho hi\n'),
    'tree/secret.txt': (0o600, b'hush\n'), 'tree/ro.txt': (0o444, b'read only\n'),
    'tree/sub/b.txt': (0o640, sample(70000, 5)), 'tree/sub/notes.md': (0o644, b'# notes\n'),
    'tree/sub/deep/c.bin': (0o644, random.Random(6).randbytes(100000)),
    'tree/other/d.txt': (0o644, b'delta\n'),
}
for k, (name, (mode, data)) in enumerate(sorted(files.items())):
    path = put(tree, name, data)
    os.chmod(path, mode)
    os.utime(path, (1600000000 + k * 7202, 1600000000 + k * 7202))
os.symlink('b.txt', os.path.join(tree, 'tree/sub/link-to-b'))
for k, (folder, mode) in enumerate([('tree/sub/deep', 0o700), ('tree/sub', 0o750),
                                    ('tree/other', 0o755), ('tree', 0o755)]):
    os.chmod(os.path.join(tree, folder), mode)
    os.utime(os.path.join(tree, folder), (1500000000 + k * 86402, 1500000000 + k * 86402))
sh('zip -q -r -y ../tree.zip tree', cwd=tree)

# Small neighbours far from the tail, one entry after a wide gap, one across the tail's start,
# one inside the tail.
r = random.Random(8)
with zipfile.ZipFile(os.path.join(d, 'adjacent.zip'), 'w') as z:
    for i in range(10):
        z.writestr('s/%02d.txt' % i, sample(3000, 20 + i), zipfile.ZIP_DEFLATED)
    z.writestr('gap.bin', r.randbytes(100000))
    z.writestr('far.txt', b'far away\n' * 100, zipfile.ZIP_DEFLATED)
    z.writestr('pad.bin', r.randbytes(200000))
    z.writestr('tail.txt', b'in the tail\n' * 100, zipfile.ZIP_DEFLATED)

# Many neighbours, enough for four connections.
with zipfile.ZipFile(os.path.join(d, 'many.zip'), 'w') as z:
    for i in range(40):
        z.writestr('m/%02d.bin' % i, r.randbytes(20000 + 37 * i))
    z.writestr('last.txt', b'last\n')

# One entry long enough to be cut off in its middle.
with zipfile.ZipFile(os.path.join(d, 'slow.zip'), 'w') as z:
    z.writestr('big.bin', r.randbytes(600000))
