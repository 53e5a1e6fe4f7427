#!/bin/sh
# Checks the example Markdown renderer through roffscript: the sample page
# and the pages in tests/markdown (excerpts of real layouts: tags, lists,
# tables, links) come out exactly as their .md files, and cmark reads those
# as their .html files; a raw UTF-8 character and the same character
# numbered come out as the same UTF-8 bytes; a script line that tries to
# run a command of its own runs nothing and fails; endless nesting and
# strings or macros that double at each level end with a message and
# status 1; deep, long and font-changing input and large tables take
# linear time and little memory, and no-fill blocks and paragraphs memory
# that does not grow with them; output past its budget ends the run with
# a message; a table never closed shows its rows; valid roff that Tcl
# would read otherwise is no error.  Then, with cmark, pages that try to
# put markup, script or a foreign link into the rendered page, and random
# hostile pages (tests/markdown/hostile.tcl), give only the renderer's own
# elements and link targets, and lose nothing in cmark's safe mode.  Work is bounded by CPU time, never by the clock.
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
    "$roffscript" "$tmp/$name.1" | (ulimit -v 300000; ulimit -t 20; tclsh "$top/examples/markdown.tcl") >/dev/null 2>"$tmp/err"
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
    (ulimit -v 300000; ulimit -t 10; tclsh "$top/examples/markdown.tcl" "$tmp/$script" > "$tmp/out") ||
        fail "the $script script took more than 10 s of CPU or 300 MB"
done
[ "$(grep -c '^$' "$tmp/out")" -eq 1 ] || fail "the long paragraph did not come out as one"

# A no-fill block and a paragraph of 20,000 lines of 500 characters, 10 MB
# each: written as they come they stay within 20 MB of address space (15
# do); held whole, they did not.
for script in nf fi; do
    awk -v m=$script 'BEGIN { print "macro TH A 1\nmacro " m
        for (i = 0; i < 20000; i++) printf "text %0500d\nnewline\n", i }' > "$tmp/$script"
    (ulimit -v 20000; ulimit -t 20; tclsh "$top/examples/markdown.tcl" "$tmp/$script" > "$tmp/out") ||
        fail "the 10 MB .$script script took more than 20 MB"
done

# A table of 1,500 rows of 400 cells: written row by row it holds a row;
# held whole it took 100 MB.  A table never closed still shows its rows.
awk 'BEGIN { print ".TS"; s = "l"; for (j = 1; j < 400; j++) s = s " l"; print s "."
    for (i = 0; i < 1500; i++) { r = "c"; for (j = 1; j < 400; j++) r = r "\tc" j; print r }; print ".TE" }' |
    "$roffscript" > "$tmp/table"
(ulimit -v 100000; ulimit -t 20; tclsh "$top/examples/markdown.tcl" "$tmp/table" > "$tmp/out") ||
    fail "the large table took more than 20 s of CPU or 100 MB"
got=$(printf '.TS\nl l.\na\tb\nc\td\n' | "$roffscript" | render 2>"$tmp/err")
[ $? -eq 0 ] && [ "$got" = "$(printf '| a | b |\n|---|---|\n| c | d |')" ] && grep -q 'no .TE' "$tmp/err" ||
    fail "a table with no .TE gave: $got $(cat "$tmp/err")"

# Everything written counts against a budget of 64 bytes for each byte of
# the script and a million more.  A 5 KB page whose macro holds a table of
# 1,990 columns and 1,001 empty rows, called 130 times, wrote 1.5 GB; a
# 24 KB page of four tables of 1,500 columns, 119 MB.
awk 'BEGIN { print ".TH T 1\n.de T\n.TS"; s = "l"; for (j = 1; j < 1990; j++) s = s " l"; print s "."
    for (i = 0; i < 1001; i++) print ""; print ".TE\n.."; for (i = 0; i < 130; i++) print ".T" }' > "$tmp/padded.1"
awk 'BEGIN { print ".TH T 1"; for (t = 0; t < 4; t++) { print ".TS"; s = "l"; for (j = 1; j < 1500; j++) s = s " l"
    print s "."; for (i = 0; i < 1500; i++) print "x"; print ".TE" } }' > "$tmp/wide.1"
for page in padded wide; do
    "$roffscript" "$tmp/$page.1" > "$tmp/script"
    size=$(wc -c < "$tmp/script")
    (ulimit -t 20; tclsh "$top/examples/markdown.tcl" "$tmp/script") 2>"$tmp/err" | wc -c > "$tmp/n"
    [ "$(cat "$tmp/n")" -le $((64 * size + 1000000)) ] && grep -q 'writes past .* bytes, 64 for each byte' "$tmp/err" ||
        fail "the $page page wrote $(cat "$tmp/n") bytes of a $size-byte script: $(cat "$tmp/err")"
