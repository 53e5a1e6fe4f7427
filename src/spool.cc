// The temporary copy of the page.
//
// The copy is an unnamed temporary file (temporary.h).  Like the input, it
// moves whole blocks of the caller's, so the C library keeps no buffer for
// it.

#include "spool.h"

#include "messages.h"
#include "temporary.h"

#include <cerrno>
#include <cstring>

#include <unistd.h>

namespace {

std::FILE *spool = nullptr;

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

bool open_spool()
{
    if (spool != nullptr)
        return true;
    spool = open_temporary_stream();
    if (spool == nullptr) {
        report_temporary_create_failure(std::strerror(errno));
        return false;
    }
    std::setvbuf(spool, nullptr, _IONBF, 0);
    return true;
}

bool spool_is_open()
{
    return spool != nullptr;
}

bool add_to_spool(const char *bytes, std::size_t count)
{
    if (std::fwrite(bytes, 1, count, spool) == count)
        return true;
    report_temporary_write_failure(std::strerror(errno));
    return false;
}

// The copy has no buffer: every write to it was checked as it was made,
// and nothing is left to flush.
std::FILE *rewind_spool()
{
    std::rewind(spool);
    return spool;
}

void close_spool()
{
    if (spool != nullptr)
        std::fclose(spool);
    spool = nullptr;
}
