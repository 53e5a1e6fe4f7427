// What the program promises of any input, checked by translating one
// document in this process: the fuzz target's checks, which a plain replay
// of saved inputs runs as well.
//
// - A run that fails writes nothing and says why; a run that succeeds says
//   nothing on standard error.
// - Every line of the script is one command: a known command word and the
//   number of arguments it takes, each argument one word under the script's
//   quoting, split as Tcl's parser splits it (backslash quotes the next
//   byte, braces group, each of blank, tab, vertical tab, form feed and
//   carriage return separates, and dollar, bracket and semicolon never stand
//   bare).
// - The same bytes give the same script twice, and through a pipe (which is
//   replayed from a temporary copy) the same script as from a file.
// - A checking pass that translates every line reports exactly what one
//   that skips the lines that cannot fail reports: the pass alone, so that
//   what the output pass would find does not stand in for it.
//
// The program's messages and script are caught by pointing the standard
// streams of the C library at temporary files for the length of a run; the
// fuzzer's and the sanitizers' own reports still reach the real standard
// error.

#include "checks.h"

#include "messages.h"
#include "output.h"
#include "passes.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct Result {
    int status;
    std::string out, err;
};

// Reading a document from memory through a stream that has no position,
// like a pipe.
struct PipeSource {
    const std::uint8_t *data;
    std::size_t size, offset;
};

ssize_t pipe_read(void *cookie, char *buffer, std::size_t size)
{
    PipeSource *source = static_cast<PipeSource *>(cookie);
    std::size_t n = std::min(size, source->size - source->offset);
    std::memcpy(buffer, source->data + source->offset, n);
    source->offset += n;
    return static_cast<ssize_t>(n);
}

int pipe_seek(void *, off64_t *, int)
{
    errno = ESPIPE;
    return -1;
}

std::string read_back(std::FILE *stream)
{
    std::string bytes;
    std::rewind(stream);
    char chunk[4096];
    std::size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, stream)) > 0)
        bytes.append(chunk, n);
    std::fclose(stream);
    return bytes;
}

// Points the C library's standard output and error at temporary files for
// as long as it lives, and gives back what was written to them.
struct CaughtStreams {
    std::FILE *out = std::tmpfile(), *err = std::tmpfile();
    std::FILE *real_stdout = stdout, *real_stderr = stderr;
    CaughtStreams()
    {
        if (out == nullptr || err == nullptr)
            std::abort();
        stdout = out;
        stderr = err;
    }
    void give_back(std::string *script, std::string *messages)
    {
        stdout = real_stdout;
        stderr = real_stderr;
        *script = read_back(out);
        *messages = read_back(err);
    }
};

Result translate(std::FILE *input)
{
    // The program turns off the C library's buffering of standard output
    // and writes whole blocks of its own; a temporary file takes them as
    // they come, and is read back once the run has ended.
    CaughtStreams caught;
    Result result;
    result.status = translate_document(input, "fuzz");
    std::fclose(input);
    caught.give_back(&result.out, &result.err);
    return result;
}

Result translate_file(const std::uint8_t *data, std::size_t size)
{
    // fmemopen wants a buffer of at least one byte even for no input.
    static char empty;
    void *buffer = size > 0 ? const_cast<std::uint8_t *>(data) : static_cast<void *>(&empty);
    std::FILE *input = fmemopen(buffer, size, "r");
    if (input == nullptr)
        std::abort();
    return translate(input);
}

Result translate_pipe(const std::uint8_t *data, std::size_t size)
{
    PipeSource source = {data, size, 0};
    cookie_io_functions_t functions = {pipe_read, nullptr, pipe_seek, nullptr};
    std::FILE *input = fopencookie(&source, "r", functions);
    if (input == nullptr)
        std::abort();
    return translate(input);
}

// The bytes at which Tcl's parser ends a word: the line feed, which ends
// the command as well, never reaches here.
bool separates_words(char byte)
{
    return byte == ' ' || byte == '\t' || byte == '\v' || byte == '\f' || byte == '\r';
}

