// The temporary copy of the page, for input that cannot be read twice (a
// pipe, a terminal) and for compressed input: the checking pass copies each
// stretch it hands on, decoded, and the output pass reads the copy back.

#ifndef ROFFSCRIPT_SPOOL_H
#define ROFFSCRIPT_SPOOL_H

#include <cstddef>
#include <cstdio>

// Opens the copy unless it is open.  Returns false when it cannot be: the
// reason has been reported.
bool open_spool();

// Whether the copy is open, and so whether the output pass reads it.
bool spool_is_open();

// Adds `count` bytes to the copy.  Returns false when they cannot be
// written: the reason has been reported.
bool add_to_spool(const char *bytes, std::size_t count);

// Makes the copy ready to be read from its start and returns it.
std::FILE *rewind_spool();

// Lets go of the copy, if there is one.
void close_spool();

#endif
