// The output gate, through which every byte of the script is written.
//
// The gate is where the pass is applied: the driver tells it which pass
// runs, and during the checking pass what the translators put down goes
// nowhere, while during the output pass it is gathered for standard output.
// The translators write the same way in both passes.
//
// Nothing of the script leaves before the run has passed every check: the
// gate holds it until the driver calls finish_output, or abandon_output when
// the run fails.  A script longer than the gate's block is held in an
// unnamed temporary file, and handed on whole at the end.  Only where
// standard output is a regular file written at its end (or /dev/null) does
// a full block go straight to it, and a run that fails then cuts the file
// back to the size it had: after a failed run, standard output has received
// nothing, or is as it was.
//
// A translator asks for room for a whole line's commands at once, puts them
// there and hands back the end: commands are a few bytes each, and a call
// per command would cost more than translating it.

#ifndef ROFFSCRIPT_OUTPUT_H
#define ROFFSCRIPT_OUTPUT_H

#include "run_state.h"

#include <cstddef>
#include <cstring>

constexpr std::size_t kOutputBlockSize = 48 * 1024;

// Room for `count` more bytes, at most kOutputBlockSize.  The caller fills
// what it needs and passes the end to output_advance.  The translators
// argue in comments and compile-time checks that a line's commands fit the
// room they ask for; builds with self-checks also check it for every line
// as it is written.
char *output_space(std::size_t count);
void output_advance(const char *end);

// Starts a pass.  The checking pass also starts the run: nothing is held,
// nothing has failed, and standard output is looked at to choose how a
// long script is held.
void start_output(Pass pass);

// Whether the output has failed, so that nothing more can reach it: the
// reason has been reported.
bool output_failed();

// The run has passed every check: hands the whole script on.  Returns
// false when that fails: the reason has been reported.
bool finish_output();

// The run has failed: nothing of the script is handed on, and a file that
// was written straight is cut back to the size it had.
void abandon_output();

// Puts a literal, without its NUL, into room from output_space and returns
// the end.
template <std::size_t N>
inline char *put_literal(char *out, const char (&literal)[N])
{
    std::memcpy(out, literal, N - 1);
    return out + (N - 1);
}

#endif
