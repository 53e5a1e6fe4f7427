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
# each line of the page back together as roff wrote it, and the files
# beside this one read those lines as nroff would:
#
#   markdown-roff.tcl    requests, conditionals, strings and macros the
#                        page defines, within a budget of expansion;
#   markdown-text.tcl    text, its escapes and special characters, and
#                        fonts as emphasis;
#   markdown-man.tcl     the macros of man(7);
#   markdown-mdoc.tcl    the macros of mdoc(7);
#   markdown-tbl.tcl     tables;
#   markdown-output.tcl  blocks of Markdown, terms and links, the escaping
#                        of page text in each context, and the budget on
#                        what is written.
#
# The script is read one line at a time and every block is written out as
# it comes, so memory stays small however long the page.  What is written
# is published, so page text passes through one escaping proc for each
# context (markdown-output.tcl), links go only to pages and to http, https,
# ftp and mailto, and no HTML is written at all.
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
# The proc xref_target in markdown-output.tcl applies it; define that proc
# again to link otherwise, or return "" to leave a reference as text.
set xref %N.%S.md

# How deep things may nest.  Past the first limit indentation stops growing;
# past the others the run ends with a message.
set maxshown 12
set maxnest 1000

# The parts, each a file beside this one.
set here [file dirname [info script]]
foreach part {text output roff man mdoc tbl} {source [file join $here markdown-$part.tcl]}

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
    # roffscript ends a word at an escaped blank, on the backslash, so an
    # argument that begins with one (.BI -C \ cmdlist) comes as a word of
    # a lone backslash and the rest: join them again.
    for {set i [expr {[llength $args] - 2}]} {$i >= 0} {incr i -1} {
        if {[lindex $args $i] eq "\\"} {
            set args [lreplace $args $i $i+1 "\\ [lindex $args $i+1]"]
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
# braces or with a backslash before every byte at which Tcl ends a word
# (blank, tab, vertical tab, form feed, carriage return), quote, $, ;, [
# and {.
# Such a line has nothing for Tcl to substitute and nothing that nests, so
# evaluating it cannot run anything else nor recurse.
set word {(?:\{(?:[^\\{}]|\\.)*\}|(?:[^\\ \t\v\f\r"$;\[\{]|\\.)+)}
set shape "^\[a-z\]\[a-z0-9\]*(?: $word)*\$"
# A line that fails, whether the page's or the output's fault, ends the run.
# A limit reached or output that cannot be written says so; any other
# error is the renderer's own fault.  What was written stays safe to
# publish: a code block left open is closed.
proc failed {err {code stop}} {
    catch {if {$::incode} {puts [string trimright "$::indent```"]}}
    if {[lindex $code 0] ni {stop POSIX}} {return "internal error: $err"}
    return $err
}
set n 0
while {[gets $in line] >= 0} {
    incr n
    incr read [string bytelength $line]; incr read
    if {![regexp $shape $line]} {
        puts stderr "markdown.tcl: line $n: [failed {not a line of a roffscript script}]"
        exit 1
    }
    # Evaluated as a list of words, so Tcl need not compile it.
    if {[catch {$safe eval [lrange $line 0 end]} err]} {
        puts stderr "markdown.tcl: line $n: [failed $err $errorCode]"
        exit 1
    }
}
if {[catch {
    if {$text ne ""} newline
    if {$tbl::on} {puts stderr "markdown.tcl: a table has no .TE"; tbl::end}
    finish; emit {}; flush stdout
} err]} {
    puts stderr "markdown.tcl: [failed $err $errorCode]"
    exit 1
}
