#!/bin/sh
# Checks examples/site.sh on a small tree made here: cross-references
# found as man finds pages (a longer section, an alias, a .so page, the
# page's own locale, its language, then English) and text where no page is; a name make
# would misread; the indexes and the list of pages not shown, a refused
# page with roffscript's message; a page rendered in the build as
# markdown.tcl renders it alone; a rebuild after one page changed renders
# that page and the .so page showing it, no other; a page added turns a reference into a link without
# rendering the page that makes it, a page removed leaves the site.
# With cmark, every link of the site finds a file and every page is
# reached from the front page.
# Exits 77, which ctest counts as skipped, where tclsh or make is missing,
# or where cmark is missing and all else passed.
# Usage: site.sh ROFFSCRIPT
set -u
for tool in tclsh make; do
    command -v $tool >/dev/null || { echo "site: no $tool; skipped"; exit 77; }
done
ROFFSCRIPT=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
export ROFFSCRIPT
top=$(cd "$(dirname "$0")/.." && pwd)
failed=0
fail() { echo "site: $*" >&2; failed=1; }
tmp=$(mktemp -d) || exit 1
trap 'rm -rf "$tmp"' EXIT
cd "$tmp" || exit 1
build() {
    "$top/examples/site.sh" -j2 tree site >"$tmp/err" 2>&1 || { echo "site: site.sh failed: $(cat "$tmp/err")" >&2; exit 1; }
}
has() { grep -qF -- "$2" "site/$1" || fail "site/$1 lacks $2"; }
lacks() { ! grep -qF -- "$2" "site/$1" || fail "site/$1 has $2"; }

mkdir -p tree/man1 tree/man3 tree/man7 tree/de/man1 tree/pt/man1 tree/pt_BR/man1
# A page, its title, its NAME line, the pages it names.  A comment makes
# it larger than a .so page can be, so that a change to it leaves the
# list of the tree's names as it was and is seen by make alone.
comment=$(printf '.\\" %070d\n' 1 2 3 4 5 6 7 8)
page() {
    f=tree/$1
    printf '%s\n.TH %s\n.SH NAME\n%s\n.SH SEE ALSO\n' "$comment" "$2" "$3" > "$f"
    shift 3
    for r; do printf '.BR %s ,\n' "$r"; done >> "$f"
}
page man1/ls.1 'LS 1' 'ls \- list directory contents' \
    'dir (1)' 'rpc_soc (3)' 'dirent (3)' 'openssl-x509 (1)' 'nowhere (1)' 'intro (7)'
page man1/openssl-x509.1ssl 'X509 1ssl' 'openssl-x509 \- certificates'
page man3/rpc_soc.3t 'RPC 3t' 'rpc_soc \- remote calls' 'ls (1)'
gzip -n tree/man3/rpc_soc.3t
page man7/intro.7 'INTRO 7' 'intro \- the manual'
page de/man1/ls.1 'LS 1' 'ls \- Verzeichnisinhalte auflisten' 'intro (7)' 'ls (1)'
page pt/man1/cp.1 'CP 1' 'cp \- copia arquivos'
page pt_BR/man1/mv.1 'MV 1' 'mv \- move arquivos' 'cp (1)'
page 'man1/a b$c#d:e%f;g=h.1' 'ODD 1' 'odd \- a name make would misread'
printf '.so man1/ls.1\n' > tree/man1/dir.1
ln -s ../man1/ls.1 tree/man3/dirent.3
printf '.TH BAD 1\n.SH NAME\nbad \\- refused\nx\\(' > tree/man1/bad.1
echo x > tree/man1/README
build

# Cross-references.
has man1/ls.1.md '(../man3/rpc_soc.3t.md)'
has man1/ls.1.md '(openssl-x509.1ssl.md)'
[ "$(grep -o '(ls.1.md)' site/man1/ls.1.md | wc -l)" -eq 2 ] || fail "dir(1) and dirent(3) do not both lead to ls.1.md"
has man1/ls.1.md 'nowhere**(1)'
lacks man1/ls.1.md 'nowhere.1.md'
has de/man1/ls.1.md '(../../man7/intro.7.md)'
has de/man1/ls.1.md '(ls.1.md)'
has pt_BR/man1/mv.1.md '(../../pt/man1/cp.1.md)'
has man3/rpc_soc.3t.md '(../man1/ls.1.md)'
# A .so page shows the page it includes; a link is no page.
cmp -s site/man1/dir.1.md site/man1/ls.1.md || fail "dir.1.md does not show ls.1"
[ ! -e site/man3/dirent.3.md ] || fail "the link dirent.3 is a page of the site"
# In the build, a page renders as markdown.tcl renders it alone.
"$ROFFSCRIPT" tree/man7/intro.7 | tclsh "$top/examples/markdown.tcl" | cmp -s - site/man7/intro.7.md ||
    fail "intro.7 differs from markdown.tcl's own rendering"

# Indexes and the pages not shown.
has man1/index.md '- [ls](ls.1.md) (1) - list directory contents'
has man1/index.md '(a%20b%24c%23d%3Ae%25f%3Bg%3Dh.1.md) (1) - a name make would misread'
has man3/index.md '- [dirent](../man1/ls.1.md) (3) - list directory contents'
has de/man1/index.md '- [ls](ls.1.md) (1) - Verzeichnisinhalte auflisten'
has man1/index.md '- [bad](bad.1.md) (1) - *(not shown'
has refused.md '(man1/bad.1.md) (1), man1/bad.1, by roffscript: Bad \\\( sequence on line 4.'
has refused.md 'man1/README: not named NAME.SECTION'
has man1/bad.1.md 'Bad \( sequence on line 4.'
for dir in man1 man3 man7 de/man1; do has index.md "($dir/index.md)"; done

# One page changed: it is rendered, and the .so page that shows it, no
# other; the indexes its NAME line is not in stay as they were.
ls -i site/man7/index.md site/de/man1/index.md site/man7/intro.7.md > before
sed -i 's/list directory contents/list a directory/' tree/man1/ls.1
build
grep -q '^site: 2 pages rendered' err || fail "one page changed, then: $(tail -1 err)"
has man3/index.md '- [dirent](../man1/ls.1.md) (3) - list a directory'
ls -i site/man7/index.md site/de/man1/index.md site/man7/intro.7.md | cmp -s before - ||
    fail "files that did not change were written again"
build
grep -q 'Nothing to be done' err || fail "nothing changed, then: $(cat err)"

# A page added: the reference to it becomes a link, its maker not rendered.
page man1/nowhere.1 'NOWHERE 1' 'nowhere \- now here'
build
grep -q '^site: 1 pages rendered' err || fail "one page added, then: $(tail -1 err)"
has man1/ls.1.md '(nowhere.1.md)'
# A page removed: gone from the site, its index and its links.
rm tree/man3/rpc_soc.3t.gz
build
[ ! -e site/man3/rpc_soc.3t.md ] || fail "a page removed is still in the site"
lacks man3/index.md rpc_soc
lacks man1/ls.1.md rpc_soc.3t.md

[ $failed -eq 0 ] || exit 1
command -v cmark >/dev/null || { echo "site: no cmark; its check skipped"; exit 77; }
got=$(tclsh "$top/tests/site-links.tcl" site)
case $got in
*" 0 to none"*" 0 pages not reached"*) ;;
*) fail "links that find nothing or pages not reached: $got" ;;
esac
exit $failed
