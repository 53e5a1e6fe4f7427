// The state of a run that messages and the passes share: which line the
// pass has reached, and whether a construct was reported bad.  It lies at
// the bottom, below every room that reads it.
//
// The driver owns it and defines it: it clears both as each pass starts.
// Besides the driver only two rooms write it, each one variable: the line
// finder, which reads the lines and counts them in line_number (in 64 bits,
// so that no input can make it wrap), and the messages, whose one report of
// a bad construct raises error_status, so that no report can leave the
// status behind.  Which pass runs is no state of its own: each room that
// acts on it is told so by its start call.

#ifndef ROFFSCRIPT_RUN_STATE_H
#define ROFFSCRIPT_RUN_STATE_H

#include <cstdint>

// The input is only checked, or the script is written.
enum class Pass { kChecking, kOutput };

extern std::uint64_t line_number;
extern int error_status;

#endif
