#!/bin/sh
# Evaluates with Tcl the script of every installed manual page that
# roffscript converts, each in a fresh safe interpreter that holds nothing
# but the eight commands of a script, each taking exactly the arguments it
# is given: one for text, font and char, none for dash, tab and newline, a
# name and any words for macro and macro2.  A Tcl error means an argument
# did not stay one word; a count of commands other than the count of lines
# means a line did not hold exactly one command.  Prints the counts.
# Usage: tclscripts.sh ROFFSCRIPT [MANDIR]
set -u

if [ "${1:-}" = --batch ]; then
    # One batch of pages: converts each into the work directory, then one
    # tclsh evaluates all their scripts.  Prints "rejected" for a page
    # roffscript refuses, and per script "evaluated" or "FAIL page: reason".
    shift
    roffscript=$1
    shift
    work=$(mktemp -d) || exit 2
    trap 'rm -rf "$work"' EXIT
    n=0
    for page in "$@"; do
        n=$((n + 1))
        # roffscript reads the page as it is installed, compressed or not.
        if "$roffscript" "$page" >"$work/$n.script" 2>/dev/null; then
            printf '%s\n%s\n' "$page" "$work/$n.script" >>"$work/list"
        else
            echo rejected
        fi
    done
    [ -s "$work/list" ] || exit 0
    cat >"$work/check.tcl" <<'EOF'
proc macro {name args} {incr ::commands}
proc macro2 {name args} {incr ::commands}
proc text {word} {incr ::commands}
proc font {byte} {incr ::commands}
proc char {name} {incr ::commands}
proc dash {} {incr ::commands}
proc tab {} {incr ::commands}
proc newline {} {incr ::commands}
set f [open [lindex $argv 0]]
set list [split [string trimright [read $f] \n] \n]
close $f
set status 0
foreach {page file} $list {
    # Bytes as they are, each one character: Tcl's parser splits words on
    # ASCII bytes only, so no decoding can change what it sees.
    set f [open $file rb]
    set script [read $f]
    close $f
    set safe [interp create -safe]
    $safe eval {unset {*}[info globals]}
    set spaces [$safe eval {namespace children ::}]
    foreach cmd [$safe eval {info commands}] {$safe hide $cmd}
    $safe invokehidden namespace delete {*}$spaces
    foreach cmd {macro macro2 text font char dash tab newline} {
        interp alias $safe $cmd {} $cmd
    }
    set ::commands 0
    set lines [regexp -all \n $script]
    if {[catch {$safe eval $script} err]} {
        # Again line by line, to name the first line that fails.
        set where "the whole script"
        set n 0
        foreach line [split $script \n] {
            incr n
            if {[catch {$safe eval $line} lineerr]} {
                set where "line $n, [string range $line 0 99]"
                set err $lineerr
                break
            }
        }
        puts "FAIL $page: $where: $err"
        set status 1
    } elseif {$::commands != $lines} {
        puts "FAIL $page: $::commands commands on $lines lines"
        set status 1
    } else {
        puts evaluated
    }
    interp delete $safe
}
exit $status
EOF
    tclsh "$work/check.tcl" "$work/list"
    exit
fi

roffscript=${1:?usage: tclscripts.sh ROFFSCRIPT [MANDIR]}
mandir=${2:-/usr/share/man}
command -v tclsh >/dev/null || { echo "tclscripts: tclsh is not installed" >&2; exit 2; }
case $roffscript in /*) ;; *) roffscript=$(pwd)/$roffscript ;; esac
list=$(mktemp) || exit 2
results=$(mktemp) || exit 2
trap 'rm -f "$list" "$results"' EXIT
find "$mandir"/man* -type f 2>/dev/null | sort >"$list"
pages=$(wc -l <"$list")
if [ "$pages" -eq 0 ]; then
    echo "tclscripts: no manual pages under $mandir; skipped"
    exit 0
fi
# One tclsh per batch of 200 pages keeps its start-up cost small.
tr '\n' '\0' <"$list" | xargs -0 -n 200 -P "$(nproc 2>/dev/null || echo 2)" sh "$0" --batch "$roffscript" >"$results"
status=$?
evaluated=$(grep -c '^evaluated$' "$results")
rejected=$(grep -c '^rejected$' "$results")
grep '^FAIL ' "$results" | head -n 20
errors=$(grep -c '^FAIL ' "$results")
echo "tclscripts: $pages pages, $evaluated scripts evaluated, $rejected rejected by roffscript, $errors errors"
[ "$status" -eq 0 ] && [ "$errors" -eq 0 ]
