// Loaded into roffscript by a test, this makes fstat answer for each
// descriptor what it answered the first time, as a network file system that
// caches a file's attributes does: a file that grows or is rewritten then
// looks the same size, with the same times, as when it was opened.

#include <dlfcn.h>
#include <sys/stat.h>

namespace {

constexpr int kDescriptors = 64;

template <typename Status>
int stale_fstat(const char *symbol, int fd, Status *status)
{
    static Status first_answer[kDescriptors];
    static bool answered[kDescriptors];
    using Fstat = int (*)(int, Status *);
    static Fstat real = reinterpret_cast<Fstat>(dlsym(RTLD_NEXT, symbol));
    if (fd < 0 || fd >= kDescriptors)
        return real(fd, status);
    if (!answered[fd]) {
        int result = real(fd, &first_answer[fd]);
        if (result != 0)
            return result;
        answered[fd] = true;
    }
    *status = first_answer[fd];
    return 0;
}

}  // namespace

extern "C" int fstat(int fd, struct stat *status)
{
    return stale_fstat("fstat", fd, status);
}

extern "C" int fstat64(int fd, struct stat64 *status)
{
    return stale_fstat("fstat64", fd, status);
}
