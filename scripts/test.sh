#!/usr/bin/env bash
# Builds and runs the whole test suite: the normal build, then the same tests under ASan+UBSan,
# then a short run of every fuzz target.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
export QT_QPA_PLATFORM=offscreen
scripts/check-format.sh

scripts/build.sh build -DMAPEDITOR_WERROR=ON
(cd build && ctest --output-on-failure --timeout 300 -j "$(nproc)")

scripts/build.sh build-asan -DMAPEDITOR_SANITIZE=ON -DMAPEDITOR_BENCH=OFF -DCMAKE_BUILD_TYPE=Debug
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
(cd build-asan && ctest --output-on-failure --timeout 600 -j "$(nproc)")

# A short fuzzing pass over every target; any finding fails the run.
fuzz/run 30
