#!/usr/bin/python3
"""Makes archives the way other tools make them, and a manifest of what each holds.

usage: make_tool_archives.py DIR

Writes DIR/NAME.zip for each maker below and DIR/manifest.json:
  {"NAME.zip": {"entries": [{"name": shown name with backslashes, "directory": bool}, ...],
                "extract": name of an entry whose one-entry archive every tester can read}}

  infozip_utf8   Info-ZIP zip on Linux: UTF-8 names without flag bit 11, folders
  bsdtar         bsdtar --format zip: folders marked by a trailing '/' and a Unix mode
  jar            Java's jar when a JDK is installed, else a Python equivalent (META-INF/ with a
                 Unix mode only, no DOS directory attribute)
  py_cp437       Python zipfile: names that code page 437 holds, two of them look-alikes in
                 code page 1252 (box drawing)
  sevenz_copy, sevenz_deflate64, sevenz_bzip2, sevenz_lzma   7z with those methods
  sfx            a 5000-byte stub in front of an archive whose offsets were not adjusted
"""

import json
import os
import shutil
import stat
import subprocess
import sys
import zipfile


def run(cmd, cwd, env=None):
    subprocess.run(cmd, cwd=cwd, check=True, stdout=subprocess.DEVNULL, env=env)


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def shown(name):
    return name.replace("/", "\\")


def tree(src, files):
    for name, data in files.items():
        write(os.path.join(src, name), data)


def main(out):
    manifest = {}
    work = os.path.join(out, "work")
    utf8_env = dict(os.environ, LANG="C.UTF-8", LC_ALL="C.UTF-8")
    text = b"the quick brown fox jumps over the lazy dog\n" * 40

    # Info-ZIP on Linux.
    src = os.path.join(work, "infozip")
    tree(src, {"café.txt": text, "Ärger.txt": b"x" * 300, "docs/sub/note.txt": text})
    run(["zip", "-q", "-r", os.path.join(out, "infozip_utf8.zip"),
         "café.txt", "Ärger.txt", "docs"], src, utf8_env)
    manifest["infozip_utf8.zip"] = {
        "entries": [{"name": "café.txt", "directory": False},
                    {"name": "Ärger.txt", "directory": False},
                    {"name": "docs\\", "directory": True},
                    {"name": "docs\\sub\\", "directory": True},
                    {"name": "docs\\sub\\note.txt", "directory": False}],
        "extract": "café.txt"}

    # bsdtar.
    src = os.path.join(work, "bsdtar")
    tree(src, {"docs/readme.txt": text, "docs/sub/deep.txt": b"deep\n" * 9})
    run(["bsdtar", "--format", "zip", "-cf", os.path.join(out, "bsdtar.zip"), "docs"], src)
    with zipfile.ZipFile(os.path.join(out, "bsdtar.zip")) as z:
        names = [i.filename for i in z.infolist()]
    manifest["bsdtar.zip"] = {
        "entries": [{"name": shown(n), "directory": n.endswith("/")} for n in names],
        "extract": "docs\\readme.txt"}

    # jar, or what it writes: directories by name and Unix mode alone.
    jar = shutil.which("jar")
    path = os.path.join(out, "jar.zip")
    if jar:
        src = os.path.join(work, "jar")
        tree(src, {"com/example/App.class": b"\xca\xfe\xba\xbe" + text})
        run([jar, "cf", path, "com"], src)
    else:
        with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as z:
            for name, data in (("META-INF/", b""), ("META-INF/MANIFEST.MF",
                               b"Manifest-Version: 1.0\r\n\r\n"), ("com/", b""),
                               ("com/example/", b""), ("com/example/App.class", text)):
                info = zipfile.ZipInfo(name, (2024, 1, 2, 3, 4, 6))
                info.create_system = 3
                mode = (stat.S_IFDIR | 0o755) if name.endswith("/") else (stat.S_IFREG | 0o644)
                info.external_attr = mode << 16
                z.writestr(info, data)
    with zipfile.ZipFile(path) as z:
        infos = z.infolist()
    assert all(i.external_attr & 0x10 == 0 for i in infos if i.filename.endswith("/")), \
        "the jar maker set the DOS directory attribute: the test would prove nothing"
    manifest["jar.zip"] = {
        "entries": [{"name": shown(i.filename), "directory": i.filename.endswith("/")}
                    for i in infos],
        "extract": "com\\example\\App.class"}

    # Code page 437 names, unflagged, as DOS-era makers store them (Python itself writes
    # UTF-8 with the flag, so the bytes are put in place afterwards).
    path = os.path.join(out, "py_cp437.zip")
    names = ["αßΣ.txt", "box╔═╗.txt", "box+-+.txt"]
    stand_ins = {"αßΣ.txt": "Q01.txt", "box╔═╗.txt": "boxQ02.txt"}
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as z:
        for i, name in enumerate(names):
            z.writestr(stand_ins.get(name, name), text[: 100 + i])
    with open(path, "rb") as f:
        data = f.read()
    for name, stand_in in stand_ins.items():
        stored = name.encode("cp437")
        assert len(stored) == len(stand_in)
        data = data.replace(stand_in.encode(), stored)
    with open(path, "wb") as f:
        f.write(data)
    with zipfile.ZipFile(path) as z:
        assert [i.filename for i in z.infolist()] == names
    manifest["py_cp437.zip"] = {
        "entries": [{"name": n, "directory": False} for n in names],
        "extract": "box╔═╗.txt"}

    # 7z with several methods.
    src = os.path.join(work, "sevenz")
    tree(src, {"a.txt": text, "b/c.txt": text[:500]})
    for method in ("Copy", "Deflate64", "BZip2", "LZMA"):
        name = "sevenz_%s.zip" % method.lower()
        run(["7z", "a", "-bd", "-tzip", "-mm=" + method, os.path.join(out, name),
             "a.txt", "b"], src)
        with zipfile.ZipFile(os.path.join(out, name)) as z:
            names = [i.filename for i in z.infolist()]
        manifest[name] = {
            "entries": [{"name": shown(n), "directory": n.endswith("/")} for n in names],
            "extract": "a.txt" if method == "Copy" else None}

    # A stub in front, offsets left as they were.
    plain = os.path.join(work, "plain.zip")
    with zipfile.ZipFile(plain, "w", zipfile.ZIP_DEFLATED) as z:
        z.writestr("first.txt", text)
        z.writestr("second.txt", b"second\n" * 50)
    with open(plain, "rb") as f:
        body = f.read()
    write(os.path.join(out, "sfx.zip"), b"MZ" + b"\x90" * 4998 + body)
    manifest["sfx.zip"] = {
        "entries": [{"name": "first.txt", "directory": False},
                    {"name": "second.txt", "directory": False}],
        "extract": "second.txt"}

    shutil.rmtree(work)
    with open(os.path.join(out, "manifest.json"), "w", encoding="utf-8") as f:
        json.dump(manifest, f, ensure_ascii=False, indent=1)


if __name__ == "__main__":
    main(sys.argv[1])
