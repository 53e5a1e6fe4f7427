# site-finish.tcl, run by make in the build's directory once the buckets
# are rendered: writes the site's pages with their links pointed at the
# pages they name, the index of each section, the front page and the list
# of pages not shown, into the directory $SITE_OUT.
#
# A cross-reference is found as man finds a page: in the page's own locale
# (pt_BR, then pt), then in English; in each, the section as written (3ssl
# in man3), then a longer one (3 finds 3ssl or 3t, the first in byte
# order).  An alias or a .so page is the page it names.  A name found
# nowhere is left as text, and so is any link but to the web that is not
# a cross-reference, since it would lead to no page.
#
# Pages rendered again (their keys are in pending/) are written again;
# where the names of the tree changed, every page whose cross-references
# now find another page or none is written again too, without rendering
# it, and every line of the indexes is made again.  An index is written
# where one of its lines changed.

source [file join [file dirname [info script]] site-lib.tcl]
set out $env(SITE_OUT)
set titles {1 {User commands} 2 {System calls} 3 {Library functions} 4 {Special files}
    5 {File formats} 6 Games 7 Miscellanea 8 {System administration} 9 {Kernel routines}
    n {Tcl and Tk commands} l {Local}}

# A key's parts: locale ("" for English), manual directory, name, section.
proc parts {key} {
    set p [split $key /]
    regexp {^(.*)\.([^.]*)$} [lindex $p end] -> name sec
    return [list [join [lrange $p 0 end-2] /] [lindex $p end-1] $name $sec]
}
# A path of the site, as a relative link from directory FROM (a list of
# directories under the site's top) to the file TO (a path under it).
proc rel {from to} {
    set to [split $to /]
    set i 0
    while {$i < [llength $from] && $i < [llength $to] - 1 && [lindex $from $i] eq [lindex $to $i]} {incr i}
    set path [lrepeat [expr {[llength $from] - $i}] ..]
    foreach s [lrange $to $i end] {lappend path [pct $s]}
    return [join $path /]
}
proc pct {s} {
    set out ""
    foreach c [split $s ""] {
        if {[regexp {[-A-Za-z0-9._~]} $c]} {append out $c} else {append out [format %%%02X [scan $c %c]]}
    }
    return $out
}
proc unpct {s} {
    set parts [split $s %]
    set out [lindex $parts 0]
    foreach p [lrange $parts 1 end] {
        if {[regexp {^[0-9A-Fa-f]{2}} $p]} {
            append out [format %c 0x[string range $p 0 1]] [string range $p 2 end]
        } else {append out % $p}
    }
    return $out
}
# Text of the site's own for Markdown: the marks that could start markup
# (emphasis, links, code, HTML, entities) escaped, and
# control bytes, which have no place in a line, shown as U+FFFD.
proc md {s} {
    regsub -all {[][\\`*_<>!|&~#()]} $s {\\&} s
    regsub -all {[\x00-\x1f\x7f]} $s "\xef\xbf\xbd" s
    return $s
}

# The locales a page's links are looked for in.
proc chain {loc} {
    set l [list $loc]
    foreach re {@.*$ {\..*$} _.*$} {
        regsub $re $loc "" loc
        if {$loc ne [lindex $l end]} {lappend l $loc}
    }
    if {[lindex $l end] ne ""} {lappend l ""}
    return $l
}
proc find {loc name sec} {
    set m man[string index $sec 0]
    foreach l [chain $loc] {
        set n [join [list {*}$l $m $name] /]
        if {![dict exists $::names $n]} continue
        set longer ""
        foreach {s f} [dict get $::names $n] {
            if {$s eq $sec} {return $f}
            if {$longer eq "" && [string equal -length [string length $sec] $sec $s]} {set longer $f}
        }
        if {$longer ne ""} {return $longer}
    }
    return ""
}
# The cross-reference a link is, as the renderer writes it: {NAME SECTION},
# or "" for a link of another kind.
proc xref {dest} {
    set d [unpct [regsub -all {\\([!-/:-@\[-`\{-~])} $dest {\1}]]
    if {[regexp {^([^/]+)\.([0-9][^./]*)\.md$} $d -> name sec]} {return [list $name $sec]}
    return ""
}
# Applies CMD to each line of Markdown outside code blocks that may hold
# a link: the regular expression finds the few such lines, so that the
# rest of the page costs nothing in Tcl.
proc textlines {md cmd} {
    set fences {}
    set open 0
    foreach m [regexp -all -inline -indices -line {^ *`{3,}$} $md] {
        set n [string length [string trim [string range $md {*}$m]]]
        if {!$open} {
            set open $n
            set from [lindex $m 0]
        } elseif {$n >= $open} {
            lappend fences $from [lindex $m 1]
            set open 0
        }
    }
    if {$open} {lappend fences $from [string length $md]}
    set out ""
    set at 0
    foreach m [regexp -all -inline -indices {\]\([^()\s]*\)} $md] {
        set a [lindex $m 0]
        if {$a < $at} continue
        set code 0
        foreach {f t} $fences {if {$a >= $f && $a <= $t} {set code 1; break}}
        if {$code} continue
        set s [string last \n $md $a]
        set e [string first \n $md $a]
        if {$e < 0} {set e [string length $md]}
        append out [string range $md $at $s] [{*}$cmd [string range $md $s+1 $e-1]]
        set at $e
    }
    return $out[string range $md $at end]
}

# What a page's cross-references find.
proc answers {key refs} {
    set loc [lindex [parts $key] 0]
    lmap r $refs {find $loc {*}$r}
}
# A page with its cross-references pointed at the pages they find; sets
# found to a dict of each cross-reference and what it found.
proc relink {key md} {
    set ::from [lrange [split $key /] 0 end-1]
    set ::loc [lindex [parts $key] 0]
    set ::found [dict create]
    return [textlines $md {apply {{l} {links $l {apply {{t d} {
        set x [xref $d]
        if {$x eq ""} {
            # A link to the web stays; any other leads to no page.
            if {[regexp -nocase {^(?:(?:https?|ftp)://|mailto:)} $d]} {return "\[$t\]($d)"}
            return $t
        }
        if {![dict exists $::found $x]} {dict set ::found $x [find $::loc {*}$x]}
        set a [dict get $::found $x]
        if {$a eq ""} {return $t}
        return "\[$t\]([rel $::from $a.md])"
    }}}}}}]
}
# The page shown for one roffscript or markdown.tcl refused.
proc stub {key meta} {
    lassign [parts $key] loc m name sec
    set msg [join [lrange [split [dict get $meta message] \n] 0 19] \n]
    set f ```
    foreach run [regexp -all -inline {`+} $msg] {
        if {[string length $run] >= [string length $f]} {set f $run`}
    }
    return "# [md $name]([md $sec])\n\nThis page is not shown: [dict get $meta by] refused it, saying:\n\n$f\n$msg\n$f\n"
}

# The line of a name in its section's index, as whatis shows it:
# ls (1) - list directory contents.  An alias has the NAME line of the
# page it leads to, and leads there.
proc entry {key} {
    if {![dict exists $::pages $key]} {return "*(not rendered)*"}
    set meta [lindex [dict get $::pages $key] 2]
    if {[dict get $meta status] ne "ok"} {return "*(not shown: [dict get $meta by] refused it)*"}
    set n [dict get $meta name]
    set cut -1
    foreach sep [list " - " " \xe2\x80\x94 " " \xe2\x80\x93 " " \\- "] {
        set i [string first $sep $n]
        if {$i >= 0 && ($cut < 0 || $i < $cut)} {set cut $i; set len [string length $sep]}
    }
    if {$cut >= 0} {set n [string range $n $cut+$len end]}
    if {$n eq ""} {return "*(no NAME line)*"}
    return $n
}
proc line {key kind to} {
    lassign [parts $key] loc m name sec
    set dir [concat $loc $m]
    if {$kind ne "alias"} {set to $key}
    return "- \[[md $name]\]([rel $dir $to.md]) ([md $sec]) - [entry $to]"
}
proc title {dir} {
    set m [lindex [split $dir /] end]
    set s [string range $m 3 end]
    set t "Section [md $s]"
    if {[dict exists $::titles $s]} {append t ": [dict get $::titles $s]"}
    return $t
}
proc order {dir} {
    set m [lindex [split $dir /] end]
    return [list [expr {[string length $m] == 4 && [string is digit [string index $m 3]] ? 0 : 1}] $m]
}

# What the last run left, in the file db: per page its cross-references,
# what they found and its meta; per name its line in the index; per
# section its names in order; per page the aliases that lead to it; the
# pages refused; the files of the site besides the pages; a checksum of
# the list of names.  Code other than this wrote it: every page is
# written again.
set version [zlib crc32 [slurp tools/site-finish.tcl][slurp tools/site-lib.tcl]]
set db {}
if {[file exists db]} {set db [slurp db]}
set all [expr {![dict exists $db version] || [dict get $db version] ne $version}]
if {$all} {set db [dict create version $version names "" pages {} lines {} sections {} aliases {} refused {} files {}]}
dict with db {}
set pending {}
foreach p [glob -nocomplain pending/*] {
    foreach ek [split [slurp $p] \n] {if {$ek ne ""} {dict set pending [dec $ek] 1}}
}
# What a render stopped halfway left aside.
foreach d [glob -nocomplain -types hidden {{raw,meta,bucket}/.site-tmp.*}] {file delete $d}

# The names of the tree, where they changed: every page's links looked
# up again, every line of the indexes made again.
set list [slurp pages]
set sum [zlib crc32 $list]
set changed [expr {$sum ne $names}]
set names [slurp names]
set gone {}
set todo [dict keys $pending]
set redo $todo
if {$changed} {
    set kept [dict create]
    set sections [dict create]
    set aliases [dict create]
    set lines [dict create]
    set redo {}
    foreach {key kind to} $list {
        dict lappend sections [file dirname $key] $key
        if {$kind eq "alias"} {
            dict lappend aliases $to $key
        } else {
            dict set kept $key 1
        }
        lappend redo [list $key $kind $to]
    }
    foreach key [dict keys $pages] {
        if {![dict exists $kept $key]} {
            lappend gone $key
            dict unset pages $key
        }
    }
    set todo [dict keys $kept]
    # What a run stopped halfway left aside.
    foreach d [list {} {*}[dict keys $sections]] {
        foreach f [glob -nocomplain -directory [file join $out $d] -types hidden .site-tmp.*] {file delete $f}
    }
} else {
    set redo {}
    foreach key $todo {
        lappend redo [list $key page $key]
        if {[dict exists $aliases $key]} {
            foreach a [dict get $aliases $key] {lappend redo [list $a alias $key]}
        }
    }
}
foreach key $gone {
    file delete [file join $out [mdpath $key]] raw/[enc $key].md meta/[enc $key]
    catch {file delete [file dirname [file join $out [mdpath $key]]]}
}

# The pages: those rendered again written again with their links; the
# others written again where a link now finds another page or none.
set written 0
foreach key $todo {
    set path [file join $out [mdpath $key]]
    if {[dict exists $pending $key] || ![dict exists $pages $key]} {
        set meta [slurp meta/[enc $key]]
        set write 1
    } else {
        lassign [dict get $pages $key] refs answers meta
        set write [expr {[answers $key $refs] ne $answers || ![file exists $path]}]
    }
    if {!$write} continue
    if {[dict get $meta status] eq "ok"} {
        set text [relink $key [slurp raw/[enc $key].md]]
        dict set pages $key [list [dict keys $::found] [dict values $::found] $meta]
        dict unset refused $key
    } else {
        set text [stub $key $meta]
        dict set pages $key [list {} {} $meta]
        dict set refused $key 1
    }
    file mkdir [file dirname $path]
    incr written [update $path $text]
}
foreach key $gone {dict unset refused $key}

# The indexes: the lines of the names whose pages were rendered again, or
# all where the names changed; an index written where a line of it did.
set touched [dict create]
foreach item $redo {
    lassign $item key kind to
    set l [line $key $kind $to]
    if {$changed || ![dict exists $lines $key] || [dict get $lines $key] ne $l} {
        dict set lines $key $l
        dict set touched [file dirname $key] 1
    }
}
foreach key $gone {dict unset lines $key}
set files {}
set indexes 0
dict for {dir keys} $sections {
    lappend files $dir/index.md
    if {!$changed && ![dict exists $touched $dir]} continue
    set d [split $dir /]
    set loc [join [lrange $d 0 end-1] /]
    set head "# [expr {$loc eq "" ? "" : "[md $loc]: "}][title $dir]\n\n"
    append head "\[All sections\]([rel $d index.md]) \xc2\xb7 [llength $keys] names\n\n"
    set body [join [lmap k $keys {dict get $lines $k}] \n]
    file mkdir [file join $out $dir]
    incr indexes [update [file join $out $dir index.md] "$head$body\n"]
}

# The pages not shown: those refused, with what was said, and the files
# left out of the site.
set r {}
foreach key [lsort [dict keys $refused]] {
    set meta [lindex [dict get $pages $key] 2]
    lassign [parts $key] loc m name sec
    lappend r "- \[[md $name]\]([rel {} $key.md]) ([md $sec]), [md $key], by\
        [dict get $meta by]: [md [lindex [split [dict get $meta message] \n] 0]]"
}
set s {}
foreach {path why} [slurp skipped] {lappend s "- [md $path]: [md $why]"}
if {[llength $r] || [llength $s]} {
    set t "# Pages not shown\n\n\[All sections\](index.md)\n"
    if {[llength $r]} {
        append t "\n## Refused\n\nThese pages could not be read; each shows why.\n\n[join $r \n]\n"
    }
    if {[llength $s]} {
        append t "\n## Left out\n\nThese files of the tree are not pages of the site.\n\n[join $s \n]\n"
    }
    update [file join $out refused.md] $t
    lappend files refused.md
}

# The front page: the sections of each locale, English first.
set bylocale {}
set n 0
dict for {dir keys} $sections {
    set d [split $dir /]
    dict lappend bylocale [join [lrange $d 0 end-1] /] $dir
}
set a [expr {[llength $list] / 3 - [dict size $pages]}]
set t "# Manual pages\n\n[dict size $pages] pages and $a [expr {$a == 1 ? "other name" : "other names"}]\
    for them, in [dict size $bylocale] [expr {[dict size $bylocale] == 1 ? "language" : "languages"}].\n"
foreach loc [lsort [dict keys $bylocale]] {
    append t "\n## [expr {$loc eq "" ? "English" : [md $loc]}]\n\n"
    foreach dir [lsort -command {apply {{a b} {string compare [order $a] [order $b]}}} [dict get $bylocale $loc]] {
        set c [llength [dict get $sections $dir]]
        append t "- \[[title $dir]\]([rel {} $dir/index.md]) ($c [expr {$c == 1 ? "name" : "names"}])\n"
    }
}
if {[llength $r] || [llength $s]} {
    append t "\n\[Pages not shown\](refused.md): [llength $r] refused, [llength $s] files left out.\n"
}
update [file join $out index.md] $t
lappend files index.md

# Files of the last run's site no longer made, and directories left empty.
foreach f [dict get $db files] {
    if {$f ni $files} {
        file delete [file join $out $f]
        catch {file delete [file dirname [file join $out $f]]}
    }
}
put db [dict create version $version names $sum pages $pages lines $lines sections $sections\
    aliases $aliases refused $refused files $files]
foreach p [glob -nocomplain pending/*] {file delete $p}
put finish ""
set links 0
set plain 0
if {$changed} {
    dict for {key v} $pages {foreach a [lindex $v 1] {if {$a eq ""} {incr plain} else {incr links}}}
    set counts " [dict size $pages] pages with $links cross-references to pages of the site and $plain\
        to none, left as text;"
} else {set counts ""}
puts stderr "site: [dict size $pending] pages rendered, $written written, $indexes indexes;$counts\
    [dict size $refused] refused, [llength $gone] removed"
