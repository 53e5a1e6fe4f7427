// roffscript turns a manual page written in roff markup into a script of
// commands, one construct per line.  This header is the whole of what the
// parts of the program share: the run state that the driver owns, the output
// gate through which every byte of the script is written, and the three
// translation operations.  Everything else is private to its own file.

#ifndef ROFFSCRIPT_H
#define ROFFSCRIPT_H

#include <cstddef>
#include <cstdio>
#include <cstring>

// Limits of the input.  A line, up to its first NUL byte, must be shorter
// than kMaxLineLength; the line buffer holds the longest such line, its line
// feed and the terminating NUL.
constexpr int kLineBufferSize = 4000;
constexpr int kMaxLineLength = kLineBufferSize - 1;
constexpr int kPassCount = 2;
constexpr std::size_t kLineOverread = 16;

// Run state.  output_pass is 0 while the input is only checked and 1 while
// the script is written; line_number counts every line read in the current
// pass, from 1; error_status becomes 1 once a construct was reported bad.
extern int output_pass;
extern int line_number;
extern int error_status;

// Translation operations.  Each takes a NUL-terminated line, its line feed
// removed, reads it without changing it, and writes through the output gate.
// The line must lie in a buffer that holds at least kLineOverread bytes after
// its NUL: text is scanned a vector at a time, and the last vector may reach
// past the end of the line (the bytes there are read and never used).
// Both are also told how far the line may reach: its length, or more where a
// NUL ends it early, and never more than kMaxLineLength.
void translate_text_line(const char *line, std::size_t extent);
void translate_macro_line(const char *line, std::size_t extent);
// Puts `length` bytes from `start`, a position inside the current line, at
// `out` as one argument of the script, and returns the end.  `length` is
// signed because a numbered character may claim bytes past the end of the
// word it sits in.  The word needs room for kWordRoomPerByte bytes for each
// of its bytes and one numbered character (kNumberedCharacterSize) more.
char *put_word(char *out, const char *start, int length);
constexpr std::size_t kWordRoomPerByte = 4;
constexpr std::size_t kNumberedCharacterSize = 10;   // "\u" and up to eight hexadecimal digits
// Puts the text command for the run that starts at `run` at `*out`, and
// moves `*out` past it; the run takes every byte up to the next backslash or
// the end of the line, tabs after its first byte included, and its first
// byte is neither.  Returns where the run ended.  The command needs room for
// its bytes quoted and kTextRunOverwrite more, which may be written over.
const char *put_text_run(const char *run, char **out);
constexpr std::size_t kTextRunOverwrite = 32;
// Whether put_word puts a backslash in front of `byte` (the backslash
// itself, which it doubles or reads as an escape, aside).
bool takes_backslash(unsigned char byte);

// The output gate.  Bytes reach standard output only during the output
// pass.  They are gathered in one block, handed to the C library a block at
// a time: commands are a few bytes each, and a library call per command
// would cost more than translating it.  A translator asks for room for a
// whole line's commands at once, puts them there and hands back the end.
// The first failed write is remembered by its errno and later output is
// dropped; finish_output flushes and returns 0 or that errno.
constexpr std::size_t kOutputBlockSize = 48 * 1024;
extern char output_block[kOutputBlockSize];
extern std::size_t output_block_length;
void flush_output_block();
int output_failure();
int finish_output();

// Room for `count` more bytes (at most kOutputBlockSize), or nullptr during
// the checking pass.  The caller fills what it needs and passes the end to
// output_advance.
inline char *output_space(std::size_t count)
{
    if (output_pass == 0)
        return nullptr;
    if (count > kOutputBlockSize - output_block_length)
        flush_output_block();
    return output_block + output_block_length;
}

inline void output_advance(const char *end)
{
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

// Puts the text command for a numbered character, "\u" and the number that
// starts at `digits` in hexadecimal, at `out`; returns the end.
char *put_numbered_text(char *out, const char *digits);

// Whitespace as the C locale's isspace has it; no byte from 0x80 up is.
inline bool is_space_byte(unsigned char byte)
{
    return byte == ' ' || (byte >= '\t' && byte <= '\r');
}

// Reports a bad construct on the current line and marks the run as failed.
void report_line_error(const char *what);

// Translates the whole of `input` twice, the checking pass then the output
// pass, and returns the exit status.  `name` is how messages name the input.
int translate_document(std::FILE *input, const char *name);

#endif
