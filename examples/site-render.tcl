# site-render.tcl, run by make in the build's directory: renders the pages
# of one bucket that are out of date.
#
#     tclsh tools/site-render.tcl BUCKET NEWER...
#
# NEWER is what make found newer than the bucket's stamp ($?): the links
# src/KEY of pages whose files changed, tools/... when roffscript or the
# renderer did (every page of the bucket is then rendered again), and the
# bucket's list when a page joined it or now renders another file.  Each
# page rendered leaves
#   raw/KEY.md  its Markdown as markdown.tcl writes it, links to other
#               pages still as NAME.SECTION.md (site-finish.tcl points them
#               at the pages they name);
#   meta/KEY    a Tcl dict: status (ok or refused), by (roffscript or
#               markdown.tcl), message (what it wrote to standard error),
#               name (the first paragraph under the first heading: the
#               NAME line, in Markdown, links made text);
# and its key in pending/BUCKET, for site-finish.tcl.
#
# The pages run through tools/markdown.tcl as it is, each in an
# interpreter of its own made for it and deleted after, within this one
# process: what markdown.tcl writes to standard output and standard error
# is caught by a channel transform, and its exit ends the page, not the
# process.  That spares starting tclsh and loading Tcl's library once per
# page, which is about a quarter of rendering a page.

source [file join [file dirname [info script]] site-lib.tcl]
set bucket [lindex $argv 0]
foreach w [lrange $argv 1 end] {set newer($w) 1}
set all [expr {[llength [array names newer tools/*]] > 0}]
if {[file exists bucket/$bucket.done]} {
    foreach l [split [slurp bucket/$bucket.done] \n] {set done($l) 1}
}

# Where the page's output goes while it runs: its Markdown to a file, its
# messages to a string.
proc capture {which cmd chan args} {
    switch -- $cmd {
        initialize {return {initialize finalize write}}
        write {
            if {$which eq "out"} {
                puts -nonewline $::out [lindex $args 0]
            } else {append ::messages [lindex $args 0]}
        }
    }
    return ""
}
proc pageexit {{status 0}} {
    return -code error -errorcode [list PAGEEXIT $status] "exit $status"
}
# Runs markdown.tcl on a script; returns "" or why it failed.
proc markdown {script md} {
    set ::messages ""
    set ::out [open $md wb]
    chan push stdout {capture out}
    chan push stderr {capture err}
    set page [interp create]
    interp alias $page exit {} pageexit
    $page eval [list set argv [list $script]]
    $page eval {set argc 1; set argv0 tools/markdown.tcl}
    # The renderer's files are UTF-8, read as the system's encoding.
    encoding system utf-8
    set failed [catch {$page eval {source tools/markdown.tcl}} err opts]
    encoding system iso8859-1
    flush stdout
    chan pop stdout
    chan pop stderr
    interp delete $page
    close $::out
    if {!$failed || [dict get $opts -errorcode] eq {PAGEEXIT 0}} {return ""}
    if {[lindex [dict get $opts -errorcode] 0] ne "PAGEEXIT"} {append ::messages "markdown.tcl: $err\n"}
    return [string trimright $::messages]
}
# The first paragraph under the first heading, on one line.
proc nameline {md} {
    set lines [split $md \n]
    set i [lsearch -regexp $lines {^## }]
    if {$i < 0} {return ""}
    set para {}
    foreach l [lrange $lines $i+1 end] {
        if {[string trim $l] eq ""} {
            if {[llength $para]} break
            continue
        }
        if {[regexp {^(?:#|```|\||<)} $l]} break
        lappend para [string trim [regsub {\\$} $l ""]]
    }
    return [links [join $para " "] {apply {{text dest} {return $text}}}]
}

proc render {key src} {
    set script tmp.$::bucket.script
    set md raw/.site-tmp.$::bucket
    set meta [dict create status ok by "" message "" name ""]
    if {[catch {exec tools/roffscript $src > $script 2> tmp.$::bucket.err}]} {
        set msg [string trimright [slurp tmp.$::bucket.err]]
        dict set meta status refused
        dict set meta by roffscript
        dict set meta message $msg
    } elseif {[set msg [markdown $script $md]] ne ""} {
        dict set meta status refused
        dict set meta by markdown.tcl
        dict set meta message $msg
    } elseif {$::messages ne ""} {
        # Warnings: the page still renders.
        foreach l [split [string trimright $::messages] \n] {puts stderr "site: [dec $key]: $l"}
        dict set meta message [string trimright $::messages]
    }
    if {[dict get $meta status] eq "ok"} {
        set f [open $md rb]
        dict set meta name [nameline [read $f 65536]]
        close $f
        file rename -force $md raw/$key.md
    } else {
        puts stderr "site: [dec $key]: not rendered: [lindex [split [dict get $meta message] \n] 0]"
        file delete $md raw/$key.md
    }
    put meta/$key $meta
}

set list [slurp bucket/$bucket.list]
set pending [open pending/$bucket ab]
foreach line [split [string trimright $list \n] \n] {
    lassign $line key src dep
    if {$all || [info exists newer(src/$key)] || [info exists newer(src/$dep)] ||
        ![info exists done($line)] || ![file exists meta/$key]} {
        render $key [dec $src]
        puts $pending $key
        flush $pending
    }
}
close $pending
file delete tmp.$bucket.script tmp.$bucket.err
put bucket/$bucket.done $list
put bucket/$bucket ""
