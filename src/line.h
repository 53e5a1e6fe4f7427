// What a line is to every stage that reads one: how long it may be, how far
// past its end the vector loops may read, and which bytes are whitespace.

#ifndef ROFFSCRIPT_LINE_H
#define ROFFSCRIPT_LINE_H

#include <cstddef>

// The shortest line refused as too long (and the number its message
// gives): a line, up to its first NUL byte, must be shorter.
constexpr int kShortestRefusedLine = 3999;

// A line is NUL-terminated in place, and at least kLineOverread bytes after
// its NUL may be read: text is scanned a vector at a time, and the last
// vector may reach past the end of the line (the bytes there are read and
// never used).
constexpr std::size_t kLineOverread = 16;

// Whitespace as the C locale's isspace has it; no byte from 0x80 up is.
constexpr bool is_space_byte(unsigned char byte)
{
    return byte == ' ' || (byte >= '\t' && byte <= '\r');
}

#endif
