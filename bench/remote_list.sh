#!/usr/bin/env bash
# Remote listing cost against its peers, over nginx on loopback, once directly and once
# through bench/delay_proxy.py (25 ms each way, a stand-in for a real network):
#   - `fennic list URL` (the direct road: the tail, then the rest of the directory if any),
#   - `fennic list --classic URL` (size, end record, directory),
#   - the two-request minimum: one curl process, end record then directory, one connection,
#   - GDAL's /vsizip//vsicurl/ directory read.
# Then `fennic list URL` once more against bench/refusing_server.py, a server that answers the
# suffix form with 200 and the whole archive, as some object stores do: its requests and body
# bytes, those the cut-off 200 wasted among them, against the two-request minimum over nginx.
# Requests, connections and body bytes come from nginx's access log; times are medians.
# Every archive's `fennic list URL` table is also checked against `zipinfo -v`, cell by cell.
# A road that fails prints n/a. Targets for the direct road are printed under the table.
# Usage: bench/remote_list.sh [BUILD_DIR] [RUNS]   (default build-bench, 5 runs; needs
# hyperfine, nginx, curl, zipinfo; installs python3-gdal when it is missing)
set -euo pipefail
source "$(dirname "$0")/lib.sh"
bench_init 5 "$@"
bench_remote_init
bench_needs bench/remote_list.sh hyperfine nginx curl zipinfo python3
bench_gdal

bench_build fennic
bench_commit

work=$(mktemp -d /tmp/fennic-remote-bench.XXXXXX)
refusing_pid= refusing_proxy_pid=
trap '[ -n "$refusing_pid" ] && kill $refusing_pid $refusing_proxy_pid 2>/dev/null; bench_cleanup' EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
bench_clean_env

mkdir -p "$work/www" "$work/nginx"
echo "making the archives" >&2
python3 "$bench/remote_archives.py" make "$work/www" >"$work/archives.tsv"
while IFS=$'\t' read -r key file _; do
  python3 "$bench/remote_archives.py" verify "$work/www/$file" >/dev/null ||
    { echo "$file: zipfile cannot read it" >&2; exit 1; }
done <"$work/archives.tsv"
chmod -R a+rX "$work"

bench_start_servers
direct=http://127.0.0.1:$port
delayed=http://127.0.0.1:$proxy_port

# The contenders' commands for one archive URL (hyperfine splits them like a shell).
# --url-credentials, as in bench/list.sh: no settings question about the URL's port.
command_of() {  # contender, url, archive key
  case $1 in
    fennic) echo "$fennic list --url-credentials $2" ;;
    classic) echo "$fennic list --classic --url-credentials $2" ;;
    minimum) echo "curl -s -o /dev/null -r -${suffix[$3]} $2 --next -s -o /dev/null -r ${cd_range[$3]} $2" ;;
    gdal) echo "$gdal_python -c \"import sys; from osgeo import gdal; sys.exit(0 if gdal.ReadDir('/vsizip//vsicurl/$2') else 1)\"" ;;
  esac
}

# The log lines one command caused: a request for a name that is not there, on a connection
# of its own, marks the end; nginx writes a request's line as it ends it, so the marker's line
# comes after those of the command, which had all its answers before it exited.
marker=0
log_of() {  # command, its stdout file, its stderr file; prints its log lines to stdout
  local before=$(wc -l <"$log") rc=0
  sh -c "$1" >"$2" 2>"$3" </dev/null || rc=$?
  marker=$((marker + 1))
  curl -s -o /dev/null "$direct/.end-of-run-$marker" || true
  for _ in $(seq 500); do grep -q "/.end-of-run-$marker " "$log" && break; sleep 0.01; done
  grep -q "/.end-of-run-$marker " "$log" || echo "   nginx did not log the end of a run" >&2
  tail -n "+$((before + 1))" "$log" | grep -v "/.end-of-run-$marker "
  return $rc
}

