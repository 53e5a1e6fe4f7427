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
#   pages          one line per name: its key, its kind (page, so or
#                  alias), the key of the page the name leads to;
#   skipped        the files left out and why;
#   bucket/B.list  the pages rendered together as bucket B: key, the file
#                  rendered, the key of another page it shows (a .so
#                  page's) or -;
#   Makefile       a rule per bucket, then one for the links and indexes;
#   src/KEY        a symbolic link to the file of each page, so that make
#                  follows it to the file's time: make never sees a name
#                  of the tree, whatever bytes it holds;
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

# The manual directories: man* at the top, LOCALE/man* below it.
set mandirs {}
foreach e [lsort [glob -nocomplain -tails -directory $root * .*]] {
    if {$e in {. ..} || ![file isdirectory $root/$e]} continue
    if {[string match man* $e]} {
        lappend mandirs {} $e
    } elseif {$e in {index.md refused.md} || [string index $e 0] eq "."} {
        skip $root/$e "a locale the site cannot hold"
    } else {
        foreach m [lsort [glob -nocomplain -tails -types d -directory $root/$e man*]] {lappend mandirs $e $m}
    }
}

# Every name: entry(KEY) is {path type size}; at(PATH) is the key of the
# file at PATH.
foreach {loc m} $mandirs {
    set dir [file join $root {*}$loc $m]
    if {[realpath $dir] ne $dir} {
        skip $dir "a link to [realpath $dir], read there"
        continue
    }
    foreach f [lsort [glob -nocomplain -tails -directory $dir * .*]] {
        if {$f in {. ..}} continue
        set path $dir/$f
        file lstat $path st
        if {$st(type) eq "directory"} continue
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
        set entry($key) [list $path $st(type) $st(size)]
        set at($path) $key
    }
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
            set entry($key) [list $r file [file size $r]]
        }
    } elseif {$type ne "file"} {
        skip $path "not a file"
        unset entry($key)
    } elseif {$size < 512} {
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
    } elseif {[info exists so($key)]} {
        set kind so
        set list($ek) [list $ek [enc [lindex $entry($f) 0]] [enc $f]]
    } else {
        set kind alias
    }
    append pages "$ek $kind [enc $f]\n"
}
file mkdir $build/src $build/tools $build/bucket $build/raw $build/meta $build/pending
update $build/pages $pages
set s ""
foreach item $skipped {append s [enc [lindex $item 0]] " " [enc [lindex $item 1]] \n}
update $build/skipped $s

# The links make follows: one per page, and the tools.
foreach l [glob -nocomplain -tails -directory $build/src *] {
    if {![info exists list($l)]} {file delete $build/src/$l}
}
proc link {name target} {
    if {![catch {file readlink $name} old] && $old eq $target} return
    file delete $name
    file link -symbolic $name $target
}
foreach ek [array names list] {
    lassign $list($ek) - src dep
    set own [expr {$dep eq "-" ? [dec $src] : [lindex $entry([dec $ek]) 0]}]
    link $build/src/$ek $own
}
set tools {}
foreach t [list $roffscript {*}$renderer] {
    set n [expr {$t eq $roffscript ? "roffscript" : [file tail $t]}]
    link $build/tools/$n [file normalize $t]
    lappend tools tools/$n
}

# The buckets: a page's is fixed by its key, so that a page added or
# removed changes the list of its own bucket alone.
foreach ek [array names list] {
    lappend bucket([format %02x [expr {[zlib crc32 [dec $ek]] % $buckets}]]) $ek
}
set mk "# Written by site-scan.tcl; make runs it in the build's directory.\n"
append mk ".SUFFIXES:\n.DELETE_ON_ERROR:\n"
append mk "render := [lsearch -all -inline -not -regexp $tools {site-(?:finish|scan)}]\n"
append mk "all: finish\n"
set stamps [lmap b [lsort [array names bucket]] {string cat bucket/$b}]
append mk "finish: pages skipped $stamps tools/site-finish.tcl tools/site-lib.tcl\n"
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
set n [llength [array names list]]
puts stderr "site: [llength [array names entry]] names in $tree: $n pages,\
    [expr {[llength [array names entry]] - $n}] aliases; [llength $skipped] left out"
