#!/bin/sh
# Installs the build into a scratch prefix and builds the Debian package,
# and checks that both hold the program and its manual page, that the page
# renders without warnings and that roffscript converts it.
# Usage: package.sh BUILD_DIRECTORY
set -eu
build=$(cd "$1" && pwd)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
fail() { echo "package: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$scratch/prefix" >/dev/null
[ -x "$scratch/prefix/bin/roffscript" ] || fail "no bin/roffscript in the install tree"
page=$scratch/prefix/share/man/man1/roffscript.1.gz
[ -f "$page" ] || fail "no share/man/man1/roffscript.1.gz in the install tree"
gzip -dc "$page" >"$scratch/roffscript.1" || fail "the manual page is not gzip-compressed"
version=$(sed -n 's/^set(CPACK_PACKAGE_VERSION "\(.*\)")$/\1/p' "$build/CPackConfig.cmake")
grep -q "roffscript $version" "$scratch/roffscript.1" || fail "the manual page does not show version $version"
if command -v groff >/dev/null; then
    warnings=$(groff -ww -man -z "$scratch/roffscript.1" 2>&1)
    [ -z "$warnings" ] || fail "groff warns about the manual page: $warnings"
fi
"$scratch/prefix/bin/roffscript" "$scratch/roffscript.1" >/dev/null || fail "roffscript does not convert its own manual page"

if command -v dpkg-deb >/dev/null; then
    (cd "$scratch" && cpack -G DEB --config "$build/CPackConfig.cmake" >/dev/null) || fail "cpack failed"
    deb=$(ls "$scratch"/roffscript_*.deb)
    contents=$(dpkg-deb -c "$deb")
    echo "$contents" | grep -q ' ./usr/bin/roffscript$' || fail "the package has no /usr/bin/roffscript"
    echo "$contents" | grep -q ' ./usr/share/man/man1/roffscript.1.gz$' || fail "the package has no compressed manual page"
    info=$(dpkg-deb -I "$deb")
    for field in "Package: roffscript" "Version: $version" "Maintainer: " "Depends: " "Description: "; do
        echo "$info" | grep -q "^ $field" || fail "the package has no '$field' field"
    done
    echo "package: $(basename "$deb") holds /usr/bin/roffscript and its manual page"
fi
echo "package: install tree and manual page of version $version are complete"
