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
cd "$(dirname "$0")/.."
build=${1:-build-bench}
runs=${2:-5}
# What the direct road's first request asks for, as the source says.
tail_bytes=$(sed -n 's/.*kTailBytes = \([0-9* ]*\);.*/\1/p' remote/direct/direct_road.h)
tail_bytes=$((${tail_bytes:-128 * 1024}))
delay_ms=25
bench=$PWD/bench

for tool in nginx curl unzip python3; do
  command -v "$tool" >/dev/null || { echo "bench/extract.sh needs $tool" >&2; exit 2; }
done
# GDAL's bindings are Debian's, so they run under Debian's Python.
gdal_python=/usr/bin/python3
if ! "$gdal_python" -c 'from osgeo import gdal' 2>/dev/null; then
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  echo "Installing: python3-gdal" >&2
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends \
    python3-gdal >&2
fi

# The same configuration as bench/list.sh and bench/remote_list.sh, so they share one build.
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DFENNIC_TESTS=OFF \
  -DFENNIC_UI=ON -DFENNIC_SANITIZE=OFF -DFENNIC_TSAN=OFF -DFENNIC_FUZZ=OFF >/dev/null
cmake --build "$build" --target fennic >&2
fennic=$PWD/$build/cli/fennic
commit=$(git rev-parse --short HEAD)
git diff --quiet HEAD -- . ':!bench' 2>/dev/null || commit="$commit + uncommitted changes"

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
nginx_pid=
proxy_pid=
cleanup() {
  [ -n "$proxy_pid" ] && kill "$proxy_pid" 2>/dev/null && wait "$proxy_pid" 2>/dev/null
  [ -n "$nginx_pid" ] && kill "$nginx_pid" 2>/dev/null && wait "$nginx_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
export XDG_CONFIG_HOME=$work/config  # settings of our own: no question, no proxy
unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY ALL_PROXY all_proxy ftp_proxy FTP_PROXY
# GDAL: no probing of sibling files, no cache that could outlive a run.
export CPL_VSIL_CURL_ALLOWED_EXTENSIONS=.zip GDAL_DISABLE_READDIR_ON_OPEN=EMPTY_DIR VSI_CACHE=FALSE

mkdir -p "$work/www" "$work/nginx" "$work/runs"
echo "making the archives in $work" >&2
python3 "$bench/extract_bench.py" make "$work/www"
chmod -R a+rX "$work"

# nginx on a free port; one tab-separated line per request.
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
log=$work/nginx/access.log
cat >"$work/nginx/nginx.conf" <<EOF
daemon off; worker_processes 1; pid $work/nginx/nginx.pid; error_log $work/nginx/error.log;
user nobody nogroup;
events { worker_connections 256; }
http {
  log_format b '\$connection\t\$status\t\$body_bytes_sent\t\$http_range\t\$request';
  access_log $log b;
  client_body_temp_path $work/nginx; proxy_temp_path $work/nginx; fastcgi_temp_path $work/nginx;
  uwsgi_temp_path $work/nginx; scgi_temp_path $work/nginx;
  server { listen 127.0.0.1:$port; root $work/www; }
}
EOF
nginx -p "$work/nginx" -c "$work/nginx/nginx.conf" &
nginx_pid=$!
ready() {  # polls a URL until it answers
  for _ in $(seq 200); do
    curl -s -o /dev/null "$1" && return 0
    kill -0 "$2" 2>/dev/null || break
    sleep 0.05
  done
  echo "no answer from $1" >&2
  exit 1
}
ready "http://127.0.0.1:$port/" "$nginx_pid"

python3 "$bench/delay_proxy.py" --upstream "127.0.0.1:$port" --delay-ms "$delay_ms" \
  --port-file "$work/proxy.port" &
proxy_pid=$!
for _ in $(seq 200); do
  [ -s "$work/proxy.port" ] && break
  kill -0 "$proxy_pid" 2>/dev/null || break
  sleep 0.05
done
[ -s "$work/proxy.port" ] || { echo "the delaying proxy did not start" >&2; exit 1; }
ready "http://127.0.0.1:$(cat "$work/proxy.port")/" "$proxy_pid"

python3 - "$work/config.json" <<PY
import json, sys
json.dump(dict(work="$work", www="$work/www", log="$log", results="$work/results.json",
               fennic="$fennic", gdal_python="$gdal_python", runs=$runs,
               tmpfs=$([ "$tmpfs" = true ] && echo True || echo False),
               direct="http://127.0.0.1:$port", delayed="http://127.0.0.1:$(cat "$work/proxy.port")",
               commit="$commit", delay_ms=$delay_ms, tail_bytes=$tail_bytes),
          open(sys.argv[1], "w"))
PY
python3 "$bench/extract_bench.py" run "$work/config.json"
python3 "$bench/extract_bench.py" report "$work/config.json"
