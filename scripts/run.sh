#!/usr/bin/env bash
# Builds Fennic and starts it; any arguments go to the program (none: the window).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh run
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DFENNIC_TESTS=OFF >/dev/null
cmake --build build --target fennic
if [ $# -eq 0 ] && [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  echo "No display found; starting under xvfb-run." >&2
  exec xvfb-run -a build/fennic
fi
exec build/fennic "$@"
