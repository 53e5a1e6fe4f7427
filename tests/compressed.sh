#!/bin/sh
# Compressed input through the real binary: each format read as a file and
# through a pipe gives exactly the script of the page it holds; data cut
# short or damaged, and formats that are not read, fail with their reason,
# status 1 and no script.  Usage: compressed.sh ROFFSCRIPT PAGE [FAILING_CALL]
# where FAILING_CALL is tests/failing_call.cc built, to make a read fail.
set -u
roffscript=$1
page=$2
failing_call=${3:-}
inject=
work=$(mktemp -d) || exit 2
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# expect NAME STATUS STDERR [ARGS...]: runs roffscript with ARGS and $work/in
# through a pipe on standard input, and compares its status, messages and
# script with what they must be.
expect() {
    name=$1 status=$2 err=$3
    shift 3
    got=$( (cat "$work/in" | env $inject "$roffscript" "$@" >"$work/out" 2>"$work/err"; echo $?) )
    [ "$got" -eq "$status" ] || fail "$name: status $got, not $status"
    [ "$(cat "$work/err")" = "$err" ] || fail "$name: said '$(cat "$work/err")', not '$err'"
    if [ "$status" -eq 0 ]; then
        cmp -s "$work/out" "$work/script" || fail "$name: the script differs from the plain page's"
    else
        [ ! -s "$work/out" ] || fail "$name: wrote a script and failed"
    fi
}

"$roffscript" "$page" >"$work/script" || exit 2
for format in gzip bzip2 xz; do
    command -v "$format" >/dev/null || { echo "compressed: no $format here; skipped"; continue; }
    "$format" -c <"$page" >"$work/page.$format"
    cp "$work/page.$format" "$work/in"
    expect "$format file" 0 "" "$work/page.$format"
    expect "$format through a pipe" 0 ""
    # Two compressed pages joined read as the two pages joined.
    cat "$work/page.$format" "$work/page.$format" >"$work/in"
    cp "$work/script" "$work/script.once"
    "$format" -dc <"$work/in" | "$roffscript" >"$work/script"
    expect "$format, two joined" 0 ""
    mv "$work/script.once" "$work/script"

    size=$(wc -c <"$work/page.$format")
    head -c $((size / 2)) "$work/page.$format" >"$work/in"
    expect "$format cut short" 1 "Couldn't read \"-\": truncated $format data"
    # A byte in the middle inverted: the data's check sums catch it.
    cp "$work/page.$format" "$work/in"
    byte=$(od -An -tu1 -j $((size / 2)) -N1 "$work/in" | tr -d ' ')
    printf "\\$(printf %o $((255 - byte)))" | dd of="$work/in" bs=1 seek=$((size / 2)) conv=notrunc 2>/dev/null
    expect "$format damaged" 1 "Couldn't read \"-\": corrupt $format data"
done

# lzma data is read whatever properties it was made with, and is one stream:
# anything after it, a second page included, is an error.
if command -v xz >/dev/null; then
    for options in dict=4KiB lc=0 lc=4,lp=0,pb=0; do
        xz --format=lzma --lzma1="$options" -c <"$page" >"$work/in"
        expect "lzma made with $options" 0 ""
    done
    xz --format=lzma -c <"$page" >"$work/page.lzma"
    cat "$work/page.lzma" "$work/page.lzma" >"$work/in"
    expect "lzma, two joined" 1 "Couldn't read \"-\": trailing garbage after lzma data"
fi

# Text that merely begins as bzip2 data does is text.
printf 'BZh,\n' >"$work/in"
printf 'text BZh,\nnewline\n' >"$work/script.text"
mv "$work/script" "$work/script.page"
mv "$work/script.text" "$work/script"
expect "text beginning BZh" 0 ""
mv "$work/script.page" "$work/script"

# A sound compressed page with bad lines gives their messages as its text
# would; when its data proves damaged (here its check sum, read last), the
# lines decoded before were garbage, and only the damage is told.
bad_lines=$(printf '\\(e\n.B "x\n')
long_line=$(head -c 4000 /dev/zero | tr '\0' x)
for case in bad long; do
    if [ $case = bad ]; then text=$bad_lines; said=$(printf 'Bad \\( sequence on line 1.\nUnclosed quote in macro call on line 2.')
    else text=$long_line; said='Too long line. Max is 3999 chars.'; fi
    # The page is longer than a read, so that its first lines are taken
    # before the check sum at the end of the data is read.
    { printf '%s\n' "$text"; yes | head -n 100000; } | gzip -c >"$work/in"
    expect "gzip with $case lines" 1 "$said"
    size=$(wc -c <"$work/in")
    printf '\377' | dd of="$work/in" bs=1 seek=$((size - 8)) conv=notrunc 2>/dev/null
    expect "damaged gzip with $case lines" 1 "Couldn't read \"-\": corrupt gzip data"
done

# More messages than the held block takes are all told, in order and
# whole.  Those of lines 100 to 233 (29 bytes each) and 1000 to 1006 (30)
# fill its 4096 bytes exactly; the one of line 1007 no longer fits.
{ yes x | head -n 99; yes '\(' | head -n 134; yes x | head -n 766; yes '\(' | head -n 8; } | gzip -c >"$work/in"
expect "gzip with a block and more of bad lines" 1 \
    "$( { seq 100 233; seq 1000 1007; } | sed 's/.*/Bad \\( sequence on line &./')"

