# markdown.tcl turns the script that roffscript writes for a manual page
# into Markdown:
#
#     roffscript page.1 | tclsh markdown.tcl > page.md
#     tclsh markdown.tcl page.script > page.md
#
# A page is a stranger's text, so its script runs in a safe interpreter
# stripped of every command, namespace and variable: all it can call are
# the eight words of the script, each an alias to a proc below.  Inline text
# collects in a paragraph; a macro that breaks the text writes the paragraph
# out with the indentation and list marker in force.  The script is read
# and run one line at a time, so memory stays small however long the page.
#
# To extend it, add a branch to the switch in [macro] for a macro, an entry
# to the chars or strings dictionary for a special character or a string,
# and a letter to the argument list in [char] for an escape whose argument
# should be dropped.  Macros and escapes it does not know are dropped.

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
}
# Strings (\*x, \*(xy, \*[name]) that pages use without defining them, and
# the quotes and marks that pod2man defines.
set strings {
    lq \u201c rq \u201d R \u00ae Tm \u2122 L\" \u201c R\" \u201d C` \" C' \" Aq ' C+ C++ -- --
}
# Escapes of one character, and the accents of \('e and the like as
# combining marks.
set escapes {{ } { } ~ { } t { } ' \u00b4 ` ` . . 0 { } \\ \\}
set accents {' \u0301 ` \u0300 ^ \u0302 : \u0308 ~ \u0303 , \u0327 o \u030a}
set fonts {1 R 2 I 3 B 4 BI R R I I B B BI BI}
set markers {R {} B ** I * BI ***}
set bullets [list \\(bu {\[bu]} * - o + \\(em \\- \u2022]

# The page so far: the open block, the prefixes of its lines, the font.
set para ""     ;# the open block, in Markdown
set code {}     ;# lines of a code block, while not filling
set fill 1
set base ""     ;# prefix of each line at the current RS depth
set indent ""   ;# prefix of each line of the next block
set lead ""     ;# prefix of the next block's first line: a list marker
set depth {}    ;# base and indent saved by each RS
set next ""     ;# what the next text line becomes: a heading or a term
set font R; set prev R; set restore ""
set open ""     ;# the emphasis marker open in the paragraph
set want ""     ;# the marker to open before the next visible text
set closed -1   ;# where the last closing marker ended in the paragraph
set arg ""      ;# an escape whose argument begins the next text
set blank 1; set joined 0; set comment 0; set defining 0
set started 0; set last ""; set link ""

# Writes one block after a blank line.  The blank line keeps what the
# prefixes of the two blocks share, so that a quote runs on across blocks.
proc emit {lines} {
    if {$::started} {
        set n 0
        while {$n < [string length $::last] && [string index $::last $n] eq [string index $::lead $n]} {incr n}
        puts [string trimright [string range $::last 0 $n-1]]
    }
    set ::started 1
    set p $::lead
    foreach l $lines {puts $p$l; set p $::indent}
    set ::lead $::indent
    set ::last $::indent
}
proc place {prefix} {set ::indent $prefix; set ::lead $prefix}

# Ends the open block: a code block in a fence longer than any run of
# backquotes inside it, or a paragraph that must not begin like a list
# item, heading or fence.
proc finish {} {
    closefont
    if {!$::fill} {
        if {$::para ne ""} {lappend ::code $::para; set ::para ""}
        if {[llength $::code]} {
            set f ```
            foreach run [regexp -all -inline {`+} [join $::code \n]] {
                if {[string length $run] >= [string length $f]} {set f $run`}
            }
            emit [list $f {*}$::code $f]
        }
        set ::code {}
    }
    set p [string trim $::para]
    set ::para ""; set ::closed -1
    if {$p ne ""} {
        regsub {^(\d+)([.)])} $p {\1\\\2} p
        regsub {^[-+#~=]} $p {\\&} p
        emit [list $p]
    }
    set ::want [dict get $::markers $::font]
}

# Emphasis opens before the first visible character and closes before
# trailing blanks, since Markdown ignores markers next to a blank.  Right
# after a closing marker an opening one is written with the other of * and
# _, or the two would read as one run.
proc put {s} {
    if {$::fill && $::want ne "" && [regexp {^(\s*)(\S.*)$} $s -> sp s]} {
        set m $::want
        if {$sp eq "" && [string length $::para] == $::closed && [string index $::para end] eq "*"} {
            set m [string map {* _} $m]
        }
        append ::para $sp $m
        set ::open $m; set ::want ""
    }
    append ::para $s
}
proc closefont {} {
    set ::want ""
    if {$::open eq ""} return
    set body [string trimright $::para]
    set ::para $body$::open[string range $::para [string length $body] end]
    set ::closed [string length $body$::open]
    set ::open ""
}
proc setfont {f} {
    if {$f eq "P"} {set f $::prev} elseif {[dict exists $::fonts $f]} {
        set f [dict get $::fonts $f]
    } else {set f R}
    set ::prev $::font; set ::font $f
    set m [dict get $::markers $f]
    if {$m ne $::open} {closefont; set ::want $m} else {set ::want ""}
}
# Markdown's own characters in page text get a backslash, except an
# underscore inside a word, which Markdown takes as it is.
proc esc {s} {
    if {$::fill} {
        regsub -all {[][\\`*_<>]} $s {\\&} s
        regsub -all {([[:alnum:]])\\_(?=[[:alnum:]])} $s {\1_} s
    }
    return $s
}
proc named {n} {
    if {[dict exists $::chars $n]} {put [esc [dict get $::chars $n]]
    } elseif {[regexp {^u([0-9A-Fa-f]{4,6})} $n -> hex]} {put [esc [format %c 0x$hex]]
    } elseif {[regexp {^([`'^:~,o])([A-Za-z])$} $n -> a l]} {put $l[dict get $::accents $a]}
}

# roffscript passes on only an escape's letter; its argument ((xy, [name],
# 'quoted' or one character) begins the text that follows.
proc argument {w} {
    lassign $::arg kind form
    set ::arg ""
    if {![regexp {^(?:\(([^ ]{2})|\[([^]]*)]|'([^']*)'|([-+]?[0-9]|.))(.*)$} $form$w -> a b c d w]} {return $w}
    set name $a$b$c$d
    switch $kind {
        name {named $name}
        font {setfont [expr {$name eq "" ? "P" : $name}]}
        string {if {[dict exists $::strings $name]} {put [esc [dict get $::strings $name]]}}
    }
    return $w
}

# The eight commands.  Every one passes through [run], which drops what a
# macro definition or a comment holds.
proc run {cmd args} {
    if {$::defining && $cmd ne "macro"} return
    if {$cmd ni {macro macro2 newline}} {
        if {$::comment} return
        set ::blank 0
    }
    $cmd {*}$args
}
proc text {w} {
    if {$::arg ne ""} {set w [argument $w]}
    put [esc $w]
}
proc font {b} {
    if {$b in {( [}} {set ::arg [list font $b]} else {setfont $b}
}
proc char {c} {
    set e [string range $c 1 end]
    switch -glob -- $e {
        \" {set ::comment 1}
        c {set ::joined 1}
        {\[} {set ::arg {name [}}
        \\* {set ::arg string}
        (* {named [string range $e 1 end]}
        {[snhvwlLxXoZDbkmgYVFABCRSH]} {set ::arg drop}
        default {if {[dict exists $::escapes $e]} {put [esc [dict get $::escapes $e]]}}
    }
}
proc dash {} {put -}
proc tab {} {put [expr {$::fill ? " " : "\t"}]}
proc newline {} {
    if {$::blank && $::fill} finish else endline
    set ::blank 1; set ::comment 0; set ::arg ""
}

# The end of a line of text, or of a macro that sets words in a font.
proc endline {} {
    if {$::next eq "term"} {
        set ::next ""
        set ::lead "$::base- "; finish; place "$::base  "
    } elseif {$::next ne ""} {
        heading $::next
    } elseif {!$::fill} {
        lappend ::code $::para
        set ::para ""
    } elseif {$::joined} {set ::joined 0} else {put " "}
    if {$::restore ne ""} {setfont $::restore; set ::restore ""}
}
proc heading {mark} {
    closefont
    set h [string trim $::para]
    set ::para ""; set ::next ""; set ::base ""; set ::depth {}; place ""
    if {$h ne ""} {emit [list "$mark $h"]}
    set ::want [dict get $::markers $::font]
}

# A macro's words are as the page wrote them, escapes and all, so they go
# through the same commands as the pieces of a text line.
proc inline {w} {
    while {[set i [string first \\ $w]] >= 0} {
        if {$i > 0} {text [string range $w 0 $i-1]}
        set c [string index $w $i+1]
        set n 2
        switch -- $c {
            ( {char \\([string range $w $i+2 $i+3]; set n 4}
            f {font [string index $w $i+2]; set n 3}
            e - \\ {text \\}
            - {dash}
            default {char \\$c}
        }
        set w [string range $w $i+$n end]
    }
    if {$w ne ""} {text $w}
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

proc macro {name args} {
    if {$::defining} {
        if {$name eq "."} {set ::defining 0}
        return
    }
    switch -- $name {
        TH {finish; set ::fill 1; inline "[lindex $args 0]([lindex $args 1])"; heading #}
        SH - SS - Sh - Ss {
            finish; set ::fill 1
            set m [expr {$name in {SH Sh} ? "##" : "###"}]
            if {[llength $args]} {inline [join $args]; heading $m} else {set ::next $m}
        }
        PP - LP - P - HP - Pp {finish; place $::base}
        TP - TQ {finish; place $::base; set ::next term}
        IP {
            finish; place $::base
            set tag [lindex $args 0]
            if {$tag eq ""} {
                place "$::base  "
            } elseif {$tag in $::bullets} {
                set ::lead "$::base- "; set ::indent "$::base  "
            } else {
                inline $tag; set ::lead "$::base- "; finish; place "$::base  "
            }
        }
        RS {
            finish
            lappend ::depth [list $::base $::indent]
            # Inside a list item the item's indentation holds the inset; elsewhere a quote.
            set ::base [expr {$::indent ne $::base ? $::indent : "$::base> "}]
            place $::base
        }
        RE {
            finish
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
        ft {setfont [expr {[llength $args] ? [lindex $args 0] : "P"}]}
        nf - EX - Vb - TS {finish; set ::fill 0}
        fi - EE - Ve - TE {finish; set ::fill 1}
        br {if {$::fill} finish}
        sp {if {$::fill} finish else {lappend ::code ""}}
        SY {finish; place $::base; alternate B [list [join $args]]}
        OP {alternate {R B R I R} [list {[} [lindex $args 0] [expr {[llength $args] > 1 ? " " : ""}] [lindex $args 1] {]}]}
        YS {finish}
        UR - MT {set ::link [lindex $args 0]}
        UE - ME {
            if {$::link ne ""} {put "("; inline $::link; put ")"}
            inline [join $args]; endline
        }
        de - de1 - am - ig {set ::defining 1}
    }
    set ::blank 1; set ::comment 0
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
# A line that fails, whether the page's or the output's fault, ends the run.
set n 0
while {[gets $in line] >= 0} {
    incr n
    if {[catch {$safe eval $line} err]} {
        puts stderr "markdown.tcl: line $n: $err"
        exit 1
    }
}
if {[catch {finish; flush stdout} err]} {
    puts stderr "markdown.tcl: $err"
    exit 1
}
