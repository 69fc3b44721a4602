"""Writes a ZIP64 archive of N empty stored entries fast (no compressor, records by hand):
python3 bench/make_many.py OUT N. Prints the central directory's size in bytes."""
import struct
import sys


def main(path, count):
    names = [b"d%03d/f%07d.txt" % (i % 1000, i) for i in range(count)]
    local, central, offset = [], [], 0
    for name in names:
        record = struct.pack("<IHHHHHIIIHH", 0x04034B50, 20, 0, 0, 0, 0x21, 0, 0, 0, len(name), 0)
        local.append(record + name)
        central.append(struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, 0x031E, 20, 0, 0, 0, 0x21,
                                   0, 0, 0, len(name), 0, 0, 0, 0, 0o100644 << 16, offset) + name)
        offset += len(record) + len(name)
    directory = b"".join(central)
    with open(path, "wb") as out:
        out.write(b"".join(local))
        out.write(directory)
        end64 = offset + len(directory)
        out.write(struct.pack("<IQHHIIQQQQ", 0x06064B50, 44, 45, 45, 0, 0, count, count,
                              len(directory), offset))
        out.write(struct.pack("<IIQI", 0x07064B50, 0, end64, 1))
        out.write(struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, 0xFFFF, 0xFFFF, 0xFFFFFFFF,
                              0xFFFFFFFF, 0))
    print(len(directory))


if __name__ == "__main__":
    main(sys.argv[1], int(sys.argv[2]))
