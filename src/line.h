// What a line is, and the two translators that turn one into commands.

#ifndef ROFFSCRIPT_LINE_H
#define ROFFSCRIPT_LINE_H

#include <cstddef>

// A line, up to its first NUL byte, must be shorter than kMaxLineLength;
// a buffer of kLineBufferSize holds the longest such line, its line feed and
// the terminating NUL.
constexpr int kLineBufferSize = 4000;
constexpr int kMaxLineLength = kLineBufferSize - 1;
constexpr std::size_t kLineOverread = 16;

// Translation operations.  Each takes a NUL-terminated line, its line feed
// removed, reads it without changing it, and writes through the output gate.
// The line must lie in a buffer that holds at least kLineOverread bytes after
// its NUL: text is scanned a vector at a time, and the last vector may reach
// past the end of the line (the bytes there are read and never used).
// Both are also told how far the line may reach: its length, or more where a
// NUL ends it early, and never more than kMaxLineLength.
void translate_text_line(const char *line, std::size_t extent);
void translate_macro_line(const char *line, std::size_t extent);

// Whitespace as the C locale's isspace has it; no byte from 0x80 up is.
inline bool is_space_byte(unsigned char byte)
{
    return byte == ' ' || (byte >= '\t' && byte <= '\r');
}

#endif
