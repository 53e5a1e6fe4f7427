// Translation of text lines: every line that does not start with a period or
// an apostrophe.
//
// A text line is cut into runs of plain text, tabs that start a stretch, and
// backslash escapes; each becomes one command, and the line ends with
// "newline" whatever it held.  The only error is "\(" cut short by the end
// of the line.  Raw bytes that the font and special-character commands carry
// are quoted just enough that every command stays one line of one word per
// argument.

#include "roffscript.h"

#include <cstring>

namespace {

// The font byte is an argument of its own, so it is quoted as write_word
// quotes a byte, the backslash included.
void write_font_command(unsigned char font)
{
    char *out = output_space(sizeof "font \\f\n");
    if (out == nullptr)
        return;
    out = put_literal(out, "font ");
    if (font == '\\' || takes_backslash(font))
        *out++ = '\\';
    *out++ = static_cast<char>(font);
    *out++ = '\n';
    output_advance(out);
}

// The two bytes of a special character's name stand inside braces, where
// only a brace or a backslash could upset the reader's count of them.
void write_character_command(const char *name)
{
    char *out = output_space(sizeof "char {\\(\\x\\y}\n");
    if (out == nullptr)
        return;
    out = put_literal(out, "char {\\(");
    for (int i = 0; i < 2; ++i) {
        if (name[i] == '{' || name[i] == '}' || name[i] == '\\')
            *out++ = '\\';
        *out++ = name[i];
    }
    output_advance(put_literal(out, "}\n"));
}

// Writes the escape that starts at the backslash `escape` and returns the
// position where scanning goes on.
const char *translate_escape(const char *escape)
{
    const char *after = escape + 1;
    switch (*after) {
    case '\0':
        // A backslash ends the line: nothing to write.
        return after;
    case 'f':
        // A font escape with no font byte left writes nothing.
        if (after[1] == '\0')
            return after + 1;
        write_font_command(static_cast<unsigned char>(after[1]));
        return after + 2;
    case '-':
        write_literal("dash\n");
        return after + 1;
    case 'e':
        write_literal("text \\\\\n");
        return after + 1;
    case '.':
        write_literal("text .\n");
        return after + 1;
    case '&':
        return after + 1;
    case '0':
        write_literal("text { }\n");
        return after + 1;
    case '(':
        if (after[1] == '\0' || after[2] == '\0') {
            // The parenthesis is then read as the start of plain text.
            report_line_error("Bad \\( sequence");
            return after;
        }
        write_character_command(after + 1);
        return after + 3;
    case 'N':
        if (after[1] == '\'') {
            write_numbered_text(after + 2);
            // The escape runs to the next apostrophe, or to the end of the line.
            const char *close = std::strchr(after + 2, '\'');
            return close != nullptr ? close + 1 : after + 2 + std::strlen(after + 2);
        }
        break;
    default:
        break;
    }
    const char other[] = {'c', 'h', 'a', 'r', ' ', '{', '\\', *after, '}', '\n'};
    write_bytes(other, sizeof other);
    return after + 1;
}

}  // namespace

void translate_text_line(const char *line, std::size_t extent)
{
    const char *const bound = line + extent;
    const char *p = line;
    while (*p != '\0') {
        if (*p == '\t') {
            write_literal("tab\n");
            ++p;
        } else if (*p == '\\') {
            p = translate_escape(p);
        } else {
            p = write_text_run(p, static_cast<std::size_t>(bound - p));
        }
    }
    write_literal("newline\n");
}
