// The run's entry point: the two passes over one input.

#ifndef ROFFSCRIPT_PASSES_H
#define ROFFSCRIPT_PASSES_H

#include <cstdio>

// Translates the whole of `input` twice, the checking pass then the output
// pass, and returns the exit status.  `name` is how messages name the input.
int translate_document(std::FILE *input, const char *name);

#endif