// Splits one line of the script into its words, or returns false when the
// line cannot be read as words.
bool split_words(const std::string &line, std::vector<std::string> *words)
{
    std::size_t i = 0;
    while (i < line.size()) {
        std::string word;
        if (line[i] == '{') {
            int depth = 1;
            for (++i; i < line.size() && depth > 0; ++i) {
                if (line[i] == '\\' && i + 1 < line.size())
                    word += line[i++];
                else if (line[i] == '{')
                    ++depth;
                else if (line[i] == '}' && --depth == 0)
                    break;
                word += line[i];
            }
            if (depth != 0)
                return false;
            ++i;
        } else {
            for (; i < line.size() && !separates_words(line[i]); ++i) {
                char byte = line[i];
                if (byte == '\\') {
                    if (++i == line.size())
                        return false;
                    word += line[i];
                    continue;
                }
                if (byte == '$' || byte == '[' || byte == ';' || (word.empty() && byte == '"'))
                    return false;
                word += byte;
            }
        }
        words->push_back(word);
        if (i < line.size()) {
            // Exactly one blank between words, none at the end.
            if (line[i] != ' ' || ++i == line.size())
                return false;
        }
    }
    return true;
}

struct Command {
    const char *name;
    std::size_t arguments;
    bool or_more;
};

#define EXACTLY false
#define OR_MORE true
#define SCRIPT_COMMAND(name, arguments, or_more) {#name, arguments, or_more},
const Command kCommands[] = {
#include "commands.def"
};
#undef SCRIPT_COMMAND
#undef OR_MORE
#undef EXACTLY

// A known command, written bare, and the arguments it takes.
bool is_one_command(const std::string &line)
{
    std::vector<std::string> words;
    if (!split_words(line, &words) || words.empty())
        return false;
    std::size_t arguments = words.size() - 1;
    for (const Command &command : kCommands) {
        if (words[0] != command.name)
            continue;
        std::size_t length = words[0].size();
        bool bare = line.compare(0, length, words[0]) == 0 && (line.size() == length || line[length] == ' ');
        return bare && (command.or_more ? arguments >= command.arguments : arguments == command.arguments);
    }
    return false;
}

std::string differs(const Result &got, const Result &expected)
{
    if (got.status != expected.status)
        return "status " + std::to_string(got.status) + ", not " + std::to_string(expected.status);
    if (got.err != expected.err)
        return "messages \"" + got.err.substr(0, 200) + "\", not \"" + expected.err.substr(0, 200) + "\"";
    if (got.out != expected.out)
        return "another script (" + std::to_string(got.out.size()) + " bytes, not " +
               std::to_string(expected.out.size()) + ")";
    return "";
}

}  // namespace

PassTaken take_page(const std::string &page, Pass pass, CheckedLines checked, std::size_t stretch)
{
    static char block[kPageBlockSize];
    CaughtStreams caught;
    start_messages();
    line_number = 0;
    error_status = 0;
    start_output(Pass::kChecking);
    if (pass == Pass::kOutput)
        start_output(pass);
    start_lines(block, pass, checked);
    PassTaken taken;
    std::size_t at = 0;
    for (;;) {
        PageRoom room = room_for_page();
        std::size_t count = std::min({stretch, room.size, page.size() - at});
        if (count == 0) {
            taken.whole = end_of_page();
            break;
        }
        std::memcpy(room.bytes, page.data() + at, count);
        at += count;
        if (!take_page_bytes(count))
            break;
    }
    finish_output();
    taken.lines = line_number;
    caught.give_back(&taken.script, &taken.messages);
    return taken;
}

std::string check_document(const std::uint8_t *data, std::size_t size, int *status, std::string *script)
{
    Result file = translate_file(data, size);
    if (status != nullptr)
        *status = file.status;
    if (script != nullptr)
        *script = file.out;
    if (file.status != 0 && file.status != 1)
        return "status " + std::to_string(file.status);
    if (file.status == 1) {
        if (!file.out.empty())
            return "status 1 with a script";
        if (file.err.empty())
            return "status 1 without a message";
    } else {
        if (!file.err.empty())
            return "status 0 with messages: " + file.err.substr(0, 200);
        if (!file.out.empty() && file.out.back() != '\n')
            return "the script's last line has no line feed";
        std::size_t start = 0;
        while (start < file.out.size()) {
            std::size_t end = file.out.find('\n', start);
            std::string line = file.out.substr(start, end - start);
            if (!is_one_command(line))
                return "not one command: " + line.substr(0, 200);
            start = end + 1;
        }
    }

    std::string page(reinterpret_cast<const char *>(data), size);
    PassTaken skipping = take_page(page, Pass::kChecking, CheckedLines::kThoseThatMayFail, page.size() + 1);
    PassTaken every = take_page(page, Pass::kChecking, CheckedLines::kEvery, page.size() + 1);
    if (!(every == skipping))
        return "a checking pass that translates every line reports \"" + every.messages.substr(0, 200) +
               "\", not \"" + skipping.messages.substr(0, 200) + "\"";
    std::string why = differs(translate_pipe(data, size), file);
    if (!why.empty())
        return "through a pipe: " + why;
    return "";
}
