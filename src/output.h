// The output gate, through which every byte of the script is written.
//
// Bytes reach standard output only during the output pass.  They are
// gathered in one block, handed to the C library a block at a time:
// commands are a few bytes each, and a library call per command would cost
// more than translating it.  A translator asks for room for a whole line's
// commands at once, puts them there and hands back the end.  The first
// failed write is remembered by its errno and later output is dropped;
// finish_output flushes and returns 0 or that errno.

#ifndef ROFFSCRIPT_OUTPUT_H
#define ROFFSCRIPT_OUTPUT_H

#include "passes.h"

#include <cassert>
#include <cstddef>
#include <cstring>

constexpr std::size_t kOutputBlockSize = 48 * 1024;
extern char output_block[kOutputBlockSize];
extern std::size_t output_block_length;
void flush_output_block();
int output_failure();
int finish_output();

// The translators argue in comments and compile-time checks that a line's
// commands fit the room they ask for; builds with self-checks also check it
// for every line as it is written.
#ifdef ROFFSCRIPT_SELF_CHECKS
extern const char *output_room_end;
#endif

// Room for `count` more bytes (at most kOutputBlockSize), or nullptr during
// the checking pass.  The caller fills what it needs and passes the end to
// output_advance.
inline char *output_space(std::size_t count)
{
    if (output_pass == 0)
        return nullptr;
    if (count > kOutputBlockSize - output_block_length)
        flush_output_block();
#ifdef ROFFSCRIPT_SELF_CHECKS
    output_room_end = output_block + output_block_length + count;
#endif
    return output_block + output_block_length;
}

inline void output_advance(const char *end)
{
#ifdef ROFFSCRIPT_SELF_CHECKS
    assert(end >= output_block + output_block_length && end <= output_room_end);
#endif
    output_block_length = static_cast<std::size_t>(end - output_block);
}

// Puts a literal, without its NUL, into room from output_space and returns
// the end.
template <std::size_t N>
inline char *put_literal(char *out, const char (&literal)[N])
{
    std::memcpy(out, literal, N - 1);
    return out + (N - 1);
}

#endif
