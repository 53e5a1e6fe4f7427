# markdown-output.tcl, sourced by markdown.tcl: blocks of Markdown, their
# prefixes, and the terms and links in them.

set para ""     ;# the open block, in Markdown
set code {}     ;# lines of a code block, while not filling
set fill 1
set base ""     ;# prefix of each line at the current RS depth
set indent ""   ;# prefix of each line of the next block
set lead ""     ;# prefix of the next block's first line: a list marker
set depth {}    ;# base and indent saved by each RS, up to maxshown
set deeper 0    ;# RS levels past maxshown
set next ""     ;# what the next text line becomes: a heading or a term
set started 0   ;# whether a block has been written
set terms {}    ;# terms waiting for the paragraph they head

# Writes one block after a blank line, each line after the block's prefix
# (the indentation of a list item).  A paragraph takes the terms waiting
# above it (a tagged paragraph's tag, a tag list's item) as lines of its
# own, each ending in a hard break, the way man sets a term above its
# indented description; any other block writes them as a paragraph of
# their own first.
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
