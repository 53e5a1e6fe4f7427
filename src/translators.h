// The two translators that turn a line into commands, and the contract that
// tells the line finder which lines they may report bad.

#ifndef ROFFSCRIPT_TRANSLATORS_H
#define ROFFSCRIPT_TRANSLATORS_H

#include "line.h"

#include <cstddef>

// Translation operations.  Each takes a line, NUL-terminated in place (over
// its line feed, or after its last byte), with kLineOverread bytes after its
// NUL that may be read; reads it without changing it, and writes through the
// output gate.
// Both are also told how far the line may reach: its length, or more where a
// NUL ends it early, and never more than kShortestRefusedLine.
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

#endif