median_ms() {  # hyperfine json
  python3 -c 'import json,sys; print("%.1f" % (json.load(open(sys.argv[1]))["results"][0]["median"]*1000))' "$1"
}

declare -A suffix cd_range
: >"$work/results.tsv"
: >"$work/facts.tsv"
while IFS=$'\t' read -r key file what; do
  echo "== $what" >&2
  local_copy=$work/www/$file
  size=$(stat -c %s "$local_copy")
  read -r cd_offset cd_size < <(python3 "$bench/remote_archives.py" directory "$local_copy")
  # The two-request minimum. Its first request is the suffix that holds the end record: the
  # last 22 bytes, or more where the end record does not give the directory alone (the comment,
  # or the ZIP64 locator and end record). A client would have to guess that length; the local
  # copy tells it here, so this is the least two requests can fetch. The directory's range is
  # then read from the fetched suffix. One curl process cannot compute between its requests, so
  # the range is worked out once before timing; the requests it times are the same.
  suffix[$key]=$(python3 "$bench/remote_archives.py" tail "$local_copy")
  curl -s -f -o "$work/tail.bin" -r "-${suffix[$key]}" "$direct/$file"
  read -r first last < <(python3 "$bench/remote_archives.py" range "$work/tail.bin" "$size")
  cd_range[$key]=$first-$last
  printf '%s\t%s\t%s\t%s\t%s\t%s\n' "$key" "$what" "$size" "$cd_offset" "$cd_size" \
    "${suffix[$key]}" >>"$work/facts.tsv"

  for who in fennic classic minimum gdal; do
    listing=
    cmd=$(command_of "$who" "$direct/$file" "$key")
    if log_of "$cmd" "$work/out.txt" "$work/err.txt" >"$work/lines.tsv"; then
      read -r requests connections bytes < <(awk -F'\t' \
        '{ n++; c[$1] = 1; b += $3 } END { print n + 0, length(c), b + 0 }' "$work/lines.tsv")
      times=()
      for base in "$direct" "$delayed"; do
        if hyperfine -N -w 1 -r "$runs" --export-json "$work/h.json" \
             "$(command_of "$who" "$base/$file" "$key")" >/dev/null 2>"$work/h.err"; then
          times+=("$(median_ms "$work/h.json")")
        else
          times+=(n/a)
        fi
      done
      if [ "$who" = fennic ] || [ "$who" = classic ]; then
        listing=$(python3 "$bench/remote_archives.py" compare "$work/out.txt" "$local_copy")
      fi
    else
      rc=$?
      requests=n/a connections=n/a bytes=n/a times=(n/a n/a)
      why=$(grep -v '^[[:space:]]*$' "$work/err.txt" | tr '\n\t' '  ' | cut -c 1-240)
      if [ "$who" = fennic ] || [ "$who" = classic ]; then
        listing="n/a (the road failed, exit $rc: $why)"
      fi
      echo "   $who failed (exit $rc): $why" >&2
    fi
    printf '%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\n' "$key" "$who" "$requests" "$connections" \
      "$bytes" "${times[0]}" "${times[1]}" "$listing" >>"$work/results.tsv"
    echo "   $who: $requests requests, $connections connections, $bytes bytes," \
      "${times[0]} / ${times[1]} ms ${listing}" >&2
  done
done <"$work/archives.tsv"

# The suffix-refusing server, directly and through a delaying proxy of its own.
start_background() {  # port file, command...; waits for the port file
  local file=$1; shift
  "$@" &
  bg_pid=$!
  for _ in $(seq 200); do [ -s "$file" ] && return 0; kill -0 "$bg_pid" 2>/dev/null || break; sleep 0.05; done
  echo "$* did not start" >&2
  exit 1
}
: >"$work/refusing.log"
start_background "$work/refusing.port" python3 "$bench/refusing_server.py" --root "$work/www" \
  --log "$work/refusing.log" --port-file "$work/refusing.port"
