// Word quoting: how the bytes of the input become arguments of the script
// that a reader splits back into exactly the words they were.

#ifndef ROFFSCRIPT_WORDS_H
#define ROFFSCRIPT_WORDS_H

#include "escapes.h"

#include <cstddef>

// The bytes that the script's syntax gives a meaning, and that a word
// therefore carries with a backslash in front: the whitespace that ends a
// word (tab, vertical tab, form feed, carriage return and blank), double
// quote, dollar, semicolon, opening bracket and opening brace.  A backslash
// from the input is doubled, or read as an escape; every other byte stands
// as it is.  (A line feed never reaches a word: it ends the line.)
constexpr char kQuotedBytes[] = "\t\v\f\r \"$;[{";

// Puts `length` bytes from `start`, a position inside the current line, at
// `out` as one argument of the script, and returns the end.  `length` is
// signed because a numbered character may claim bytes past the end of the
// word it sits in.  The word needs room for kWordRoomPerByte bytes for each
// of its bytes and one numbered character (kNumberedCharacterSize) more.
char *put_word(char *out, const char *start, int length);
constexpr std::size_t kWordRoomPerByte = 4;

// Whether put_word puts a backslash in front of `byte` (the backslash
// itself, which it doubles or reads as an escape, aside).
bool takes_backslash(unsigned char byte);

#endif
