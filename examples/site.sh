#!/bin/sh
# site.sh builds a site of Markdown from a manual tree: every page rendered
# by roffscript and markdown.tcl, laid out as the tree is (man1/ls.1.md,
# de/man1/ls.1.md), its cross-references linked to the pages they name,
# an index per section and a front page, OUTDIR/index.md.  make does the
# work, in parallel and only where something changed; see the usage below.
set -eu
usage() {
    cat <<USAGE
usage: site.sh [-jN] [MANTREE [OUTDIR]]

Builds the site of the manual tree MANTREE (by default /usr/share/man) in
OUTDIR (by default site), with N jobs at a time (by default one per core),
and what it needs to bring it up to date in OUTDIR.build.  Run it again
after pages changed: it renders what changed.

roffscript is \$ROFFSCRIPT if set, else build/roffscript beside this
script's directory, else roffscript on PATH.  It needs tclsh and GNU make
(Debian: tcl, make).
USAGE
    exit 2
}
jobs=
case ${1-} in
-j?*) jobs=$1; shift ;;
-h|--help|-*) usage ;;
esac
[ $# -le 2 ] || usage
tree=${1:-/usr/share/man}
out=${2:-site}
here=$(cd "$(dirname "$0")" && pwd)

if [ -n "${ROFFSCRIPT-}" ]; then
    roffscript=$ROFFSCRIPT
elif [ -x "$here/../build/roffscript" ]; then
    roffscript=$here/../build/roffscript
else
    roffscript=$(command -v roffscript) || { echo "site: no roffscript: set ROFFSCRIPT" >&2; exit 2; }
fi
case $roffscript in
*/*) ;;
*) roffscript=$(command -v "$roffscript") || { echo "site: no roffscript at $ROFFSCRIPT" >&2; exit 2; } ;;
esac
[ -x "$roffscript" ] || { echo "site: $roffscript: not a program" >&2; exit 2; }
roffscript=$(cd "$(dirname "$roffscript")" && pwd)/$(basename "$roffscript")
for tool in tclsh make; do
    command -v $tool >/dev/null || { echo "site: no $tool (Debian: apt-get install tcl make)" >&2; exit 2; }
done
[ -n "$jobs" ] || jobs=-j$(nproc 2>/dev/null || echo 2)

mkdir -p "$out"
out=$(cd "$out" && pwd)
build=$out.build
mkdir -p "$build"
tclsh "$here/site-scan.tcl" "$tree" "$build" "$roffscript" "$here"/markdown*.tcl "$here"/site-*.tcl
SITE_OUT=$out exec make -r --no-print-directory -C "$build" "$jobs"
