#!/usr/bin/env bash
# Takes a picture of each window (main with rows, Options, Help, About, progress) under Xvfb
# with a window manager, into docs/screenshots/. Usage: scripts/screenshots.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-shots}
out=$PWD/docs/screenshots
mkdir -p "$out"
command -v openbox >/dev/null || { echo "openbox is needed for window frames (apt-get install openbox)" >&2; exit 1; }
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" --target fennic_ui_tests -j2
XDG_CONFIG_HOME=$(mktemp -d) FENNIC_SHOTS_DIR=$out xvfb-run -a -s "-screen 0 1024x768x24" \
  bash -c 'openbox & wm=$!; trap "kill $wm" EXIT
           # Windows mapped before the window manager runs would get no frame.
           for _ in $(seq 100); do
             xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q "window id" && break
             sleep 0.05
           done
           "$0"/tests/ui/fennic_ui_tests --gtest_also_run_disabled_tests \
             --gtest_filter="Screenshots.*"' "$build"
ls -l "$out"
