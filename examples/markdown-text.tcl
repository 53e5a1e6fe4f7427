# markdown-text.tcl, sourced by markdown.tcl: roff text into the open
# paragraph, with its escapes, special characters, strings and fonts, and
# the emphasis that shows the fonts in Markdown.

# ---------------------------------------------------------------------------
# Characters, strings and numbers that every page may use.

# Special characters by name, for \(xy and \[name].
set chars {
    em \u2014 en \u2013 hy - mi \u2212 lq \u201c rq \u201d oq \u2018 cq \u2019
    aq ' dq \" bu \u2022 co \u00a9 rg \u00ae tm \u2122 ti ~ ha ^ at @ sh #
    rs \\ sl / ba | or | bv | lB [ rB ] lC \{ rC \} la \u27e8 ra \u27e9
    Fo \u00ab Fc \u00bb fo \u2039 fc \u203a de \u00b0 mu \u00d7 di \u00f7
    +- \u00b1 <= \u2264 >= \u2265 != \u2260 -> \u2192 <- \u2190 ua \u2191
    da \u2193 <> \u2194 == \u2261 ~~ \u2248 if \u221e sc \u00a7 ps \u00b6
    dg \u2020 dd \u2021 ss \u00df Do $ Eu \u20ac Po \u00a3 ct \u00a2
    aa \u00b4 ga ` ul _ ru _ pc \u00b7 fm \u2032 sd \u2033 ** * Bq \u201e
    bq \u201a ae \u00e6 AE \u00c6 oe \u0153 OE \u0152 /o \u00f8 /O \u00d8
    en \u2013 hy - ,C \u00e7 ,c \u00e7 pl + eq = tf \u2234 pt \u221d
    *a \u03b1 *b \u03b2 *g \u03b3 *d \u03b4 *e \u03b5 *l \u03bb *m \u03bc
    *p \u03c0 *s \u03c3 *t \u03c4 *W \u03a9 sq \u25a1 OK \u2713 Ye \u00a5
    12 \u00bd 14 \u00bc 34 \u00be S1 \u00b9 S2 \u00b2 S3 \u00b3 r! \u00a1
    r? \u00bf no \u00ac ~= \u2245 =~ \u2245 sr \u221a nm \u2209 mo \u2208
    sb \u2282 sp \u2283 ca \u2229 cu \u222a lh \u261c rh \u261e
    /l \u0142 /L \u0141 'c \u0107 'C \u0106 'n \u0144 'N \u0143 's \u015b
    'S \u015a 'z \u017a 'Z \u0179 vs \u0161 vS \u0160 vz \u017e vZ \u017d
}
# Strings (\*x, \*(xy, \*[name]) that pages use without defining them: the
# man and mdoc packages' own, and what nroff knows of its device.
set strings {
    lq \u201c rq \u201d R \u00ae Tm \u2122 S {} HF B
    Le \u2264 Ge \u2265 Lt < Gt > Pm \u00b1 If \u221e Na NaN Ba | q \"
    Am & Ne \u2260 Pi \u03c0 Lq \u201c Rq \u201d ua \u2191 aa \u00b4
    ga ` Ai AI .T utf8 C` \" C' \" L\" \u201c R\" \u201d Aq ' C+ C++ -- --
}
# Number registers: nroff's, as groff runs it for man.
set registers {.g 1 .T 0 .H 24 .V 40 .l 1872 .i 0 .v 40 .s 10 .x 1 .y 23 .A 1}
set escapes {{ } \u00a0 ~ \u00a0 0 { } t { } ' \u00b4 ` ` . . \\ \\ - - e \\ E \\}
set accents {' \u0301 ` \u0300 ^ \u0302 : \u0308 ~ \u0303 , \u0327 o \u030a}
# The accented letters of Latin-1 whole, as man shows them: \(:u is ü.
foreach {letters marks from} {
    AEIOU {` ' ^} {0xc0 0xc8 0xcc 0xd2 0xd9} AEIOU : {0xc4 0xcb 0xcf 0xd6 0xdc}
    aeiou {` ' ^} {0xe0 0xe8 0xec 0xf2 0xf9} aeiou : {0xe4 0xeb 0xef 0xf6 0xfc}
} {
    foreach l [split $letters ""] f $from {
        set k 0
        foreach m $marks {dict set chars $m$l [format %c [expr {$f + $k}]]; incr k}
    }
}
dict set chars ~A \u00c3; dict set chars ~a \u00e3; dict set chars ~O \u00d5; dict set chars ~o \u00f5
dict set chars ~N \u00d1; dict set chars ~n \u00f1; dict set chars oA \u00c5; dict set chars oa \u00e5
dict set chars 'Y \u00dd; dict set chars 'y \u00fd; dict set chars :y \u00ff
set fonts {1 R 2 I 3 B 4 BI R R I I B B BI BI CW R CR R CB B CI I C R V R L R}
set markers {R {} B ** I * BI ***}

# The font and the emphasis of the open paragraph.
set font R; set prev R; set restore ""
set blank ""    ;# blanks written after the paragraph's last visible text
set open ""     ;# the emphasis marker open in the paragraph
set want ""     ;# the marker to open before the next visible text
set closed 0    ;# whether the paragraph ends in a closing marker
set fragile 0   ;# whether that marker follows punctuation
set colon 0     ;# whether the paragraph ends in a colon with no backslash
set lastch ""   ;# the paragraph's last character, kept since indexing a
                ;# long string of characters beyond ASCII costs its length
set joined 0    ;# whether the line ended in \c, joining the next

# Emphasis opens before the first visible character and closes before
# trailing blanks, since Markdown ignores markers next to a blank: the
# blanks after the last visible text wait in ::blank, so that closing is
# an append and a paragraph of many font changes costs no more than its
# length.  Right after a closing marker an opening one is written with the
# other of * and _, or the two would read as one run.  A marker between a
# letter and punctuation neither opens nor closes in CommonMark: a word
# joiner, written as the entity &#8288; (whose ; and & CommonMark reads as
# punctuation), stands between them and shows nothing.
proc put {s} {
    set body [string trimright $s " \t\u00a0"]
    if {$body eq ""} {append ::blank $s; return}
    set tail [string range $s [string length $body] end]
    if {$::fill && $::want ne ""} {
        set t [string trimleft $body " \t\u00a0"]
        set sp [string range $body 0 end-[string length $t]]
        set m $::want
        if {$::blank eq "" && $sp eq "" && $::closed} {
            if {$::lastch eq "*"} {set m [string map {* _} $m]}
        } elseif {$::blank eq "" && $sp eq "" && [string is alnum -strict $::lastch] && [punct? $t]} {
            append ::para "&#8288;"
        }
        append ::para $::blank $sp $m
        set ::open $m; set ::want ""; set ::blank ""; set ::fragile 0; set ::colon 0
        set body $t
    }
    if {$::fragile && $::closed && $::blank eq "" && [string is alnum -strict [string index $body 0]]} {append ::para "&#8288;"}
    # A colon that a name now follows gets the backslash [esc] gives one
    # within a piece of text.
    if {$::colon && $::blank eq "" && [regexp {^[[:alnum:]_+-]} $body]} {
        set ::para [string range $::para 0 end-1]\\:
    }
    append ::para $::blank $body
    set ::blank $tail; set ::closed 0; set ::fragile 0; set ::lastch [string index $body end]
    set ::colon [expr {$::lastch eq ":" && [regexp {(?:^|[^\\])(?:\\\\)*:$} $body]}]
    return
}
# Punctuation as CommonMark counts it: all of ASCII's, and Unicode's.
proc punct? {s} {
    set c [string index $s 0]
    if {$c eq "\\" && [string length $s] > 1} {set c [string index $s 1]}
    expr {$c ne "" && ([string first $c {!"#$%&'()*+,-./:;<=>?@[\]^_`{|}~}] >= 0 || [string is punct $c])}
}
proc closefont {} {
    set ::want ""
    if {$::open eq ""} return
    set ::fragile [punct? $::lastch]
    append ::para $::open
    set ::lastch [string index $::open end]; set ::colon 0
    set ::closed 1
    set ::open ""
}
proc setfont {f} {
    if {$f eq "P"} {set f $::prev} elseif {[dict exists $::fonts $f]} {
        set f [dict get $::fonts $f]
    } else {set f R}
    set ::prev $::font; set ::font $f
    set m [marker $f]
    if {$m ne $::open} {closefont; set ::want $m} else {set ::want ""}
}
proc roman {} {setfont R; set ::prev R}
proc marker {f} {dict get $::markers $f}
# Runs a script with an empty paragraph of its own and returns what it
# wrote there: a cell of a table, say.
proc apart {script {fill 1}} {
    set saved [list $::para $::blank $::lastch $::open $::want $::closed $::fragile $::font $::prev $::fill $::joined $::linkedat]
    clear; set ::open ""; set ::want ""; set ::fill $fill
    uplevel 1 $script
    closefont
    set r [string trim $::para " \u00a0"]
    lassign $saved ::para ::blank ::lastch ::open ::want ::closed ::fragile ::font ::prev ::fill ::joined ::linkedat
    return $r
}

# ---------------------------------------------------------------------------
# roff: text and its escapes.

proc named {n} {
    if {[dict exists $::chars $n]} {put [esc [dict get $::chars $n]]
    } elseif {[regexp {^u([0-9A-Fa-f]{4,6})(?:_|$)} $n -> hex] && "0x$hex" <= 0x10ffff} {
        put [esc [format %c 0x$hex]]
    } elseif {[regexp {^char([0-9]{1,9})$} $n -> d] && [decimal $d] < 256} {put [esc [format %c [decimal $d]]]
    } elseif {[regexp {^([`'^:~,o])([A-Za-z])$} $n -> a l]} {put $l[dict get $::accents $a]}
}
# The argument of an escape at index i of s: (xy, [name], 'quoted' with any
# delimiter, or one character.  Returns the argument and the index after it.
proc escarg {s i {quoted 0}} {
    set c [string index $s $i]
    if {$c eq "("} {return [list [string range $s $i+1 $i+2] [expr {$i + 3}]]}
    if {$c eq "\["} {
        set e [string first \] $s $i]
        if {$e < 0} {set e [string length $s]}
        return [list [string range $s $i+1 $e-1] [expr {$e + 1}]]
    }
    if {$quoted && $c ne ""} {
        set e [string first $c $s $i+1]
        if {$e < 0} {set e [string length $s]}
        return [list [string range $s $i+1 $e-1] [expr {$e + 1}]]
    }
    return [list $c [expr {$i + 1}]]
}
proc string* {name} {
    if {[dict exists $::defs $name]} {return [dict get $::defs $name]}
    if {[dict exists $::strings $name]} {return [dict get $::strings $name]}
    return ""
}
proc register {name} {
    if {$name eq ".$"} {return [expr {[llength $::args] ? [llength [lindex $::args end]] : 0}]}
    if {[dict exists $::registers $name]} {return [dict get $::registers $name]}
    return 0
}
proc argof {n} {
    if {![llength $::args]} {return ""}
    set a [lindex $::args end]
    switch -- $n {
        * {return [join $a]}
        @ {return [join [lmap w $a {expr {[string match {* *} $w] ? "\"$w\"" : $w}}]]}
        default {if {[regexp {^[0-9]{1,9}$} $n]} {return [lindex $a [decimal $n]-1]}}
    }
    return ""
}
# Writes a piece of roff text, escapes and all, into the open block.
# Strings and escapes within escapes nest at most 50 deep.
set nested 0
proc nest {} {if {[incr ::nested] > 50} {fail "strings nest deeper than 50"}}
# A number as roff reads it: decimal, leading zeros and all.
proc decimal {d} {
    set d [string trimleft $d 0]
    expr {$d eq "" ? 0 : [string length $d] > 9 ? 999999999 : $d}
}
proc inline {s} {
    set len [string length $s]
    set i 0
    while {$i < $len} {
        set j [string first \\ $s $i]
        if {$j < 0} {set j $len}
        if {$j > $i} {put [esc [string range $s $i $j-1]]}
        if {$j >= $len} break
        set c [string index $s $j+1]
        set i [expr {$j + 2}]
        switch -glob -- $c {
            f {lassign [escarg $s $i] a i; setfont [expr {$a eq "" ? "P" : $a}]}
            ( - {\[} {lassign [escarg $s [expr {$j + 1}]] a i; named $a}
            {\*} - $ {
                if {$c eq "*"} {
                    lassign [escarg $s $i] a i; set v [string* $a]
                } else {
                    lassign [escarg $s $i] a i; set v [argof $a]
                }
                nest
                if {$::expanding eq ""} {set ::expanding "the string $a"; set outer 1} else {set outer 0}
                spend [string length $v]
                inline $v
                if {$outer} {set ::expanding ""}
                incr ::nested -1
            }
            n {
                if {[string index $s $i] in {+ -}} {incr i}
                lassign [escarg $s $i] a i; put [register $a]
            }
            s {
                if {[string index $s $i] in {+ -}} {incr i}
                if {[string index $s $i] in {( [ '}} {
                    lassign [escarg $s $i 1] a i
                } else {
                    if {[string is digit [string index $s $i]]} {incr i}
                    if {[string is digit [string index $s $i]] && [string index $s $i-1] in {1 2 3}} {incr i}
                }
            }
            c {if {$i >= $len} {set ::joined 1}}
            {"} - # {break}
            {[hvwxlLoDbXZkNRSHCMmVYgAB]} {
                lassign [escarg $s $i [expr {$c ni {k m M V Y g}}]] a i
                if {$c eq "N" && [regexp {^[0-9]{1,7}$} $a] && [decimal $a] <= 0x10ffff} {put [esc [format %c [decimal $a]]]}
                if {$c eq "C"} {named $a}
                if {$c eq "Z" || $c eq "o"} {nest; inline $a; incr ::nested -1}
            }
            {[|^&)%:,/{}zudrpa!?]} {}
            default {
                if {[dict exists $::escapes $c]} {put [esc [dict get $::escapes $c]]
                } else {put [esc $c]}
            }
        }
    }
}
# What a piece of roff text says, without fonts: for comparisons.
proc plain {s} {apart {inline $s} 0}
