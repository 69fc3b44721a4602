"""Writes a ZIP of entries whose data is already compressed, for methods no tool puts in ZIPs.

Usage: write_zip.py OUT.zip NAME METHOD COMPRESSED_FILE PLAIN_FILE [...]
"""
import struct
import sys
import zlib


def main(out, args):
    local, central = b"", b""
    for i in range(0, len(args), 4):
        name, method, packed_path, plain_path = args[i:i + 4]
        name = name.encode()
        packed = open(packed_path, "rb").read()
        plain = open(plain_path, "rb").read()
        crc = zlib.crc32(plain)
        fixed = struct.pack("<HHHHHIII", 63, 0, int(method), 0x6000, 0x5821, crc,
                            len(packed), len(plain))
        offset = len(local)
        local += b"PK\x03\x04" + fixed + struct.pack("<HH", len(name), 0) + name + packed
        central += (b"PK\x01\x02" + struct.pack("<H", 63) + fixed +
                    struct.pack("<HHHHHII", len(name), 0, 0, 0, 0, 0x20, offset) + name)
    count = len(args) // 4
    end = b"PK\x05\x06" + struct.pack("<HHHHIIH", 0, 0, count, count, len(central),
                                      len(local), 0)
    with open(out, "wb") as f:
        f.write(local + central + end)


main(sys.argv[1], sys.argv[2:])
