// What a line is, and the two translators that turn one into commands.

#ifndef ROFFSCRIPT_TRANSLATORS_H
#define ROFFSCRIPT_TRANSLATORS_H

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

inline bool is_macro_line(const char *line)
{
    return line[0] == '.' || line[0] == '\'';
}

// Which lines the checking pass must translate.  The translators report a
// line bad only for bytes that the line finder spots a chunk at a time,
// without reading the line: a "\(" cut short needs its parenthesis among the
// last two bytes before the line feed, a macro word left open needs a double
// quote, and a NUL ends a line early and so may cut short either.  A line
// with none of these cannot fail and is only counted.  For a line with some,
// the finder says what it saw, and the rule of the translator that reports
// the error decides: a new error that needs other bytes must change this
// contract, or its lines would be skipped.
constexpr char kCutShortSuspect = '(';
constexpr char kQuoteSuspect = '"';
struct LineSuspects {
    bool cut_short;   // a NUL, or a parenthesis in the last two bytes
    bool quote;       // a double quote
};
bool text_line_may_fail(const char *line, const char *end, LineSuspects seen);
bool macro_line_may_fail(const char *line, const char *end, LineSuspects seen);

// Whether the line from `line` to `end`, in which the finder saw `seen`,
// could be reported bad.  The line is NUL-terminated at `end`, so a rule
// may read it as its translator would.
inline bool line_may_fail(const char *line, const char *end, LineSuspects seen)
{
    return is_macro_line(line) ? macro_line_may_fail(line, end, seen) : text_line_may_fail(line, end, seen);
}

// Whitespace as the C locale's isspace has it; no byte from 0x80 up is.
inline bool is_space_byte(unsigned char byte)
{
    return byte == ' ' || (byte >= '\t' && byte <= '\r');
}

#endif
