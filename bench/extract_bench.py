#!/usr/bin/env python3
"""Archives, runs and the table for bench/extract.sh.

  extract_bench.py make DIR       the two archives and DIR/facts.json (entries chosen, sizes)
  extract_bench.py run CONFIG     every contender's runs; CONFIG is JSON written by
                                  extract.sh; results go to CONFIG's "results" file
  extract_bench.py report CONFIG  the markdown table and the targets
"""
import filecmp
import json
import os
import random
import shlex
import shutil
import statistics
import struct
import subprocess
import sys
import time
import urllib.error
import urllib.request
import zipfile

from table import print_table

BIG = "e200-200m.zip"      # 200 entries, 200 MB
MANY = "e5000-200m.zip"    # 5,000 entries, 200 MB
PICK_SEED = 5000
PICK_SHARE = 0.01


def words(rnd):
    letters = "abcdefghijklmnopqrstuvwxyz"
    return ["".join(rnd.choice(letters) for _ in range(rnd.randint(2, 10))) for _ in range(5000)]


def text(rnd, vocabulary, n):
    """Log-like lines: words and a hex number each; deflate takes it to about half."""
    out, size = [], 0
    while size < n:
        line = " ".join(rnd.choices(vocabulary, k=12)) + " %08x\n" % rnd.getrandbits(32)
        out.append(line)
        size += len(line)
    return "".join(out).encode()[:n]


def add(z, name, data, deflate, i):
    info = zipfile.ZipInfo(name, date_time=(2001 + i % 20, 1 + i % 12, 1 + i % 28, i % 24,
                                            (i * 7) % 60, (i * 2) % 60))
    info.compress_type = zipfile.ZIP_DEFLATED if deflate else zipfile.ZIP_STORED
    info.external_attr = 0o100644 << 16
    z.writestr(info, data)


def directory(path):
    """(offset, size) of the central directory (no ZIP64 here: both archives are small)."""
    with open(path, "rb") as f:
        f.seek(-22, os.SEEK_END)
        end = f.read(22)
    assert end[:4] == b"PK\x05\x06", "no end record without a comment"
    cd_size, cd_offset = struct.unpack_from("<II", end, 12)
    return cd_offset, cd_size


def make(d):
    rnd = random.Random(1)
    vocabulary = words(rnd)
    # Stored random data and deflated text in turn, about 1 MB of archive each.
    with zipfile.ZipFile(f"{d}/{BIG}", "w") as z:
        for i in range(200):
            if i % 2 == 0:
                add(z, f"part{i:03}.bin", rnd.randbytes(1_000_000), False, i)
            else:
                add(z, f"part{i:03}.txt", text(rnd, vocabulary, 1_940_000), True, i)
    # 5,000 entries of 40 KB on average in the archive, in 20 folders, the same two kinds.
    with zipfile.ZipFile(f"{d}/{MANY}", "w") as z:
        for i in range(5000):
            if i % 2 == 0:
                add(z, f"d{i // 250:02}/f{i:04}.bin", rnd.randbytes(rnd.randint(8_000, 72_000)),
                    False, i)
            else:
                add(z, f"d{i // 250:02}/f{i:04}.txt",
                    text(rnd, vocabulary, rnd.randint(16_000, 140_000)), True, i)

    facts = {}
    with zipfile.ZipFile(f"{d}/{BIG}") as z:
        infos = z.infolist()
        entry = infos[101]  # deflated, in the middle
        off, size = directory(f"{d}/{BIG}")
        facts["a"] = dict(file=BIG, archive_bytes=os.path.getsize(f"{d}/{BIG}"),
                          entries=len(infos), entry=entry.filename,
                          entry_compressed=entry.compress_size, entry_size=entry.file_size,
                          cd_offset=off, cd_size=size)
    with zipfile.ZipFile(f"{d}/{MANY}") as z:
        infos = z.infolist()
        picks = sorted(random.Random(PICK_SEED).sample(range(len(infos)),
                                                       round(PICK_SHARE * len(infos))))
        off, size = directory(f"{d}/{MANY}")
        facts["b"] = dict(file=MANY, archive_bytes=os.path.getsize(f"{d}/{MANY}"),
                          entries=len(infos), names=[infos[i].filename for i in picks],
                          picked_compressed=sum(infos[i].compress_size for i in picks),
                          picked_size=sum(infos[i].file_size for i in picks),
                          cd_offset=off, cd_size=size)
        facts["c"] = dict(file=MANY, archive_bytes=os.path.getsize(f"{d}/{MANY}"),
                          entries=len(infos), size=sum(i.file_size for i in infos),
                          cd_offset=off, cd_size=size)
    with open(f"{d}/facts.json", "w") as f:
        json.dump(facts, f, indent=1)


