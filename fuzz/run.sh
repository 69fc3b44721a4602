#!/usr/bin/env bash
# Runs every fuzz target of a libFuzzer build for SECONDS each, from a scratch copy of its
# seeds (the committed fuzz/seeds/NAME/ plus archives made now by real tools), and fails on
# any crash. Usage: fuzz/run.sh BUILD_DIR SECONDS
set -uo pipefail
if [ $# -ne 2 ]; then echo "usage: $0 BUILD_DIR SECONDS" >&2; exit 2; fi
build=$(cd "$1" && pwd) || { echo "no build folder $1" >&2; exit 2; }
seconds=$2
here=$(cd "$(dirname "$0")" && pwd)
scratch=$(mktemp -d /tmp/fennic-fuzz.XXXXXX)
trap 'rm -rf "$scratch"' EXIT

# Archives made by zip, 7z and zipfile: whole ones for the archive target, their last
# 22 bytes for the end record target.
made="$scratch/made"
python=/usr/bin/python3
[ -x "$python" ] || python=python3
if ! "$python" "$here/../tests/fixtures/make_archives.py" "$made" >/dev/null 2>"$scratch/make.log"; then
  echo "note: could not make tool archives (see below); using committed seeds only" >&2
  cat "$scratch/make.log" >&2
fi

status=0
found=0
for src in "$here"/fuzz_*.cpp; do
  name=$(basename "$src" .cpp)
  bin="$build/fuzz/$name"
  if [ ! -x "$bin" ]; then
    echo "FAIL  $name: not built at $bin" >&2
    status=1
    continue
  fi
  found=$((found + 1))
  corpus="$scratch/corpus-$name"
  mkdir -p "$corpus"
  [ -d "$here/seeds/$name" ] && cp "$here/seeds/$name"/* "$corpus"/ 2>/dev/null
  if [ -d "$made" ]; then
    case "$name" in
      fuzz_zip_list | fuzz_direct_road) cp "$made"/*.zip "$corpus"/ ;;
      fuzz_end_record)
        for z in "$made"/*.zip; do tail -c 22 "$z" >"$corpus/tail22-$(basename "$z")"; done ;;
    esac
  fi
  log="$scratch/$name.log"
  echo "==== $name: ${seconds}s from $(ls "$corpus" | wc -l) seeds"
  (cd "$scratch" && "$bin" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=2048 \
     -max_len=70000 -print_final_stats=1 "$corpus") >"$log" 2>&1
  rc=$?
  execs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$')
  if [ $rc -ne 0 ]; then
    echo "FAIL  $name: exit $rc after ${execs:-?} executions" >&2
    grep -A30 -E 'ERROR|==[0-9]+==|runtime error|deadly signal' "$log" | head -60 >&2
    mkdir -p "$build/fuzz-crashes"
    cp "$scratch"/crash-* "$scratch"/leak-* "$scratch"/timeout-* "$build/fuzz-crashes/" 2>/dev/null
    status=1
  else
    echo "PASS  $name: ${execs:-?} executions in ${seconds}s"
  fi
done
[ $found -eq 0 ] && { echo "no fuzz targets built in $build/fuzz" >&2; status=1; }
exit $status
