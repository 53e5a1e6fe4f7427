// The state of a run that messages and the passes share: which pass is
// running, which line it has reached, and whether a construct was reported
// bad.  It lies at the bottom, below every room that reads it.
//
// The driver owns it and defines it: it sets output_pass, and clears
// line_number and error_status, as each pass starts.  Besides the driver
// only two rooms write it, each one variable: the line finder, which reads
// the lines, counts them in line_number (in 64 bits, so that no input can
// make it wrap), and the messages, whose one report of a bad construct
// raises error_status, so that no report can leave the status behind.

#ifndef ROFFSCRIPT_RUN_STATE_H
#define ROFFSCRIPT_RUN_STATE_H

#include <cstdint>

// 0 while the input is only checked, 1 while the script is written.
extern int output_pass;
extern std::uint64_t line_number;
extern int error_status;

#endif
