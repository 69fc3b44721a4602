# Sourced by the benchmark scripts: the arguments, the build they share, GDAL's bindings, a
# clean environment, and nginx and the delaying proxy on loopback. The scripts set work before
# starting servers.

# From the repository's root; the script's arguments: [BUILD_DIR] [RUNS].
bench_init() {  # default runs, then the script's arguments
  local default_runs=$1
  shift
  cd "$(dirname "${BASH_SOURCE[0]}")/.."
  build=${1:-build-bench}
  runs=${2:-$default_runs}
  bench=$PWD/bench
}

# For the remote benchmarks: the delaying proxy's wait each way, and what the direct road's
# first request asks for, as the source says.
bench_remote_init() {
  delay_ms=25
  tail_bytes=$(sed -n 's/.*kTailBytes = \([0-9* ]*\);.*/\1/p' remote/direct/direct_road.h)
  tail_bytes=$((${tail_bytes:-128 * 1024}))
}

# commit: the one measured, and whether the tree outside bench/ differs from it.
bench_commit() {
  commit=$(git rev-parse --short HEAD)
  git diff --quiet HEAD -- . ':!bench' 2>/dev/null || commit="$commit + uncommitted changes"
}

bench_needs() {  # script name, then the tools it needs
  local script=$1 tool
  shift
  for tool in "$@"; do
    command -v "$tool" >/dev/null || { echo "$script needs $tool" >&2; exit 2; }
  done
}

# GDAL's bindings are Debian's, so they run under Debian's Python.
gdal_python=/usr/bin/python3
bench_gdal() {  # installs python3-gdal when it is missing
  if ! "$gdal_python" -c 'from osgeo import gdal' 2>/dev/null; then
    local sudo_cmd=()
    [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
    echo "Installing: python3-gdal" >&2
    DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends \
      python3-gdal >&2
  fi
}

# One configuration for every script, so they share one build.
bench_build() {  # the targets
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DFENNIC_TESTS=OFF \
    -DFENNIC_UI=ON -DFENNIC_SANITIZE=OFF -DFENNIC_TSAN=OFF -DFENNIC_FUZZ=OFF >/dev/null
  cmake --build "$build" --target "$@" >&2
  fennic=$PWD/$build/cli/fennic
}

nginx_pid=
proxy_pid=
bench_cleanup() {
  [ -n "$proxy_pid" ] && kill "$proxy_pid" 2>/dev/null && wait "$proxy_pid" 2>/dev/null
  [ -n "$nginx_pid" ] && kill "$nginx_pid" 2>/dev/null && wait "$nginx_pid" 2>/dev/null
  rm -rf "$work"
}

bench_clean_env() {  # no settings of the user's, no proxy, no GDAL probing or cache
  export XDG_CONFIG_HOME=$work/config  # settings of our own: no question, no proxy
  unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY ALL_PROXY all_proxy ftp_proxy FTP_PROXY
  # GDAL: no probing of sibling files, no cache that could outlive a run.
  export CPL_VSIL_CURL_ALLOWED_EXTENSIONS=.zip GDAL_DISABLE_READDIR_ON_OPEN=EMPTY_DIR VSI_CACHE=FALSE
}

bench_free_port() {
  python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'
}

# nginx on $port serving $work/www, its files in $work/nginx; sets nginx_pid.
bench_start_nginx() {  # worker connections, log format, access log
  cat >"$work/nginx/nginx.conf" <<EOC
daemon off; worker_processes 1; pid $work/nginx/nginx.pid; error_log $work/nginx/error.log;
user nobody nogroup;
events { worker_connections $1; }
http {
  log_format b '$2';
  access_log $3 b;
  client_body_temp_path $work/nginx; proxy_temp_path $work/nginx; fastcgi_temp_path $work/nginx;
  uwsgi_temp_path $work/nginx; scgi_temp_path $work/nginx;
  server { listen 127.0.0.1:$port; root $work/www; }
}
EOC
  nginx -p "$work/nginx" -c "$work/nginx/nginx.conf" &
  nginx_pid=$!
}

ready() {  # polls a URL until it answers
  for _ in $(seq 200); do
    curl -s -o /dev/null "$1" && return 0
    kill -0 "$2" 2>/dev/null || break
    sleep 0.05
  done
  echo "no answer from $1" >&2
  exit 1
}

# bench/delay_proxy.py in front of nginx, delay_ms each way; sets proxy_pid and proxy_port.
bench_start_proxy() {
  python3 "$bench/delay_proxy.py" --upstream "127.0.0.1:$port" --delay-ms "$delay_ms" \
    --port-file "$work/proxy.port" &
  proxy_pid=$!
  for _ in $(seq 200); do
    [ -s "$work/proxy.port" ] && break
    kill -0 "$proxy_pid" 2>/dev/null || break
    sleep 0.05
  done
  [ -s "$work/proxy.port" ] || { echo "the delaying proxy did not start" >&2; exit 1; }
  proxy_port=$(cat "$work/proxy.port")
  ready "http://127.0.0.1:$proxy_port/" "$proxy_pid"
}

# The remote benchmarks' servers: nginx on a free port, one tab-separated line per request in
# $log, and the delaying proxy in front of it.
bench_start_servers() {
  port=$(bench_free_port)
  log=$work/nginx/access.log
  bench_start_nginx 256 '$connection\t$status\t$body_bytes_sent\t$http_range\t$request' "$log"
  ready "http://127.0.0.1:$port/" "$nginx_pid"
  bench_start_proxy
}
