#!/bin/sh
# Checks the README's consumer, examples/outline.tcl: the sample page's
# outline comes out as tests/data/greet.outline, and a forged script line
# of 50,000 nested brackets, which evaluated as a script overflows Tcl's
# parser and kills tclsh, is taken apart as a list and runs nothing; and
# the README shows the program as it is, below its opening comment.
# Exits 77, which ctest counts as skipped, where tclsh is missing.
# Usage: outline.sh ROFFSCRIPT
set -u
command -v tclsh >/dev/null || { echo "outline: no tclsh; skipped"; exit 77; }
top=$(cd "$(dirname "$0")/.." && pwd)
outline="$top/examples/outline.tcl"
failed=0
"$1" "$top/examples/greet.1" | tclsh "$outline" | diff -u "$top/tests/data/greet.outline" - ||
    { echo "outline: examples/greet.1 does not give tests/data/greet.outline" >&2; failed=1; }
awk 'BEGIN { s = "text "; for (i = 0; i < 50000; i++) s = s "["; print s; print "newline" }' |
    tclsh "$outline" >/dev/null
status=$?
[ $status -eq 0 ] || { echo "outline: nested brackets gave status $status" >&2; failed=1; }
shown=$(mktemp) || exit 1
trap 'rm -f "$shown"' EXIT
sed -n '/^```tcl$/,/^```$/p' "$top/README.md" | sed '1d;$d' >"$shown"
sed '1,/^[^#]/{/^#/d}' "$outline" | diff -u "$shown" - ||
    { echo "outline: the README's example is not examples/outline.tcl" >&2; failed=1; }
exit $failed
