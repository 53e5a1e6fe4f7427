# Evaluates scripts that roffscript wrote, each in a fresh safe interpreter
# that holds nothing but the eight commands of a script, each taking exactly
# the arguments fuzz/commands.def gives it.  A Tcl error means an argument
# did not stay one word; a count of commands other than the count of lines
# means a line did not hold exactly one command.
# Usage: tclsh scripts.tcl LIST, where LIST holds a page's name and the file
# of its script on two lines, for each page.  Prints per script "evaluated"
# or "FAIL page: reason", and exits 1 after a failure.

set f [open [file join [file dirname [info script]] .. fuzz commands.def]]
set definitions [read $f]
close $f
set names {}
foreach {- name count kind} [regexp -all -inline {SCRIPT_COMMAND\((\w+), (\d+), (\w+)\)} $definitions] {
    set parameters {}
    for {set i 0} {$i < $count} {incr i} {
        lappend parameters a$i
    }
    if {$kind eq "OR_MORE"} {
        lappend parameters args
    }
    proc $name $parameters {incr ::commands}
    lappend names $name
}
if {[llength $names] != 8} {
    puts "FAIL fuzz/commands.def: [llength $names] commands, not 8"
    exit 1
}

set f [open [lindex $argv 0]]
set list [split [string trimright [read $f] \n] \n]
close $f
set status 0
foreach {page file} $list {
    # Bytes as they are, each one character: Tcl's parser splits words on
    # ASCII bytes only, so no decoding can change what it sees.
    set f [open $file rb]
    set script [read $f]
    close $f
    set safe [interp create -safe]
    $safe eval {unset {*}[info globals]}
    set spaces [$safe eval {namespace children ::}]
    foreach cmd [$safe eval {info commands}] {$safe hide $cmd}
    $safe invokehidden namespace delete {*}$spaces
    foreach cmd $names {
        interp alias $safe $cmd {} $cmd
    }
    set ::commands 0
    set lines [regexp -all \n $script]
    if {[catch {$safe eval $script} err]} {
        # Again line by line, to name the first line that fails.
        set where "the whole script"
        set n 0
        foreach line [split $script \n] {
            incr n
            if {[catch {$safe eval $line} lineerr]} {
                set where "line $n, [string range $line 0 99]"
                set err $lineerr
                break
            }
        }
        puts "FAIL $page: $where: $err"
        set status 1
    } elseif {$::commands != $lines} {
        puts "FAIL $page: $::commands commands on $lines lines"
        set status 1
    } else {
        puts evaluated
    }
    interp delete $safe
}
exit $status
