# markdown-tbl.tcl, sourced by markdown.tcl: tables, tbl(1)'s and mdoc's.

# ---------------------------------------------------------------------------
# tbl(1): a table written row by row as its data comes, so that a table of
# any size holds no more than a row: a pipe table, where a cell that spans
# columns stands in the first of them and leaves the others empty.

namespace eval tbl {
    variable on 0         ;# inside .TS
    variable phase ""     ;# options, format or data
    variable tab \t
    variable formats {}   ;# rows of the format: each a list of {key font}
    variable count 0      ;# data rows since the format
    variable width 0      ;# columns of the table
    variable written 0    ;# whether its head is written
    variable at 0         ;# the block it is, counted by emit
    variable row {}       ;# cells of the row being read
    variable block {}     ;# lines of a text block (T{ ... T}) being read
    variable size 0       ;# and their length
    variable inblock 0
}
proc tbl::start {} {
    variable on 1; variable phase options; variable tab \t; variable formats {}
    variable count 0; variable width 0; variable written 0; variable at 0
    variable row {}; variable block {}; variable inblock 0
}
proc tbl::line {l} {
    variable phase
    if {$phase eq "options"} {
        set phase format
        if {[regexp {;\s*$} $l]} {
            regexp {tab\s*\((.)\)} $l -> ::tbl::tab
            return
        }
    }
    if {$phase eq "format"} {format $l; return}
    data $l
}
# A line of the format: rows split by commas, each column a key letter
# (l r c n a, s for a span, ^ for a span from above, _ = - for a rule)
# with modifiers, of which only the font matters here.
proc tbl::format {l} {
    variable formats; variable width
    if {[regexp {\.\s*$} $l]} {variable phase data; variable count 0}
    foreach f [split $l ,] {
        set specs {}
        set n [string length $f]
        for {set i 0} {$i < $n} {incr i} {
            set c [string index $f $i]
            switch -glob -- $c {
                [lLrRcCnNaA] {lappend specs {l R}}
                [sS] {lappend specs {s R}}
                ^ {lappend specs {^ R}}
                [-_=] {lappend specs {_ R}}
                [bB] - [iI] {
                    if {[llength $specs]} {lset specs end 1 [string toupper $c]}
                }
                [fF] {
                    if {[string index $f $i+1] eq "("} {
                        set e [string first ) $f $i]
                        if {$e < 0} {set e $n}
                        set name [string range $f $i+2 $e-1]; set i $e
                    } else {
                        set name [string index $f [incr i]]
                        if {$name in {C H T P} && [regexp {^[A-Z](?:[\s.,|]|$)} [string range $f $i+1 end]]} {
                            append name [string index $f [incr i]]
                        }
                    }
                    if {[llength $specs]} {
                        lset specs end 1 [expr {[dict exists $::fonts $name] ? [dict get $::fonts $name] : "R"}]
                    }
                }
                [wWpPvV] {
                    if {[string index $f $i+1] eq "("} {
                        set e [string first ) $f $i]
                        set i [expr {$e < 0 ? $n : $e}]
                    }
                }
            }
        }
        if {[llength $specs]} {
            lappend formats $specs
            if {[llength $specs] > $width} {set width [llength $specs]}
        }
    }
}
# A line of data: cells split by the tab character, a text block making
# one cell of the lines up to its T}.
proc tbl::data {l} {
    variable row; variable block; variable inblock; variable tab
    if {$inblock} {
        if {![regexp {^T\}(.*)$} $l -> l]} {
            lappend block $l
            # A text block past 64 KB goes on in the same column of a new row.
            if {[incr ::tbl::size [string length $l]] > 65536} {
                set n [llength $row]
                write [concat $row [list [join $block " "]]]
                set row [lrepeat $n ""]; set block {}; set ::tbl::size 0
            }
            return
        }
        lappend row [join $block " "]
        set block {}; set inblock 0
        set cells [lrange [split $l $tab] 1 end]
    } else {
        if {[regexp {^\s*[_=]\s*$} $l] || $l eq " T&"} return
        set cells [split $l $tab]
    }
    foreach c $cells {
        if {[regexp {^T\{(.*)$} $c -> first]} {
            set inblock 1; set ::tbl::size 0
            set block [expr {$first eq "" ? {} : [list $first]}]
            return
        }
        lappend row $c
    }
    set r $row; set row {}
    write $r
}
proc tbl::write {cells} {
    variable formats; variable count; variable width; variable written
    set specs [lindex $formats [expr {min($count, [llength $formats] - 1)}]]
    incr count
    set out {}; set spans {}
    set k 0
    foreach c $cells {
        lassign [lindex $specs $k] key font
        incr k
        if {$key eq "s" && [llength $out]} {lset spans end [expr {[lindex $spans end] + 1}]; continue}
        if {$c in {\\^ ^} || [regexp {^\\?[_=]$} $c] || $key eq "_"} {set c ""}
        if {$font eq ""} {set font R}
        if {$font eq "R" && [string first \\ $c] < 0} {
            lappend out [string trim [::esc $c] " \u00a0"]
        } else {lappend out [::apart [list ::tbl::cell $font $c]]}
        lappend spans 1
    }
    while {$k < $width} {
        if {[lindex $specs $k 0] eq "s" && [llength $out]} {lset spans end [expr {[lindex $spans end] + 1}]
        } else {lappend out ""; lappend spans 1}
        incr k
    }
    row $out $spans
}
proc tbl::cell {font c} {
    ::setfont $font
    ::inline $c
}
proc tbl::end {} {
    variable on; variable inblock; variable row
    if {!$on} return
    if {$inblock} {data T\}}
    if {[llength $row]} {write $row; set row {}}
    set on 0
}

# Writes a row of cells in Markdown, each spanning the columns its span
# says, and the head of the table before the first.
proc tbl::row {out {spans {}}} {
    variable width; variable written; variable at
    if {!$width} {set width [llength $out]}
    if {[llength $spans]} {
        set cells {}
        foreach c $out n $spans {lappend cells $c {*}[lrepeat [expr {$n - 1}] ""]}
        set out $cells
    }
    if {[llength $out] < $width} {lappend out {*}[lrepeat [expr {$width - [llength $out]}] ""]}
    # Cells past the width join the last, which a pipe table would drop.
    if {[llength $out] > $width} {
        set out [lreplace $out $width-1 end [join [lrange $out $width-1 end] " "]]
    }
    set lines [list "| [join $out { | }] |"]
    # A row after another block begins a table again, head and all.
    if {$written && $::blocks == $at} {::more $lines; return}
    lappend lines |[string repeat ---| $width]
    ::block $lines
    set written 1; set at $::blocks
}
# A table made of rows already in Markdown (mdoc's column lists), with
# as many columns as given, or as its first row holds.
proc tbl::open {columns} {
    variable width $columns; variable written 0; variable at 0
}
