#!/bin/sh
# Installs with apt-get what the full test run (tests/run-all.sh) needs and
# a slim Debian machine may lack: CMake, g++ and clang, GoogleTest, the
# libraries for compressed pages and xxHash, Tcl and cmark for the Markdown
# renderer, and lintian.  With --build, only what building the program
# needs.  Says what it installs; needs root only when something is missing.
# Usage: tests/install-deps.sh [--build]
set -eu
missing=
command -v cmake >/dev/null || missing="$missing cmake"
command -v g++ >/dev/null || missing="$missing g++"
[ -e /usr/include/zlib.h ] || missing="$missing zlib1g-dev"
[ -e /usr/include/bzlib.h ] || missing="$missing libbz2-dev"
[ -e /usr/include/lzma.h ] || missing="$missing liblzma-dev"
[ -e /usr/include/xxhash.h ] || missing="$missing libxxhash-dev"
if [ "${1:-}" != --build ]; then
    command -v clang++ >/dev/null || missing="$missing clang"
    command -v tclsh >/dev/null || missing="$missing tcl"
    command -v cmark >/dev/null || missing="$missing cmark"
    command -v lintian >/dev/null || missing="$missing lintian"
    [ -e /usr/lib/x86_64-linux-gnu/cmake/GTest/GTestConfig.cmake ] || [ -d /usr/src/googletest ] ||
        missing="$missing libgtest-dev"
fi
if [ -z "$missing" ]; then
    echo "install-deps: nothing missing"
    exit 0
fi
if [ "$(id -u)" -ne 0 ] || ! command -v apt-get >/dev/null; then
    echo "install-deps: missing:$missing; install them as root: apt-get install$missing" >&2
    exit 1
fi
echo "install-deps: installing$missing"
apt-get update -q
apt-get install -y -q $missing
