// The escapes that text lines and macro words both read.  A numbered
// character, "\N'" and a decimal number, is read and written here; of a
// digit-width space, "\0", only its letter is named here, and each
// translator writes it its own way.

#ifndef ROFFSCRIPT_ESCAPES_H
#define ROFFSCRIPT_ESCAPES_H

#include <cstddef>

// Whether the backslash at `backslash` starts a numbered character: the two
// bytes after it may be read, the line being NUL-terminated.
inline bool starts_numbered_character(const char *backslash)
{
    return backslash[1] == 'N' && backslash[2] == '\'';
}

// The letter of a digit-width space: the backslash and this byte, and
// nothing more.
constexpr char kDigitSpaceLetter = '0';

// Where the numbered character whose digits start at `digits`, just after
// its "\N'", ends: past its closing apostrophe, or where the line or
// `limit`, the farthest it may go, comes first.
const char *numbered_character_end(const char *digits, const char *limit);

// Puts "\u" and the number that starts at `digits`, in lower-case
// hexadecimal with at least four digits, at `out`; returns the end.
char *put_numbered_character(char *out, const char *digits);
constexpr std::size_t kNumberedCharacterSize = 10;   // "\u" and up to eight hexadecimal digits

// Puts the text command for a numbered character at `out`; returns the end.
char *put_numbered_text(char *out, const char *digits);

#endif
