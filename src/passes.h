// The run: its state, which the passes own and everything else reads, and
// its entry point.

#ifndef ROFFSCRIPT_PASSES_H
#define ROFFSCRIPT_PASSES_H

#include <cstdint>
#include <cstdio>

// output_pass is 0 while the input is only checked and 1 while the script
// is written; line_number counts every line read in the current pass, from
// 1, in 64 bits so that no input can make it wrap; error_status becomes 1
// once a construct was reported bad.
extern int output_pass;
extern std::uint64_t line_number;
extern int error_status;

// Translates the whole of `input` twice, the checking pass then the output
// pass, and returns the exit status.  `name` is how messages name the input.
int translate_document(std::FILE *input, const char *name);

#endif
