# markdown-roff.tcl, sourced by markdown.tcl: each line of the page as
# nroff reads it: requests, conditionals, strings, macros and numbers.

# Limits on depth do not bound work: strings or macros that each call the
# one below twice grow twice as long at each level.  Every character a
# string or macro brings in is counted, and a page may bring in this many
# beyond its own text: a second or two of work, where installed pages
# bring in a few hundred.
set budget 1000000
set spent 0
set expanding ""  ;# the outermost string or macro being expanded

proc fail {msg} {error $msg {} stop}
proc spend {n} {
    if {[incr ::spent $n] > $::budget} {
        fail "$::expanding expands past $::budget characters, more than a page may"
    }
}

# ---------------------------------------------------------------------------
# roff: requests, conditionals, strings and macros the page defines.

set defs [dict create]    ;# strings by name
set macros [dict create]  ;# macros by name: lists of lines
set msize [dict create]   ;# and their length in characters
set args {}               ;# arguments of the macros being run, innermost last
set defining ""           ;# while a macro is being defined: name and end
set body {}
set skip 0                ;# depth of \{ within a branch not taken
set ies {}                ;# results of .ie, for .el

# Every line of the page comes here: a request or macro as its name and
# words, or a text line as it was written.
proc line {req name words} {
    if {$::skip} {
        set s [expr {$req ? "$name [join $words]" : $name}]
        incr ::skip [expr {[regexp -all {\\\{} $s] - [regexp -all {\\\}} $s]}]
        if {$::skip < 0} {set ::skip 0}
        return
    }
    if {$::defining ne ""} {
        lassign $::defining m end
        if {$req && $name eq $end} {
            dict set ::macros $m $::body
            dict set ::msize $m [string length [join $::body]]
            set ::defining ""; set ::body {}
        } else {lappend ::body [list $req $name $words]}
        return
    }
    if {$tbl::on && !($req && $name in {TE T&})} {
        if {!$req} {
            tbl::line $name
        } elseif {[regexp {^([BI]|SB|[BIR][BIR])$} $name]} {
            # A font macro in a text block, as the text it sets.
            set f [split [string map {SB B} $name] ""]
            set text ""; set i 0
            foreach w $words {
                append text [expr {[llength $f] > 1 || $i == 0 ? "" : " "}] \\f[lindex $f [expr {$i % [llength $f]}]] $w
                incr i
            }
            tbl::line $text\\fR
        }
        return
    }
    if {$req} {request $name $words} else {textline $name}
}

# A text line: a blank line ends a paragraph, a leading blank breaks.
proc textline {s} {
    if {$s eq ""} {
        if {$::fill} finish else codeline
        return
    }
    if {$::fill && [string index $s 0] eq " " && $::next eq ""} finish
    inline $s
    endline
}

# The end of a line of text, or of a macro that sets words in a font.
proc endline {} {
    if {$::next eq "term"} {
        set ::next ""
        term; place $::base
    } elseif {$::next ne ""} {
        heading $::next
    } elseif {!$::fill} {
        codeline
    } elseif {$::joined} {set ::joined 0} else {
        put " "
        if {[string length $::para] > 2000} breakline
    }
    if {$::restore ne ""} {setfont $::restore; set ::restore ""}
}
proc heading {mark} {
    closefont
    set h [string trim $::para " \u00a0"]
    clear; set ::next ""; set ::base ""; set ::depth {}; set ::deeper 0; set ::described 0; place ""
    if {$h ne ""} {emit [list "$mark $h"]}
    roman
}

