// Translation of text lines: every line that does not start with a period or
// an apostrophe.
//
// A text line is cut into runs of plain text, tabs that start a stretch, and
// backslash escapes; each becomes one command, and the line ends with
// "newline" whatever it held.  The only error is "\(" cut short by the end
// of the line.  Raw bytes that the font and special-character commands carry
// are quoted just enough that every command stays one line of one word per
// argument.

#include "translators.h"

#include "cpu_features.h"
#include "escapes.h"
#include "messages.h"
#include "output.h"
#include "text_run.h"
#include "words.h"

#include <cstring>


namespace {

// Every byte of a text line costs at most six bytes of script.  The dearest
// stretch is a run of one quoted byte ("text \$" and its line feed, eight
// bytes) before an escape written as a special character ("char {\z}" and
// its line feed, ten bytes for two) or a numbered character ("\N'", sixteen
// bytes for three): eighteen bytes for three, or twenty-four for four.  An
// escape on its own, or a tab, costs less than six a byte; a run at the end
// of the line, with no escape after it to share its cost, may cost six more
// than its share.
constexpr std::size_t kTextRoomPerLineByte = 6;
constexpr std::size_t kTextRoomPerLine = 6 + sizeof "newline\n" + kTextRunOverwrite;
static_assert(kTextRoomPerLineByte * kShortestRefusedLine + kTextRoomPerLine <= kOutputBlockSize,
              "the longest text line must fit in the output block");

// The font byte is an argument of its own, so it is quoted as put_word
// quotes a byte, the backslash included.
char *put_font_command(char *out, unsigned char font)
{
    out = put_literal(out, "font ");
    if (font == '\\' || takes_backslash(font))
        *out++ = '\\';
    *out++ = static_cast<char>(font);
    *out++ = '\n';
    return out;
}

// The two bytes of a special character's name stand inside braces, where
// only a brace or a backslash could upset the reader's count of them.
char *put_character_command(char *out, const char *name)
{
    out = put_literal(out, "char {\\(");
    for (int i = 0; i < 2; ++i) {
        if (name[i] == '{' || name[i] == '}' || name[i] == '\\')
            *out++ = '\\';
        *out++ = name[i];
    }
    return put_literal(out, "}\n");
}

// Translates the escape that starts at the backslash `*escape`, putting its
// command at `out`, and returns the end of what was put; moves `*escape` to
// where scanning goes on.  The line ends at its NUL, `line_end` at the
// latest.
char *translate_escape(char *out, const char **escape, const char *line_end)
{
    const char *after = *escape + 1;
    *escape = after + 1;
    switch (*after) {
    case '\0':
        // A backslash ends the line: nothing to write.
        *escape = after;
        return out;
    case 'f':
        // A font escape with no font byte left writes nothing.
        if (after[1] == '\0')
            return out;
        *escape = after + 2;
        return put_font_command(out, static_cast<unsigned char>(after[1]));
    case '-':
        return put_literal(out, "dash\n");
    case 'e':
        return put_literal(out, "text \\\\\n");
    case '.':
        return put_literal(out, "text .\n");
    case '&':
        return out;
    case kDigitSpaceLetter:
        return put_literal(out, "text { }\n");
    case '(':
        if (after[1] == '\0' || after[2] == '\0') {
            // The parenthesis is then read as the start of plain text.
            report_line_error(LineError::kBadCharacterEscape);
            *escape = after;
            return out;
        }
        *escape = after + 3;
        return put_character_command(out, after + 1);
    case 'N':
        if (starts_numbered_character(after - 1)) {
            // The escape runs to the next apostrophe, or to the end of the line.
            *escape = numbered_character_end(after + 2, line_end);
            return put_numbered_text(out, after + 2);
        }
        break;
    default:
        break;
    }
    out = put_literal(out, "char {\\");
    *out++ = *after;
    return put_literal(out, "}\n");
}

}  // namespace

// Only a "\(" cut short is reported.  A NUL may end the line just after
// one; otherwise its backslash and parenthesis must be among the last three
// bytes.  The line finder also counts a parenthesis at the end of a chunk
// as near a line feed, whatever follows it, so its word is checked here.
bool text_line_may_fail(const char *line, const char *end, LineSuspects seen)
{
    if (!seen.cut_short)
        return false;
    std::size_t length = static_cast<std::size_t>(end - line);
    if (std::memchr(line, '\0', length) != nullptr)
        return true;
    return (length >= 2 && end[-2] == '\\' && end[-1] == kCutShortSuspect) ||
           (length >= 3 && end[-3] == '\\' && end[-2] == kCutShortSuspect);
}

namespace {

// The translator, built once for each way of quoting text runs; each pass
// runs the one that the processor allows, chosen once as the program
// starts.
template <typename Quoting>
inline void translate_text_line_with(const char *line, std::size_t extent)
{
    char *out = output_space(kTextRoomPerLineByte * extent + kTextRoomPerLine);
    const Quoting quoting;
    const char *p = line;
    while (*p != '\0') {
        if (*p == '\t') {
            out = put_literal(out, "tab\n");
            ++p;
        } else if (*p == '\\') {
            out = translate_escape(out, &p, line + extent);
        } else {
            out = put_text_run(quoting, out, &p);
            // A run ends at a backslash or at the end of the line.
            if (*p != '\0')
                out = translate_escape(out, &p, line + extent);
        }
    }
    output_advance(put_literal(out, "newline\n"));
}

void translate_text_line_portable(const char *line, std::size_t extent)
{
    translate_text_line_with<PortableQuoting>(line, extent);
}

#ifdef ROFFSCRIPT_SSSE3
__attribute__((target("ssse3"), flatten))
void translate_text_line_ssse3(const char *line, std::size_t extent)
{
    translate_text_line_with<Ssse3Quoting>(line, extent);
}
#endif

// The C library asked the processor what it has as it loaded the program;
// the answer is read from there rather than asked again.
void (*const translate_text_line_chosen)(const char *, std::size_t) =
#ifdef ROFFSCRIPT_SSSE3
    processor_has_ssse3() ? translate_text_line_ssse3 :
#endif
                                translate_text_line_portable;

}  // namespace

void translate_text_line(const char *line, std::size_t extent)
{
    translate_text_line_chosen(line, extent);
}
