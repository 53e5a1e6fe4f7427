// Documents larger than the program's read block, built so that every kind
// of line lands on every offset of the program's reads and of the 64-byte
// stretches in which it looks for line feeds.  The checking pass only
// translates lines that could be reported bad, so these tests put bad lines,
// lines that merely look suspect, long lines and NUL bytes among many clean
// lines, and check every message's line number as well as the script.

#include "program.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

// One document and what the program must make of it.
struct Document {
    std::string input, script, messages;
    int lines = 0;

    void clean(const std::string &line, const std::string &commands)
    {
        input += line + "\n";
        script += commands;
        ++lines;
    }
    void bad(const std::string &line, const char *what)
    {
        input += line + "\n";
        messages += std::string(what) + " on line " + std::to_string(++lines) + ".\n";
    }
};

void expect_file_and_pipe(const std::string &input, const std::string &out, const std::string &err,
                          int status)
{
    TempFile file(input);
    Invocation named;
    named.args = {file.path};
    Invocation piped;
    piped.input = input;
    for (const Invocation *run : {&named, &piped}) {
        SCOPED_TRACE(run == &named ? "input as a named file" : "input through a pipe");
        Outcome got = run_roffscript(*run);
        // The script is large: compare it whole, but print little.
        EXPECT_TRUE(got.out == out) << "the script differs (" << got.out.size() << " bytes, expected "
                                    << out.size() << ")";
        EXPECT_EQ(got.err, err);
        EXPECT_EQ(got.status, status);
    }
}

// Clean lines of every length up to a few chunks, some of them with a
// parenthesis or a double quote that is no error, and (when `with_errors`)
// a bad line after every few of them.
Document mixed_document(bool with_errors)
{
    Document doc;
    for (int i = 0; doc.input.size() < 200 * 1000; ++i) {
        std::string run(static_cast<std::size_t>(i % 197), static_cast<char>('a' + i % 26));
        switch (i % 5) {
        case 0:
            doc.clean(run, run.empty() ? "newline\n" : "text " + run + "\nnewline\n");
            break;
        case 1:
            doc.clean("f(" + run + ")", "text f(" + run + ")\nnewline\n");
            break;
        case 2:
            // The last quote closes a word, or lies inside one.
            if (i % 3 == 0)
                doc.clean(".B \"" + run + "\" x", "macro B " + (run.empty() ? "{}" : run) + " x\n");
            else
                doc.clean(".B \"" + run + "\" x\"y", "macro B " + (run.empty() ? "{}" : run) + " x\\\"y\n");
            break;
        case 3:
            doc.clean("\\(em" + run, "char {\\(em}\n" + (run.empty() ? "" : "text " + run + "\n") + "newline\n");
            break;
        case 4:
            doc.clean(".\\\" (\"" + run, "");
            break;
        }
        if (with_errors && i % 7 == 3) {
            // A \( escape is cut short by the line feed or by a NUL, one or
            // two bytes after its parenthesis.
            static const std::string cut_short[] = {"\\(", "\\(x", std::string("\\(\0zzz", 6),
                                                    std::string("\\(x\0yyy", 7)};
            // A quote is left open after a blank, a tab, the period, or a
            // quote that closed the word before.
            static const std::string left_open[] = {".I \"", ".I x\t\"", ".\"", ".I \"a\"\""};
            if (i % 2)
                doc.bad(run + cut_short[i / 2 % 4], "Bad \\( sequence");
            else
                doc.bad(left_open[i / 2 % 4] + run, "Unclosed quote in macro call");
        }
    }
    return doc;
}

TEST(Blocks, EveryErrorIsReportedWithItsLineNumber)
{
    Document doc = mixed_document(true);
    expect_file_and_pipe(doc.input, "", doc.messages, 1);
}

TEST(Blocks, CleanLinesAroundSuspectBytesGiveTheWholeScript)
{
    Document doc = mixed_document(false);
    expect_file_and_pipe(doc.input, doc.script, "", 0);
}

TEST(Blocks, ErrorAfterManyCleanLinesCountsThemAll)
{
    // Lines with nothing suspect are only counted by the checking pass; the
    // count must still be exact, whatever the lines' lengths.
    std::string input;
    int lines = 0;
    for (; input.size() < 300 * 1000; ++lines)
        input += std::string(static_cast<std::size_t>(lines % 131), 'w') + "\n";
    input += "last\\(\n";
    expect_file_and_pipe(input, "", "Bad \\( sequence on line " + std::to_string(lines + 1) + ".\n", 1);
}

