#!/usr/bin/env bash
# Listing speed side by side with its peers, in one run, as ratios of medians:
#   - `fennic list` of 65,535 entries against `unzip -l` and `zipinfo`; `--json` against the
#     table; peak memory against the central directory's size;
#   - the remote listing over nginx on loopback against the two-request minimum: one curl
#     process asking for the last 22 bytes, then the directory, on one connection, followed by
#     the local listing of the bytes it fetched (the least any remote listing has to do); with
#     the connections each listing opened, from nginx's log;
#   - start-up: `fennic list` of a one-entry archive against `unzip -l` of it;
#   - the window: "OpenZip File" of 65,535 entries until the rows are painted (under Xvfb);
#   - scaling: time per entry from 1,000 to 65,535 entries;
#   - peak memory of a 2,000,000-entry ZIP64 listing against its directory's size.
# Usage: bench/list.sh [BUILD_DIR] [RUNS]   (default build-bench, 7 runs; needs hyperfine, nginx,
# curl, unzip, xvfb-run; scripts/deps.sh test installs them but hyperfine and curl)
set -euo pipefail
source "$(dirname "$0")/lib.sh"
bench_init 7 "$@"
bench_needs bench/list.sh hyperfine nginx curl unzip zipinfo xvfb-run python3
bench_build fennic fennic_window

work=$(mktemp -d /tmp/fennic-bench.XXXXXX)
trap bench_cleanup EXIT
export XDG_CONFIG_HOME=$work/config  # settings of our own: no question, no proxy

python3 - "$work" <<'PY'
import sys, zipfile
d = sys.argv[1]
for n in (1000, 4000, 16000, 65535):
    with zipfile.ZipFile(f"{d}/e{n}.zip", "w") as z:
        for i in range(n):
            z.writestr(f"d{i % 100}/f{i:05}.txt", b"")
with zipfile.ZipFile(f"{d}/one.zip", "w") as z:
    z.writestr("a.txt", b"hello")
PY
big=$work/e65535.zip
read -r cd_offset cd_size < <(python3 - "$big" <<'PY'
import struct, sys
b = open(sys.argv[1], "rb").read()
e = b.rfind(b"PK\x05\x06")
size, offset = struct.unpack("<II", b[e + 12:e + 20])
print(offset, size)
PY
)
big_bytes=$(stat -c %s "$big")

# Medians in milliseconds of the commands, by hyperfine, into $work/NAME.json.
measure() {  # name, then commands
  local name=$1; shift
  hyperfine -N -w 2 -r "$runs" --export-json "$work/$name.json" "$@" >/dev/null
}
median() {  # name, index of the command
  python3 -c 'import json,sys; print("%.1f" % (json.load(open(sys.argv[1]))["results"][int(sys.argv[2])]["median"]*1000))' \
    "$work/$1.json" "$2"
}

measure local "$fennic list $big" "unzip -l $big" "zipinfo $big" "$fennic list --json $big"
measure start "$fennic list $work/one.zip" "unzip -l $work/one.zip"
measure scale "$fennic list $work/e1000.zip" "$fennic list $work/e4000.zip" \
              "$fennic list $work/e16000.zip" "$fennic list $big"
peak() { /usr/bin/time -o "$work/time.txt" -f %M "$@" >/dev/null; cat "$work/time.txt"; }
mem_table=$(peak "$fennic" list "$big")
mem_json=$(peak "$fennic" list --json "$big")
many_cd=$(python3 "$bench/make_many.py" "$work/many.zip" 2000000)
mem_many=$(peak "$fennic" list "$work/many.zip")
rm -f "$work/many.zip"

# nginx on a free port, logging each request's connection.
port=$(bench_free_port)
mkdir -p "$work/www" "$work/nginx"
ln "$big" "$work/www/big.zip"
chmod -R a+rX "$work"
bench_start_nginx 64 '$connection $request $http_range $status' "$work/nginx/access.log"
for _ in $(seq 100); do curl -s -o /dev/null "http://127.0.0.1:$port/" && break; sleep 0.05; done
url=http://127.0.0.1:$port/big.zip
end=$((big_bytes - 1))
measure remote "$fennic list --url-credentials $url" \
  "sh -c 'curl -s -o /dev/null -r -22 $url --next -s -o $work/tail.zip -r $cd_offset-$end $url && $fennic list $work/tail.zip'"
