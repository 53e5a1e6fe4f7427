#!/bin/sh
# The test command for changing the program: builds a configured build and
# runs its suite (everything but the package check, which the full run does),
# then says how long the two took.  Usage: tests/fast.sh [BUILD_DIRECTORY],
# by default build, configured once with `cmake --preset default`.
set -eu
cd "$(dirname "$0")/.."
build=${1:-build}
[ -f "$build/CMakeCache.txt" ] || {
    echo "fast: $build is not configured: cmake --preset default" >&2
    exit 2
}
jobs=$(nproc 2>/dev/null || echo 2)
start=$(date +%s)
cmake --build "$build" --parallel "$jobs"
ctest --test-dir "$build" --output-on-failure --parallel "$jobs" --label-exclude full --no-tests=error
echo "fast: built and tested in $(($(date +%s) - start)) s"
