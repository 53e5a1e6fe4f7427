// Where the bytes of each pass come from: the input stream, decoded where it
// is compressed, or, for input that cannot be read twice, the temporary copy
// that the checking pass makes of it.

#ifndef ROFFSCRIPT_SOURCE_H
#define ROFFSCRIPT_SOURCE_H

#include <cstddef>
#include <cstdio>

// Takes `input`, named `name` in messages, for the checking pass.  Returns
// false when it cannot be read twice: the reason has been reported.
bool open_source(std::FILE *input, const char *name);

// Reads up to `size` bytes of the page into `block` and sets `*got` to
// their count, 0 at the end of the page: read_for_checking in the checking
// pass, read_for_output in the output pass.  Return false when the run must
// end: the reason has been reported.
bool read_for_checking(char *block, std::size_t size, std::size_t *got);
bool read_for_output(char *block, std::size_t size, std::size_t *got);

// The checking pass ended before the end of the page: at a line too long,
// or because the page could not be read, decoded or copied.  Decodes what
// is left of compressed data that may still be whole, so that damaged data
// is reported as such rather than by what its garbage held.
void confirm_source_whole();

// Starts the output pass over the same bytes as the checking pass.  Returns
// false when that cannot be done: the reason has been reported.
bool rewind_source();

// Lets go of the decoder and the temporary copy, if there are any.
void close_source();

#endif