: >"$work/nginx/access.log"
"$fennic" list --url-credentials "$url" >/dev/null 2>&1
sleep 0.2  # nginx writes its log line when a request ends
connections=$(awk '{print $1}' "$work/nginx/access.log" | sort -u | wc -l)
requests=$(wc -l <"$work/nginx/access.log")

window=$(for _ in $(seq 5); do
  xvfb-run -a -s "-screen 0 1280x1024x24" env FENNIC_WINDOW_BENCH="$big" "$fennic" 2>/dev/null |
    awk '{print $1}'
done | sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}')

PYTHONPATH=$bench python3 - "$work" "$cd_size" "$mem_table" "$mem_json" "$connections" "$requests" "$window" \
  "$many_cd" "$mem_many" <<'PY'
import json, sys
from table import print_table
work, cd_size, mem_table, mem_json, conns, reqs, window, many_cd, mem_many = sys.argv[1:10]
def med(name, i):
    return json.load(open(f"{work}/{name}.json"))["results"][i]["median"] * 1000
rows = []
def row(what, mine, peer, ratio, target, ok):
    rows.append((what, mine, peer, ratio, target, "holds" if ok else "MISSED"))
f, u, z, j = (med("local", i) for i in range(4))
row("list 65,535 entries", f"{f:.1f} ms", f"unzip -l {u:.1f} ms", f"{f/u:.2f}", "<= 1.0", f <= u)
row("list 65,535 entries", f"{f:.1f} ms", f"zipinfo {z:.1f} ms", f"{f/z:.2f}", "(peer)", True)
row("--json against the table", f"{j:.1f} ms", f"table {f:.1f} ms", f"{j/f:.2f}", "<= 1.3", j <= 1.3 * f)
limit = 3 * int(cd_size) / 1024 + 8 * 1024
for name, kb in (("table", mem_table), ("--json", mem_json)):
    kb = int(kb)
    row(f"peak memory, {name}", f"{kb} KB", f"directory {int(cd_size)//1024} KB",
        f"{kb/limit:.2f} of limit", "<= 3 x dir + 8 MB", kb <= limit)
many_kb, kb = int(many_cd) // 1024, int(mem_many)
row("peak memory, 2,000,000 entries", f"{kb} KB", f"directory {many_kb} KB", f"{kb/many_kb:.2f}",
    "<= 2 x dir", kb <= 2 * many_kb)
r, c = med("remote", 0), med("remote", 1)
row("remote list over nginx", f"{r:.1f} ms", f"two requests + list {c:.1f} ms", f"{r/c:.2f}", "<= 1.3", r <= 1.3 * c)
row("connections per listing", conns, f"{reqs} requests", "", "1", conns == "1")
s, us = med("start", 0), med("start", 1)
row("list of a one-entry archive", f"{s:.1f} ms", f"unzip -l {us:.1f} ms", f"{s/us:.2f}", "<= 3", s <= 3 * us)
if window:
    row("window: 65,535 rows shown", f"{float(window):.0f} ms", "", "", "<= 500 ms", float(window) <= 500)
else:
    row("window: 65,535 rows shown", "no result", "", "", "<= 500 ms", False)
print_table(("what", "fennic", "peer", "ratio", "target", ""), rows)
print()
print("time per entry (median; start-up = the one-entry listing, subtracted in the last column):")
for i, n in enumerate((1000, 4000, 16000, 65535)):
    t = med("scale", i)
    print(f"  {n:6d} entries  {t:8.1f} ms  {t * 1000 / n:6.2f} us/entry"
          f"  {(t - s) * 1000 / n:6.2f} us/entry after start-up")
PY
