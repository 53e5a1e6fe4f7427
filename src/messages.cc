// The texts of the program's messages, and the one way each is written.
// Callers say what went wrong; the words are all here.

#include "messages.h"

#include "line.h"
#include "run.h"

#include <cinttypes>
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

void report_too_long_line()
{
    std::fprintf(stderr, "Too long line. Max is %d chars.\n", kMaxLineLength);
}

void report_line_error(LineError error)
{
    const char *what = error == LineError::kBadCharacterEscape ? "Bad \\( sequence" : "Unclosed quote in macro call";
    std::fprintf(stderr, "%s on line %" PRIu64 ".\n", what, line_number);
    error_status = 1;
}
