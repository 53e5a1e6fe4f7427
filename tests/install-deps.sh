#!/bin/sh
# Installs with apt-get what the full test run (tests/run-all.sh) needs and
# a slim Debian machine may lack: CMake, g++ and clang, GoogleTest, the
# libraries for compressed pages and xxHash, Tcl and cmark for the Markdown
# renderer, and lintian.  With --build, only what configuring and building
# the program and its tests needs: CMake 3.25 or newer, make, g++, GoogleTest
# and the libraries.  Says what it installs; needs root only when something
# is missing.
# Usage: tests/install-deps.sh [--build]
set -eu
missing=
# Whether one of the files the patterns name exists.
exists() {
    for file in "$@"; do
        [ -e "$file" ] && return 0
    done
    return 1
}
if command -v cmake >/dev/null; then
    version=$(cmake --version | sed -n 's/^cmake version \([0-9]*\.[0-9]*\).*/\1/p')
    major=${version%%.*}
    minor=${version#*.}
    if [ "${major:-0}" -lt 3 ] || { [ "$major" -eq 3 ] && [ "${minor:-0}" -lt 25 ]; }; then
        echo "install-deps: cmake $version is older than 3.25, which the build needs" >&2
        exit 1
    fi
else
    missing="$missing cmake"
fi
command -v make >/dev/null || missing="$missing make"
command -v g++ >/dev/null || missing="$missing g++"
[ -e /usr/include/zlib.h ] || missing="$missing zlib1g-dev"
[ -e /usr/include/bzlib.h ] || missing="$missing libbz2-dev"
[ -e /usr/include/lzma.h ] || missing="$missing liblzma-dev"
[ -e /usr/include/xxhash.h ] || missing="$missing libxxhash-dev"
# The tests are configured with the program (BUILD_TESTING is on), and
# find_package(GTest) wants the header and the library, which the sources
# alone (Debian's googletest) do not give.
{ [ -e /usr/include/gtest/gtest.h ] && exists /usr/lib/*/libgtest.a /usr/lib/*/libgtest.so /usr/lib/libgtest.*; } ||
    missing="$missing libgtest-dev"
if [ "${1:-}" != --build ]; then
    command -v clang++ >/dev/null || missing="$missing clang"
    command -v tclsh >/dev/null || missing="$missing tcl"
    command -v cmark >/dev/null || missing="$missing cmark"
    command -v lintian >/dev/null || missing="$missing lintian"
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
