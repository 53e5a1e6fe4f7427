// The temporary copy of the page.
//
// The copy is a file in the folder that TMPDIR names, with no name of its
// own, so that nothing is left behind however the run ends.  Where the file
// system cannot make a file without a name, a named one is removed at once.
// Like the input, it moves whole blocks of the caller's, so the C library
// keeps no buffer for it.

#include "spool.h"

#include "messages.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

namespace {

std::FILE *spool = nullptr;

std::FILE *open_temporary_file()
{
    const char *folder = std::getenv("TMPDIR");
    if (folder == nullptr || *folder == '\0')
        folder = "/tmp";
    int fd = open(folder, O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd < 0 && (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL)) {
        char path[PATH_MAX];
        int length = std::snprintf(path, sizeof path, "%s/roffscript-XXXXXX", folder);
        if (length < 0 || static_cast<std::size_t>(length) >= sizeof path) {
            errno = ENAMETOOLONG;
            return nullptr;
        }
        fd = mkostemp(path, O_CLOEXEC);
        if (fd >= 0)
            unlink(path);
    }
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
    spool = open_temporary_file();
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
