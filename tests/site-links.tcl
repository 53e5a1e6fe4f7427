# Checks the links of a site of Markdown as a reader's tools see them:
# every .md file under SITE goes through cmark, and each href in its HTML
# that names no scheme is a file of the site, relative to the page.
# Counts the links that find a file and those that find none, then
# follows them from SITE/index.md, or from each page START, and counts the
# .md files never reached.  Prints a line of counts, one more per START,
# and the first few faults, one per line.
# Usage: tclsh site-links.tcl SITE [START...]
encoding system iso8859-1
set site [file normalize [lindex $argv 0]]
set starts [expr {[llength $argv] > 1 ? [lrange $argv 1 end] : "index.md"}]
proc walk {dir} {
    set files [glob -nocomplain -directory $dir -types f *.md]
    foreach d [glob -nocomplain -directory $dir -types d *] {lappend files {*}[walk $d]}
    return $files
}
proc unpct {s} {
    set out ""
    foreach {all lit hex} [regexp -all -inline {([^%]+)|%([0-9A-Fa-f]{2})} $s] {
        if {$hex ne ""} {append out [format %c 0x$hex]} else {append out $lit}
    }
    return $out
}
set pages [walk $site]
set found 0; set missing {}; set web 0
foreach p $pages {
    set html [exec cmark $p]
    set edges($p) {}
    foreach {- href} [regexp -all -inline {<a href="([^"]*)"} $html] {
        set href [string map {&amp; & &quot; \" &lt; < &gt; >} $href]
        if {[regexp {^[A-Za-z][A-Za-z0-9+.-]*:} $href]} {incr web; continue}
        set t [file normalize [file join [file dirname $p] [unpct [lindex [split $href #] 0]]]]
        if {[file exists $t]} {incr found; lappend edges($p) $t} else {lappend missing "$p -> $href"}
    }
}
set first 1
foreach start $starts {
    array unset seen
    set start [file join $site $start]
    set seen($start) 1
    set todo [list $start]
    while {[llength $todo]} {
        set p [lindex $todo end]
        set todo [lrange $todo 0 end-1]
        if {![info exists edges($p)]} continue
        foreach t $edges($p) {
            if {![info exists seen($t)]} {set seen($t) 1; lappend todo $t}
        }
    }
    set unreached [lmap p $pages {expr {[info exists seen($p)] ? [continue] : $p}}]
    if {$first} {
        puts "[llength $pages] pages; links: $found to files of the site, [llength $missing] to none,\
            $web to the web; [llength $unreached] pages not reached from [file tail $start]"
        set first 0
        set shown $unreached
    } else {
        puts "from [file tail $start]: [expr {[llength $pages] - [llength $unreached]}] pages reached"
    }
}
set unreached $shown
foreach m [lrange $missing 0 9] {puts "no file: $m"}
foreach u [lrange $unreached 0 9] {puts "not reached: $u"}
