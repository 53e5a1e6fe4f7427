#!/bin/sh
# Builds roffscript and runs every test.  This is the README's test command
# and exactly what CI runs.
set -eu
cd "$(dirname "$0")/.."

cmake -S . -B build
cmake --build build --parallel
ctest --test-dir build --output-on-failure --parallel 2
