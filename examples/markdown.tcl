# markdown.tcl turns the script that roffscript writes for a manual page,
# man(7) or mdoc(7), into Markdown (CommonMark, with GitHub's pipe tables):
#
#     roffscript page.1 | tclsh markdown.tcl > page.md
#     tclsh markdown.tcl page.script > page.md
#
# A page is a stranger's text, so its script runs in a safe interpreter
# stripped of every command, namespace and variable: all it can call are
# the eight words of the script, each an alias to a proc below, and a line
# is run only if it is quoted the way roffscript quotes (no [ or $ left to
# substitute), so that nothing can nest without bound.  The commands put
# each line of the page back together as roff wrote it, and the rest of
# this file reads those lines as nroff would: conditionals, strings and
# macros the page defines, then the macros of man(7), mdoc(7) and tbl(1).
# The script is read one line at a time and every block is written out as
# soon as it ends, so memory stays small however long the page.
#
# Where to add things:
#   - a special character (\(xy, \[name]): the chars dictionary;
#   - a string every page may use (\*x, \*(xy, \*[name]): the strings
#     dictionary;
#   - an escape whose argument is to be dropped: the switch in [inline];
#   - a roff request: the switch in [request]; a man(7) macro: [man];
#   - an mdoc(7) macro: [mdoc] for one that shapes the page (sections,
#     lists, displays), [mcall] for one that may stand among the words of
#     a line, or just the mdocfonts dictionary for one that only sets its
#     words in a font.
# What is not known is dropped.

