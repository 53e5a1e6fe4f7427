# outline.tcl prints a page's section headings and, indented under them,
# the tags of its tagged paragraphs (.TP, .IP): the options it documents.
#     roffscript page.1 | tclsh outline.tcl
# The page is a stranger's text.  Its script runs in a safe interpreter in
# which every command but the script's eight is hidden and every namespace
# deleted, and each line is taken apart as a list, which substitutes and
# nests nothing: the words reach the procs below as they are, and no line
# can call anything else or nest without bound.
set safe [interp create -safe]
foreach cmd [$safe eval {info commands}] {$safe hide $cmd}
$safe invokehidden namespace delete {*}[$safe invokehidden namespace children ::]
foreach cmd {macro macro2 text font char dash tab newline} {interp alias $safe $cmd {} $cmd}

# A macro's words keep their escapes: the commonest few, made plain.
proc plain {s} {string map {\\- - \\& {} \\e \\} [regsub -all {\\f(\(..|.)} $s {}]}
set tag 0; set line ""   ;# tag is 1 on the line after .TP, which is its tag
proc macro {name args} {
    if {$::tag} {puts "  [plain [join $args [expr {[string length $name] == 2 ? {} : { }}]]]"}
    if {$name eq "SH"} {puts [plain [join $args]]}
    if {$name eq "IP" && [lindex $args 0] ni {{} \\(bu}} {puts "  [plain [lindex $args 0]]"}
    set ::tag [expr {$name eq "TP"}]
}
proc macro2 {name args} {macro $name {*}$args}
proc text {s} {append ::line $s}
proc dash {} {text -}
proc tab {} {text " "}
proc font {f} {}; proc char {c} {}
proc newline {} {if {$::tag} {puts "  $::line"}; set ::tag 0; set ::line ""}

while {[gets stdin l] >= 0} {$safe eval [lrange $l 0 end]}
