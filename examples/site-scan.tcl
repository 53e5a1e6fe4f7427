# site-scan.tcl, run by site.sh: looks over a manual tree and writes, in
# the build's directory, what make needs to bring the site up to date.
#
#     tclsh site-scan.tcl MANTREE BUILD ROFFSCRIPT RENDERER_FILE...
#
# The tree holds a manual per locale: man1, man2... at its top for English,
# and LOCALE/man1... for the others.  Each file in a manN directory named
# NAME.SECTION, compressed or not, is one of three things:
#   - a page, rendered from its own file;
#   - a .so page, a small file that only includes another page (comments
#     aside): it shows the page it includes, as man shows it;
#   - an alias, a symbolic link to a page of the tree: not a page of its
#     own, but a name that leads to the page it names, in links and in
#     the indexes.
# A link that leads out of the tree is a page, read through the link.
# Written, each only where it changed, so that its time says when it did:
#   pages          a Tcl list, a line per name: its key, its kind (page,
#                  so or alias), the key of the page the name leads to;
#   names          a Tcl dict from LOCALE/manN/NAME to the sections of
#                  that name and the pages they lead to, for the links;
#   skipped        a Tcl list of the files left out and why;
#   bucket/B.list  the pages rendered together as bucket B: key, the file
#                  rendered, the key of another page it shows (a .so
#                  page's) or -;
#   Makefile       a rule per bucket, then one for the links and indexes;
#   src/KEY        a symbolic link to the file of each page, KEY encoded
#                  as site-lib.tcl says, so that make follows it to the
#                  file's time and never sees a name of the tree;
#   tools/         links to roffscript and the programs, for their times.

source [file join [file dirname [info script]] site-lib.tcl]
lassign $argv tree build roffscript
set renderer [lrange $argv 3 end]
set compressed {gz bz2 xz lzma Z zst}
set buckets 256

# The file a path names, through every symbolic link, or "" if none.
proc realpath {p} {
    set p [file normalize $p]
    for {set i 0} {$i < 40} {incr i} {
        if {[catch {file lstat $p st}]} {return ""}
        if {$st(type) ne "link"} {return $p}
        set p [file normalize [file join [file dirname $p] [file readlink $p]]]
    }
    return ""
}
proc skip {path why} {
    if {[string first $::root/ $path] == 0} {set path [string range $path [string length $::root/] end]}
    lappend ::skipped [list $path $why]
    puts stderr "site: $path: $why; left out"
}
proc base {file} {
    regsub "\\.(?:[join $::compressed |])\$" $file "" file
    return $file
}
set skipped {}
set root [realpath $tree]
if {$root eq "" || ![file isdirectory $root]} {
    puts stderr "site: $tree: not a directory"
    exit 1
}

# One find lists the tree: man*/FILE for English, LOCALE/man*/FILE for
# the others (a file elsewhere is no page), each with its type, that of
# the file it leads to, and, for a file small enough to be a .so page,
# its time.  Where that list and the tools are as they were at the last
# scan, so is all that follows from them.
set found [exec find $root -mindepth 1 -maxdepth 3 ( -type f -o -type l ) \
    ( -size -512c -printf {%y%Y %T@ %P\0} -o -printf {%y%Y - %P\0} )]
set tools {}
foreach t [list $roffscript {*}$renderer] {
    set n [expr {$t eq $roffscript ? "roffscript" : [file tail $t]}]
    lappend tools tools/$n [file normalize $t]
}
set sig [zlib crc32 [list $root $buckets $tools $found]]
proc link {name target} {
    if {![catch {file readlink $name} old] && $old eq $target} return
    file delete $name
    file link -symbolic $name $target
}
file mkdir $build/src $build/tools $build/bucket $build/raw $build/meta $build/pending
foreach {n t} $tools {link $build/$n $t}
if {[file exists $build/scan.sig] && [slurp $build/scan.sig] eq $sig} exit
file delete $build/scan.sig

# Every name: entry(KEY) is {path type small}, small "-" unless the file
# may be a .so page; at(PATH) is the key of the file at PATH.
foreach item [lsort [split [string trimright $found \0] \0]] {
    if {![regexp {^(.)(.) (\S+) (.*)$} $item -> type leads size rel]} continue
    set p [split $rel /]
    set path $root/$rel
    set f [lindex $p end]
    set m [lindex $p end-1]
    set loc [lrange $p 0 end-2]
    if {[llength $p] < 2 || ![string match man?* $m] || [string match man* [lindex $loc 0]]} {
        if {$type eq "l" && $leads eq "d"} {skip $path "a link to a directory, read where it leads"}
        continue
    }
    if {$loc in {index.md refused.md} || [string index $loc 0] eq "."} {
        skip $path "in a locale the site cannot hold"
        continue
    }
    set b [base $f]
    if {[string index $f 0] eq "." || ![regexp {^.+\.[^.]+$} $b]} {
        skip $path "not named NAME.SECTION"
        continue
    }
    set key [join [list {*}$loc $m $b] /]
    if {[info exists entry($key)]} {
        skip $path "the same page as [lindex $entry($key) 0]"
        continue
    }
    set entry($key) [list $path [expr {$type eq "l" ? "link" : "file"}] $size]
    set at($path) $key
}