done

# Valid roff that Tcl would read otherwise: leading zeros (octal to Tcl),
# Unicode digits, an argument mdoc does not know, 1,500 signs, a number
# past 64 bits; none is an error, and the numbers are roff's.
minus=$(awk 'BEGIN { for (i = 0; i < 1500; i++) printf "-"; print "" }')
printf '.nr x 08\n\\nx\n.if 09 nine\n.de m\n\\$(08 \\$(\331\241\331\241\n..\n.m a b c d e f g h\n' > "$tmp/valid.1"
printf '\\[char0999]\n.Bf -foo\n.nr y %s3\n\\ny\n.nr z 99999999999999999999*9\n\\nz\n' "$minus" >> "$tmp/valid.1"
got=$("$roffscript" "$tmp/valid.1" | render 2>"$tmp/err")
[ $? -eq 0 ] && [ "$(echo $got)" = "8 nine h 3 2147483647" ] || fail "valid roff gave: $got $(cat "$tmp/err")"

[ $failed -eq 0 ] || exit 1
command -v cmark >/dev/null || { echo "markdown: no cmark; its check skipped"; exit 77; }
for md in "$top"/tests/markdown/*.md; do
    cmark --unsafe "$md" | diff -u "${md%.md}.html" - || fail "cmark does not read $md as ${md%.md}.html"
done

# Pages made to attack the rendered page, and random ones: in the HTML of cmark
# --unsafe only the renderer's elements and targets (hostile.tcl judges),
# and under cmark's safe mode nothing dropped.
hostile="tclsh $top/tests/markdown/hostile.tcl"
mkdir "$tmp/h"
printf '.TH T 1\n.SH A\n.nf\n.TP\n<img src=x onerror=alert(1)>\nbody\n' > "$tmp/h/tp.1"
printf '.TH T 1\n.SH\n.nf\n<img src=x onerror=alert(1)>\n' > "$tmp/h/sh.1"
printf '.TH T 1\n.nf\n.TS\nl l.\n<img src=x onerror=alert(1)>\tb\n.TE\n' > "$tmp/h/ts.1"
printf '.Dd x\n.Dt T 1\n.Sh A\n.Bd -literal\n.Dt <img/src=x/onerror=alert(1)> 1\n.Bl -tag\n.It <img src=x onerror=alert(1)>\nx\n.El\n.Ed\n' > "$tmp/h/it.1"
printf '.TH T 1\n.SH A\n.UR "img src=x onerror=alert(1)"\n\\fBls\\fR(1)\n.UE\n' > "$tmp/h/ur.1"
printf '.TH T 1\n.SH A\n.IP \\(bu\nitem\n.nf\ncode\r<script>alert(1)</script>\n' > "$tmp/h/cr.1"
printf '.TH T 1\n.SH A\n.UR javascript:alert(1)\nx\n.UE\n\\fBjavascript:x\\fR(1) \\fBhttp:attacker.example\\fR(1)\n' > "$tmp/h/js.1"
printf '.Dd x\n.Dt T 1\n.Sh A\n.Xr javascript:name+ 1\n' > "$tmp/h/xr.1"
printf '.TH T 1\n.TS\nl s l.\nspans\tc\na\tb\tc\n.TE\n.SH A\nfoo\\fB(bar)\\fRbaz\n' > "$tmp/h/safe.1"
$hostile pages 31 12 "$tmp/h"
for page in "$tmp"/h/*.1; do
    # roffscript may refuse a random page (a \( cut short); not one made above.
    if ! "$roffscript" "$page" > "$tmp/script" 2>/dev/null; then
        case $page in */[0-9]*.1) ;; *) fail "roffscript failed on hostile page $page" ;; esac
        continue
    fi
    size=$(wc -c < "$tmp/script")
    (ulimit -t 20; tclsh "$top/examples/markdown.tcl" "$tmp/script") > "${page%.1}.md" 2>"$tmp/err"
    status=$?
    [ $status -eq 0 ] || grep -q 'expands past\|nests\? deeper than\|writes past' "$tmp/err" ||
        fail "hostile page $page: status $status, $(cat "$tmp/err")"
    [ "$(wc -c < "${page%.1}.md")" -le $((64 * size + 1000000)) ] || fail "hostile page $page wrote past its budget"
    cmark --unsafe "${page%.1}.md" > "${page%.1}.html"
    cmark "${page%.1}.md" > "${page%.1}.safe"
done
$hostile judge "$tmp"/h/*.html "$tmp"/h/*.safe || fail "hostile pages made markup of their own (above)"
exit $failed
