#!/bin/sh
# Checks the example Markdown renderer through roffscript: the sample page
# comes out exactly as tests/data/greet.md; a raw UTF-8 character and the
# same character numbered come out as the same UTF-8 bytes; and a script
# line that tries to run a command of its own runs nothing and fails.  Exits 77, which
# ctest counts as skipped, where tclsh is missing.
# Usage: markdown.sh ROFFSCRIPT
set -u
command -v tclsh >/dev/null || { echo "markdown: no tclsh; skipped"; exit 77; }
roffscript=$1
top=$(cd "$(dirname "$0")/.." && pwd)
render() { tclsh "$top/examples/markdown.tcl"; }
failed=0
fail() { echo "markdown: $*" >&2; failed=1; }

"$roffscript" "$top/examples/greet.1" | render | diff -u "$top/tests/data/greet.md" - ||
    fail "examples/greet.1 does not render as tests/data/greet.md"

got=$(printf 'caf\303\251 caf\\N'"'"'233'"'"'\n' | "$roffscript" | render)
[ "$got" = "$(printf 'caf\303\251 caf\303\251')" ] ||
    fail "raw and numbered characters differ: $got"

# Command substitution, a namespaced command and a variable: plain Tcl and
# a bare safe interpreter would each let one through.
for line in 'text [string repeat A 3]' 'text [::tcl::string::repeat A 3]' 'text $tcl_version'; do
    got=$(printf '%s\nnewline\n' "$line" | render 2>/dev/null)
    status=$?
    [ -z "$got" ] && [ $status -eq 1 ] ||
        fail "a script ran its own command: $line gave status $status, output: $got"
done
exit $failed
