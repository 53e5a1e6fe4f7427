// The copy of the page, for input that cannot be read twice (a pipe, a
// terminal) and for compressed input: the checking pass copies each stretch
// it hands on, decoded, and the output pass reads the copy back.  A page
// that fits a fixed block of the program's own is kept there; only a
// larger one is copied to a temporary file.

#ifndef ROFFSCRIPT_SPOOL_H
#define ROFFSCRIPT_SPOOL_H

#include <cstddef>
#include <cstdio>

// The most of a page that the copy keeps in memory.  Nearly every installed
// page, decoded, fits.
constexpr std::size_t kSpoolBlockSize = 32 * 1024;

// Starts the copy unless it is started.  The temporary file is opened only
// once the page outgrows the block.
void open_spool();

// Whether the copy is open, and so whether the output pass reads it.
bool spool_is_open();

// Adds `count` bytes to the copy.  Returns false when they cannot be
// written, the temporary file included: the reason has been reported.
bool add_to_spool(const char *bytes, std::size_t count);

// Makes the copy ready to be read from its start.
void rewind_spool();

// Reads up to `size` bytes of the copy into `block` and sets `*count` to
// their number, 0 at its end.  Returns false on a read error, with errno
// set.
bool read_spool(char *block, std::size_t size, std::size_t *count);

// Lets go of the copy, if there is one.
void close_spool();

#endif
