#!/bin/sh
# Runs roffscript over every manual page installed on this machine, as a
# file and through a pipe, and a compressed page also as it is installed,
# and checks what must hold for any page:
#   - the exit status is 0 or 1, and the same every way;
#   - standard output is empty exactly when the status is 1, and the same
#     script comes out of the file and of the pipe;
#   - a page that fails says why: the line limit, or an error with its line;
#     a page that converts says nothing;
#   - Tcl evaluates the script of a page that converts, in a safe interpreter
#     holding the eight commands at their exact number of arguments
#     (tests/scripts.tcl), so that every argument stays one word and every
#     line one command; skipped where tclsh is missing.
# Prints the counts.  Usage: manpages.sh ROFFSCRIPT [MANDIR]
set -u

if [ "${1:-}" = --check ]; then
    # One batch of pages: prints one word per page (converted, too-long,
    # errors), or "FAIL page: reason" and a failing status; then one tclsh
    # evaluates the scripts of the pages converted, printing "evaluated" or
    # "FAIL page: reason" for each.
    shift
    roffscript=$1
    shift
    work=$(mktemp -d) || exit 2
    trap 'rm -rf "$work"' EXIT
    failed=0
    n=0
    for page in "$@"; do
        case $page in
            *.gz) gzip -dc -- "$page" ;;
            *.xz) xz -dc -- "$page" ;;
            *.bz2) bzip2 -dc -- "$page" ;;
            *.zst) zstd -dcq -- "$page" ;;
            *) cat -- "$page" ;;
        esac >"$work/page" 2>/dev/null || { echo unreadable; continue; }
        "$roffscript" "$work/page" >"$work/out.file" 2>"$work/err.file"
        file_status=$?
        cat "$work/page" | "$roffscript" >"$work/out.pipe" 2>"$work/err.pipe"
        pipe_status=$?
        why=
        case $page in
            *.gz|*.xz|*.bz2)
                "$roffscript" "$page" >"$work/out.packed" 2>"$work/err.packed"
                if [ $? -ne $file_status ] || ! cmp -s "$work/out.file" "$work/out.packed" ||
                   ! cmp -s "$work/err.file" "$work/err.packed"; then
                    why="the compressed page gives other output than the page it holds"
                fi ;;
        esac
        if [ -n "$why" ]; then
            :
        elif [ $file_status -gt 1 ]; then
            why="status $file_status"
        elif [ $file_status -ne $pipe_status ]; then
            why="status $file_status from the file, $pipe_status from the pipe"
        elif ! cmp -s "$work/out.file" "$work/out.pipe" || ! cmp -s "$work/err.file" "$work/err.pipe"; then
            why="the file and the pipe give different output"
        elif [ $file_status -eq 1 ] && [ -s "$work/out.file" ]; then
            why="status 1 with a script"
        elif [ $file_status -eq 0 ] && [ -s "$work/err.file" ]; then
            why="status 0 with messages"
        elif [ $file_status -eq 0 ]; then
            echo converted
            n=$((n + 1))
            mv "$work/out.file" "$work/$n.script"
            printf '%s\n%s\n' "$page" "$work/$n.script" >>"$work/list"
        elif grep -q '^Too long line\. Max is 3999 chars\.$' "$work/err.file"; then
            echo too-long
        elif grep -q ' on line [0-9][0-9]*\.$' "$work/err.file"; then
            echo errors
        else
            why="status 1 without a reason: $(head -n 1 "$work/err.file")"
        fi
        if [ -n "$why" ]; then
            echo "FAIL $page: $why"
            failed=1
        fi
    done
    if [ -s "$work/list" ] && command -v tclsh >/dev/null; then
        tclsh "$(dirname "$0")/scripts.tcl" "$work/list" || failed=1
    fi
    exit $failed
fi

roffscript=${1:?usage: manpages.sh ROFFSCRIPT [MANDIR]}
# In a sanitizer build the leak checker scans the process at every exit,
# which costs more than converting a page, forty thousand times over.  The
# program takes nothing from the heap, and the suite's own sanitizer runs
# and valgrind look for leaks; here the other checks are what matter.
ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0
export ASAN_OPTIONS
mandir=${2:-/usr/share/man}
case $roffscript in /*) ;; *) roffscript=$(pwd)/$roffscript ;; esac
list=$(mktemp) || exit 2
results=$(mktemp) || exit 2
trap 'rm -f "$list" "$results"' EXIT
find "$mandir"/man* -type f 2>/dev/null | sort >"$list"
pages=$(wc -l <"$list")
if [ "$pages" -eq 0 ]; then
    echo "manpages: no manual pages under $mandir; skipped"
    exit 0
fi
tr '\n' '\0' <"$list" | xargs -0 -n 100 -P "$(nproc 2>/dev/null || echo 2)" sh "$0" --check "$roffscript" >"$results"
status=$?
converted=$(grep -c '^converted$' "$results")
too_long=$(grep -c '^too-long$' "$results")
errors=$(grep -c '^errors$' "$results")
unreadable=$(grep -c '^unreadable$' "$results")
evaluated=$(grep -c '^evaluated$' "$results")
grep '^FAIL ' "$results" | head -n 20
failures=$(grep -c '^FAIL ' "$results")
echo "manpages: $pages pages, $converted converted, $too_long rejected by the line limit," \
     "$errors rejected for translation errors, $unreadable unreadable, $failures failed"
if command -v tclsh >/dev/null; then
    echo "manpages: Tcl evaluated $evaluated scripts"
else
    echo "manpages: no tclsh, so Tcl evaluated no script"
fi
[ "$status" -eq 0 ] && [ "$failures" -eq 0 ]
