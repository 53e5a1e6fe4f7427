// Reading a stream a block at a time, for the source, which reads the input
// and its compressed data through it.

#ifndef ROFFSCRIPT_STREAM_READ_H
#define ROFFSCRIPT_STREAM_READ_H

#include <cstddef>
#include <cstdio>

// Reads up to `size` bytes of `stream` into `block` and sets `*count` to
// their number, 0 at the end.  Once a read finds the end, `*ended` is set
// and no more is read: a terminal would otherwise wait for a second
// end-of-file.  Returns false on a read error, with errno set.
inline bool read_stream(std::FILE *stream, void *block, std::size_t size, std::size_t *count, bool *ended)
{
    *count = *ended ? 0 : std::fread(block, 1, size, stream);
    if (*count == 0) {
        if (!*ended && std::ferror(stream))
            return false;
        *ended = true;
    } else if (*count < size && std::feof(stream)) {
        *ended = true;
    }
    return true;
}

#endif
