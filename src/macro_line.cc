// Translation of macro lines: lines that start with a period or an
// apostrophe, comments already dropped.
//
// A macro line becomes one "macro" command (after an apostrophe, "macro2")
// whose arguments are the words of the line, the macro's name first.  Words
// are split at whitespace, except inside double quotes and inside stretches
// that apostrophes protect.  An unclosed double quote is reported, and the
// rest of the line becomes the last word all the same.

#include "roffscript.h"

namespace {

bool is_space(char byte)
{
    return is_space_byte(static_cast<unsigned char>(byte));
}

// Writes the word that starts at `word` and returns where it ended: at the
// byte that stopped it, or at the line's NUL.
const char *translate_word(const char *word)
{
    if (*word == '"') {
        const char *content = word + 1;
        const char *p = content;
        while (*p != '\0' && *p != '"')
            ++p;
        if (*p == '\0')
            report_line_error("Unclosed quote in macro call");
        write_word(content, static_cast<int>(p - content));
        return p;
    }
    // The first byte belongs to the word whatever it is; from the second on,
    // each apostrophe turns protection of whitespace on or off.
    bool is_protected = false;
    const char *p = word + 1;
    for (; *p != '\0'; ++p) {
        if (*p == '\'')
            is_protected = !is_protected;
        else if (!is_protected && is_space(*p))
            break;
    }
    write_word(word, static_cast<int>(p - word));
    return p;
}

}  // namespace

void translate_macro_line(const char *line)
{
    // A period or apostrophe alone, or followed by whitespace, is no call.
    if (line[1] == '\0' || is_space(line[1]))
        return;
    if (line[0] == '.')
        write_literal("macro");
    else
        write_literal("macro2");
    const char *p = line + 1;
    for (;;) {
        write_literal(" ");
        p = translate_word(p);
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
    write_literal("\n");
}
