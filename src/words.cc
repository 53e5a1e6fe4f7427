// Word quoting.
//
// put_word quotes one argument with backslashes so that a reader of the
// script sees one word whatever bytes the input held: the bytes of
// kQuotedBytes get a backslash in front, and a backslash from the input is
// doubled unless it starts a numbered character (escapes.cc reads it) or a
// digit-width space (written here).  Text runs, the bulk of a page, are
// quoted in text_run.h, whose byte table is built from kQuotedBytes and
// whose vector tables are checked against that table as it is compiled.

#include "words.h"

#include "output.h"
#include "text_run.h"

using text_run::kWordBytes;
using text_run::ByteEncoding;
using text_run::put_word_byte;

bool takes_backslash(unsigned char byte)
{
    return kWordBytes.of[byte].length == 2;
}

char *put_word(char *out, const char *start, int length)
{
    // A quoted byte writes two bytes and a numbered character ten for its
    // three (or fewer, where it reaches past the word), so the room the
    // header asks for holds the whole word.
    if (length <= 0)
        return put_literal(out, "{}");
    const char *p = start;
    int remaining = length;
    while (remaining > 0) {
        const ByteEncoding &encoding = kWordBytes.of[static_cast<unsigned char>(*p)];
        if (encoding.length != 0) {
            out = put_word_byte(out, encoding);
            ++p;
            --remaining;
            continue;
        }
        *out++ = '\\';
        // The line is NUL-terminated, so the byte after a backslash can
        // always be read, and the one after that once the first proved not
        // to be the end of the line.
        if (starts_numbered_character(p)) {
            out = put_numbered_character(out - 1, p + 3);
            // The escape runs to its closing apostrophe, or to the end of
            // the word.  Its "\N'" may itself reach past the word's end,
            // which leaves `remaining` below zero and ends the word just the
            // same.
            const char *end = numbered_character_end(p + 3, start + length);
            remaining -= static_cast<int>(end - p);
            p = end;
        } else if (p[1] == kDigitSpaceLetter) {
            *out++ = ' ';
            p += 2;
            remaining -= 2;
        } else {
            *out++ = '\\';
            ++p;
            --remaining;
        }
    }
    return out;
}
