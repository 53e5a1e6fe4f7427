# markdown-output.tcl, sourced by markdown.tcl: blocks of Markdown, their
# prefixes, the terms and links in them, the escaping of page text in each
# context, and the budget on what is written.

set para ""     ;# the open block, in Markdown
set fill 1
set base ""     ;# prefix of each line at the current RS depth
set indent ""   ;# prefix of each line of the next block
set lead ""     ;# prefix of the next block's first line: a list marker
set depth {}    ;# base and indent saved by each RS, up to maxshown
set deeper 0    ;# RS levels past maxshown
set next ""     ;# what the next text line becomes: a heading or a term
set started 0   ;# whether a block has been written
set terms {}    ;# terms waiting for the paragraph they head
set flushed 0   ;# whether the open paragraph has written a line
set linkedat 0  ;# the length of the open paragraph's start that holds links
set described 0 ;# whether the last paragraph was a term's description
set termlead "" ;# the list marker of the next terms, where they nest
set incode 0    ;# whether a code block is open
set blanks 0    ;# blank lines of the code block not yet written

# ---------------------------------------------------------------------------
# Escaping: one rule for each context that page text reaches.  All of it
# passes through these procs, so that CommonMark (and GFM, and pandoc's
# Markdown) read it as the characters man shows, never as markup.

