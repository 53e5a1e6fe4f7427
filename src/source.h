// Where the bytes of each pass come from: the input stream, or, for input
// that cannot be read twice, the temporary copy that the checking pass
// makes of it.

#ifndef ROFFSCRIPT_SOURCE_H
#define ROFFSCRIPT_SOURCE_H

#include <cstddef>
#include <cstdio>

// Takes `input`, named `name` in messages, for the checking pass.  Returns
// false when it cannot be read twice: the reason has been reported.
bool open_source(std::FILE *input, const char *name);

// Reads up to `size` bytes of the current pass into `block` and sets `*got`
// to their count, 0 at the end of the input.  Returns false when reading
// failed: the reason has been reported.
bool read_source(char *block, std::size_t size, std::size_t *got);

// The checking pass ended early, at a line too long.  Decodes what is left
// of compressed input, so that damaged data is reported as such rather than
// by what its garbage held.
void confirm_source_whole();

// Starts the output pass over the same bytes as the checking pass.  Returns
// false when that cannot be done: the reason has been reported.
bool rewind_source();

// Lets go of the temporary copy, if there is one.
void close_source();

#endif
