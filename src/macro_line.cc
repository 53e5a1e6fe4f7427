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
#include "text_run.h"
#include "words.h"

#include <cstring>

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
static_assert(sizeof "macro2 \n" + kMacroRoomPerLineByte * kShortestRefusedLine + kNumberedCharacterSize <=
                  kOutputBlockSize,
              "the longest macro line must fit in the output block");

// What each byte is to a word: how put_word writes it where it stands for
// itself (text_run.h's table), and what it is to the word's end.  In a word
// that no double quote opened, the end is the line's NUL, or whitespace
// unless apostrophes protect it, and an apostrophe turns that protection on
// or off; in a quoted word, only the NUL and the closing quote end it.  A
// backslash may start an escape, which put_word reads.
enum : unsigned char { kInsideWord, kEndOfLine, kWhitespace, kApostrophe, kDoubleQuote, kBackslash };
struct alignas(4) WordByte {
    char bytes[2];
    unsigned char length;
    unsigned char kind;
};
struct WordBytes {
    WordByte of[256] = {};
    constexpr WordBytes()
    {
        for (int byte = 0; byte < 256; ++byte) {
            const text_run::ByteEncoding &encoding = text_run::kWordBytes.of[byte];
            of[byte] = {{encoding.bytes[0], encoding.bytes[1]}, encoding.length, kInsideWord};
            if (is_space_byte(static_cast<unsigned char>(byte)))
                of[byte].kind = kWhitespace;
        }
        of[0].kind = kEndOfLine;
        of[static_cast<unsigned char>('\'')].kind = kApostrophe;
        of[static_cast<unsigned char>('"')].kind = kDoubleQuote;
        of[static_cast<unsigned char>('\\')].kind = kBackslash;
    }
};
constexpr WordBytes kWordBytesAndKinds;

// A word of a macro line: where its content starts, where it ends (at the
// byte that stopped it, or at the line's NUL), and whether a double quote
// opened it and none closed it.
struct Word {
    const char *start;
    const char *end;
    bool unclosed;
};

// The word that starts at `word`.  Each byte of it is handed to
// `words.take_byte` as it is passed over, and first to `words.note_byte`
// where it is not a plain byte, so that the output pass writes a word as it
// splits the line, and the checking pass does nothing with it.
template <typename Words>
Word word_at(const char *word, Words &words)
{
    if (*word == '"') {
        const char *p = word + 1;
        for (;; ++p) {
            const WordByte &byte = kWordBytesAndKinds.of[static_cast<unsigned char>(*p)];
            if (byte.kind != kInsideWord) {
                if (byte.kind == kEndOfLine || byte.kind == kDoubleQuote)
                    break;
                words.note_byte(byte);
            }
            words.take_byte(byte);
        }
        return {word + 1, p, *p == '\0'};
    }
    // The first byte belongs to the word whatever it is; from the second
    // on, each apostrophe turns protection of whitespace on or off.
    // Most bytes are none that matter, and cost one test.
    words.note_byte(kWordBytesAndKinds.of[static_cast<unsigned char>(*word)]);
    words.take_byte(kWordBytesAndKinds.of[static_cast<unsigned char>(*word)]);
    bool is_protected = false;
    const char *p = word + 1;
    for (;; ++p) {
        const WordByte &byte = kWordBytesAndKinds.of[static_cast<unsigned char>(*p)];
        if (byte.kind != kInsideWord) {
            if (byte.kind == kEndOfLine || (byte.kind == kWhitespace && !is_protected))
                break;
            if (byte.kind == kApostrophe)
                is_protected = !is_protected;
            words.note_byte(byte);
        }
        words.take_byte(byte);
    }
    return {word, p, false};
}

// Hands each word of the macro call `line`, the macro's name first, to
// `words`: start_word, then each of its bytes, then end_word with the
// word.  The one place that says how a macro line splits into words.
template <typename Words>
void for_each_word(const char *line, Words &words)
{
    const char *p = line + 1;
    for (;;) {
        words.start_word();
        Word word = word_at(p, words);
        p = word.end;
        words.end_word(word);
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

// The checking pass's words: only whether one was left open counts.
struct OpenWords {
    bool open = false;
    void start_word() {}
    void note_byte(const WordByte &) {}
    void take_byte(const WordByte &) {}
    void end_word(const Word &word) { open = open || word.unclosed; }
};

// The output pass's words, each written as its bytes are passed over, as
// put_word would write them.  A word with a backslash may hold an escape,
// and a word with no bytes is written as an empty word: put_word writes
// those again, over what was put down.
struct WrittenWords {
    char *out;
    char *word_out = nullptr;
    bool rewrite = false;
    void start_word()
    {
        *out++ = ' ';
        word_out = out;
        rewrite = false;
    }
    void note_byte(const WordByte &byte) { rewrite = rewrite || byte.kind == kBackslash; }
    void take_byte(const WordByte &byte)
    {
        // Two bytes always, as put_word_byte puts them down.
        std::memcpy(out, byte.bytes, sizeof byte.bytes);
        out += byte.length;
    }
    void end_word(const Word &word)
    {
        if (word.unclosed)
            report_line_error(LineError::kUnclosedQuote);
        if (rewrite || word.end == word.start)
            out = put_word(word_out, word.start, static_cast<int>(word.end - word.start));
    }
};

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
    OpenWords words;
    if (is_call(line))
        for_each_word(line, words);
    return words.open;
}

// Kept out of the line finder's loop, which every line goes through, so that
// a text line is not made to save the registers that a macro line needs.
__attribute__((noinline)) void translate_macro_line(const char *line, std::size_t extent)
{
    if (!is_call(line))
        return;
    char *out = output_space(sizeof "macro2 \n" + kMacroRoomPerLineByte * extent + kNumberedCharacterSize);
    out = line[0] == '.' ? put_literal(out, "macro") : put_literal(out, "macro2");
    WrittenWords words{out};
    for_each_word(line, words);
    *words.out++ = '\n';
    output_advance(words.out);
}
