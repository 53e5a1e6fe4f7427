# hostile.tcl: random manual pages from a hostile alphabet for the Markdown
# renderer, and a judge of the HTML that a CommonMark implementation makes
# of what it writes.
#
#   tclsh hostile.tcl pages SEED COUNT DIR   writes DIR/1.1 ... DIR/COUNT.1
#   tclsh hostile.tcl judge FILE.html...     says what in them the renderer
#                                            did not write; status 1 if any
#
# The pages mix man(7) and mdoc(7) macros in every context (headings, tags,
# lists, tables, links, no-fill blocks, macros and strings the page defines)
# with text that tries to be markup: HTML, entities, autolinks, links,
# emphasis, block starts, control characters, URLs of every scheme, and
# numbers and arguments that Tcl would read other than roff.  The judge
# reads the HTML of cmark --unsafe (or of cmark, which shows where safe
# mode drops something): it allows the elements the renderer writes and no
# other, href only to http, https, ftp and mailto or to a page as xref
# makes it, and no comment, declaration or other markup.

set bits {
    <img\ src=x\ onerror=alert(1)> <script>alert(1)</script> </p> <!-- --> <?php ?> <!DOCTYPE>
    <a\ href=javascript:x> &lt; &amp; &#60; &#x3C; &quot; &copy; & < > \" ' ` ``` ~~~ ::: ---
    *** ___ * _ ** __ [ ] ( ) [x](javascript:alert(1)) ![i](x) [a]: <http://x.example>
    <javascript:alert(1)> www.evil.example :smile: ^sup^ ~sub~ $x$ @cite \{.c\ onclick=x\}
    {=html} # ## | |-| \\ \\\\ ! = + - 1. 1) a. (a) (@) >\ q :\ def % javascript:alert(1)
    http://ok.example/a_b?c=d&e=f#g https://x.example/(a) ftp://f.example/x mailto:a@b.example
    data:text/html,x vbscript:x file:///etc/passwd http:attacker.example //evil.example
    JaVaScRiPt:x http://x.example/\"onmouseover=\"x http://x.example/<b> \r \v \f \x01 \x7f
    \\fB \\fI \\fR \\fP \\f(BI \\(bu \\- \\e \\& \\c \\N'60' \\N'13' \\\[u003C\] \\\[char60\]
    \\\[char0999\] \\\[u000D\] \\*x \\*(yy \\*\[zz\] \\n\[r\] \\nr \\$1 \\$(08 \\$* \\$@ \\s+2
    \\Z'<b>' \\o'&' \\h'1' word words text plain caf\u00e9 \u00a0 \u2022 \u0661
}
set names {ls a.b -x .hidden http:attacker.example javascript:x a/b x_y +c c++ "a b" <b> \\fBz}
set sections {1 8 3p 1x x 0 08 ""}
set tags {\\(bu * - o 1. (2) 3) 01. 9999999999. <b> 1.\ x}

proc pick {l} {lindex $l [expr {int(rand() * [llength $l])}]}
proc words {n} {
    set w {}
    for {set i 0} {$i < $n} {incr i} {lappend w [pick $::bits]}
    join $w [pick {" " " " " " "" "\t"}]
}
proc arg {} {string map {\" \\(dq} [pick $::bits]}
proc xref {} {
    return "\\fB[pick $::names]\\fR([pick $::sections])"
}
# A macro line, or a text line, in any context.
proc line {} {
    set t [words [expr {1 + int(rand() * 4)}]]
    # On a macro line a quote begins a word, which must end.
    set w [string map {\" \\(dq} $t]
    set q "\"[string map {\" \"\"} $t]\""
    switch [expr {int(rand() * 60)}] {
        0 {return ".SH $q"} 1 {return ".SS $w"} 2 {return ".SH"} 3 {return .PP}
        4 {return .TP} 5 {return ".IP [pick $::tags]"} 6 {return ".IP $q"} 7 {return .RS}
        8 {return .RE} 9 {return .nf} 10 {return .fi} 11 {return .EX} 12 {return .EE}
        13 {return ".B $w"} 14 {return ".BR $w [xref]"} 15 {return ".UR [arg]"}
        16 {return ".UE [arg]"} 17 {return ".MT [arg]"} 18 {return .ME}
        19 {return [table]} 20 {return ".ds x $w"} 21 {return ".ds yy [xref]"}
        22 {return ".de mm\n$w\n.B \\\\\$1\n..\n.mm $q"} 23 {return ".if [pick {n t 1 0 08 09 -1 (1) \\nr}] $w"}
        24 {return ".ie [pick {n t 01}] $w\n.el [string map {\" \\(dq} [words 2]]"}
        25 {return ".nr r [pick {08 09 007 1.5 -3 \u0661 --------------1 ((((2)))) 1/0 99999999999*99999}]"}
        26 {return ".so man1/[pick $::names].1"} 27 {return ".Sh $w"}
        28 {return ".Bl [pick {-tag -bullet -enum -column -dash -item -foo}] [pick {-width -offset -compact x}]"}
        29 {return ".It $w"} 30 {return .El} 31 {return ".Bd [pick {-literal -filled -unfilled -foo}]"}
        32 {return .Ed} 33 {return ".Xr [pick $::names] [pick $::sections]"}
        34 {return ".Lk [arg] $w"} 35 {return ".Fl $w"} 36 {return ".Op Ar $w"}
        37 {return ".Bf [pick {-emphasis -literal -symbolic -foo Sy}]"} 38 {return .Ef}
        39 {return ".Dt [pick $::names] [pick $::sections]"} 40 {return ".Dl $w"}
        41 {return [xref]} 42 {return " $w"} 43 {return ".TP\n$w\n[words 3]"}
        44 {return ".[pick {sp in ti ll ce ft RS IP TP ne ps vs}] [number]"}
        45 {return ".if [pick {1 n t}] .if [pick {1 n}] .if 1 $w"}
        46 {return ".ie [number] \\{\\\n$w\n.if [number] \\{$w\n.\\}\n.\\}\n.el \\{$w\\}"}
        47 {return "\\n\[[pick {r .g .T .$ x}]\] \\n+r \\w'$w' \\h'[number]' \\s[number] $w"}
        48 {return ".[pick {as rn rm als ds}] [pick {x yy zz mm r}] [pick {x yy zz mm r}] $w"}
        49 {return ".It [pick {Fl Ar Cm Sy Xo Xc Ta Ns Pf Op Oo Oc Bq Dq Fn Fa Fo Fc St Bx Sm}] $w [pick {Ta Xc Ns .}] $w"}
        50 {return ".[pick {Fn Fo Fa Fc Ft Fd In Cd Lb St Bx Ox Nx Fx At Ux An Sm Pf Ns Ap Eo Ec Xo Xc Bk Ek}] [pick {-foo 08 off on -split}] $w"}
        51 {return ".Bl -column [number] [number] -offset [number]\n.It $w Ta $w Ta $w\n.El"}
        52 {return "[string repeat \\Z'x [expr {int(rand() * 52)}]]$w"}
        53 {return ".nr r [string repeat - [expr {int(rand() * 2000)}]][number]"}
        54 {return ".nr r [string repeat ( [expr {int(rand() * 52)}]]1"}
        55 {return "[string repeat ".if 1 " [expr {int(rand() * 105)}]]$w"}
        56 {return "\\*\[[pick {x yy zz}] [number]\] \\\$[pick {0 1 9 * @}] \\\$\[[number]\]"}
        default {return $t}
    }
}
proc number {} {
    pick [list 08 09 007 0 -1 +2 1.5 .5 3i 2m 1v (1+2)*3 08/0 99999999999999999999 \u0661\u0662 ""]
}
proc table {} {
    set cols [expr {1 + int(rand() * 4)}]
    set l ".TS\n"
    if {rand() < 0.3} {append l "tab(@);\n"; set tab @} else {set tab \t}
    set f {}
    for {set i 0} {$i < $cols} {incr i} {lappend f [pick {l r c n s ^ lb li _}]}
    append l "[join $f { }].\n"
    for {set r 0} {$r < 1 + int(rand() * 4)} {incr r} {
        set c {}
        for {set i 0} {$i < $cols} {incr i} {lappend c [pick [list [words 1] [words 2] T\{\n[words 2]\nT\} _ \\^]]}
        append l [join $c $tab] \n
    }
    return "$l.TE"
}
proc pages {seed count dir} {
    expr {srand($seed)}
    for {set n 1} {$n <= $count} {incr n} {
        set f [open [file join $dir $n.1] w]
        fconfigure $f -encoding utf-8 -translation lf
        puts $f [expr {rand() < 0.5 ? ".TH T 1" : ".Dd x\n.Dt T 1\n.Sh NAME"}]
        for {set i 0} {$i < 150} {incr i} {puts $f [line]}
        close $f
    }
}

# The elements the renderer writes, as cmark writes them; code only in pre.
set allowed {^<(/?(p|h[123]|strong|em|ul|ol|li|table|thead|tbody|tr|th|td|precode)|br /|ol start="[0-9]+")>$}
proc judge {files} {
    set bad 0
    foreach file $files {
        set f [open $file]; fconfigure $f -encoding utf-8
        set html [read $f]; close $f
        set why {}
        if {[string first "raw HTML omitted" $html] >= 0} {lappend why "safe mode dropped raw HTML"}
        set html [string map {<pre><code> <precode> </code></pre> </precode>} $html]
        foreach tag [regexp -all -inline {<[^>]*>?} $html] {
            if {[regexp {^<a href="([^"]*)">$} $tag -> href]} {
                set href [string map {&amp; & &quot; \" &lt; < &gt; >} $href]
                if {![regexp -nocase {^(https?://|ftp://|mailto:)} $href] &&
                    ![regexp {^[A-Za-z0-9_+-][A-Za-z0-9_.+-]*\.[0-9][A-Za-z0-9]*\.md$} $href]} {
                    lappend why "a target of the page's: $href"
                }
            } elseif {$tag ne "</a>" && ![regexp $::allowed $tag]} {lappend why "markup of the page's: $tag"}
        }
        if {[llength $why]} {
            puts "$file: [join [lrange [lsort -unique $why] 0 4] {; }]"
            set bad 1
        }
    }
    return $bad
}

switch -- [lindex $argv 0] {
    pages {pages {*}[lrange $argv 1 end]}
    judge {exit [judge [lrange $argv 1 end]]}
    default {puts stderr "usage: tclsh hostile.tcl pages SEED COUNT DIR | judge FILE.html..."; exit 2}
}
