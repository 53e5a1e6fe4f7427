// Where the bytes of each pass come from.
//
// The input is read a block at a time with the stream's own buffering
// turned off, so the bytes go straight from the kernel into the caller's
// block.  Where the checking pass starts is where the output pass must start
// again, which need not be the start of the file.  Input that has no
// position (a pipe, a terminal) is copied during the checking pass to a
// temporary file, and the output pass reads that copy.

#include "source.h"

#include "messages.h"
#include "run.h"

#include <cerrno>
#include <cstring>

namespace {

std::FILE *input_stream = nullptr;
std::FILE *spool = nullptr;       // the temporary copy, for input without a position
std::fpos_t input_start{};
const char *input_name = "-";

void report_read_error()
{
    report_read_failure(input_name, std::strerror(errno));
}

}  // namespace

const char *source_name()
{
    return input_name;
}

bool open_source(std::FILE *input, const char *name)
{
    input_stream = input;
    input_name = name;
    spool = nullptr;
    // Every stream moves whole blocks of ours, so none needs a buffer of its
    // own: each read and write goes straight to the system.
    std::setvbuf(input, nullptr, _IONBF, 0);
    errno = 0;
    if (std::fgetpos(input, &input_start) == 0)
        return true;
    if (errno != ESPIPE) {
        report_read_error();
        return false;
    }
    spool = std::tmpfile();
    if (spool == nullptr) {
        report_temporary_create_failure(std::strerror(errno));
        return false;
    }
    std::setvbuf(spool, nullptr, _IONBF, 0);
    return true;
}

bool read_source(char *block, std::size_t size, std::size_t *got)
{
    *got = std::fread(block, 1, size, input_stream);
    if (*got == 0) {
        if (std::ferror(input_stream)) {
            report_read_error();
            return false;
        }
        return true;
    }
    if (output_pass == 0 && spool != nullptr && std::fwrite(block, 1, *got, spool) != *got) {
        report_temporary_write_failure(std::strerror(errno));
        return false;
    }
    return true;
}

bool rewind_source()
{
    if (spool != nullptr) {
        if (std::fflush(spool) != 0 || std::ferror(spool)) {
            report_temporary_write_failure(std::strerror(errno));
            return false;
        }
        std::rewind(spool);
        input_stream = spool;
        return true;
    }
    if (std::fsetpos(input_stream, &input_start) != 0) {
        report_read_error();
        return false;
    }
    return true;
}

void close_source()
{
    if (spool != nullptr)
        std::fclose(spool);
    spool = nullptr;
}
