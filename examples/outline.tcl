# outline.tcl prints a page's section headings and, under them, the tags of
# its tagged paragraphs (.TP): the options it documents.
#     roffscript page.1 | tclsh outline.tcl
# The page is a stranger's text.  Its script runs in a safe interpreter in
# which every command but the script's eight is hidden and every namespace
# deleted, and each line is taken apart as a list, which substitutes and
# nests nothing: no line can call anything else or nest without bound.
set safe [interp create -safe]
foreach c [$safe eval {info commands}] {$safe hide $c}
$safe invokehidden namespace delete {*}[$safe invokehidden namespace children ::]
foreach c {macro macro2 text font char dash tab newline} {interp alias $safe $c {} $c}
set tag 0; set line ""   ;# tag: the line after .TP, which is the tag
proc macro {name args} {
    set glue [expr {[regexp {^[BIR]{2}$} $name] ? "" : " "}]   ;# .BR, .IR: words run together
    set words [string map {\\- - \\fB {} \\fI {} \\fR {} \\fP {}} [join $args $glue]]
    if {$name eq "SH"} {puts $words} elseif {$::tag} {puts "  $words"}
    set ::tag [expr {$name eq "TP"}]
}
proc macro2 {name args} {}
proc text {s} {append ::line $s}
proc dash {} {text -}; proc tab {} {text " "}; proc font {f} {}; proc char {c} {}
proc newline {} {if {$::tag} {puts "  $::line"}; set ::tag 0; set ::line ""}
while {[gets stdin l] >= 0} {$safe eval [lrange $l 0 end]}
