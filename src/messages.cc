// The texts of the program's messages, and the one way each is written.
// Callers say what went wrong, with a reason where the message has room for
// one.

#include "messages.h"

#include "line.h"
#include "run_state.h"

#include <cinttypes>
#include <cstdarg>
#include <cstddef>
#include <cstdio>

void report_usage(const char *program)
{
    std::fprintf(stderr, "Usage: %s ?fileName?\n", program);
}

void report_read_failure(const char *name, const char *reason)
{
    std::fprintf(stderr, "Couldn't read \"%s\": %s\n", name, reason);
}

void report_write_failure(const char *reason)
{
    std::fprintf(stderr, "Couldn't write output: %s\n", reason);
}

void report_temporary_create_failure(const char *reason)
{
    std::fprintf(stderr, "Couldn't create temporary file: %s\n", reason);
}

void report_temporary_write_failure(const char *reason)
{
    std::fprintf(stderr, "Couldn't write temporary file: %s\n", reason);
}

namespace {

// The held messages.  A few KiB hold a screenful of them; a page with more
// wrong is rare, and its later messages are not lost, only not held.
constexpr std::size_t kHeldSize = 4096;
struct Held {
    char bytes[kHeldSize];
    std::size_t length = 0;
    bool holding = false;
};
Held held;

void write_held()
{
    if (held.length > 0)
        std::fwrite(held.bytes, 1, held.length, stderr);
    held.length = 0;
}

// Writes a message about a line, or holds it.
void report_about_line(const char *format, ...) __attribute__((format(printf, 1, 2)));
void report_about_line(const char *format, ...)
{
    std::va_list arguments;
    va_start(arguments, format);
    if (held.holding) {
        int length = std::vsnprintf(held.bytes + held.length, kHeldSize - held.length, format, arguments);
        if (length >= 0 && static_cast<std::size_t>(length) < kHeldSize - held.length) {
            held.length += static_cast<std::size_t>(length);
            va_end(arguments);
            return;
        }
        // The block is full: what it holds goes out, and so does every
        // message after it.
        write_held();
        held.holding = false;
        va_end(arguments);
        va_start(arguments, format);
    }
    std::vfprintf(stderr, format, arguments);
    va_end(arguments);
}

}  // namespace

void report_too_long_line()
{
    report_about_line("Too long line. Max is %d chars.\n", kShortestRefusedLine);
}

void report_line_error(LineError error)
{
    const char *what = error == LineError::kBadCharacterEscape ? "Bad \\( sequence" : "Unclosed quote in macro call";
    report_about_line("%s on line %" PRIu64 ".\n", what, line_number);
    error_status = 1;
}

void start_messages()
{
    held.length = 0;
    held.holding = false;
}

void hold_line_messages()
{
    held.holding = true;
}

void release_line_messages()
{
    write_held();
    held.holding = false;
}

void drop_line_messages()
{
    held.length = 0;
    held.holding = false;
}
