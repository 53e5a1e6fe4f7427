# markdown-man.tcl, sourced by markdown.tcl: the macros of man(7).

# ---------------------------------------------------------------------------
# man(7).

set bullets [list \\(bu {\[bu]} * - o + \\(em \\- \u2022 \\(bu\\ ]
set link ""     ;# the address of an open .UR or .MT
set linked {}   ;# between .UR and .UE, the paragraph before the link
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
        PP - LP - P - HP {finish; roman; place $::base; set ::described 0}
        Sp {request sp {}}
        TP {finish; roman; place $::base; set ::described 0; termitem [lindex $::depth end 2]; set ::next term}
        TQ {finish; roman; place $::base; set ::next term}
        IP {ip $args}
        RS {inset}
        RE {outset}
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
        UR - MT {linkstart $name $args}
        UE - ME {linkend $args}
    }
}
# .IP: a bullet, a number or a tag, each shown as man shows it.
proc ip {words} {
    finish; roman
    set tag [lindex $words 0]
    # roffscript splits a tag with "" inside its quotes (pod2man's
    # quoted items) into several words: join them again.
    if {[llength $words] > 2} {
        set tag [join [lrange $words 0 end-[string is double -strict [lindex $words end]]]]
    }
    if {$tag eq ""} {
        place $::indent; return
    }
    set ::described 0
    if {$tag in $::bullets} {
        set ::lead "$::base- "; set ::indent "$::base  "
    } elseif {[regexp {^\(?([0-9]{1,9})([.)]?)$} $tag -> n d]} {
        # 1. or (1) or 1): an item of an ordered list.
        set d [expr {$d eq "." ? "." : ")"}]
        set n [decimal $n]
        set ::lead "$::base$n$d "; set ::indent $::base[string repeat " " [string length "$n$d "]]
    } else {
        place $::base; termitem [lindex $::depth end 2]
        inline $tag; term; place $::base
    }
}
# .RS and .RE: a list item's indentation, kept through a depth that
# stops growing at maxshown.
proc inset {} {
    finish
    if {[llength $::depth] >= $::maxshown} {incr ::deeper; return}
    set saved [list $::base $::indent]
    # Inside a list item the item's indentation holds the inset, and
    # inside a term's description a list of the terms within; elsewhere
    # Markdown has nothing to show it with.
    set marker [nestterms]
    if {$marker eq ""} {set ::base $::indent}
    lappend ::depth [list {*}$saved $marker]
    place $::base
}
proc outset {} {
    finish
    if {$::deeper} {incr ::deeper -1; return}
    if {[llength $::depth]} {
        lassign [lindex $::depth end] ::base i
        set ::depth [lrange $::depth 0 end-1]
        place $i
    }
    set ::described 0
}
# .UR and .MT up to .UE and .ME: a link, its text the words between,
# where the address is one that may link; else, and in a code block, the
# text and then the address, as man shows them.  The text makes no link of
# its own.
proc linkstart {name words} {
    # The text up to .UE becomes the link's: the paragraph so far
    # waits aside.
    if {[llength $::linked]} return
    closefont
    set ::link [unesc [plain [lindex $words 0]]]
    if {$name eq "MT"} {set ::link mailto:$::link}
    set ::linked [list $::para $::blank $::lastch $::closed $::fragile $::linkedat]
    clear; set ::fragile 0
}
proc linkend {words} {
    if {![llength $::linked]} return
    closefont
    set text [string trim $::para " \t\u00a0"]
    lassign $::linked ::para ::blank ::lastch ::closed ::fragile ::linkedat
    set ::linked {}
    set t [url_target $::link]
    set shown [esc [regsub {^mailto:} $::link ""]]
    if {$::fill} {set ::para [linked $::para]}
    if {$t ne "" && $::fill} {
        put "\[[expr {$text eq "" ? $shown : $text}]\]($t)"
    } else {
        put [expr {$text eq "" ? $shown : $shown eq "" ? $text : "$text \\<$shown\\>"}]
    }
    set ::linkedat [string length $::para]
    inline [join $words]; endline
}
# .B, .BR and the like: each word in the next font of the list, in turn.
proc alternate {fonts words} {
    set was $::font
    set i 0
    foreach w $words {
        # A word that roffscript ended at an escaped blank gets it back.
        if {[regexp {(?:^|[^\\])(?:\\\\)*\\$} $w]} {append w " "}
        setfont [lindex $fonts [expr {$i % [llength $fonts]}]]
        inline $w
        incr i
    }
    setfont $was
    endline
}