# Inline text (paragraphs, terms, headings, table cells, link text): no
# control character but tab; a backslash before each ASCII punctuation
# character that does something somewhere in a line (\ ` * _ [ ] < > & ~
# | ! # $ @ ^ { }, and : before a name, as in :emoji:), except _ inside a
# word, which is text there; "www." as GFM does not link it.  What is
# left (, . ; ? " ' ( ) / - = % + :) does something only at the start of
# a line, where [guard] sees to it.
proc esc {s} {
    # Most pieces of text hold none of these.
    if {![regexp {[^- A-Za-z0-9,.;?"'()/=%+\t]} $s] && [string first www. $s] < 0} {return $s}
    if {[regexp {[\x00-\x08\x0a-\x1f\x7f-\x9f]} $s]} {regsub -all {[\x00-\x08\x0a-\x1f\x7f-\x9f]} $s "" s}
    set s [string map {\\ \\\\ ` \\` * \\* _ \\_ [ \\[ ] \\] < \\< > \\> & \\& ~ \\~ | \\| ! \\! # \\# $ \\$ @ \\@ ^ \\^ \{ \\\{ \} \\\}} $s]
    if {[string first _ $s] >= 0} {regsub -all {([[:alnum:]])\\_(?=[[:alnum:]])} $s {\1_} s}
    if {[string first : $s] >= 0} {regsub -all {:(?=[[:alnum:]_+-])} $s {\\:} s}
    if {[string first www. $s] >= 0} {regsub -all {(^|[^[:alnum:]])www\.} $s {\1www\\.} s}
    return $s
}
# Inline text back to the page's, for a code block or a comparison.
proc unesc {s} {
    if {[string first \\ $s] < 0} {return $s}
    regsub -all {\\([!-/:-@\[-`\{-~])} $s {\1}
}
# The start of a line of inline text: a backslash before what would begin
# a block there (a list item, a rule, a setext underline, pandoc's
# definition lists, divs and lettered lists); the rest is escaped already.
# pandoc takes [ ] or [x] at the start of a list item as a check box,
# backslashes or not: a word joiner breaks it.
proc guard {p} {
    if {[string match {[-+=(:%]*} $p]} {return \\$p}
    if {[string match {\\\[?\\\]*} $p]} {regsub {^\\\[([ xX])\\\](?=\s|$)} $p {\\[\&#8288;\1\\]} p}
    if {[string match {[0-9A-Za-z]*} $p]} {
        regsub {^([0-9]+|[A-Za-z]|[ivxlcdm]+|[IVXLCDM]+)([.)])(?=\s|$)} $p {\1\\\2} p
    }
    return $p
}
# A line of a code block, after a fence of three backquotes: as the page
# wrote it, less control characters but tab; a line that would close the
# fence is indented four spaces more, so that it cannot.
proc code {s} {
    if {[regexp {[\x00-\x08\x0a-\x1f\x7f-\x9f]} $s]} {regsub -all {[\x00-\x08\x0a-\x1f\x7f-\x9f]} $s "" s}
    if {[string first ``` $s] >= 0 && [regexp {^ {0,3}`{3,}[ \t]*$} $s]} {set s "    $s"}
    return $s
}
# A link target: every byte outside a URL's safe characters %-encoded, and
# & escaped, so that the target cannot end the link or hold an entity.
proc dest {t} {
    if {![regexp {^[-A-Za-z0-9._~:/?#@!$'*+,;=%]*$} $t]} {
        set out ""
        foreach b [split [encoding convertto utf-8 $t] ""] {
            if {[regexp {[-A-Za-z0-9._~:/?#@!$'*+,;=%]} $b]} {append out $b
            } else {append out [format %%%02X [scan $b %c]]}
        }
        set t $out
    }
    regsub -all {%(?![0-9A-Fa-f]{2})} $t %25 t
    string map {& \\&} $t
}

# ---------------------------------------------------------------------------
# Links: only those made here, only to pages and to the web.

# Where a cross-reference links to, or "" to leave it as text: by default
# the pattern xref.  A site generator may define this proc again to link
# to the pages of its tree.
proc xref_target {name section} {string map [list %N $name %S $section] $::xref}
# A cross-reference links only where its name is one a page can have (no
# / or :, no leading dot, nothing a path must escape) and its section a
# section.
proc xref {name section} {
    if {![regexp {^[A-Za-z0-9_+-][A-Za-z0-9_.+-]*$} $name] ||
        ![regexp {^(?:[1-9][A-Za-z0-9]{0,7}|0p)$} $section]} {return ""}
    set t [xref_target $name $section]
    expr {$t eq "" ? "" : [dest $t]}
}
# A URL links only for http, https, ftp and mailto.
proc url_target {u} {
    if {[string length $u] > 4000 ||
        ![regexp -nocase {^(?:(?:https?|ftp)://[^/?#\s]|mailto:\S)} $u]} {return ""}
    dest $u
}
# Cross-references (a name in bold or italic, then its section) and URLs
# in the text of a paragraph become links.
proc linkify {p} {
    if {[string first ( $p] < 0 && [string first :// $p] < 0} {return $p}
    # Found by a simple pattern, which Tcl matches fast, then read again.
    set n {[-A-Za-z0-9.+_\\]+}
    set sec {\([0-9][A-Za-z0-9]*\)}
    set re "\\*\\*$n\\*\\*$sec|\\*$n\\*$sec|_${n}_$sec"
    append re {|(?:https?|ftp)://(?:[^\s\\*()<>&\[\]]|\\[~#@!$_:*^|=&])+}
    set out ""; set at 0
    while {[regexp -indices -start $at $re $p m]} {
        lassign $m a b
        set s [string range $p $a $b]
        append out [string range $p $at $a-1]
        if {[string match {[*_]*} $s]} {
            set k [expr {[string match {\*\**} $s] ? 2 : 1}]
            set e [string last ( $s]
            set name [string range $s $k [expr {$e - $k - 1}]]
            set sc [string range $s $e+1 end-1]
            set u $s; set rest ""
            # An underscore at either end of the name is a marker.
            set t [expr {[regexp {^_|[^\\]_$} $name] ? "" : [xref [unesc $name] $sc]}]
        } else {
            # Punctuation at the end ends a sentence, not the URL.
            set e [string length $s]
            while {1} {
                set c [string index $s $e-1]
                if {$c in {. , ; : ? ' \"}} {incr e -1
                } elseif {$c eq "!" && [string index $s $e-2] eq "\\"} {incr e -2} else break
            }
            set u [string range $s 0 $e-1]; set rest [string range $s $e end]
            set t [url_target [unesc $u]]
        }
        append out [expr {$t eq "" ? $s : "\[$u\]($t)$rest"}]
        set at [expr {$b + 1}]
    }
    return $out[string range $p $at end]
}
# The paragraph p with links made in what follows its links.
proc linked {p} {
    if {!$::linkedat} {return [linkify $p]}
    return [string range $p 0 $::linkedat-1][linkify [string range $p $::linkedat end]]
}

# ---------------------------------------------------------------------------
# Writing, within a budget.

# Everything written counts against a budget of 64 bytes for each byte of
# the script read so far, and a million more: installed pages write less
# than their script, while table padding or a macro called again and
# again could write gigabytes.
set read 0      ;# bytes of the script read, kept by markdown.tcl
set written 0
proc out {l} {
    if {[incr ::written [expr {[string bytelength $l] + 1}]] > 64 * $::read + 1000000} overspent
    puts $l
}
proc overspent {} {
    set what [expr {$::expanding ne "" ? $::expanding : $tbl::on ? "a table" : "the page"}]
    fail "$what writes past [expr {64 * $::read + 1000000}] bytes, 64 for each byte of the script and a million more"
}
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
        if {$::termlead ne ""} {set ::lead $::termlead; set ::termlead ""}
        if {$para} {
            set lines [concat $t $lines]
            set ::described 1
        } else {
            lset t end [string range [lindex $t end] 0 end-1]
            emit $t
        }
    }
    if {![llength $lines]} return
    if {$::started} {out ""}
    set ::started 1; incr ::blocks
    set p $::lead
    foreach l $lines {
        set l [string trimright $p$l " \t"]
        if {[incr ::written [expr {[string bytelength $l] + 1}]] > 64 * $::read + 1000000} overspent
        puts $l
        set p $::indent
    }
    set ::lead $::indent
}
set blocks 0    ;# blocks written
# A code block or table: where it begins a list item, a no-break space
# heads the item, so that pandoc too reads the block within the item.
proc block {lines} {
    if {$::lead ne $::indent} {emit [list \u00a0]}
    emit $lines
}
# More lines of the block written last, with no blank line between.
proc more {lines} {
    foreach l $lines {
        set l [string trimright $::indent$l " \t"]
        if {[incr ::written [expr {[string bytelength $l] + 1}]] > 64 * $::read + 1000000} overspent
        puts $l
    }
}
proc place {prefix} {set ::indent $prefix; set ::lead $prefix}
proc clear {} {set ::para ""; set ::blank ""; set ::lastch ""; set ::closed 0; set ::linkedat 0; set ::colon 0}

# Ends the open block: a code block, or a paragraph.
proc finish {} {
    closefont
    if {[llength $::linked]} {
        # A link never closed: its text stays, as text.
        set ::para [lindex $::linked 0][lindex $::linked 1]$::para
        set ::linkedat [lindex $::linked 5]
        set ::linked {}
    }
    if {!$::fill} {
        if {$::para ne ""} codeline
        if {$::incode} {more [list ```]}
        set ::incode 0; set ::blanks 0
    } else flushpara
    clear; set ::flushed 0
    set ::want [marker $::font]
    return
}
# Writes the open paragraph so far as a line of its own; the paragraph
# goes on in the next, so that a paragraph of any length holds no more
# than a line or two of it.
proc flushpara {} {
    if {$::para eq ""} return
    set p [string trim [linked $::para] " \t\n\u00a0"]
    clear
    if {$p eq ""} return
    if {$::flushed} {more [list [guard $p]]; return}
    # DocBook's bullets in nroff: a bullet glued to the paragraph.
    if {[regexp {^\u2022[\s\u00a0]*(.+)$} $p -> rest] && $::lead eq $::indent} {
        set ::lead "$::lead- "; set p $rest
    }
    emit [list [guard $p]] 1
    set ::flushed 1
}
# At the end of a line of text, a long paragraph is written so far.  The
# text of a link or of an mdoc term goes on to its end, up to 64 KB: past
# that, it is written as text.
proc breakline {} {
    if {[llength $::linked] || $::xo} {
        if {[string length $::para] <= 65536} return
        if {$::xo} {set ::xo 0; term; place $::base; return}
        closefont
        set ::para [lindex $::linked 0][lindex $::linked 1]$::para
        set ::linkedat [lindex $::linked 5]
        set ::linked {}
    }
    closefont; flushpara; set ::want [marker $::font]
}
# Inside a term's description an .RS, or an mdoc list, nests: the terms
# within become items of a list under the description, each marked with
# the prefix before the nest and a bullet.  Returns that marker, or "".
proc nestterms {} {
    if {!$::described || [string length $::indent] >= 2 * $::maxshown} {return ""}
    set outer $::indent
    set ::base "$outer  "; set ::described 0
    return "$outer- "
}
proc termitem {marker} {set ::termlead $marker}
# The open paragraph becomes a term, over the next paragraph; a font left
# open in it ends with it.  Terms with no paragraph under them are written
# a hundred at a time.
proc term {} {
    closefont
    set t [string trim [linked $::para] " \t\u00a0"]
    clear
    if {$t ne ""} {lappend ::terms [guard $t]}
    if {[llength $::terms] > 100} {emit {}}
    roman
}
# The open paragraph, the page's text as it is, as the next line of a code
# block; blank lines wait until a line follows them.
proc codeline {} {
    closefont
    set l [code [unesc $::para]]
    clear
    if {[string trim $l] eq ""} {
        if {$::incode} {incr ::blanks}
        return
    }
    if {!$::incode} {
        block [list ```]
        set ::incode 1
    }
    for {} {$::blanks > 0} {incr ::blanks -1} {out ""}
    more [list $l]
}