# ---- runs -----------------------------------------------------------------------------------

def same_tree(got, want):
    """None when the two folders hold the same paths and the same bytes, else why not."""
    def walk(root):
        paths = {}
        for top, dirs, files in os.walk(root):
            for n in dirs + files:
                full = os.path.join(top, n)
                paths[os.path.relpath(full, root)] = full
        return paths
    g, w = walk(got), walk(want)
    if set(g) != set(w):
        extra, missing = sorted(set(g) - set(w)), sorted(set(w) - set(g))
        return f"{len(missing)} missing (e.g. {missing[:2]}), {len(extra)} extra (e.g. {extra[:2]})"
    for rel, full in sorted(w.items()):
        if os.path.islink(g[rel]) or os.path.isdir(full) != os.path.isdir(g[rel]):
            return f"{rel}: not the same kind"
        if os.path.isfile(full) and not filecmp.cmp(g[rel], full, shallow=False):
            return f"{rel}: different bytes"
    return None


def same_file(got, want):
    if not os.path.isfile(got):
        return "no output file"
    if not filecmp.cmp(got, want, shallow=False):
        return f"different bytes ({os.path.getsize(got):,} against {os.path.getsize(want):,})"
    return None


class Log:
    """The lines nginx logs for one run: a marker request ends each run."""

    def __init__(self, path):
        self.path = path
        self.count = 0

    def size(self):
        return os.path.getsize(self.path)

    def since(self, offset, base):
        # nginx logs a request as it ends it; the marker, asked for after the run on a
        # connection of its own and through the same road, is logged after the run's requests.
        self.count += 1
        mark = f"/.end-of-run-{self.count} "
        try:
            urllib.request.urlopen(f"{base}{mark.strip()}", timeout=10).read()
        except urllib.error.HTTPError:
            pass
        deadline = time.monotonic() + 10
        while True:
            with open(self.path, encoding="utf-8", errors="replace") as f:
                f.seek(offset)
                text = f.read()
            if mark in text or time.monotonic() > deadline:
                break
            time.sleep(0.01)
        if mark not in text:
            print("   nginx did not log the end of a run", file=sys.stderr)
        lines = [l.split("\t") for l in text.splitlines() if l and mark not in l]
        return dict(requests=len(lines), connections=len({l[0] for l in lines}),
                    body=sum(int(l[2]) for l in lines),
                    statuses=sorted({l[1] for l in lines}),
                    ranges=[l[3] for l in lines])


