# site-lib.tcl, sourced by the site-*.tcl programs that site.sh runs: the
# names of pages in the build's own files, and files written aside.
#
# A page's name may hold any byte but NUL and slash.  These programs read
# and write every name and every file as bytes (ISO 8859-1 maps each byte
# to one character and back), so that no name is changed on the way.  In
# the build's own files and in the names make sees, a page is its key (its
# path under the manual tree, compression suffix dropped, such as
# de/man1/ls.1) with each byte other than a letter, digit or one of ._+,-
# written as @ and two hex digits: de@2Fman1@2Fls.1.  Such a name needs no
# quoting in a Makefile nor in a shell word.

encoding system iso8859-1

proc enc {s} {
    set s [string map {@ @40 / @2F : @3A} $s]
    if {[regexp {^[-A-Za-z0-9._+,@]*$} $s]} {return $s}
    set out ""
    foreach c [split $s ""] {
        if {[regexp {[-A-Za-z0-9._+,@]} $c]} {append out $c} else {append out [format @%02X [scan $c %c]]}
    }
    return $out
}
proc dec {s} {
    set s [string map {@2F / @3A : @40 @@} $s]
    if {[string first @ [string map {@@ {}} $s]] < 0} {return [string map {@@ @} $s]}
    set parts [split [string map {@@ @40} $s] @]
    set out [lindex $parts 0]
    foreach p [lrange $parts 1 end] {
        append out [format %c 0x[string range $p 0 1]] [string range $p 2 end]
    }
    return $out
}

# Reads or writes a whole file as bytes.
proc slurp {path} {
    set f [open $path rb]
    set s [read $f]
    close $f
    return $s
}
# Writes a file aside, in its own directory, and moves it into place, so
# that a run stopped halfway leaves the old file or the new one, never
# half of one.  The name aside begins .site-tmp., which site-finish.tcl
# clears away.
proc put {path data} {
    set tmp [file join [file dirname $path] .site-tmp.[pid].[incr ::putcount]]
    set f [open $tmp wb]
    puts -nonewline $f $data
    close $f
    file rename -force $tmp $path
}
set putcount 0
# The same, only where the file would change: its time then still says
# when it last changed, for make and for whoever copies the site.
proc update {path data} {
    if {[file exists $path] && [file size $path] == [string length $data] && [slurp $path] eq $data} {return 0}
    put $path $data
    return 1
}

# Where a key's page goes in the site: de/man1/ls.1 gives de/man1/ls.1.md.
proc mdpath {key} {return $key.md}

# Calls CMD TEXT DEST for each link [TEXT](DEST) in a line of Markdown and
# puts what it returns in the link's place; a backslash escape is never
# the start of a link.
proc links {line cmd} {
    set re {\\.|\[((?:[^][\\]|\\.)*)\]\(([^()\s]*)\)}
    set out ""
    set at 0
    while {[regexp -indices -start $at $re $line m t d]} {
        lassign $m a b
        append out [string range $line $at $a-1]
        if {[lindex $t 0] < 0} {
            append out [string range $line $a $b]
        } else {
            append out [{*}$cmd [string range $line {*}$t] [string range $line {*}$d]]
        }
        set at [expr {$b + 1}]
    }
    return $out[string range $line $at end]
}