TEST(Blocks, NulShortensALineThatWouldBeTooLong)
{
    // The line is short up to its NUL, and what follows the NUL is ignored,
    // suspect bytes included.
    std::string input = "x\n" + std::string("ok") + '\0' + std::string(5000, 'r') + "\\(\"\n" + "y\n";
    expect_file_and_pipe(input, "text x\nnewline\ntext ok\nnewline\ntext y\nnewline\n", "", 0);
}

TEST(Blocks, LineLongerThanAReadBlock)
{
    // A comment far longer than any block the program reads counts as one
    // line; so does a line whose NUL comes early.
    std::string input = ".\\\" " + std::string(200 * 1000, 'c') + "\n" + "s" + '\0' +
                        std::string(100 * 1000, 'd') + "\n" + "\\(";
    expect_file_and_pipe(input, "", "Bad \\( sequence on line 3.\n", 1);
}

TEST(Blocks, LongestMacroLinesOfCostlyWords)
{
    // A macro line's command is put down in room asked for once, by the
    // line's length.  The costliest words, many to a line of the longest
    // length, at every fill of the output block, must all come out whole.
    std::string input, script;
    for (int i = 0; i < 120; ++i) {
        std::string plain(static_cast<std::size_t>(1 + i * 397 % 3000), 'p');
        input += plain + "\n";
        script += "text " + plain + "\nnewline\n";
        std::string line = i % 2 ? ".B" : "'B";
        std::string command = i % 2 ? "macro B" : "macro2 B";
        const char *word = i % 3 == 0 ? " \\N'955'" : i % 3 == 1 ? " $" : " \"\"";
        const char *encoded = i % 3 == 0 ? " \\u03bb" : i % 3 == 1 ? " \\$" : " {}";
        while (line.size() + std::strlen(word) <= 3998 - static_cast<std::size_t>(i)) {
            line += word;
            command += encoded;
        }
        input += line + "\n";
        script += command + "\n";
    }
    expect_file_and_pipe(input, script, "", 0);
}

TEST(Blocks, LongestTextLinesOfCostlyConstructs)
{
    // A text line's commands are put down in room asked for once, by the
    // line's length.  The costliest stretches, a run of one quoted byte
    // before a special character or a numbered one, fill the longest lines
    // at every fill of the output block.
    struct Stretch {
        const char *input, *script;
    } const stretches[] = {{"$\\z", "text \\$\nchar {\\z}\n"},
                           {"a\\N''", "text a\ntext \\ufffd\n"},
                           {"\t\\({}", "tab\nchar {\\(\\{\\}}\n"}};
    std::string input, script;
    for (const Stretch &stretch : stretches) {
        for (int i = 0; i < 40; ++i) {
            // A plain line of its own length first, so that the long line
            // starts at ever other fills of the output block.
            std::string plain(static_cast<std::size_t>(1 + i * 397 % 3000), 'p');
            input += plain + "\n";
            script += "text " + plain + "\nnewline\n";
            std::string line;
            while (line.size() + std::strlen(stretch.input) <= 3998 - static_cast<std::size_t>(i)) {
                line += stretch.input;
                script += stretch.script;
            }
            input += line + "\n";
            script += "newline\n";
        }
    }
    expect_file_and_pipe(input, script, "", 0);
}

TEST(Blocks, EveryByteIsQuotedAlikeAtEveryOffset)
{
    // Text may be quoted many bytes at a time.  Every byte value, at every
    // offset of such a stretch, and a quoted byte right before the run ends
    // at a backslash or at the line's end, must come out as one byte at a
    // time would have it: a backslash before the script's own syntax bytes,
    // every byte that ends a Tcl word among them.
    auto quoted = [](const std::string &run) {
        std::string out;
        for (char byte : run) {
            if (std::string("\t\v\f\r \"$;[{").find(byte) != std::string::npos)
                out += '\\';
            out += byte;
        }
        return out;
    };
    std::string every_byte;
    for (int byte = 1; byte < 256; ++byte)
        if (byte != '\n' && byte != '\\')
            every_byte += static_cast<char>(byte);
    std::string input, script;
    for (std::size_t offset = 1; offset <= 48; ++offset) {
        std::string lead(offset, 'x');
        for (const std::string &run : {lead + every_byte, lead + " ", lead + "{"}) {
            input += run + "\n";
            script += "text " + quoted(run) + "\nnewline\n";
            input += run + "\\-\n";
            script += "text " + quoted(run) + "\ndash\nnewline\n";
        }
    }
    expect_file_and_pipe(input, script, "", 0);
}

}  // namespace
