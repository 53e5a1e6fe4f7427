#!/bin/sh
# Installs the build into a scratch prefix and builds the Debian package,
# and checks that both hold exactly the files tests/package-contents lists
# (the package with their permissions), that the manual page renders
# without warnings and that roffscript converts it, that the program is
# hardened, and that the package has its control fields, keeps no unneeded
# sections in the program and, where lintian is installed, passes lintian
# --pedantic without an error or a warning.
# Usage: package.sh BUILD_DIRECTORY [CONFIGURATION]
set -eu
build=$(cd "$1" && pwd)
config=${2-}
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
fail() { echo "package: $*" >&2; exit 1; }
contents=$(cd "$(dirname "$0")" && pwd)/package-contents
grep -v '^#' "$contents" >"$scratch/listed"

cmake --install "$build" --prefix "$scratch/prefix" >/dev/null
sed 's|^[^ ]* usr/||' "$scratch/listed" >"$scratch/listed.tree"
(cd "$scratch/prefix" && find . ! -type d | sed 's|^\./||' | LC_ALL=C sort) >"$scratch/tree"
diff -u "$scratch/listed.tree" "$scratch/tree" >&2 || fail "the install tree holds other files than $contents lists"
page=$scratch/prefix/share/man/man1/roffscript.1.gz
gzip -dc "$page" >"$scratch/roffscript.1" || fail "the manual page is not gzip-compressed"
version=$(sed -n 's/^set(CPACK_PACKAGE_VERSION "\(.*\)")$/\1/p' "$build/CPackConfig.cmake")
grep -q "roffscript $version" "$scratch/roffscript.1" || fail "the manual page does not show version $version"
if command -v groff >/dev/null; then
    warnings=$(groff -ww -man -z "$scratch/roffscript.1" 2>&1)
    [ -z "$warnings" ] || fail "groff warns about the manual page: $warnings"
fi
"$scratch/prefix/bin/roffscript" "$scratch/roffscript.1" >/dev/null || fail "roffscript does not convert its own manual page"

# The binary is checked rather than the flags, since a toolchain or a flag
# given later can undo the hardening the build asks for.
if command -v readelf >/dev/null; then
    program=$scratch/prefix/bin/roffscript
    readelf -hW "$program" | grep -q 'Type: *DYN' || fail "roffscript is not a position-independent executable"
    readelf -lW "$program" | grep -q ' GNU_RELRO ' || fail "roffscript has no read-only relocations"
    readelf -dW "$program" | grep -Eq 'FLAGS.*( BIND_NOW| NOW)' || fail "roffscript does not bind its symbols at start"
    symbols=$(readelf --dyn-syms -W "$program")
    echo "$symbols" | grep -q ' __stack_chk_fail@' || fail "roffscript has no stack protector"
    case $config in
    Release|RelWithDebInfo|MinSizeRel)
        echo "$symbols" | grep -Eq ' __[a-z]+_chk@' || fail "roffscript calls no fortified C library function" ;;
    esac
fi

if command -v dpkg-deb >/dev/null; then
    # Under a strict umask, as some packagers work, so that the package's
    # permissions are seen not to depend on it.
    (umask 077 && cd "$scratch" && cpack -G DEB --config "$build/CPackConfig.cmake" >/dev/null) || fail "cpack failed"
    deb=$(ls "$scratch"/roffscript_*.deb)
    dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { sub(/^\.\//, "", $6); print $1, $6 }' | LC_ALL=C sort -k2 >"$scratch/packaged"
    diff -u "$scratch/listed" "$scratch/packaged" >&2 || fail "the package holds other files than $contents lists"
    info=$(dpkg-deb -I "$deb")
    for field in "Package: roffscript" "Version: $version" "Maintainer: " "Depends: " "Description: "; do
        echo "$info" | grep -q "^ $field" || fail "the package has no '$field' field"
    done
    dpkg-deb -x "$deb" "$scratch/deb"
    if command -v readelf >/dev/null; then
        unneeded=$(readelf -SW "$scratch/deb/usr/bin/roffscript" | sed -n 's/.*\] \(\.comment\|\.note\|\.debug_[a-z]*\) .*/\1/p')
        [ -z "$unneeded" ] || fail "the packaged program keeps sections it does not need:" $unneeded
    fi
    echo "package: $(basename "$deb") holds exactly the files listed, with their permissions"
    if command -v lintian >/dev/null; then
        report=$(lintian --pedantic --fail-on error,warning "$deb" 2>"$scratch/lintian.err") ||
            fail "lintian rejects the package: $report $(cat "$scratch/lintian.err")"
        echo "package: lintian --pedantic finds no error or warning${report:+, only: $report}"
    else
        echo "package: lintian is not installed, so the package was not checked against Debian's policy"
    fi
fi
echo "package: install tree and manual page of version $version are complete"
