// The copy of the page.
//
// The copy is kept in a fixed block while the page fits it, so that a small
// page, as nearly every installed page is, never touches the file system.
// A larger page goes on, from its first byte, in an unnamed temporary file
// (temporary.h).  Like the input, the file moves whole blocks of the
// caller's, so the C library keeps no buffer for it.

#include "spool.h"

#include "messages.h"
#include "stream_read.h"
#include "temporary.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <unistd.h>

namespace {

// Whether the copy is made, its bytes while they fit the block, how many of
// them the output pass has read back, and the temporary file once the page
// outgrew the block.
struct Spool {
    bool open = false;
    char block[kSpoolBlockSize];
    std::size_t length = 0;
    std::size_t read = 0;
    std::FILE *file = nullptr;
    bool file_ended = false;
};
Spool spool;

std::FILE *open_temporary_stream()
{
    int fd = open_temporary_file();
    if (fd < 0)
        return nullptr;
    std::FILE *file = fdopen(fd, "w+");
    if (file == nullptr) {
        int saved = errno;
        close(fd);
        errno = saved;
    }
    return file;
}

}  // namespace

void open_spool()
{
    spool.open = true;
}

bool spool_is_open()
{
    return spool.open;
}

namespace {

// The page has outgrown the block: the file takes what the block holds.
bool move_spool_to_file()
{
    spool.file = open_temporary_stream();
    if (spool.file == nullptr) {
        report_temporary_create_failure(std::strerror(errno));
        return false;
    }
    std::setvbuf(spool.file, nullptr, _IONBF, 0);
    if (std::fwrite(spool.block, 1, spool.length, spool.file) != spool.length) {
        report_temporary_write_failure(std::strerror(errno));
        return false;
    }
    return true;
}

}  // namespace

bool add_to_spool(const char *bytes, std::size_t count)
{
    if (spool.file == nullptr) {
        if (count <= kSpoolBlockSize - spool.length) {
            std::memcpy(spool.block + spool.length, bytes, count);
            spool.length += count;
            return true;
        }
        if (!move_spool_to_file())
            return false;
    }
    if (std::fwrite(bytes, 1, count, spool.file) == count)
        return true;
    report_temporary_write_failure(std::strerror(errno));
    return false;
}

// The file has no buffer: every write to it was checked as it was made,
// and nothing is left to flush.
void rewind_spool()
{
    spool.read = 0;
    spool.file_ended = false;
    if (spool.file != nullptr)
        std::rewind(spool.file);
}

bool read_spool(char *block, std::size_t size, std::size_t *count)
{
    if (spool.file != nullptr)
        return read_stream(spool.file, block, size, count, &spool.file_ended);
    *count = std::min(size, spool.length - spool.read);
    std::memcpy(block, spool.block + spool.read, *count);
    spool.read += *count;
    return true;
}

void close_spool()
{
    if (spool.file != nullptr)
        std::fclose(spool.file);
    spool.file = nullptr;
    spool.open = false;
    spool.length = spool.read = 0;
}