def run(config_path):
    cfg = json.load(open(config_path))
    facts = json.load(open(f"{cfg['www']}/facts.json"))
    work, fennic, gdal_python = cfg["work"], cfg["fennic"], cfg["gdal_python"]
    runs, warmup = cfg["runs"], 1
    tmpfs = cfg["tmpfs"]
    log = Log(cfg["log"])
    q = shlex.quote
    ref = f"{work}/ref"
    os.makedirs(ref, exist_ok=True)

    # References from the local copies, with unzip.
    a, b, c = facts["a"], facts["b"], facts["c"]
    with open(f"{ref}/a.out", "wb") as f:
        subprocess.run(["unzip", "-p", f"{cfg['www']}/{a['file']}", a["entry"]], stdout=f,
                       check=True)
    subprocess.run(["unzip", "-q", f"{cfg['www']}/{b['file']}", *b["names"], "-d", f"{ref}/b"],
                   check=True)
    subprocess.run(["unzip", "-q", f"{cfg['www']}/{c['file']}", "-d", f"{ref}/c"], check=True)

    gdal_code = (
        "import sys\n"
        "from osgeo import gdal\n"
        "gdal.UseExceptions()\n"
        "f = gdal.VSIFOpenL(sys.argv[1], 'rb')\n"
        "if f is None: sys.exit('cannot open ' + sys.argv[1])\n"
        "with open(sys.argv[2], 'wb') as out:\n"
        "    while True:\n"
        "        data = gdal.VSIFReadL(1, 1 << 20, f)\n"
        "        if not data: break\n"
        "        out.write(data)\n"
        "gdal.VSIFCloseL(f)\n")

    # (scenario, contender, command for (url, run folder), check of the run folder)
    names = " ".join(q(n) for n in b["names"])
    plan = [
        ("a", "fennic cat",
         lambda url, out: f"{q(fennic)} cat {q(url + '/' + a['file'])} {q(a['entry'])} "
                          f"> {q(out + '/file')}",
         lambda out: same_file(out + "/file", f"{ref}/a.out")),
        ("a", "curl + unzip -p",
         lambda url, out: f"curl -s -f -o {q(out + '/whole.zip')} {q(url + '/' + a['file'])} && "
                          f"unzip -p {q(out + '/whole.zip')} {q(a['entry'])} > {q(out + '/file')}",
         lambda out: same_file(out + "/file", f"{ref}/a.out")),
        ("a", "GDAL /vsizip//vsicurl/",
         lambda url, out: f"{q(gdal_python)} -c {q(gdal_code)} "
                          f"{q('/vsizip//vsicurl/' + url + '/' + a['file'] + '/' + a['entry'])} "
                          f"{q(out + '/file')}",
         lambda out: same_file(out + "/file", f"{ref}/a.out")),
        ("b", "fennic get NAMES",
         lambda url, out: f"{q(fennic)} get {q(url + '/' + b['file'])} {names} -d {q(out + '/x')}",
         lambda out: same_tree(out + "/x", f"{ref}/b")),
        ("c", "fennic get",
         lambda url, out: f"{q(fennic)} get {q(url + '/' + c['file'])} -d {q(out + '/x')}",
         lambda out: same_tree(out + "/x", f"{ref}/c")),
        ("c", "curl + unzip -q",
         lambda url, out: f"curl -s -f -o {q(out + '/a.zip')} {q(url + '/' + c['file'])} && "
                          f"unzip -q {q(out + '/a.zip')} -d {q(out + '/x')}",
         lambda out: same_tree(out + "/x", f"{ref}/c")),
    ]
    only = os.environ.get("EXTRACT_BENCH_ONLY")  # e.g. "a,b": some scenarios only
    results = []
    serial = 0
    for scenario, who, command, check in plan:
        if only and scenario not in only.split(","):
            continue
        for net, base in (("loopback", cfg["direct"]), ("delayed", cfg["delayed"])):
            print(f"== ({scenario}) {who}, {net}", file=sys.stderr)
            times, counts, problems, batch = [], [], [], []
            for k in range(warmup + runs):
                serial += 1
                out = f"{work}/runs/{serial:03}-{scenario}"
                os.makedirs(out)
                batch.append(out)
                cmd = command(base, out)
                offset = log.size()
                with open(f"{out}.err", "wb") as err:
                    t0 = time.perf_counter()
                    rc = subprocess.run(["sh", "-c", cmd], stdin=subprocess.DEVNULL,
                                        stdout=subprocess.DEVNULL, stderr=err).returncode
                    t = time.perf_counter() - t0
                seen = log.since(offset, base)
                why = check(out) if rc == 0 else None
                if rc != 0:
                    msg = open(f"{out}.err", errors="replace").read().strip().replace("\n", " ")
                    problems.append(f"run {k}: exit {rc}: {msg[:300]}")
                    print(f"   run {k} failed: exit {rc}: {msg[:300]}", file=sys.stderr)
                    print(f"   command: {cmd[:600]}", file=sys.stderr)
                elif why:
                    problems.append(f"run {k}: MISMATCH: {why}")
                    print(f"   run {k}: MISMATCH: {why}", file=sys.stderr)
                if k == 0:
                    print(f"   {seen['requests']} requests, {seen['connections']} connections, "
                          f"{seen['body']:,} bytes, statuses {seen['statuses']}, "
                          f"ranges {seen['ranges'][:6]}{' ...' if len(seen['ranges']) > 6 else ''}",
                          file=sys.stderr)
                if k >= warmup:
                    times.append(t)
                    counts.append(seen)
                # Deleting thousands of files slows creating the next thousands on a disk file
                # system; there the folders wait until the batch is over, never inside a run.
                if tmpfs:
                    shutil.rmtree(out)
                    os.remove(f"{out}.err")
            if not tmpfs:
                for out in batch:
                    shutil.rmtree(out)
                    os.remove(f"{out}.err")
            results.append(dict(
                scenario=scenario, who=who, net=net, times_ms=[t * 1000 for t in times],
                requests=[s["requests"] for s in counts],
                connections=[s["connections"] for s in counts],
                body=[s["body"] for s in counts], statuses=sorted({x for s in counts
                                                                   for x in s["statuses"]}),
                problems=problems, command=command("URL", "OUT")))
            print(f"   median {statistics.median(times) * 1000:.1f} ms"
                  f"{'; ' + str(len(problems)) + ' problem runs' if problems else ''}",
                  file=sys.stderr)

    # Python and the GDAL import alone, which GDAL's times include.
    starts = []
    for _ in range(warmup + runs):
        t0 = time.perf_counter()
        subprocess.run([gdal_python, "-c", "from osgeo import gdal"], check=True)
        starts.append(time.perf_counter() - t0)
    json.dump(dict(results=results, gdal_start_ms=statistics.median(starts[warmup:]) * 1000),
              open(cfg["results"], "w"), indent=1)


