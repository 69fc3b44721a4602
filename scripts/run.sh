#!/usr/bin/env bash
# Builds Fennic and starts it; any arguments go to the program (none: the window).
set -euo pipefail
here=$PWD  # arguments such as archive paths are relative to where the user is
cd "$(dirname "$0")/.."
root=$PWD
scripts/deps.sh run
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DFENNIC_TESTS=OFF -DFENNIC_UI=ON -DFENNIC_FUZZ=OFF \
  -DFENNIC_SANITIZE=OFF -DFENNIC_TSAN=OFF >/dev/null
cmake --build build --target fennic >&2  # stdout is the program's alone
if [ $# -eq 0 ] && [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  # A window nobody can see would wait for ever: show the command line at work instead.
  echo "No display found, so no window; the command line on the sample archive instead:" >&2
  echo "  fennic list docs/sample.zip" >&2
  exec "$root/build/cli/fennic" list "$root/docs/sample.zip"
fi
cd "$here"
exec "$root/build/cli/fennic" "$@"