# Where a cross-reference such as ls(1) links to: %N is the page's name and
# %S its section.  By default the page converted next to this one, so that
# a directory of converted pages links together; man7.org, say, would be
# https://man7.org/linux/man-pages/man%S/%N.%S.html
set xref %N.%S.md

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
set tags {R {} B <b> I <i> BI <b><i>}
set html 0      ;# whether text goes into HTML (a cell of an HTML table)
set bullets [list \\(bu {\[bu]} * - o + \\(em \\- \u2022 \\(bu\\ ]
# How deep things may nest.  Past the first limit indentation stops growing;
# past the others the run ends with a message.
set maxshown 12
set maxnest 1000
# Limits on depth do not bound work: strings or macros that each call the
# one below twice grow twice as long at each level.  Every character a
# string or macro brings in is counted, and a page may bring in this many
# beyond its own text: a second or two of work, where installed pages
# bring in a few hundred.
set budget 1000000
set spent 0
set expanding ""  ;# the outermost string or macro being expanded

# ---------------------------------------------------------------------------
# Output: blocks of Markdown, their prefixes, and emphasis.

set para ""     ;# the open block, in Markdown
set code {}     ;# lines of a code block, while not filling
set fill 1
set base ""     ;# prefix of each line at the current RS depth
set indent ""   ;# prefix of each line of the next block
set lead ""     ;# prefix of the next block's first line: a list marker
set depth {}    ;# base and indent saved by each RS, up to maxshown
set deeper 0    ;# RS levels past maxshown
set next ""     ;# what the next text line becomes: a heading or a term
set font R; set prev R; set restore ""
set blank ""    ;# blanks written after the paragraph's last visible text
set open ""     ;# the emphasis marker open in the paragraph
set want ""     ;# the marker to open before the next visible text
set closed 0    ;# whether the paragraph ends in a closing marker
set fragile 0   ;# whether that marker follows punctuation
set lastch ""   ;# the paragraph's last character, kept since indexing a
                ;# long string of characters beyond ASCII costs its length
set joined 0; set started 0; set link ""
set terms {}    ;# terms waiting for the paragraph they head
set linked {}   ;# between .UR and .UE, the paragraph before the link

proc fail {msg} {error $msg {} stop}
proc spend {n} {
    if {[incr ::spent $n] > $::budget} {
        fail "$::expanding expands past $::budget characters, more than a page may"
    }
}

# Writes one block after a blank line, each line after the block's prefix
# (the indentation of a list item).  A paragraph takes the terms waiting above it (a tagged paragraph's tag,
# a tag list's item) as lines of its own, each ending in a hard break, the
# way man sets a term above its indented description; any other block
# writes them as a paragraph of their own first.
proc emit {lines {para 0}} {
    if {[llength $::terms]} {
        set t [lmap x $::terms {string cat $x \\}]
        set ::terms {}
        if {$para} {
            set lines [concat $t $lines]
        } else {
            lset t end [string range [lindex $t end] 0 end-1]
            emit $t
        }
    }
    if {![llength $lines]} return
    if {$::started} {puts ""}
    set ::started 1
    set p $::lead
    foreach l $lines {puts [string trimright $p$l]; set p $::indent}
    set ::lead $::indent
}
# More lines of the block written last, with no blank line between.
proc more {lines} {foreach l $lines {puts [string trimright $::indent$l]}}
proc place {prefix} {set ::indent $prefix; set ::lead $prefix}

# Ends the open block: a code block in a fence longer than any run of
# backquotes inside it, or a paragraph that must not begin like a list
# item, heading, quote or fence.
proc finish {} {
    closefont
    if {[llength $::linked]} {
        set ::para [lindex $::linked 0][lindex $::linked 1]$::para
        set ::linked {}
    }
    if {!$::fill} {
        if {$::para ne ""} {lappend ::code $::para; set ::para ""; set ::blank ""; set ::lastch ""; set ::closed 0}
        if {[llength $::code]} {codeblock $::code}
        set ::code {}
    }
    set p [string trim $::para " \t\n\u00a0"]
    set ::para ""; set ::blank ""; set ::lastch ""; set ::closed 0
    if {$p ne ""} {
        # DocBook's bullets in nroff: a bullet glued to the paragraph.
        if {[regexp {^\u2022[\s\u00a0]*(.+)$} $p -> rest] && $::lead eq $::indent} {
            set ::lead "$::lead- "; set p $rest
        }
        emit [list [guard [linkify $p]]] 1
    }
    set ::want [marker $::font]
    return
}
# Cross-references (a name in bold or italic, then its section) and URLs
# in the text of a paragraph become links.
proc linkify {p} {
    if {[string first ( $p] < 0 && [string first :// $p] < 0} {return $p}
    set ref {[-\w.:+@]+}
    set re "\\*\\*($ref)\\*\\*\\((\\d\\w*)\\)|\\*($ref)\\*\\((\\d\\w*)\\)|_($ref)_\\((\\d\\w*)\\)"
    append re {|https?://(?:[^\s<>*()\[\]\\]|\\[~&_])+}
    set out ""; set at 0
    while {[regexp -indices -start $at $re $p m]} {
        lassign $m a b
        set s [string range $p $a $b]
        append out [string range $p $at $a-1]
        if {[string match http* $s]} {
            regexp {^(.*?)([.,;:!?'"]*)$} $s -> url rest
            if {[string index $p $a-1] in {< ( [}} {
                append out $s
            } else {append out <[string map {\\ {}} $url]>$rest}
        } else {
            set k [expr {[string match {\*\**} $s] ? 2 : 1}]
            set e [string last ( $s]
            set name [string map {\\ {}} [string range $s $k [expr {$e - $k - 1}]]]
            set sec [string range $s $e+1 end-1]
            append out "\[$s\]([string map [list %N $name %S $sec] $::xref])"
        }
        set at [expr {$b + 1}]
    }
    return $out[string range $p $at end]
}
# A paragraph or term must not begin like a list item, heading, quote or
# fence.
proc guard {p} {
    if {[string match {[-+#~=>|0-9]*} $p]} {
        regsub {^(\d+)([.)])} $p {\1\\\2} p
        regsub {^[-+#~=>|]} $p {\\&} p
    }
    return $p
}
# The open paragraph becomes a term, over the next paragraph; a font left
# open in it ends with it.
proc term {} {
    closefont
    set t [string trim $::para " \t\u00a0"]
    set ::para ""; set ::blank ""; set ::lastch ""; set ::closed 0
    if {$t ne ""} {lappend ::terms [guard [linkify $t]]}
    roman
}
proc codeblock {lines} {
    set f ```
    foreach run [regexp -all -inline {`+} [join $lines \n]] {
        if {[string length $run] >= [string length $f]} {set f $run`}
    }
    emit [list $f {*}$lines $f]
}

# Emphasis opens before the first visible character and closes before
# trailing blanks, since Markdown ignores markers next to a blank: the
# blanks after the last visible text wait in ::blank, so that closing is
# an append and a paragraph of many font changes costs no more than its
# length.  Right after a closing marker an opening one is written with the
# other of * and _, or the two would read as one run.  A marker between a
# letter and punctuation neither opens nor closes in CommonMark: an empty
# HTML comment, which shows nothing, stands between them.
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
        } elseif {!$::html && $::blank eq "" && $sp eq "" && [string is alnum -strict $::lastch] && [punct? $t]} {
            append ::para "<!-- -->"
        }
        append ::para $::blank $sp $m
        set ::open $m; set ::want ""; set ::blank ""; set ::fragile 0
        set body $t
    }
    if {$::fragile && !$::html && $::closed && $::blank eq "" && [string is alnum -strict [string index $body 0]]} {append ::para "<!-- -->"}
    append ::para $::blank $body
    set ::blank $tail; set ::closed 0; set ::fragile 0; set ::lastch [string index $body end]
    return
}
# Punctuation as CommonMark counts it: all of ASCII's, and Unicode's.
proc punct? {s} {
    set c [string index [string map {\\ {}} $s] 0]
    expr {$c ne "" && ([string first $c {!"#$%&'()*+,-./:;<=>?@[\]^_`{|}~}] >= 0 || [string is punct $c])}
}
proc closefont {} {
    set ::want ""
    if {$::open eq ""} return
    set ::fragile [punct? $::lastch]
    if {$::html} {
        append ::para [string map {< </} [join [lreverse [regexp -all -inline {<[^>]*>} $::open]] ""]]
    } else {append ::para $::open}
    set ::lastch [string index $::para end]
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
proc marker {f} {dict get [expr {$::html ? $::tags : $::markers}] $f}
# Markdown's own characters in page text get a backslash, except an
# underscore inside a word, which Markdown takes as it is.
proc esc {s} {
    if {$::html} {return [string map {& &amp; < &lt; > &gt;} $s]}
    if {$::fill} {
        set s [string map {[ \\[ ] \\] \\ \\\\ ` \\` * \\* _ \\_ < \\< > \\> & \\& ~ \\~ | \\|} $s]
        if {[string first _ $s] >= 0} {regsub -all {([[:alnum:]])\\_(?=[[:alnum:]])} $s {\1_} s}
    }
    return $s
}
# Runs a script with an empty paragraph of its own and returns what it
# wrote there: a cell of a table, say.
proc apart {script {fill 1}} {
    set saved [list $::para $::blank $::lastch $::open $::want $::closed $::fragile $::font $::prev $::fill $::joined]
    set ::para ""; set ::blank ""; set ::lastch ""; set ::closed 0; set ::open ""; set ::want ""; set ::fill $fill
    uplevel 1 $script
    closefont
    set r [string trim $::para " \u00a0"]
    lassign $saved ::para ::blank ::lastch ::open ::want ::closed ::fragile ::font ::prev ::fill ::joined
    return $r
}

# ---------------------------------------------------------------------------
# roff: text and its escapes.

proc named {n} {
    if {[dict exists $::chars $n]} {put [esc [dict get $::chars $n]]
    } elseif {[regexp {^u([0-9A-Fa-f]{4,6})(?:_|$)} $n -> hex] && "0x$hex" <= 0x10ffff} {
        put [esc [format %c 0x$hex]]
    } elseif {[regexp {^char(\d+)$} $n -> d] && $d < 256} {put [esc [format %c $d]]
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
        default {if {[string is digit -strict $n]} {return [lindex $a [expr {$n - 1}]]}}
    }
    return ""
}
# Writes a piece of roff text, escapes and all, into the open block.
set interpolating 0
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
                if {[incr ::interpolating] > 50} {fail "strings nest deeper than 50"}
                if {$::expanding eq ""} {set ::expanding "the string $a"; set outer 1} else {set outer 0}
                spend [string length $v]
                inline $v
                if {$outer} {set ::expanding ""}
                incr ::interpolating -1
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
                if {$c eq "N" && [string is digit -strict $a]} {put [esc [format %c $a]]}
                if {$c eq "C"} {named $a}
                if {$c eq "Z" || $c eq "o"} {inline $a}
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
        if {$::fill} {finish} else {lappend ::code ""}
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
        closefont
        lappend ::code $::para
        set ::para ""; set ::blank ""; set ::lastch ""; set ::closed 0
    } elseif {$::joined} {set ::joined 0} else {put " "}
    if {$::restore ne ""} {setfont $::restore; set ::restore ""}
}
proc heading {mark} {
    closefont
    set h [string trim $::para " \u00a0"]
    regsub {#$} $h {\\#} h
    set ::para ""; set ::blank ""; set ::lastch ""; set ::closed 0; set ::next ""; set ::base ""; set ::depth {}; set ::deeper 0; place ""
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
        sp {if {$::fill} finish else {lappend ::code ""}}
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
# Copy mode: \\ becomes \, and \$n the macro's argument.
proc copy {s} {
    if {[string first \\ $s] < 0} {return $s}
    set out ""
    while {[regexp -indices {\\(\\|\$(?:\d|\*|@|\(\d\d|\[\d+\])|n(?:\(\.\$|\[\.\$\]))} $s m]} {
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
proc condition {name words} {
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
    set toks [regexp -all -inline {\d*\.?\d+[uicpPmnvM]?|<=|>=|==|<\?|>\?|[-+*/%<>=&:()!]|[^\s]} $s]
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
        set acc [switch -- $op {
            + {expr {$acc + $r}} - {expr {$acc - $r}} * {expr {$acc * $r}}
            / {expr {$r ? $acc / $r : 0}} % {expr {$r ? $acc % $r : 0}}
            < {expr {$acc < $r}} > {expr {$acc > $r}} <= {expr {$acc <= $r}}
            >= {expr {$acc >= $r}} = - == {expr {$acc == $r}}
            & {expr {$acc > 0 && $r > 0}} : {expr {$acc > 0 || $r > 0}}
            default {set acc}
        }]
    }
    return $acc
}
proc operand {tv pv level} {
    upvar $tv toks $pv pos
    set t [lindex $toks $pos]
    incr pos
    if {$t eq "("} {
        if {$level > 50} {fail "an expression nests deeper than 50"}
        set v [eval_expr toks pos [expr {$level + 1}]]
        incr pos
        return $v
    }
    if {$t eq "-"} {return [expr {-[operand toks pos $level]}]}
    if {$t eq "!"} {return [expr {[operand toks pos $level] <= 0}]}
    if {$t eq "+"} {return [operand toks pos $level]}
    if {[regexp {^(\d*\.?\d+)} $t -> n]} {return [expr {int($n)}]}
    return 0
}

# ---------------------------------------------------------------------------
# man(7).

# Macros of the packages that stay ours even where a page defines its own.
set kept [dict create]
foreach m {TH SH SS PP LP P HP TP TQ IP RS RE B I BR RB BI IB IR RI SM SB EX EE
           Vb Ve Sp TS TE UR UE MT ME SY YS OP Sh Ss Bl El It Bd Ed} {dict set kept $m 1}

proc man {name args} {
    set args [lindex $args 0]
    switch -- $name {
        TH {
            finish; set ::fill 1; roman
            inline "[lindex $args 0]([lindex $args 1])"; heading #
            # The date, the source and the manual, as man shows them in its
            # header and footer.
            inline [join [lsearch -all -inline -not -exact [lrange $args 2 4] ""] " \u00b7 "]
            finish
        }
        SH - SS {
            finish; set ::fill 1; roman
            set m [expr {$name eq "SH" ? "##" : "###"}]
            if {[llength $args]} {inline [join $args]; heading $m} else {set ::next $m}
        }
        PP - LP - P - HP {finish; roman; place $::base}
        Sp {request sp {}}
        TP - TQ {finish; roman; place $::base; set ::next term}
        IP {
            finish; roman
            set tag [lindex $args 0]
            # roffscript splits a tag with "" inside its quotes (pod2man's
            # quoted items) into several words: join them again.
            if {[llength $args] > 2} {
                set tag [join [lrange $args 0 end-[string is double -strict [lindex $args end]]]]
            }
            if {$tag eq ""} {
                place $::indent
            } elseif {$tag in $::bullets} {
                set ::lead "$::base- "; set ::indent "$::base  "
            } elseif {[regexp {^\(?(\d{1,9})([.)]?)$} $tag -> n d]} {
                # 1. or (1) or 1): an item of an ordered list.
                set d [expr {$d eq "." ? "." : ")"}]
                set ::lead "$::base$n$d "; set ::indent $::base[string repeat " " [string length "$n$d "]]
            } else {
                place $::base
                inline $tag; term; place $::base
            }
        }
        RS {
            finish
            if {[llength $::depth] >= $::maxshown} {incr ::deeper; return}
            lappend ::depth [list $::base $::indent]
            # Inside a list item the item's indentation holds the inset;
            # elsewhere Markdown has nothing to show it with.
            set ::base $::indent
            place $::base
        }
        RE {
            finish
            if {$::deeper} {incr ::deeper -1; return}
            if {[llength $::depth]} {
                lassign [lindex $::depth end] ::base i
                set ::depth [lrange $::depth 0 end-1]
                place $i
            }
        }
        B - I - SM - SB {
            set f [dict get {B B I I SM R SB B} $name]
            if {[llength $args]} {alternate $f [list [join $args]]
            } else {set ::restore $::font; setfont $f}
        }
        BR - RB - BI - IB - IR - RI {alternate [split $name ""] $args}
        EX - Vb {finish; set ::fill 0}
        EE - Ve {finish; set ::fill 1}
        SY {finish; place $::base; alternate B [list [join $args]]}
        OP {alternate {R B R I R} [list {[} [lindex $args 0] [expr {[llength $args] > 1 ? " " : ""}] [lindex $args 1] {]}]}
        YS {finish}
        UR - MT {
            # The text up to .UE becomes the link's: the paragraph so far
            # waits aside.
            if {[llength $::linked]} return
            closefont
            set ::link [plain [lindex $args 0]]
            if {$name eq "MT"} {set ::link mailto:$::link}
            set ::linked [list $::para $::blank $::lastch $::closed $::fragile]
            set ::para ""; set ::blank ""; set ::lastch ""; set ::closed 0; set ::fragile 0
        }
        UE - ME {
            if {![llength $::linked]} return
            closefont
            set text [string trim $::para " \t\u00a0"]
            lassign $::linked ::para ::blank ::lastch ::closed ::fragile
            set ::linked {}
            set l $::link
            if {$text ne ""} {
                if {[regexp {[\s<>()]} $l]} {set l <[string map {< %3C > %3E} $l]>}
                put "\[$text\]($l)"
            } elseif {[regexp {^mailto:([^\s<>@]+@[^\s<>@]+)$} $l -> mail]} {put <$mail>
            } elseif {[regexp {^[A-Za-z][-A-Za-z0-9+.]+:[^\s<>]*$} $l]} {put <$l>
            } elseif {$l ne ""} {put [esc $l]}
            inline [join $args]; endline
        }
    }
}
# .B, .BR and the like: each word in the next font of the list, in turn.
proc alternate {fonts words} {
    set was $::font
    set i 0
    foreach w $words {
        setfont [lindex $fonts [expr {$i % [llength $fonts]}]]
        inline $w
        incr i
    }
    setfont $was
    endline
}

# ---------------------------------------------------------------------------
# mdoc(7).

set mdoc 0; set date ""; set volume ""; set section ""; set name ""; set nospace 0; set spacing 1
set lists {}    ;# open lists, innermost last: type, saved prefixes, rows
set item ""     ;# the type of the innermost list
set enumber {}
set xo 0        ;# a list item's head goes on to an Xc
set fo ""       ;# arguments so far of a function opened by Fo
set lastmacro ""

# The font of each macro that sets its words in one.
set mdocfonts {
    Fl B Cm B Ic B Nm B Sy B Fd B Cd B Er R Ev R Dv R Pa I Ar I Va I
    Ft I Em I Vt I Li R No R Tn R Ad I Ms B Sx R Ot I Mt R Ql R
    %A R %B I %C R %D R %I I %J I %N R %O R %P R %Q R %R R %T R %U R %V R
}
# The macros that take the rest of their line between two marks.
set enclosures {
    Aq {\u27e8 \u27e9} Bq {[ ]} Brq {\{ \}} Dq {\u201c \u201d} Op {[ ]}
    Pq {( )} Qq {\" \"} Sq {\u2018 \u2019} Ql {\u2018 \u2019} Eq {{} {}}
}
set openers {Ao \u27e8 Bo [ Bro \{ Do \u201c Oo [ Po ( Qo \" So \u2018}
set closers {Ac \u27e9 Bc ] Brc \} Dc \u201d Oc ] Pc ) Qc \" Sc \u2019}
set callable [dict create]
foreach m [concat [dict keys $mdocfonts] [dict keys $enclosures] [dict keys $openers] \
        [dict keys $closers] {Ns Ap Pf Xr Fn Fa In Lb Lk An Bx Bsx Dx Fx Nx Ox At Ux St Ta Xo Xc Eo Ec Fo Fc Sm Dl}] {
    dict set callable $m 1
}

# A word with a space before it unless asked not to.
proc word {w {font R}} {
    if {$::nospace && [string index $::blank end] eq " " && $::open eq ""} {
        set ::blank [string range $::blank 0 end-1]
    }
    if {!$::nospace && $::spacing && $::para ne "" && $::blank eq ""} {put " "}
    set ::nospace 0
    if {$font ne "R"} {setfont $font; inline $w; setfont R} else {inline $w}
}
# A mark of mdoc's own, not roff text: a quote, a bracket.
proc mark {m} {word [string map {\\ \\e} $m]}
proc delimiter {w} {
    if {$w in {. , : ; ) ] ? !}} {return close}
    if {$w in {( [}} {return open}
    if {$w eq "|"} {return middle}
    return ""
}
proc punct {w} {
    switch [delimiter $w] {
        close {set ::nospace 1; word $w}
        open {word $w; set ::nospace 1}
        default {word $w}
    }
}
# Runs the words of a macro line: macros among them run in turn, other
# words are written as they are.
proc mrun {words} {
    while {[llength $words]} {
        set w [lindex $words 0]
        set words [lrange $words 1 end]
        if {[dict exists $::callable $w]} {
            set words [mcall $w $words]
        } elseif {[delimiter $w] ne ""} {punct $w} else {word $w}
    }
}
# The words of a macro up to the next macro, and the rest.
proc upto {words} {
    set i 0
    foreach w $words {
        if {[dict exists $::callable $w]} break
        incr i
    }
    return [list [lrange $words 0 $i-1] [lrange $words $i end]]
}
proc mcall {m words} {
    if {[dict exists $::mdocfonts $m]} {
        lassign [upto $words] mine rest
        set f [dict get $::mdocfonts $m]
        if {$m eq "Nm" && $::name eq "" && [llength $mine]} {set ::name [lindex $mine 0]}
        if {$m eq "Fl"} {
            if {![llength $mine] || [delimiter [lindex $mine 0]] ne ""} {word \\- B}
            foreach w $mine {
                if {[delimiter $w] ne ""} {punct $w} else {word \\-$w B}
            }
        } else {
            if {![llength $mine] || [delimiter [lindex $mine 0]] eq "close"} {
                if {$m eq "Nm"} {word $::name B} elseif {$m eq "Ar"} {word "file ..." I}
            }
            # The words in one run of the font; delimiters in roman.
            foreach w $mine {
                if {[delimiter $w] ne ""} {setfont R; punct $w} else {setfont $f; word $w}
            }
            setfont R
        }
        return $rest
    }
    if {[dict exists $::enclosures $m]} {
        lassign [dict get $::enclosures $m] o c
        set n [llength $words]
        while {$n > 0 && [delimiter [lindex $words $n-1]] eq "close"} {incr n -1}
        mark $o; set ::nospace 1
        mrun [lrange $words 0 $n-1]
        set ::nospace 1; mark $c
        foreach w [lrange $words $n end] {punct $w}
        return {}
    }
    if {[dict exists $::openers $m]} {mark [dict get $::openers $m]; set ::nospace 1; return $words}
    if {[dict exists $::closers $m]} {set ::nospace 1; mark [dict get $::closers $m]; return $words}
    switch -- $m {
        Ns {set ::nospace 1}
        Ap {set ::nospace 1; word '; set ::nospace 1}
        Pf {
            word [lindex $words 0]; set ::nospace 1
            return [lrange $words 1 end]
        }
        Sm {
            set ::spacing [expr {[lindex $words 0] ne "off"}]
            if {[lindex $words 0] in {on off}} {return [lrange $words 1 end]}
        }
        Xr {
            lassign $words n s
            if {[delimiter $n] ne ""} {return $words}
            word $n B
            if {$s ne "" && [delimiter $s] eq ""} {
                set ::nospace 1; word ($s); return [lrange $words 2 end]
            }
            return [lrange $words 1 end]
        }
        Fn - Fo {
            lassign [upto $words] mine rest
            word [lindex $mine 0] B
            set ::nospace 1; word (; set ::nospace 1
            if {$m eq "Fo"} {set ::fo 0; return $rest}
            set i 1
            foreach a [lrange $mine 1 end] {
                if {[delimiter $a] ne ""} break
                if {$i > 1} {set ::nospace 1; word ,}
                word $a I; incr i
            }
            set ::nospace 1; word )
            foreach a [lrange $mine $i end] {punct $a}
            return $rest
        }
        Fa {
            lassign [upto $words] mine rest
            foreach a $mine {
                if {[delimiter $a] ne ""} {punct $a; continue}
                if {$::fo ne "" && [incr ::fo] > 1} {set ::nospace 1; word ,}
                word $a I
            }
            return $rest
        }
        Fc {set ::nospace 1; word ); set ::fo ""}
        In {
            lassign [upto $words] mine rest
            word "#include <[lindex $mine 0]>" B
            foreach a [lrange $mine 1 end] {punct $a}
            return $rest
        }
        Lb {
            set l [lindex $words 0]
            word "library “$l”"
            return [lrange $words 1 end]
        }
        Lk {
            lassign [upto $words] mine rest
            set url [lindex $mine 0]
            set text [join [lrange $mine 1 end]]
            if {$text ne ""} {word $text; word ":"; set ::nospace 0}
            word $url
            return $rest
        }
        An {
            if {[lindex $words 0] in {-split -nosplit}} {return [lrange $words 1 end]}
            lassign [upto $words] mine rest
            foreach w $mine {word $w}
            return $rest
        }
        Bx - Bsx - Dx - Fx - Nx - Ox - Ux - At {
            lassign [upto $words] mine rest
            set os [dict get {Bx BSD Bsx BSD/OS Dx DragonFly Fx FreeBSD Nx NetBSD Ox OpenBSD Ux UNIX At AT&T\ UNIX} $m]
            set v ""
            if {[llength $mine] && [delimiter [lindex $mine 0]] eq ""} {set v [lindex $mine 0]; set mine [lrange $mine 1 end]}
            if {$m eq "Bx" && $v ne ""} {word $v; set ::nospace 1; word BSD} else {word $os; if {$v ne ""} {word $v}}
            foreach w $mine {punct $w}
            return $rest
        }
        St {
            set s [lindex $words 0]
            set std {-p1003.1 {IEEE Std 1003.1 (“POSIX.1”)} -p1003.2 {IEEE Std 1003.2 (“POSIX.2”)}
                -ansiC {ANSI X3.159-1989 (“ANSI C89”)} -isoC {ISO/IEC 9899:1990 (“ISO C90”)}
                -isoC-99 {ISO/IEC 9899:1999 (“ISO C99”)} -susv2 {Version 2 of the Single UNIX Specification (“SUSv2”)}
                -susv3 {Version 3 of the Single UNIX Specification (“SUSv3”)} -p1003.1-2008 {IEEE Std 1003.1-2008 (“POSIX.1”)}
                -xpg4 {X/Open Portability Guide Issue 4 (“XPG4”)}}
            word [expr {[dict exists $std $s] ? [dict get $std $s] : $s}]
            return [lrange $words 1 end]
        }
        Ta {set ::nospace 0; put "\t"}
        Eo {lassign [upto $words] mine rest; foreach w $mine {word $w}; set ::nospace 1; return $rest}
        Ec {set ::nospace 1; lassign [upto $words] mine rest; foreach w $mine {word $w}; return $rest}
        Xo - Xc {}
        Dl {finish; set f $::fill; set ::fill 0; mrun $words; finish; set ::fill $f; return {}}
    }
    return $words
}

# Macros of mdoc that stand at the start of a line: the structure of the
# page.  Returns 0 for a macro that is not mdoc's.
proc mdoc {m words} {
    switch -- $m {
        Dd {set ::mdoc 1; set ::date [string trim [regsub {^\$Mdocdate: *} [join $words] ""] " $"]}
        Dt {
            set ::mdoc 1; finish; roman; set ::volume [lindex $words 1]
            inline "[lindex $words 0]([lindex $words 1])"; heading #
        }
        Os {
            set vols {1 General\ Commands 2 System\ Calls 3 Library\ Functions 4 Kernel\ Interfaces
                5 File\ Formats 6 Games 7 Miscellaneous\ Information 8 System\ Manager's 9 Kernel\ Developer's}
            set vol [string index $::volume 0]
            set vol [expr {[dict exists $vols $vol] ? [dict get $vols $vol] : ""}]
            set l [lsearch -all -inline -not -exact [list $::date [join $words] [expr {$vol eq "" ? "" : "$vol Manual"}]] ""]
            inline [join $l " \u00b7 "]; finish
        }
        Bk - Ek - Ud - Db - Bt - Rs {}
        Re {finish}
        Sh - Ss {
            finish; set ::fill 1; roman; set ::lists {}; set ::item ""
            set ::section [join $words]
            mrun $words; heading [expr {$m eq "Sh" ? "##" : "###"}]
        }
        Pp - Lp {finish; roman; place $::indent}
        Nd {word \u2014; mrun $words}
        Nm {
            if {$::section eq "SYNOPSIS" && $::para ne ""} {finish; place $::indent}
            mrun [list Nm {*}$words]
        }
        Fd - Ft - Fo - Fn - In - Cd - Lb {
            # In a synopsis each of these begins a line, but a function
            # stays on the line of its type.
            if {$::section eq "SYNOPSIS" && !($m in {Fo Fn} && $::lastmacro eq "Ft")} {finish; place $::indent}
            mrun [list $m {*}$words]
            if {$::section eq "SYNOPSIS" && $m in {Fd In Cd Fn Lb}} finish
        }
        Fc {mrun [list Fc {*}$words]; if {$::section eq "SYNOPSIS"} finish}
        D1 {finish; place $::indent; mrun $words; finish}
        Bd {
            finish
            push bd
            if {[lsearch -regexp $words {^-(literal|unfilled)$}] >= 0} {set ::fill 0}
        }
        Ed {finish; set ::fill 1; pop}
        Bf {setfont [dict get {-emphasis I Em I -literal R Li R -symbolic B Sy B} [lindex $words 0]]}
        Ef {setfont R}
        Bl {
            finish
            set type tag
            foreach w $words {
                if {[regexp {^-(tag|hang|ohang|inset|diag|bullet|dash|hyphen|item|enum|column)$} $w -> type]} break
            }
            push $type
        }
        El {
            finish
            if {$::item eq "column"} {
                rows [lindex $::lists end 2]
            }
            pop
        }
        It {item $words}
        Rv - Ex {
            set who [lsearch -inline -not $words -std]
            if {$who eq ""} {set who $::name}
            if {$m eq "Ex"} {
                word "The"; word $who B; word "utility exits 0 on success, and >0 if an error occurs."
            } else {
                word "The"; word $who B; set ::nospace 1; word "()"
                word "function returns the value 0 if successful; otherwise the value -1 is returned and the global variable"
                word errno I; word "is set to indicate the error."
            }
        }
        default {
            if {![dict exists $::callable $m] && ![string match %? $m]} {return 0}
            mrun [list $m {*}$words]
        }
    }
    if {$::xo && ($m eq "Xc" || [lsearch -exact $words Xc] >= 0)} {
        set ::xo 0; term; place $::base
    }
    # The end of the line is a space, unless the line ended in an opening mark.
    if {$::para ne "" && !$::nospace} {if {!$::fill} endline elseif {$::spacing} {put " "}}
    set ::lastmacro $m
    return 1
}
# Lists and displays keep the prefixes in force when they began.
proc push {type} {
    if {[llength $::lists] >= $::maxnest} {fail "lists nest deeper than $::maxnest"}
    lappend ::lists [list $type [list $::base $::indent $::fill] {}]
    set ::item $type; set ::enumber 0
    if {$::indent ne $::base && [string length $::indent] < 2 * $::maxshown} {set ::base $::indent}
    place $::base
}
proc pop {} {
    if {![llength $::lists]} return
    lassign [lindex $::lists end 1] ::base i f
    set ::lists [lrange $::lists 0 end-1]
    set ::item [lindex $::lists end 0]
    place $i
}
proc item {words} {
    finish; roman
    switch -- $::item {
        bullet - dash - hyphen - item {set ::lead "$::base- "; set ::indent "$::base  "; mrun $words}
        enum {set ::lead "$::base[incr ::enumber]. "; set ::indent "$::base   "; mrun $words}
        column {
            set cells {}; set cell {}
            foreach w $words {
                if {$w eq "Ta"} {lappend cells $cell; set cell {}} else {lappend cell $w}
            }
            lappend cells $cell
            set row [lmap c $cells {apart {mrun $c}}]
            set l [lindex $::lists end]
            lset ::lists end [lreplace $l 2 2 [concat [lindex $l 2] [list $row]]]
        }
        default {
            place $::base
            if {[llength $words]} {mrun $words}
            if {[lsearch -exact $words Xo] > [lsearch -exact $words Xc]} {set ::xo 1; return}
            term; place $::base
        }
    }
}

# ---------------------------------------------------------------------------
# tbl(1): a table written row by row as its data comes, so that a table of
# any size holds no more than a row: a pipe table, or an HTML table where
# a cell spans columns, which a pipe table cannot show.

namespace eval tbl {
    variable on 0         ;# inside .TS
    variable phase ""     ;# options, format or data
    variable tab \t
    variable formats {}   ;# rows of the format: each a list of {key font}
    variable count 0      ;# data rows since the format
    variable width 0      ;# columns of the table
    variable html 0
    variable written 0    ;# rows written
    variable row {}       ;# cells of the row being read
    variable block {}     ;# lines of a text block (T{ ... T}) being read
    variable inblock 0
}
proc tbl::start {} {
    variable on 1; variable phase options; variable tab \t; variable formats {}
    variable count 0; variable width 0; variable html 0; variable written 0
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
    variable formats; variable width; variable html
    if {[regexp {\.\s*$} $l]} {variable phase data; variable count 0}
    foreach f [split $l ,] {
        set specs {}
        set n [string length $f]
        for {set i 0} {$i < $n} {incr i} {
            set c [string index $f $i]
            switch -glob -- $c {
                [lLrRcCnNaA] {lappend specs {l R}}
                [sS] {lappend specs {s R}; set html 1}
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
        if {![regexp {^T\}(.*)$} $l -> l]} {lappend block $l; return}
        lappend row [join $block " "]
        set block {}; set inblock 0
        set cells [lrange [split $l $tab] 1 end]
    } else {
        if {[regexp {^\s*[_=]\s*$} $l] || $l eq " T&"} return
        set cells [split $l $tab]
    }
    foreach c $cells {
        if {[regexp {^T\{(.*)$} $c -> first]} {
            set inblock 1
            set block [expr {$first eq "" ? {} : [list $first]}]
            return
        }
        lappend row $c
    }
    set r $row; set row {}
    write $r
}
proc tbl::write {cells} {
    variable formats; variable count; variable width; variable html; variable written
    set specs [lindex $formats [expr {min($count, [llength $formats] - 1)}]]
    incr count
    if {!$width} {set width [llength $cells]}
    set out {}; set spans {}
    set k 0
    foreach c $cells {
        lassign [lindex $specs $k] key font
        incr k
        if {$key eq "s" && [llength $out]} {lset spans end [expr {[lindex $spans end] + 1}]; continue}
        if {$c in {\\^ ^} || [regexp {^\\?[_=]$} $c] || $key eq "_"} {set c ""}
        if {$font eq ""} {set font R}
        set ::html $html
        if {$font eq "R" && [string first \\ $c] < 0} {
            lappend out [string trim [::esc $c] " \u00a0"]
        } else {lappend out [::apart [list ::tbl::cell $font $c]]}
        set ::html 0
        lappend spans 1
    }
    while {$k < $width} {
        if {[lindex $specs $k 0] eq "s" && [llength $out]} {lset spans end [expr {[lindex $spans end] + 1}]
        } else {lappend out ""; lappend spans 1}
        incr k
    }
    if {$html} {
        set l <tr>
        foreach c $out n $spans {
            append l [expr {$n > 1 ? "<td colspan=\"$n\">" : "<td>"}] $c </td>
        }
        set lines [list $l</tr>]
        if {!$written} {set lines [linsert $lines 0 <table>]}
    } else {
        # Cells past the width join the last, which a pipe table would drop.
        if {[llength $out] > $width} {
            set out [lreplace $out $width-1 end [join [lrange $out $width-1 end] " "]]
        }
        set lines [list "| [join $out { | }] |"]
        if {!$written} {lappend lines |[string repeat ---| $width]}
    }
    if {$written} {::more $lines} else {::emit $lines}
    incr written
}
proc tbl::cell {font c} {
    ::setfont $font
    ::inline $c
}
proc tbl::end {} {
    variable on; variable html; variable written; variable inblock; variable row
    if {!$on} return
    if {$inblock} {data T\}}
    if {[llength $row]} {write $row; set row {}}
    if {$html && $written} {::more [list </table>]}
    set on 0
}

# Rows of Markdown cells as a pipe table, the first row its head.
proc rows {rows} {
    set n 0
    foreach r $rows {if {[llength $r] > $n} {set n [llength $r]}}
    if {!$n} return
    set lines {}
    foreach r $rows {
        while {[llength $r] < $n} {lappend r ""}
        lappend lines "| [join $r { | }] |"
        if {[llength $lines] == 1} {lappend lines |[string repeat ---| $n]}
    }
    emit $lines
}

# ---------------------------------------------------------------------------
# The script: eight commands that put the lines of the page back together.

set text ""     ;# the text line so far, in roff
proc run {cmd args} {$cmd {*}$args; return}
proc text {w} {append ::text [string map {\\ \\e} $w]; return}
proc char {c} {append ::text $c; return}
proc font {b} {append ::text \\f$b; return}
proc dash {} {append ::text \\-; return}
proc tab {} {append ::text \t; return}
proc newline {} {
    set l $::text; set ::text ""
    line 0 $l {}
}
proc macro {name args} {
    if {$::text ne ""} newline
    # An escaped blank inside a word ends the word, on the backslash.
    for {set i 0} {$i < [llength $args] - 1} {incr i} {
        while {[regexp {(?:^|[^\\])(?:\\\\)*\\$} [lindex $args $i]] && $i < [llength $args] - 1} {
            set args [lreplace $args $i $i+1 "[lindex $args $i] [lindex $args $i+1]"]
        }
    }
    # A comment on a macro line comes in its words.
    set i [lsearch -regexp $args {^(?:[^\\]|\\[^"])*\\"}]
    if {$i >= 0} {
        regexp {^((?:[^\\]|\\[^"])*)\\"} [lindex $args $i] -> w
        set args [lrange $args 0 $i-1]
        if {$w ne ""} {lappend args $w}
    }
    line 1 $name $args
}
# An apostrophe asks for no break, which matters here only to .br and .sp.
proc macro2 {name args} {
    if {$name ni {br sp}} {macro $name {*}$args}
}

# Raw page bytes are almost always UTF-8, and roffscript passes them on as
# they are, while it writes numbered characters as \u escapes that the Tcl
# parser makes into characters.  Reading the script as UTF-8 makes both
# into characters, which come out once each as UTF-8; reading bytes instead
# (binary or iso8859-1) would encode each raw UTF-8 byte a second time.  A
# byte that is not UTF-8, from a Latin-1 page, is read as the Latin-1
# character of that value, as the page meant; Tcl 9 needs to be told so.
# Only a line feed ends a line of the script; a carriage return is a byte
# of the page.
set in stdin
if {$argc > 1} {
    puts stderr "usage: tclsh markdown.tcl ?script?"
    exit 2
} elseif {$argc == 1} {set in [open [lindex $argv 0]]}
fconfigure $in -encoding utf-8 -translation lf
catch {fconfigure $in -profile tolerant}
fconfigure stdout -encoding utf-8 -translation lf

set safe [interp create -safe]
$safe eval {unset {*}[info globals]}
set spaces [$safe eval {namespace children ::}]
foreach cmd [$safe eval {info commands}] {$safe hide $cmd}
$safe invokehidden namespace delete {*}$spaces
foreach cmd {macro macro2 text font char dash tab newline} {
    interp alias $safe $cmd {} run $cmd
}
# A line as roffscript writes it: a command, then words each either in
# braces or with a backslash before every blank, quote, $, ;, [ and {.
# Such a line has nothing for Tcl to substitute and nothing that nests, so
# evaluating it cannot run anything else nor recurse.
set word {(?:\{(?:[^\\{}]|\\.)*\}|(?:[^\\ \t"$;\[\{]|\\.)+)}
set shape "^\[a-z\]\[a-z0-9\]*(?: $word)*\$"
# A line that fails, whether the page's or the output's fault, ends the run.
set n 0
while {[gets $in line] >= 0} {
    incr n
    if {![regexp $shape $line]} {
        puts stderr "markdown.tcl: line $n: not a line of a roffscript script"
        exit 1
    }
    # Evaluated as a list of words, so Tcl need not compile it.
    if {[catch {$safe eval [lrange $line 0 end]} err]} {
        puts stderr "markdown.tcl: line $n: $err"
        exit 1
    }
}
if {[catch {
    if {$text ne ""} newline
    if {$tbl::on} {puts stderr "markdown.tcl: a table has no .TE"; tbl::end}
    finish; emit {}; flush stdout
} err]} {
    puts stderr "markdown.tcl: $err"
    exit 1
}
