#!/usr/bin/env bash
# Builds every test and runs it: the normal build, the address+undefined sanitizer build,
# the thread sanitizer build of the threaded parts, and a bounded fuzzing run.
set -uo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh test || exit 1

jobs=$(nproc)
fuzz_seconds=${FENNIC_FUZZ_SECONDS:-60}
status=0
summary=()

run_stage() {  # name, then the command
  local name=$1; shift
  echo "==== $name"
  if "$@"; then summary+=("PASS  $name"); else summary+=("FAIL  $name"); status=1; fi
}

configure_build() {  # dir, then cmake options
  local dir=$1; shift
  cmake -S . -B "$dir" -G Ninja "$@" >/dev/null && cmake --build "$dir" -j "$jobs"
}

ctest_in() {  # dir, then ctest options; a stage that finds no test fails
  local dir=$1; shift
  xvfb-run -a -s "-screen 0 1280x1024x24" \
    ctest --test-dir "$dir" --output-on-failure --no-tests=error --timeout 600 "$@"
}

# Every stage names all its switches, so a cache left by another command (the run command
# configures build/ without tests) cannot change what a stage builds.
common=(-DFENNIC_TESTS=ON -DFENNIC_UI=ON -DFENNIC_FUZZ=OFF -DFENNIC_WERROR=OFF
        -DFENNIC_SANITIZE=OFF -DFENNIC_TSAN=OFF)

# Formatting first: it takes a second and names every file that strays from .clang-format.
check_format() {
  local files
  if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    mapfile -t files < <(git ls-files '*.cpp' '*.h')
  else
    mapfile -t files < <(find . -path './build*' -prune -o \( -name '*.cpp' -o -name '*.h' \) -print)
  fi
  [ ${#files[@]} -gt 0 ] || { echo "no C++ files found to check" >&2; return 1; }
  clang-format --dry-run --Werror "${files[@]}"
}
run_stage "formatting (clang-format)" check_format

run_stage "build (warnings as errors)" \
  configure_build build "${common[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DFENNIC_WERROR=ON
run_stage "tests" ctest_in build

run_stage "build with address+undefined sanitizers" \
  configure_build build-asan "${common[@]}" -DCMAKE_BUILD_TYPE=Debug -DFENNIC_SANITIZE=ON
# GTK keeps caches alive until exit; leak reports there are not ours.
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 LSAN_OPTIONS=suppressions=$PWD/tests/lsan.supp \
UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  run_stage "tests under address+undefined sanitizers" ctest_in build-asan

run_stage "build with thread sanitizer" \
  configure_build build-tsan "${common[@]}" -DCMAKE_BUILD_TYPE=Debug -DFENNIC_TSAN=ON -DFENNIC_UI=OFF
TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
  run_stage "threaded tests under thread sanitizer" ctest_in build-tsan -L threads

run_stage "build fuzz targets" \
  configure_build build-fuzz "${common[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DFENNIC_FUZZ=ON -DFENNIC_UI=OFF \
  -DFENNIC_TESTS=OFF -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++
run_stage "fuzzing (${fuzz_seconds}s per target)" fuzz/run.sh build-fuzz "$fuzz_seconds"

echo
echo "==== Summary"
printf '%s\n' "${summary[@]}"
exit $status