# NUL padding after the data, as block devices leave it, is skipped in each
# format, whatever its length; but it ends the data: what follows it is
# refused, a member or stream included, rather than read or ignored, even
# when it comes in a later read than the padding's start (reads of 16 KiB).
for format in gzip bzip2 xz lzma; do
    case $format in
    lzma) command -v xz >/dev/null || continue; compress="xz --format=lzma -c" ;;
    *) command -v $format >/dev/null || continue; compress="$format -c" ;;
    esac
    $compress <"$page" >"$work/page.$format"
    { cat "$work/page.$format"; head -c 513 /dev/zero; } >"$work/in"
    expect "$format padded with NULs" 0 ""
    for nuls in 4 20000; do
        { cat "$work/page.$format"; head -c $nuls /dev/zero; cat "$work/page.$format"; } >"$work/in"
        expect "$format padded with $nuls NULs, then more data" 1 \
            "Couldn't read \"-\": trailing garbage after $format data"
    done
    { cat "$work/page.$format"; head -c 20000 /dev/zero; echo garbage; } >"$work/in"
    expect "$format padded with NULs, then garbage" 1 "Couldn't read \"-\": trailing garbage after $format data"
done

# An empty page, compressed, is an empty page.
gzip -c </dev/null >"$work/in"
: >"$work/script"
expect "empty gzip" 0 ""
# lzma data whose header asks for a 4 GiB dictionary, as the fuzzer once
# found, is refused rather than allocated.
printf '\135\377\377\377\377\377\377\377\377\377\377\377\377' >"$work/in"
expect "lzma asking for 4 GiB" 1 "Couldn't read \"-\": lzma data that needs more than 256 MiB of memory"
{ gzip -c <"$page"; echo more; } >"$work/in"
expect "gzip, then other bytes" 1 "Couldn't read \"-\": trailing garbage after gzip data"

# A compressed file named on the command line is copied as well: kept in
# memory while it fits the copy's block (32 KiB), so that the small page
# needs no temporary file, and failing the same way as piped input where a
# larger one's copy cannot be made.
gzip -c <"$page" >"$work/named.gz"
: >"$work/in"
"$roffscript" "$page" >"$work/script"
export TMPDIR="$work/missing"
expect "small gzip file with nowhere for a copy" 0 "" "$work/named.gz"
for i in $(seq 80); do cat "$page"; done | gzip -c >"$work/large.gz"
expect "larger gzip file with nowhere for the copy" 1 "Couldn't create temporary file: No such file or directory" \
    "$work/large.gz"
unset TMPDIR
# A second gzip member whose first byte ends the second read of compressed
# data: the program must keep it and wait for the next read before it can
# tell what follows.  The first member is made that long by a comment in
# its header (flag 0x10), which gzip -c never writes.
gzip -c <"$page" >"$work/member"
{
    printf '\037\213\010\020\000\000\000\000\000\003'
    head -c $((32 * 1024 - 1 - $(wc -c <"$work/member") - 1)) /dev/zero | tr '\0' c
    printf '\000'
    tail -c +11 "$work/member"
    cat "$work/member"
} >"$work/in"
cat "$page" "$page" | "$roffscript" >"$work/script"
expect "gzip member starting at the end of a read" 0 ""
# A read that fails there, while the rest of that member's header is
# awaited, is a failure, not the end of the data.  And a decoder denied its
# memory says so, once.
if [ -n "$failing_call" ]; then
    preload="LD_PRELOAD=$failing_call ASAN_OPTIONS=verify_asan_link_order=0"
    inject="$preload FAIL_CALL=fread:3:5"
    expect "gzip, a read failing before a member's header" 1 "Couldn't read \"-\": Input/output error"
    for start in gzip:inflateInit2_:1 gzip:inflateInit2_:2 bzip2:BZ2_bzDecompressInit:1 xz:lzma_stream_decoder:1 \
        xz:lzma_stream_decoder:2; do
        format=${start%%:*}
        command -v "$format" >/dev/null || continue
        # The second start is that of the second member.
        { "$format" -c <"$page"; "$format" -c <"$page"; } >"$work/in"
        inject="$preload FAIL_CALL=${start#*:}:12"
        expect "$format with no memory to start decoding (start ${start##*:})" 1 \
            "Couldn't read \"-\": out of memory"
    done
    # A library that is loaded when its data is seen, and is missing, is
    # named as the reason.
    for missing in "bzip2:libbz2 cannot be loaded to read bzip2 data" \
        "xz:liblzma cannot be loaded to read xz and lzma data"; do
        format=${missing%%:*}
        command -v "$format" >/dev/null || continue
        "$format" -c <"$page" >"$work/in"
        inject="$preload FAIL_CALL=dlopen:1:0"
        expect "$format with its library missing" 1 "Couldn't read \"-\": ${missing#*:}"
    done
    inject=
fi

# A page whose compressed data takes many of the program's reads.
seq 1 200000 >"$work/large.1"
"$roffscript" "$work/large.1" >"$work/script"
for format in gzip bzip2 xz; do
    command -v "$format" >/dev/null || continue
    "$format" -c <"$work/large.1" >"$work/large.$format"
    cp "$work/large.$format" "$work/in"
    expect "$format, a large page" 0 ""
    head -c $(($(wc -c <"$work/large.$format") - 1)) "$work/large.$format" >"$work/in"
    expect "$format, a large page less its last byte" 1 "Couldn't read \"-\": truncated $format data"
done

[ "$failures" -eq 0 ] && echo "compressed: gzip, bzip2 and xz read as files and pipes, cut short and damaged"
[ "$failures" -eq 0 ]
