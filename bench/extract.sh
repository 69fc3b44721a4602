#!/usr/bin/env bash
# Extraction cost against its peers, over nginx on loopback, once directly and once through
# bench/delay_proxy.py (25 ms each way, a stand-in for a real network):
#   (a) one entry of a 200 MB archive of 200 entries: `fennic cat URL ENTRY > file` against
#       `curl -o whole.zip URL && unzip -p whole.zip ENTRY > file` and GDAL's
#       /vsizip//vsicurl/ read through VSIFOpenL/VSIFReadL;
#   (b) 1% of the entries of a 5,000-entry archive, picked with a fixed seed:
#       `fennic get URL NAMES... -d DIR`;
#   (c) every entry of that 200 MB, 5,000-entry archive: `fennic get URL -d DIR` against
#       `curl -o a.zip URL && unzip -q a.zip -d DIR`.
# Requests, connections and body bytes come from nginx's access log; times are medians; every
# run's output is compared with unzip's from the local copy. Outputs go to a fresh folder per
# run, on /dev/shm when it has room. Targets for fennic are printed under the table.
# Usage: bench/extract.sh [BUILD_DIR] [RUNS]   (default build-bench, 5 runs; needs nginx, curl,
# unzip; installs python3-gdal when it is missing)
# EXTRACT_BENCH_ONLY=a,b runs only those cases.
set -euo pipefail
source "$(dirname "$0")/lib.sh"
bench_init 5 "$@"
bench_remote_init
bench_needs bench/extract.sh nginx curl unzip python3
bench_gdal

bench_build fennic
bench_commit

# Archives, references and outputs need about 1.5 GB; a tmpfs keeps file creation and removal
# from weighing on the runs that follow.
tmpfs=false
root=/tmp
if [ -d /dev/shm ] && [ "$(df -Pk /dev/shm | awk 'NR == 2 { print $4 }')" -gt $((3 * 1024 * 1024)) ]
then
  tmpfs=true
  root=/dev/shm
fi
work=$(mktemp -d "$root/fennic-extract-bench.XXXXXX")
trap bench_cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
bench_clean_env

mkdir -p "$work/www" "$work/nginx" "$work/runs"
echo "making the archives in $work" >&2
python3 "$bench/extract_bench.py" make "$work/www"
chmod -R a+rX "$work"

bench_start_servers

python3 - "$work/config.json" <<PY
import json, sys
json.dump(dict(work="$work", www="$work/www", log="$log", results="$work/results.json",
               fennic="$fennic", gdal_python="$gdal_python", runs=$runs,
               tmpfs=$([ "$tmpfs" = true ] && echo True || echo False),
               direct="http://127.0.0.1:$port", delayed="http://127.0.0.1:$proxy_port",
               commit="$commit", delay_ms=$delay_ms, tail_bytes=$tail_bytes),
          open(sys.argv[1], "w"))
PY
python3 "$bench/extract_bench.py" run "$work/config.json"
python3 "$bench/extract_bench.py" report "$work/config.json"