# What a .so page includes, or "": a small file whose one line that is
# neither blank nor a comment is .so.  The file it names is looked for
# under the page's own manual, then under the English one.
proc includes {key path} {
    set data [slurp $path]
    if {[string range $data 0 1] eq "\x1f\x8b"} {
        if {[catch {zlib gunzip $data} data]} {return ""}
    } elseif {[regexp {^(?:BZh|\xfd7zXZ|\x5d\x00)} $data]} {return ""}
    set t ""
    foreach l [split $data \n] {
        if {[regexp {^(?:[.']\s*\\"|\s*$)} $l]} continue
        if {$t ne "" || ![regexp {^\.so\s+(\S+)\s*$} $l -> t]} {return ""}
    }
    if {[string index $t 0] eq "/"} {
        set r [realpath $t]
        if {[info exists ::at($r)]} {return $::at($r)}
        return ""
    }
    set t [base [regsub {^(?:\./)+} $t ""]]
    set loc [lrange [split $key /] 0 end-2]
    foreach loc [expr {$loc eq "" ? [list {}] : [list $loc {}]}] {
        set k [join [list {*}$loc $t] /]
        if {[info exists ::entry($k)]} {return $k}
    }
    return ""
}
foreach key [array names entry] {
    lassign $entry($key) path type size
    if {$type eq "link"} {
        set r [realpath $path]
        if {$r eq ""} {
            skip $path "a link that leads nowhere"
            unset entry($key)
        } elseif {[info exists at($r)]} {
            set to($key) $at($r)
        } else {
            set entry($key) [list $r file -]
        }
    } elseif {$type ne "file"} {
        skip $path "not a file"
        unset entry($key)
    } elseif {$size ne "-"} {
        set t [includes $key $path]
        if {$t ne "" && $t ne $key} {set to($key) $t; set so($key) 1}
    }
}
# The page a name leads to, through aliases and .so pages: "" for a
# cycle, whose .so pages are then pages of their own.
proc final {key} {
    set seen {}
    while {[info exists ::to($key)]} {
        if {$key in $seen || ![info exists ::entry($::to($key))]} {return ""}
        lappend seen $key
        set key $::to($key)
    }
    return $key
}

set pages ""
foreach key [lsort [array names entry]] {
    set ek [enc $key]
    set f $key
    if {[info exists to($key)]} {set f [final $key]}
    if {$f eq ""} {
        if {![info exists so($key)]} {
            skip [lindex $entry($key) 0] "a link in a cycle"
            continue
        }
        set f $key
        unset so($key)
    }
    if {$f eq $key} {
        set kind page
        set list($ek) [list $ek [enc [lindex $entry($key) 0]] -]
        set own($ek) [lindex $entry($key) 0]
    } elseif {[info exists so($key)]} {
        set kind so
        set list($ek) [list $ek [enc [lindex $entry($f) 0]] [enc $f]]
        set own($ek) [lindex $entry($key) 0]
    } else {
        set kind alias
    }
    append pages [list $key $kind $f] \n
    # The names a cross-reference may find, by locale, directory and name.
    set p [split $key /]
    regexp {^(.*)\.([^.]*)$} [lindex $p end] -> name sec
    lappend names([join [lrange $p 0 end-1] /]/$name) $sec $f
}
update $build/pages $pages
set s ""
foreach n [lsort [array names names]] {append s [list $n [lsort -stride 2 -index 0 $names($n)]] \n}
update $build/names $s
set s ""
foreach item $skipped {append s [list {*}$item] \n}
update $build/skipped $s

# The links make follows, one per page.
foreach l [glob -nocomplain -tails -directory $build/src *] {
    if {![info exists list($l)]} {file delete $build/src/$l}
}
foreach ek [array names list] {link $build/src/$ek $own($ek)}

# The buckets: a page's is fixed by its key, so that a page added or
# removed changes the list of its own bucket alone.
foreach ek [array names list] {
    lappend bucket([format %02x [expr {[zlib crc32 [dec $ek]] % $buckets}]]) $ek
}
set mk "# Written by site-scan.tcl; make runs it in the build's directory.\n"
append mk ".SUFFIXES:\n.DELETE_ON_ERROR:\n"
append mk "render := [lsearch -all -inline -not -regexp [dict keys $tools] {site-(?:finish|scan)}]\n"
append mk "all: finish\n"
set stamps [lmap b [lsort [array names bucket]] {string cat bucket/$b}]
append mk "finish: pages names skipped $stamps tools/site-finish.tcl tools/site-lib.tcl\n"
append mk "\t@tclsh tools/site-finish.tcl\n"
foreach b [lsort [array names bucket]] {
    set text ""
    set deps {}
    foreach ek [lsort $bucket($b)] {
        append text [join $list($ek)] \n
        lappend deps src/$ek
        set dep [lindex $list($ek) 2]
        if {$dep ne "-"} {lappend deps src/$dep}
    }
    update $build/bucket/$b.list $text
    append mk "bucket/$b: bucket/$b.list [lsort -unique $deps] \$(render)\n"
    append mk "\t@tclsh tools/site-render.tcl $b \$?\n"
}
foreach f [glob -nocomplain -tails -directory $build/bucket *] {
    if {![info exists bucket([lindex [split $f .] 0])]} {file delete $build/bucket/$f}
}
update $build/Makefile $mk
put $build/scan.sig $sig
set n [llength [array names list]]
puts stderr "site: [llength [array names entry]] names in $tree: $n pages,\
    [expr {[llength [array names entry]] - $n}] aliases; [llength $skipped] left out"
