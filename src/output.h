// The output gate, through which every byte of the script is written.
//
// The gate is where the pass is applied: the driver tells it which pass
// runs, and during the checking pass what the translators put down goes
// nowhere, while during the output pass it reaches standard output.  The
// translators write the same way in both passes.
// Bytes are gathered in one block, handed to the C library a block at a
// time: commands are a few bytes each, and a library call per command would
// cost more than translating it.  A translator asks for room for a whole
// line's commands at once, puts them there and hands back the end.  The
// first failed write is remembered by its errno and later output is
// dropped; finish_output flushes and returns 0 or that errno.

#ifndef ROFFSCRIPT_OUTPUT_H
#define ROFFSCRIPT_OUTPUT_H

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

// Starts a pass: 0, the checking pass, whose commands go into a block that
// is never written out, or 1, the output pass, whose commands are gathered
// for standard output.  The first pass also starts the run: nothing is
// gathered and no write has failed.
void start_output(int pass);

// The errno of the first failed write, or 0.
int output_failure();
// Writes what is gathered; returns output_failure().
int finish_output();

// Puts a literal, without its NUL, into room from output_space and returns
// the end.
template <std::size_t N>
inline char *put_literal(char *out, const char (&literal)[N])
{
    std::memcpy(out, literal, N - 1);
    return out + (N - 1);
}

#endif
