// The two passes over the input.
//
// The input is translated twice: a checking pass that writes nothing and
// only reports, then, if nothing was wrong, an output pass that writes the
// script.  A run therefore writes either the whole script or none of it.
//
// Lines are read whole through one fixed buffer.  The buffer holds the
// longest acceptable line with its line feed; a physical line that does not
// fit is handled from what did fit, and the rest of it is discarded up to its
// line feed, so a line always counts once however long it is.  Input that
// cannot be read twice (a pipe, a terminal) is copied during the checking
// pass to a temporary file, and the output pass reads that copy.

#include "roffscript.h"

#include <cerrno>
#include <cstring>

int output_pass = 0;
int line_number = 0;
int error_status = 0;

namespace {

// Every stream moves whole blocks, through buffers of our own rather than
// the heap's.
constexpr std::size_t kStreamBufferSize = 64 * 1024;
char input_stream_buffer[kStreamBufferSize];
char spool_stream_buffer[kStreamBufferSize];
char output_stream_buffer[kStreamBufferSize];

const char *input_name = "-";

bool is_comment(const char *line)
{
    // The tests stop at the line's NUL, so a short line is never read past.
    return (line[0] == '.' || line[0] == '\'') && line[1] == '\\' && line[2] == '"';
}

// Counts, tests and translates one line.  The comment test comes first so
// that a comment of any length is dropped rather than rejected.  Returns
// false when the line is too long, which ends the run.
bool take_line(const char *line, bool may_be_too_long)
{
    ++line_number;
    if (is_comment(line))
        return true;
    if (may_be_too_long && std::strlen(line) >= static_cast<std::size_t>(kMaxLineLength)) {
        std::fprintf(stderr, "Too long line. Max is %d chars.\n", kMaxLineLength);
        return false;
    }
    if (line[0] == '.' || line[0] == '\'')
        translate_macro_line(line);
    else
        translate_text_line(line);
    return true;
}

void report_system_error(const char *what)
{
    std::fprintf(stderr, "%s: %s\n", what, std::strerror(errno));
}

void report_read_error()
{
    std::fprintf(stderr, "Couldn't read \"%s\": %s\n", input_name, std::strerror(errno));
}

// Reads `input` to its end, line by line, through `buffer`, and hands every
// line to take_line.  During the checking pass `spool`, when there is one,
// receives a copy of every byte read.  Returns false when the run must end:
// the reason has been reported.
bool run_pass(std::FILE *input, std::FILE *spool, char *buffer)
{
    std::size_t held = 0;    // bytes in the buffer, from its start
    std::size_t start = 0;   // where the next unhandled line begins
    bool skipping = false;   // discarding the tail of a line that did not fit
    for (;;) {
        char *line_feed = static_cast<char *>(std::memchr(buffer + start, '\n', held - start));
        if (line_feed != nullptr) {
            *line_feed = '\0';
            if (!skipping && !take_line(buffer + start, false))
                return false;
            skipping = false;
            start = static_cast<std::size_t>(line_feed + 1 - buffer);
            if (output_failure() != 0)
                return true;
            continue;
        }
        // Only a partial line is left: move it to the front to make room.
        if (skipping) {
            held = 0;
        } else {
            std::memmove(buffer, buffer + start, held - start);
            held -= start;
        }
        start = 0;
        if (held == static_cast<std::size_t>(kMaxLineLength)) {
            // No line feed in a full buffer: the line is at least this long,
            // unless a NUL byte ends it early.
            buffer[held] = '\0';
            if (!take_line(buffer, true))
                return false;
            skipping = true;
            held = 0;
            continue;
        }
        std::size_t got = std::fread(buffer + held, 1, kMaxLineLength - held, input);
        if (got == 0) {
            if (std::ferror(input)) {
                report_read_error();
                return false;
            }
            // A last line without a line feed is a line all the same.
            if (held > 0 && !skipping) {
                buffer[held] = '\0';
                take_line(buffer, false);
            }
            return true;
        }
        if (spool != nullptr && std::fwrite(buffer + held, 1, got, spool) != got) {
            report_system_error("Couldn't write temporary file");
            return false;
        }
        held += got;
    }
}

// Runs the checking pass and, when it found nothing wrong, the output pass,
// from the same start.  Returns the exit status.
int run_passes(std::FILE *input, std::FILE *spool, const std::fpos_t &input_start)
{
    char line_buffer[kLineBufferSize];
    for (output_pass = 0; output_pass < kPassCount; ++output_pass) {
        line_number = 0;
        error_status = 0;
        if (!run_pass(input, output_pass == 0 ? spool : nullptr, line_buffer))
            return 1;
        if (error_status != 0)
            return error_status;
        if (output_pass + 1 == kPassCount)
            break;
        if (spool != nullptr) {
            if (std::fflush(spool) != 0 || std::ferror(spool)) {
                report_system_error("Couldn't write temporary file");
                return 1;
            }
            std::rewind(spool);
            input = spool;
        } else if (std::fsetpos(input, &input_start) != 0) {
            report_read_error();
            return 1;
        }
    }
    return error_status;
}

}  // namespace

void report_line_error(const char *what)
{
    std::fprintf(stderr, "%s on line %d.\n", what, line_number);
    error_status = 1;
}

int translate_document(std::FILE *input, const char *name)
{
    input_name = name;
    std::setvbuf(input, input_stream_buffer, _IOFBF, sizeof input_stream_buffer);
    std::setvbuf(stdout, output_stream_buffer, _IOFBF, sizeof output_stream_buffer);

    // Where the checking pass starts is where the output pass must start
    // again, which need not be the start of the file.  Input that has no
    // position is read once and replayed from a copy.
    std::fpos_t input_start{};
    std::FILE *spool = nullptr;
    errno = 0;
    if (std::fgetpos(input, &input_start) != 0) {
        if (errno != ESPIPE) {
            report_read_error();
            return 1;
        }
        spool = std::tmpfile();
        if (spool == nullptr) {
            report_system_error("Couldn't create temporary file");
            return 1;
        }
        std::setvbuf(spool, spool_stream_buffer, _IOFBF, sizeof spool_stream_buffer);
    }

    int status = run_passes(input, spool, input_start);
    if (spool != nullptr)
        std::fclose(spool);
    int write_errno = finish_output();
    if (status != 0)
        return status;
    if (write_errno != 0) {
        std::fprintf(stderr, "Couldn't write output: %s\n", std::strerror(write_errno));
        return 1;
    }
    return 0;
}
