#!/usr/bin/python3
"""Checks a saved one-entry archive against the archive it came from.

usage: check_saved.py SAVED ORIGINAL    prints "ok" and exits 0, or prints the fault and exits 1

The saved file must hold exactly one entry, carry the program's archive comment, and that entry
must read (CRC checked, local and central names equal) to the same bytes as the entry of the
same stored name in the original archive, with the same sizes, CRC and method. Its extra field
is the original's, except for the ZIP64 block, which holds what the saved archive needs.
"""

import sys
import zipfile

COMMENT = b"Talvoren Fennic Explorer utility"


def without_zip64(extra):
    kept, pos = b"", 0
    while pos + 4 <= len(extra):
        block_id = int.from_bytes(extra[pos:pos + 2], "little")
        size = int.from_bytes(extra[pos + 2:pos + 4], "little")
        if block_id != 1:
            kept += extra[pos:pos + 4 + size]
        pos += 4 + size
    return kept + extra[pos:]


def main():
    saved_path, orig_path = sys.argv[1:3]
    with zipfile.ZipFile(saved_path) as saved, zipfile.ZipFile(orig_path) as orig:
        infos = saved.infolist()
        if len(infos) != 1:
            return "saved archive holds %d entries" % len(infos)
        if saved.comment != COMMENT:
            return "archive comment is %r" % saved.comment
        info = infos[0]
        if info.header_offset != 0:
            return "entry does not start the file"
        twins = [i for i in orig.infolist() if i.orig_filename == info.orig_filename]
        if len(twins) != 1:
            return "no single entry named %r in the original" % info.orig_filename
        twin = twins[0]
        for field in ("CRC", "compress_size", "file_size", "compress_type", "flag_bits",
                      "date_time", "external_attr", "extra", "comment"):
            mine, theirs = getattr(info, field), getattr(twin, field)
            if field == "extra":
                mine, theirs = without_zip64(mine), without_zip64(theirs)
            if mine != theirs:
                return "%s differs: %r against %r" % (field, getattr(info, field),
                                                      getattr(twin, field))
        if saved.read(info) != orig.read(twin):
            return "entry data differs"
    print("ok")
    return None


if __name__ == "__main__":
    fault = main()
    if fault:
        print(fault)
        sys.exit(1)