refusing_pid=$bg_pid
refusing=http://127.0.0.1:$(cat "$work/refusing.port")
start_background "$work/refusing-proxy.port" python3 "$bench/delay_proxy.py" \
  --upstream "127.0.0.1:$(cat "$work/refusing.port")" --delay-ms "$delay_ms" \
  --port-file "$work/refusing-proxy.port"
refusing_proxy_pid=$bg_pid
refusing_delayed=http://127.0.0.1:$(cat "$work/refusing-proxy.port")
: >"$work/refusing.tsv"
nginx_log=$log nginx_direct=$direct
log=$work/refusing.log direct=$refusing  # log_of's marker goes to this server now
while IFS=$'\t' read -r key file what; do
  echo "== $what, suffix refused" >&2
  row="n/a\tn/a\tn/a\tn/a\tn/a\tn/a"
  if log_of "$fennic list --url-credentials $refusing/$file" "$work/out.txt" "$work/err.txt" \
       >"$work/lines.tsv"; then
    # A 200 that brought the whole archive (one shorter than the suffix) was used, not wasted.
    read -r requests connections bytes wasted < <(awk -F'\t' -v size="$(stat -c %s "$work/www/$file")" \
      '{ n++; c[$1] = 1; b += $3; if ($2 == 200 && $3 < size) w += $3 } END { print n + 0, length(c), b + 0, w + 0 }' \
      "$work/lines.tsv")
    times=()
    for base in "$refusing" "$refusing_delayed"; do
      if hyperfine -N -w 1 -r "$runs" --export-json "$work/h.json" \
           "$fennic list --url-credentials $base/$file" >/dev/null 2>"$work/h.err"; then
        times+=("$(median_ms "$work/h.json")")
      else
        times+=(n/a)
      fi
    done
    listing=$(python3 "$bench/remote_archives.py" compare "$work/out.txt" "$work/www/$file")
    row="$requests\t$connections\t$bytes\t$wasted\t${times[0]}\t${times[1]}"
    echo "   $requests requests, $bytes bytes ($wasted wasted), ${times[0]} / ${times[1]} ms $listing" >&2
  else
    listing="n/a (the road failed: $(tr '\n\t' '  ' <"$work/err.txt" | cut -c 1-200))"
    echo "   failed: $listing" >&2
  fi
  printf "%s\t$row\t%s\n" "$key" "$listing" >>"$work/refusing.tsv"
done <"$work/archives.tsv"
log=$nginx_log direct=$nginx_direct

# Python and the GDAL import alone, which GDAL's times include.
hyperfine -N -w 1 -r "$runs" --export-json "$work/h.json" \
  "$gdal_python -c \"from osgeo import gdal\"" >/dev/null 2>&1
gdal_start=$(median_ms "$work/h.json")

PYTHONPATH=$bench python3 - "$work" "$tail_bytes" "$delay_ms" "$runs" "$commit" "$gdal_start" <<'PY'
import sys
from table import print_table
work, tail, delay, runs, commit, gdal_start = sys.argv[1:7]
tail = int(tail)
facts = {}
order = []
for line in open(f"{work}/facts.tsv"):
    key, what, size, cd_offset, cd_size, suffix = line.rstrip("\n").split("\t")
    facts[key] = dict(what=what, size=int(size), cd_offset=int(cd_offset), cd_size=int(cd_size))
    order.append(key)
res = {}
for line in open(f"{work}/results.tsv"):
    key, who, req, conn, body, direct, proxy, listing = line.rstrip("\n").split("\t")
    res[key, who] = dict(req=req, conn=conn, body=body, direct=direct, proxy=proxy,
                         listing=listing)
names = {"fennic": "fennic list URL", "classic": "fennic list --classic URL",
         "minimum": "curl, two requests", "gdal": "GDAL /vsizip//vsicurl/"}

def num(v):
    try:
        return float(v)
    except ValueError:
        return None

def ratio(a, b):
    a, b = num(a), num(b)
    return f"{a / b:.2f}" if a is not None and b else "n/a"

