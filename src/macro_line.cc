// Translation of macro lines: lines that start with a period or an
// apostrophe, comments already dropped.
//
// A macro line becomes one "macro" command (after an apostrophe, "macro2")
// whose arguments are the words of the line, the macro's name first.  Words
// are split at whitespace, except inside double quotes and inside stretches
// that apostrophes protect.  An unclosed double quote is reported, and the
// rest of the line becomes the last word all the same.
//
// The whole command is put into one stretch of room from the output gate,
// asked for once per line: a line's words are many and short, and a trip
// through the gate for each would cost as much as quoting them.

#include "translators.h"
#include "messages.h"
#include "output.h"
#include "words.h"

namespace {

bool is_space(char byte)
{
    return is_space_byte(static_cast<unsigned char>(byte));
}

// Every word costs its separating blank, kWordRoomPerByte bytes for each of
// its bytes and the room of one numbered character.  Every word but the
// last takes at least two bytes of the line, itself and what ends it, so
// ten bytes for each byte of the line hold it; the last word may take just
// one, and the room of one more numbered character covers that.
constexpr std::size_t kMacroRoomPerLineByte = 10;
static_assert(1 + 2 * kWordRoomPerByte + kNumberedCharacterSize <= 2 * kMacroRoomPerLineByte,
              "a word of two bytes must fit in their room");
static_assert(sizeof "macro2 \n" + kMacroRoomPerLineByte * kMaxLineLength + kNumberedCharacterSize <=
                  kOutputBlockSize,
              "the longest macro line must fit in the output block");

// Puts the word that starts at `*word` at `out` and returns the end; moves
// `*word` to the end of the word: the byte that stopped it, or the line's
// NUL.
char *translate_word(char *out, const char **word_position)
{
    const char *word = *word_position;
    const char *start = word;
    const char *p;
    if (*word == '"') {
        start = word + 1;
        p = start;
        while (*p != '\0' && *p != '"')
            ++p;
        if (*p == '\0')
            report_line_error(LineError::kUnclosedQuote);
    } else {
        // The first byte belongs to the word whatever it is; from the second
        // on, each apostrophe turns protection of whitespace on or off.
        bool is_protected = false;
        for (p = word + 1; *p != '\0'; ++p) {
            if (*p == '\'')
                is_protected = !is_protected;
            else if (!is_protected && is_space(*p))
                break;
        }
    }
    *word_position = p;
    return put_word(out, start, static_cast<int>(p - start));
}

}  // namespace

// Only a word left open by a double quote is reported.  A NUL may end the
// line inside a quoted word, so it always counts.  Of the double quotes,
// only the line's last can leave a word open: any other is followed by one
// that closes its word.  And it opens a word only where translate_macro_line
// starts one: right after the macro's period or apostrophe, after
// whitespace, or after a quote that closed the word before.  Any other byte
// before it belongs to a word that the quote closes or lies inside.
bool macro_line_may_fail(const char *line, const char *end, LineSuspects seen)
{
    if (seen.cut_short)
        return true;
    if (!seen.quote)
        return false;
    const char *quote = end;
    while (quote > line + 1 && *--quote != '"') {
    }
    return quote <= line + 1 || quote[-1] == '"' || is_space(quote[-1]);
}

void translate_macro_line(const char *line, std::size_t extent)
{
    // A period or apostrophe alone, or followed by whitespace, is no call.
    if (line[1] == '\0' || is_space(line[1]))
        return;
    char *out = output_space(sizeof "macro2 \n" + kMacroRoomPerLineByte * extent + kNumberedCharacterSize);
    out = line[0] == '.' ? put_literal(out, "macro") : put_literal(out, "macro2");
    const char *p = line + 1;
    for (;;) {
        *out++ = ' ';
        out = translate_word(out, &p);
        if (*p == '\0')
            break;
        // Step over the closing quote or the whitespace that ended the word,
        // then over any more whitespace.
        ++p;
        while (is_space(*p))
            ++p;
        if (*p == '\0')
            break;
    }
    *out++ = '\n';
    output_advance(out);
}
