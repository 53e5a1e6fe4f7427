#!/bin/sh
# Checks the example Markdown renderer through roffscript: the sample page
# and the pages in tests/markdown (excerpts of real layouts: tags, lists,
# tables, links) come out exactly as their .md files, and cmark reads those
# as their .html files; a raw UTF-8 character and the same character
# numbered come out as the same UTF-8 bytes; a script line that tries to
# run a command of its own runs nothing and fails; endless nesting and
# strings or macros that double at each level end with a message and
# status 1; deep, long and font-changing input and large tables take
# linear time and little memory; a table never closed shows its rows.
# Exits 77, which ctest counts as skipped, where tclsh is missing, or where
# cmark is missing and all else passed.
# Usage: markdown.sh ROFFSCRIPT
set -u
command -v tclsh >/dev/null || { echo "markdown: no tclsh; skipped"; exit 77; }
roffscript=$1
top=$(cd "$(dirname "$0")/.." && pwd)
render() { tclsh "$top/examples/markdown.tcl"; }
failed=0
fail() { echo "markdown: $*" >&2; failed=1; }
tmp=$(mktemp -d) || exit 1
trap 'rm -rf "$tmp"' EXIT

"$roffscript" "$top/examples/greet.1" | render | diff -u "$top/tests/data/greet.md" - ||
    fail "examples/greet.1 does not render as tests/data/greet.md"
for page in "$top"/tests/markdown/*.1; do
    "$roffscript" "$page" | render | diff -u "${page%.1}.md" - ||
        fail "$page does not render as ${page%.1}.md"
done

got=$(printf 'caf\303\251 caf\\N'"'"'233'"'"'\n' | "$roffscript" | render)
[ "$got" = "$(printf 'caf\303\251 caf\303\251')" ] ||
    fail "raw and numbered characters differ: $got"

# Command substitution, a namespaced command and a variable: plain Tcl and
# a bare safe interpreter would each let one through.  50,000 nested
# brackets once overflowed Tcl's parser and killed tclsh with a signal.
brackets=$(awk 'BEGIN { s = "text "; for (i = 0; i < 50000; i++) s = s "["; print s }')
# A bare vertical tab would split a word where roffscript never writes one.
for line in 'text [string repeat A 3]' 'text [::tcl::string::repeat A 3]' 'text $tcl_version' "$brackets" \
    "$(printf 'macro B a\vb')"; do
    got=$(printf '%s\nnewline\n' "$line" | render 2>"$tmp/err")
    status=$?
    [ -z "$got" ] && [ $status -eq 1 ] && grep -q 'line 1: ' "$tmp/err" ||
        fail "a script ran its own command: $(echo "$line" | cut -c1-40) gave status $status, output: $got"
done

# A macro that calls itself and a string that holds itself.
for page in '.de a\n.a\n..\n.a\n' '.ds a x\\*a\n\\*a\n'; do
    printf "$page" | "$roffscript" | render >/dev/null 2>"$tmp/err"
    status=$?
    [ $status -eq 1 ] && grep -q 'nest deeper than' "$tmp/err" ||
        fail "endless nesting in $page gave status $status: $(cat "$tmp/err")"
done

# Strings and macros that each call the one below twice, 30 levels deep:
# whole, hours of work; stopped by the expansion budget within seconds,
# with the name of the one the page called.
awk 'BEGIN { print ".ds s1 ab"; for (i = 2; i <= 30; i++) printf ".ds s%d \\*[s%d]\\*[s%d]\n", i, i-1, i-1; print "\\*[s30]" }' > "$tmp/s30.1"
awk 'BEGIN { print ".de m1\nab\n.."; for (i = 2; i <= 30; i++) printf ".de m%d\n.m%d\n.m%d\n..\n", i, i-1, i-1; print ".m30" }' > "$tmp/m30.1"
for name in s30 m30; do
    "$roffscript" "$tmp/$name.1" | (ulimit -v 300000; timeout 20 tclsh "$top/examples/markdown.tcl") >/dev/null 2>"$tmp/err"
    status=$?
    [ $status -eq 1 ] && grep -q " $name expands past " "$tmp/err" ||
        fail "doubling $name gave status $status: $(cat "$tmp/err")"
done

# 40,000 nested .RS, each with a line, a paragraph of 40,000 lines, and
# one of 40,000 font changes: linear, they take about a second; quadratic,
# ten seconds or gigabytes.
awk 'BEGIN { print "macro TH A 1"; for (i = 0; i < 40000; i++) print "macro RS\ntext x\nnewline" }' > "$tmp/deep"
awk 'BEGIN { print "macro TH A 1"; for (i = 0; i < 40000; i++) print "font B\ntext bold" i "\nfont R\ntext \\ plain\nnewline" }' > "$tmp/fonts"
awk 'BEGIN { print "macro TH A 1"; for (i = 0; i < 40000; i++) print "text word\\ " i "\nnewline" }' > "$tmp/long"
for script in deep fonts long; do
    (ulimit -v 300000; timeout 10 tclsh "$top/examples/markdown.tcl" "$tmp/$script" > "$tmp/out") ||
        fail "the $script script took more than 10 s or 300 MB"
done
[ "$(wc -l < "$tmp/out")" -eq 3 ] || fail "the long paragraph did not come out as one"

# A table of 1,500 rows of 400 cells: written row by row it holds a row;
# held whole it took 100 MB.  A table never closed still shows its rows.
awk 'BEGIN { print ".TS"; s = "l"; for (j = 1; j < 400; j++) s = s " l"; print s "."
    for (i = 0; i < 1500; i++) { r = "c"; for (j = 1; j < 400; j++) r = r "\tc" j; print r }; print ".TE" }' |
    "$roffscript" > "$tmp/table"
(ulimit -v 100000; timeout 20 tclsh "$top/examples/markdown.tcl" "$tmp/table" > "$tmp/out") ||
    fail "the large table took more than 20 s or 100 MB"
got=$(printf '.TS\nl l.\na\tb\nc\td\n' | "$roffscript" | render 2>"$tmp/err")
[ $? -eq 0 ] && [ "$got" = "$(printf '| a | b |\n|---|---|\n| c | d |')" ] && grep -q 'no .TE' "$tmp/err" ||
    fail "a table with no .TE gave: $got $(cat "$tmp/err")"

[ $failed -eq 0 ] || exit 1
command -v cmark >/dev/null || { echo "markdown: no cmark; its check skipped"; exit 77; }
for md in "$top"/tests/markdown/*.md; do
    cmark --unsafe "$md" | diff -u "${md%.md}.html" - || fail "cmark does not read $md as ${md%.md}.html"
done
exit $failed
