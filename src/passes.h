// The run: its state, which the passes own and everything else reads, and
// its entry point.

#ifndef ROFFSCRIPT_PASSES_H
#define ROFFSCRIPT_PASSES_H

#include <cstdint>
#include <cstdio>

// output_pass is 0 while the input is only checked and 1 while the script
// is written: the passes set it, and only the output gate acts on it.
// line_number counts every line read in the current pass, from 1, in 64
// bits so that no input can make it wrap: the passes set it to 0, and the
// line finder, which reads the lines, counts them.  error_status becomes 1
// once a construct was reported bad: the passes clear it, and the one
// function that reports a bad construct sets it, so that no report can
// leave the status behind.
extern int output_pass;
extern std::uint64_t line_number;
extern int error_status;

// Translates the whole of `input` twice, the checking pass then the output
// pass, and returns the exit status.  `name` is how messages name the input.
int translate_document(std::FILE *input, const char *name);

#endif