def grouped(v):
    return f"{int(v):,}" if num(v) is not None else v

head = ("archive", "contender", "requests", "connections", "body bytes", "loopback ms",
        "delayed ms", "÷ min loopback", "÷ min delayed", "listing vs zipinfo")
rows = []
for key in order:
    m = res[key, "minimum"]
    for who in ("fennic", "classic", "minimum", "gdal"):
        r = res[key, who]
        listing = r["listing"].split(" (")[0]
        rows.append((facts[key]["what"], names[who], r["req"], r["conn"], grouped(r["body"]),
                     r["direct"], r["proxy"], ratio(r["direct"], m["direct"]),
                     ratio(r["proxy"], m["proxy"]), listing))
print(f"fennic {commit}; median of {runs} runs; nginx on loopback, and delayed: through a "
      f"proxy adding {delay} ms each way; ÷ min: time over the two-request minimum's")
print()
print_table(head, rows)
print()
print(f"GDAL's times include starting Python and importing GDAL: {gdal_start} ms alone.")
print()
print(f"Targets for `fennic list URL` (tail N = {tail:,} bytes): 1 request where the tail holds "
      "the directory, otherwise 2; body bytes <= directory + N; delayed time <= 1.1 x the "
      "two-request minimum.")
verdict = lambda ok: "holds" if ok else "MISSED"
for key in order:
    f, r, m = facts[key], res[key, "fennic"], res[key, "minimum"]
    holds = f["cd_offset"] >= f["size"] - tail
    want = 1 if holds else 2
    parts = [f"{f['what']}: directory {f['cd_size']:,} bytes, "
             f"{'in' if holds else 'not in'} the tail"]
    if num(r["req"]) is None:
        parts.append("the direct road failed")
    else:
        parts.append(f"requests {r['req']} (target {want}) {verdict(int(r['req']) == want)}")
        limit = f["cd_size"] + tail
        parts.append(f"body {int(r['body']):,} <= {limit:,} {verdict(int(r['body']) <= limit)}")
    p, mp = num(r["proxy"]), num(m["proxy"])
    if p is not None and mp is not None:
        parts.append(f"delayed {p:.1f} ms <= 1.1 x {mp:.1f} = {1.1 * mp:.1f} ms "
                     f"{verdict(p <= 1.1 * mp)} (ratio {p / mp:.2f}; loopback ratio "
                     f"{ratio(r['direct'], m['direct'])})")
    parts.append(f"listing {r['listing']}")
    if res[key, "classic"]["listing"]:
        parts.append(f"--classic listing {res[key, 'classic']['listing']}")
    print("- " + "; ".join(parts))

print()
print("Against a server that answers the suffix form with 200 and the whole archive (ranges by "
      "offsets honoured); ÷ min: over the two-request minimum on nginx. Targets: at most 3 "
      f"requests, body bytes <= directory + {tail:,} + 1 MiB (the cut-off 200's included).")
print()
rows = []
notes = []
for line in open(f"{work}/refusing.tsv"):
    key, req, conn, body, wasted, direct, proxy, listing = line.rstrip("\n").split("\t")
    f, m = facts[key], res[key, "minimum"]
    rows.append((f["what"], req, conn, grouped(body), grouped(wasted), direct, proxy,
                 ratio(direct, m["direct"]), ratio(proxy, m["proxy"]), listing.split(" (")[0]))
    if num(req) is not None:
        limit = f["cd_size"] + tail + (1 << 20)
        notes.append(f"- {f['what']}: requests {req} (target <= 3) {verdict(int(req) <= 3)}; "
                     f"body {int(body):,} <= {limit:,} {verdict(int(body) <= limit)}; "
                     f"wasted by the cut-off 200: {int(wasted):,}")
print_table(("archive", "requests", "connections", "body bytes", "wasted bytes", "loopback ms",
             "delayed ms", "÷ min loopback", "÷ min delayed", "listing vs zipinfo"), rows)
print()
print("\n".join(notes))
PY
