// An unnamed temporary file in the folder that TMPDIR names.

#include "temporary.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>

#include <fcntl.h>
#include <unistd.h>

int open_temporary_file()
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
            return -1;
        }
        fd = mkostemp(path, O_CLOEXEC);
        if (fd >= 0)
            unlink(path);
    }
    return fd;
}