# ---- table ----------------------------------------------------------------------------------

def report(config_path):
    cfg = json.load(open(config_path))
    facts = json.load(open(f"{cfg['www']}/facts.json"))
    res = json.load(open(cfg["results"]))
    a, b, c = facts["a"], facts["b"], facts["c"]
    rows = {}
    for r in res["results"]:
        rows[r["scenario"], r["who"], r["net"]] = r

    def med(values):
        return statistics.median(values) if values else None

    def ms(r):
        if r is None or not r["times_ms"]:
            return "n/a"
        t = r["times_ms"]
        spread = f" ({min(t):.0f}-{max(t):.0f})" if len(t) > 1 else ""
        return f"{med(t):.1f}{'*' if r['problems'] else ''}{spread}"

    def count(r, key, fmt="{:,.0f}"):
        v = med(r[key]) if r else None
        return "n/a" if v is None else fmt.format(v)

    def verified(r):
        if r is None:
            return "not run"
        mism = [p for p in r["problems"] if "MISMATCH" in p]
        fail = [p for p in r["problems"] if "MISMATCH" not in p]
        return "MISMATCH" if mism else f"FAILED ({len(fail)} runs)" if fail else "ok"

    what = {
        "a": f"(a) 1 entry of {a['entries']}, {a['archive_bytes'] / 1e6:.0f} MB",
        "b": f"(b) {len(b['names'])} of {b['entries']:,} entries, "
             f"{b['archive_bytes'] / 1e6:.0f} MB",
        "c": f"(c) all {c['entries']:,} entries, {c['archive_bytes'] / 1e6:.0f} MB",
    }
    head = ("case", "contender", "requests", "connections", "body bytes", "loopback ms",
            "delayed ms", "output")
    table = []
    order = []
    for r in res["results"]:
        if (r["scenario"], r["who"]) not in order:
            order.append((r["scenario"], r["who"]))
    for scenario, who in order:
        lo, de = rows.get((scenario, who, "loopback")), rows.get((scenario, who, "delayed"))
        req, conn, body = count(lo, "requests"), count(lo, "connections"), count(lo, "body")
        # The delayed runs are counted too; shown only where they differ.
        for key, cell in (("requests", "req"), ("connections", "conn"), ("body", "body")):
            if lo and de and med(lo[key]) != med(de[key]):
                v = count(de, key)
                if key == "requests":
                    req += f" (delayed {v})"
                elif key == "connections":
                    conn += f" (delayed {v})"
                else:
                    body += f" (delayed {v})"
        out = verified(lo)
        if verified(de) != out:
            out = f"{out}; delayed {verified(de)}"
        table.append((what[scenario], who, req, conn, body, ms(lo), ms(de), out))
    where = "a tmpfs (/dev/shm)" if cfg["tmpfs"] else f"a disk file system ({cfg['work']})"
    print(f"fennic {cfg['commit']}; median of {cfg['runs']} runs (after 1 warm-up); nginx on "
          f"loopback, and delayed: through a proxy adding {cfg['delay_ms']} ms each way. "
          "Requests, connections and body bytes from nginx's log (loopback runs). Outputs "
          f"written to {where}, a fresh folder per run, removed after it outside the timing. "
          "Times: median (fastest-slowest). Output: every run's files compared with unzip's from "
          "the local copy.")
    print()
    print_table(head, table)
    print()
    print(f"GDAL's times include starting Python and importing GDAL: "
          f"{res['gdal_start_ms']:.1f} ms alone.")
    print(f"(a) entry {a['entry']}: {a['entry_compressed']:,} bytes compressed, "
          f"{a['entry_size']:,} decompressed; directory {a['cd_size']:,} bytes. "
          f"(b) {len(b['names'])} entries picked with seed {PICK_SEED}: "
          f"{b['picked_compressed']:,} bytes compressed; directory {b['cd_size']:,} bytes. "
          f"(c) {c['size']:,} bytes decompressed. fennic's first request: the last "
          f"{cfg['tail_bytes']:,} bytes.")
    problems = [(k, p) for k, r in rows.items() for p in r["problems"]]
    if problems:
        print()
        print("Problems (a time marked * includes failed or mismatching runs):")
        for (s, who, net), p in problems:
            print(f"- ({s}) {who}, {net}: {p}")

    print()
    print("Targets:")
    verdict = lambda ok: "holds" if ok else "MISSED"

    def num(r, key):
        return med(r[key]) if r and r[key] and not r["problems"] else None

    fa = rows.get(("a", "fennic cat", "loopback"))
    if fa:
        limit = a["cd_size"] + a["entry_compressed"] + 64 * 1024
        body, req = num(fa, "body"), num(fa, "requests")
        if body is None:
            print("- (a) fennic cat failed or mismatched: no verdict")
        else:
            print(f"- (a) body {body:,.0f} <= directory {a['cd_size']:,} + entry "
                  f"{a['entry_compressed']:,} + 64 KiB = {limit:,}: {verdict(body <= limit)}; "
                  f"requests {req:.0f} <= 3: {verdict(req <= 3)}; output "
                  f"{verified(fa)} (delayed {verified(rows.get(('a', 'fennic cat', 'delayed')))}); "
                  f"the first request's {cfg['tail_bytes']:,} bytes hold "
                  f"{cfg['tail_bytes'] - a['cd_size'] - 22:,} besides the directory and end "
                  "record")
    fb = rows.get(("b", "fennic get NAMES", "loopback"))
    if fb:
        want = b["picked_compressed"] + b["cd_size"]
        body = num(fb, "body")
        if body is None:
            print("- (b) fennic get failed or mismatched: no verdict")
        else:
            print(f"- (b) body {body:,.0f} <= 1.1 x (picked {b['picked_compressed']:,} + directory "
                  f"{b['cd_size']:,}) = {1.1 * want:,.0f}: {verdict(body <= 1.1 * want)} "
                  f"(ratio body / (picked + directory) {body / want:.3f}); output "
                  f"{verified(fb)} "
                  f"(delayed {verified(rows.get(('b', 'fennic get NAMES', 'delayed')))})")
    fc = {n: rows.get(("c", "fennic get", n)) for n in ("loopback", "delayed")}
    uc = {n: rows.get(("c", "curl + unzip -q", n)) for n in ("loopback", "delayed")}
    if fc["loopback"] and uc["loopback"]:
        # target(fennic's ms, curl's ms) gives the target's text and whether it holds.
        def against_curl(net, target):
            f, u = num(fc[net], "times_ms"), num(uc[net], "times_ms")
            if f is None or u is None:
                return f"{net}: a contender failed or mismatched, no verdict"
            text, holds = target(f, u)
            return f"{text}: {verdict(holds)} (ratio {f / u:.2f})"

        parts = [
            against_curl("loopback", lambda f, u: (
                f"loopback {f:.1f} ms <= 1.2 x {u:.1f} = {1.2 * u:.1f} ms", f <= 1.2 * u)),
            against_curl("delayed", lambda f, u: (f"delayed {f:.1f} ms < {u:.1f} ms", f < u)),
        ]
        parts.append(f"output {verified(fc['loopback'])} "
                     f"(delayed {verified(fc['delayed'])})")
        print("- (c) " + "; ".join(parts))


def main():
    cmd, args = sys.argv[1], sys.argv[2:]
    if cmd == "make":
        make(args[0])
    elif cmd == "run":
        run(args[0])
    elif cmd == "report":
        report(args[0])
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main()