# Runs a request, a macro the page defined, or a macro of a package.
set calls 0
proc request {name words} {
    if {[dict exists $::macros $name] && ![dict exists $::kept $name]} {
        if {[incr ::calls] > 100} {fail "macros nest deeper than 100"}
        if {$::expanding eq ""} {set ::expanding "the macro $name"; set outer 1} else {set outer 0}
        spend [dict get $::msize $name]
        lappend ::args $words
        foreach l [dict get $::macros $name] {
            lassign $l req n w
            if {$req} {
                set w [lmap x $w {copy $x}]
                if {[string match *\\\\$* $n]} {set n [copy $n]}
                line 1 $n $w
            } else {line 0 [copy $n] {}}
        }
        set ::args [lrange $::args 0 end-1]
        if {$outer} {set ::expanding ""}
        incr ::calls -1
        return
    }
    switch -- $name {
        ds - ds1 - as - as1 - de - de1 - am - am1 - dei - ig - als - rm - rn {define $name $words}
        nr {
            lassign $words r v
            if {[regexp {^[-+]} $v]} {set v [expr {[register $r] + [number $v]}]} else {set v [number $v]}
            dict set ::registers $r $v
        }
        if - ie - el {condition $name $words}
        so - mso {
            if {$name eq "so"} {
                set f [lindex $words 0]
                finish
                if {[regexp {([^/]+)\.([^./]+)(?:\.gz)?$} $f -> page sec]} {
                    put "See **[esc $page]**([esc $sec])."
                } else {put "See [esc $f]."}
                finish
            }
        }
        ft {setfont [expr {[llength $words] ? [lindex $words 0] : "P"}]}
        nf {finish; set ::fill 0}
        fi {finish; set ::fill 1}
        br {if {$::fill} finish}
        sp {if {$::fill} finish else codeline}
        TS {finish; tbl::start}
        TE {tbl::end}
        T& {if {$tbl::on} {set tbl::phase format; set tbl::formats {}}}
        {\}} {}
        default {
            if {[mdoc $name $words]} return
            man $name $words
        }
    }
}
# The requests that define, copy, rename and remove strings and macros.
proc define {name words} {
    switch -- $name {
        ds - ds1 - as - as1 {
            # roffscript drops the quotes of .ds X "", which nroff takes as "
            set v [join [lrange $words 1 end]]
            if {[string index $v 0] eq "\""} {set v [string range $v 1 end]}
            if {[lrange $words 1 end] eq "{}"} {set v \"}
            if {$name in {as as1}} {set v [string* [lindex $words 0]]$v}
            dict set ::defs [lindex $words 0] $v
        }
        de - de1 - am - am1 - dei - ig {
            set m [lindex $words 0]
            set end [expr {[llength $words] > 1 ? [lindex $words 1] : "."}]
            if {$name eq "ig"} {set m ""; set end [expr {[llength $words] ? [lindex $words 0] : "."}]}
            set ::body [expr {$name in {am am1} && [dict exists $::macros $m] ? [dict get $::macros $m] : {}}]
            set ::defining [list $m $end]
            if {$name eq "ig"} {set ::defining [list " ig" $end]}
        }
        als {
            lassign $words new old
            if {[dict exists $::macros $old]} {
                dict set ::macros $new [dict get $::macros $old]
                dict set ::msize $new [dict get $::msize $old]
            }
            if {[dict exists $::defs $old]} {dict set ::defs $new [dict get $::defs $old]}
        }
        rm {foreach w $words {dict unset ::macros $w; dict unset ::msize $w; dict unset ::defs $w}}
        rn {
            lassign $words old new
            foreach d {macros msize defs} {
                if {[dict exists [set ::$d] $old]} {
                    dict set ::$d $new [dict get [set ::$d] $old]; dict unset ::$d $old
                }
            }
        }
    }
}
# Copy mode: \\ becomes \, and \$n the macro's argument.
proc copy {s} {
    if {[string first \\ $s] < 0} {return $s}
    set out ""
    while {[regexp -indices {\\(\\|\$(?:[0-9]|\*|@|\([0-9][0-9]|\[[0-9]+\])|n(?:\(\.\$|\[\.\$\]))} $s m]} {
        lassign $m a b
        append out [string range $s 0 $a-1]
        set e [string range $s $a+1 $b]
        if {$e eq "\\"} {append out \\
        } elseif {[string index $e 0] eq "n"} {append out [register .$]
        } else {append out [argof [string trim [string range $e 1 end] {()[]}]]}
        set s [string range $s $b+1 end]
    }
    spend [string length $out]
    return $out$s
}

# .if, .ie and .el: nroff takes n, not t; e and o are odd and even pages.
set conditions 0
proc condition {name words} {
    # A failure ends the run, so the count need not come down then.
    if {[incr ::conditions] > 100} {fail "conditions nest deeper than 100"}
    condition1 $name $words
    incr ::conditions -1
}
proc condition1 {name words} {
    # roffscript splits the line by its own rules, in which an apostrophe
    # may hold the rest of the line together: split it again here.
    set s [string trimleft [unsplit $words]]
    if {$name eq "el"} {
        set yes [expr {[llength $::ies] ? ![lindex $::ies end] : 0}]
        set ::ies [lrange $::ies 0 end-1]
    } else {
        set not [regsub {^!} $s {} s]
        set d [string index $s 0]
        if {[regexp {^([ntoev])(?:\s+|$)(.*)$} $s -> c s]} {
            set yes [expr {$c in {n o}}]
        } elseif {[regexp {^([dcmrFS])\s*(\S+)\s*(.*)$} $s -> c n s]} {
            set n [plain $n]
            set yes [switch $c {
                d {expr {[dict exists $::defs $n] || [dict exists $::macros $n] || [dict exists $::strings $n]}}
                r {dict exists $::registers $n}
                c {expr 1}
                default {expr 0}
            }]
        } elseif {$d ne "" && ![string match {[0-9(+\\-]} $d] && [llength [set p [split $s $d]]] >= 4} {
            lassign $p - a b
            set s [string trimleft [join [lrange $p 3 end] $d]]
            set yes [expr {[plain $a] eq [plain $b]}]
        } else {
            regexp {^(\S*)\s*(.*)$} $s -> c s
            set yes [expr {[number $c] > 0}]
        }
        if {$not} {set yes [expr {!$yes}]}
        if {$name eq "ie"} {lappend ::ies $yes}
        if {[llength $::ies] > $::maxnest} {set ::ies [lrange $::ies end-99 end]}
    }
    if {[regsub {^\\\{\s*} $s {} s]} {
        if {!$yes} {
            set ::skip 1
            line 0 $s {}
            return
        }
        if {$s eq "\\"} {set s ""}
    } elseif {!$yes} return
    if {$s eq ""} return
    if {[regexp {^[.']\s*([^\s]+)\s*(.*)$} $s -> n rest]} {
        line 1 $n [roffsplit $rest]
    } else {line 0 $s {}}
}
# Words back into a line, and a line into words as roff splits them.
proc unsplit {words} {
    join [lmap w $words {
        expr {$w eq "" || ([regexp {[ \t]} $w] && ![string match *'* $w]) ? "\"[string map {\" \"\"} $w]\"" : $w}
    }]
}
proc roffsplit {s} {
    set words {}
    set n [string length $s]
    set i 0
    while {$i < $n} {
        while {$i < $n && [string index $s $i] in {" " "\t"}} {incr i}
        if {$i >= $n} break
        set w ""
        if {[string index $s $i] eq "\""} {
            # "" inside quotes is a quote; the quote that ends the word does not pair.
            incr i
            while {$i < $n} {
                set c [string index $s $i]
                if {$c eq "\""} {
                    if {[string index $s $i+1] ne "\""} {incr i; break}
                    incr i
                }
                append w $c; incr i
            }
        } else {
            while {$i < $n && [string index $s $i] ni {" " "\t"}} {
                if {[string index $s $i] eq "\\"} {append w \\; incr i}
                append w [string index $s $i]; incr i
            }
        }
        lappend words $w
    }
    return $words
}
# A numeric expression, evaluated left to right as roff does, in scaled
# units taken as plain numbers.
proc number {s {level 0}} {
    while {[regexp -indices {\\n[+-]?(\([^ ]{2}|\[[^]]*\]|.)} $s m r]} {
        set name [string trim [string range $s {*}$r] {([]}]
        set s [string replace $s {*}$m [register $name]]
    }
    set s [string map {\\ {}} $s]
    set toks [regexp -all -inline {[0-9]*\.?[0-9]+[uicpPmnvM]?|<=|>=|==|<\?|>\?|[-+*/%<>=&:()!]|[^\s]} $s]
    set pos 0
    return [eval_expr toks pos $level]
}
proc eval_expr {tv pv level} {
    upvar $tv toks $pv pos
    set acc [operand toks pos $level]
    while {$pos < [llength $toks]} {
        set op [lindex $toks $pos]
        if {$op eq ")"} break
        incr pos
        set r [operand toks pos $level]
        set acc [clamp [switch -- $op {
            + {expr {$acc + $r}} - {expr {$acc - $r}} * {expr {$acc * $r}}
            / {expr {$r ? $acc / $r : 0}} % {expr {$r ? $acc % $r : 0}}
            < {expr {$acc < $r}} > {expr {$acc > $r}} <= {expr {$acc <= $r}}
            >= {expr {$acc >= $r}} = - == {expr {$acc == $r}}
            & {expr {$acc > 0 && $r > 0}} : {expr {$acc > 0 || $r > 0}}
            default {set acc}
        }]]
    }
    return $acc
}
# roff's numbers are 32 bits wide.
proc clamp {n} {expr {$n > 2147483647 ? 2147483647 : $n < -2147483647 ? -2147483647 : $n}}
proc operand {tv pv level} {
    upvar $tv toks $pv pos
    # Signs and negations before an operand, taken in a loop.
    set signs {}
    while {[set t [lindex $toks $pos]] in {- + !}} {lappend signs $t; incr pos}
    set v [operand1 toks pos $level]
    foreach t [lreverse $signs] {
        if {$t eq "-"} {set v [expr {-$v}]} elseif {$t eq "!"} {set v [expr {$v <= 0}]}
    }
    return $v
}
proc operand1 {tv pv level} {
    upvar $tv toks $pv pos
    set t [lindex $toks $pos]
    incr pos
    if {$t eq "("} {
        if {$level > 50} {fail "an expression nests deeper than 50"}
        set v [eval_expr toks pos [expr {$level + 1}]]
        incr pos
        return $v
    }
    if {[regexp {^[0-9]*\.?[0-9]} $t]} {regexp {^[0-9]*} $t n; return [decimal $n]}
    return 0
}
