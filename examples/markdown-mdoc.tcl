# markdown-mdoc.tcl, sourced by markdown.tcl: the macros of mdoc(7).

# ---------------------------------------------------------------------------
# mdoc(7).

set date ""; set volume ""; set section ""; set name ""; set nospace 0; set spacing 1
set lists {}    ;# open lists, innermost last: type, saved prefixes
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
    if {[dict exists $::mdocfonts $m]} {return [infont $m $words]}
    if {[dict exists $::enclosures $m]} {return [enclose $m $words]}
    if {[dict exists $::openers $m]} {mark [dict get $::openers $m]; set ::nospace 1; return $words}
    if {[dict exists $::closers $m]} {set ::nospace 1; mark [dict get $::closers $m]; return $words}
    if {$m in {Fn Fo Fa Fc In}} {return [function $m $words]}
    if {$m in {Lb Lk An Bx Bsx Dx Fx Nx Ox Ux At St}} {return [system $m $words]}
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
        Ta {set ::nospace 0; put "\t"}
        Eo {lassign [upto $words] mine rest; foreach w $mine {word $w}; set ::nospace 1; return $rest}
        Ec {set ::nospace 1; lassign [upto $words] mine rest; foreach w $mine {word $w}; return $rest}
        Xo - Xc {}
        Dl {finish; set f $::fill; set ::fill 0; mrun $words; finish; set ::fill $f; return {}}
    }
    return $words
}
# A macro that sets its words in its font, delimiters in roman.
proc infont {m words} {
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
# A macro that takes the rest of its line between two marks.
proc enclose {m words} {
    lassign [dict get $::enclosures $m] o c
    set n [llength $words]
    while {$n > 0 && [delimiter [lindex $words $n-1]] eq "close"} {incr n -1}
    mark $o; set ::nospace 1
    mrun [lrange $words 0 $n-1]
    set ::nospace 1; mark $c
    foreach w [lrange $words $n end] {punct $w}
    return {}
}
# The macros of a function's synopsis.
proc function {m words} {
    switch -- $m {
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
    }
    return $words
}
# Libraries, links, authors, systems and standards, by their names.
proc system {m words} {
    switch -- $m {
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
    }
    return $words
}

# Macros of mdoc that stand at the start of a line: the structure of the
# page.  Returns 0 for a macro that is not mdoc's.
proc mdoc {m words} {
    switch -- $m {
        Dd {set ::date [string trim [regsub {^\$Mdocdate: *} [join $words] ""] " $"]}
        Dt {
            finish; roman; set ::volume [lindex $words 1]
            inline "[lindex $words 0]([lindex $words 1])"; heading #
        }
        Os {origin $words}
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
        Bf {
            set f {-emphasis I Em I -literal R Li R -symbolic B Sy B}
            if {[dict exists $f [lindex $words 0]]} {setfont [dict get $f [lindex $words 0]]}
        }
        Ef {setfont R}
        Bl {
            finish
            set type tag
            foreach w $words {
                if {[regexp {^-(tag|hang|ohang|inset|diag|bullet|dash|hyphen|item|enum|column)$} $w -> type]} break
            }
            push $type
            if {$type eq "column"} {
                # As many columns as widths follow -column.
                set widths [lrange $words [lsearch -exact $words -column]+1 end]
                set k [lsearch -exact $widths -offset]
                if {$k >= 0} {set widths [lreplace $widths $k $k+1]}
                tbl::open [llength [lsearch -all -inline -not -exact $widths -compact]]
            }
        }
        El {finish; pop}
        It {item $words}
        Rv - Ex {standard $m $words}
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
# .Ex and .Rv: the sentences every page says alike.
proc standard {m words} {
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
# .Os, after .Dd and .Dt: under the title, the date, the system and the
# manual of the section, as man shows them in its header and footer.
proc origin {words} {
    set vols {1 General\ Commands 2 System\ Calls 3 Library\ Functions 4 Kernel\ Interfaces
        5 File\ Formats 6 Games 7 Miscellaneous\ Information 8 System\ Manager's 9 Kernel\ Developer's}
    set vol [string index $::volume 0]
    set vol [expr {[dict exists $vols $vol] ? [dict get $vols $vol] : ""}]
    set l [lsearch -all -inline -not -exact [list $::date [join $words] [expr {$vol eq "" ? "" : "$vol Manual"}]] ""]
    inline [join $l " \u00b7 "]; finish
}
# Lists and displays keep the prefixes in force when they began.
proc push {type} {
    if {[llength $::lists] >= $::maxnest} {fail "lists nest deeper than $::maxnest"}
    set saved [list $::base $::indent $::fill]
    set marker [expr {$type eq "tag" ? [nestterms] : ""}]
    if {$marker eq "" && $::indent ne $::base && [string length $::indent] < 2 * $::maxshown} {set ::base $::indent}
    lappend ::lists [list $type $saved $marker]
    set ::item $type; set ::enumber 0
    place $::base
}
proc pop {} {
    if {![llength $::lists]} return
    lassign [lindex $::lists end 1] ::base i f
    set ::lists [lrange $::lists 0 end-1]
    set ::item [lindex $::lists end 0]
    place $i
    set ::described 0
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
            tbl::row [lmap c $cells {apart {mrun $c}}]
        }
        default {
            place $::base; set ::described 0; termitem [lindex $::lists end 2]
            if {[llength $words]} {mrun $words}
            if {[lsearch -exact $words Xo] > [lsearch -exact $words Xc]} {set ::xo 1; return}
            term; place $::base
        }
    }
}
