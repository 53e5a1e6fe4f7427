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

#include "escapes.h"
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

// What each byte is to a word that no double quote opened: inside it, its
// end (the line's NUL, or whitespace unless apostrophes protect it), or an
// apostrophe, which turns that protection on or off.
enum : unsigned char { kInsideWord, kEndOfLine, kWhitespace, kApostrophe };
struct WordStops {
    unsigned char of[256] = {};
    constexpr WordStops()
    {
        for (int byte = 0; byte < 256; ++byte)
            if (is_space_byte(static_cast<unsigned char>(byte)))
                of[byte] = kWhitespace;
        of[0] = kEndOfLine;
        of[static_cast<unsigned char>('\'')] = kApostrophe;
    }
};
constexpr WordStops kWordStops;

// A word of a macro line: where its content starts, where it ends (at the
// byte that stopped it, or at the line's NUL), and whether a double quote
// opened it and none closed it.
struct Word {
    const char *start;
    const char *end;
    bool unclosed;
};

// The word that starts at `word`.
Word word_at(const char *word)
{
    if (*word == '"') {
        const char *p = word + 1;
        while (*p != '\0' && *p != '"')
            ++p;
        return {word + 1, p, *p == '\0'};
    }
    // The first byte belongs to the word whatever it is; from the second
    // on, each apostrophe turns protection of whitespace on or off.  Most
    // bytes are none of the three that matter, and are passed over by one
    // look-up each.
    bool is_protected = false;
    const char *p = word + 1;
    for (;; ++p) {
        unsigned char kind = kWordStops.of[static_cast<unsigned char>(*p)];
        if (kind == kInsideWord)
            continue;
        if (kind == kApostrophe)
            is_protected = !is_protected;
        else if (kind == kEndOfLine || !is_protected)
            break;
    }
    return {word, p, false};
}

// Calls `take_word(start, end, unclosed)` for each word of the macro call
// `line`, the macro's name first: the one place that says how a macro line
// splits into words.
template <typename TakeWord>
void for_each_word(const char *line, TakeWord take_word)
{
    const char *p = line + 1;
    for (;;) {
        Word word = word_at(p);
        p = word.end;
        take_word(word.start, p, word.unclosed);
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
}

// A period or apostrophe alone, or followed by whitespace, is no call.
bool is_call(const char *line)
{
    return line[1] != '\0' && !is_space(line[1]);
}

}  // namespace

// Only a word left open by a double quote is reported.  Of the double
// quotes, only the line's last can leave a word open: any other is followed
// by one that closes its word.  And it opens a word only where a word
// starts: right after the macro's period or apostrophe, after whitespace,
// or after a quote that closed the word before.  Any other byte before it
// belongs to a word that the quote closes or lies inside.  A line that
// passes that test, or that a NUL may end early, is split into its words to
// tell for sure, without writing them.
bool macro_line_may_fail(const char *line, const char *end, LineSuspects seen)
{
    if (!seen.cut_short) {
        if (!seen.quote)
            return false;
        const char *quote = end;
        while (quote > line + 1 && *--quote != '"') {
        }
        if (quote > line + 1 && quote[-1] != '"' && !is_space(quote[-1]))
            return false;
    }
    bool open = false;
    if (is_call(line))
        for_each_word(line, [&open](const char *, const char *, bool unclosed) { open = open || unclosed; });
    return open;
}

// Kept out of the line finder's loop, which every line goes through, so that
// a text line is not made to save the registers that a macro line needs.
__attribute__((noinline)) void translate_macro_line(const char *line, std::size_t extent)
{
    if (!is_call(line))
        return;
    char *out = output_space(sizeof "macro2 \n" + kMacroRoomPerLineByte * extent + kNumberedCharacterSize);
    out = line[0] == '.' ? put_literal(out, "macro") : put_literal(out, "macro2");
    for_each_word(line, [&out](const char *start, const char *end, bool unclosed) {
        if (unclosed)
            report_line_error(LineError::kUnclosedQuote);
        *out++ = ' ';
        out = put_word(out, start, static_cast<int>(end - start));
    });
    *out++ = '\n';
    output_advance(out);
}
