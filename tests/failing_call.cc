// Loaded into roffscript by a test, this makes one of the program's calls
// fail as a failing disk, a broken network file system, one without unnamed
// files or a machine out of memory would make it fail:
// FAIL_CALL=NAME:N:ERRNO makes the Nth call to NAME, counting from 1, fail
// with that errno (and a second such plan after a comma, another call); a
// decompression library's start fails instead with the library's own code
// for no memory, and its loading as if it were missing.  A stream whose
// read fails is marked in
// error, as the C library marks it.  STOP_AT_CALL=NAME:N instead stops the
// program with SIGSTOP as the Nth call to NAME begins, so that a test can
// change the input at that moment and let it go on.  Only the program's own
// calls count: those the libraries make to themselves do not pass through
// here.

#include <bzlib.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <lzma.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <zlib.h>

#include <cerrno>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

struct Planned {
    char name[32] = "";
    long call = 0;
    int error = 0;
    long calls = 0;   // made so far
};

// The call that `variable` names, as NAME:N, with :ERRNO where `fields` is
// 3; `which` picks the plan, counted from 0, in a list separated by commas.
Planned planned_call(const char *variable, int fields, int which = 0)
{
    Planned planned;
    const char *setting = std::getenv(variable);
    for (; setting != nullptr && which > 0; --which) {
        setting = std::strchr(setting, ',');
        if (setting != nullptr)
            ++setting;
    }
    if (setting == nullptr ||
        std::sscanf(setting, "%31[^:,]:%ld:%d", planned.name, &planned.call, &planned.error) < fields)
        planned.name[0] = '\0';
    return planned;
}

bool is_this_call(Planned *planned, const char *name)
{
    return std::strcmp(name, planned->name) == 0 && ++planned->calls == planned->call;
}

// Whether this call to `name` is one to fail; sets errno if so.  Stops the
// program first if it is the one to stop at.
bool fails_now(const char *name)
{
    static Planned planned[2] = {planned_call("FAIL_CALL", 3, 0), planned_call("FAIL_CALL", 3, 1)};
    static Planned stop = planned_call("STOP_AT_CALL", 2);
    if (is_this_call(&stop, name))
        raise(SIGSTOP);
    for (Planned &plan : planned) {
        if (is_this_call(&plan, name)) {
            errno = plan.error;
            return true;
        }
    }
    return false;
}

template <typename Function>
Function real(const char *name)
{
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

}  // namespace

extern "C" std::size_t fread(void *block, std::size_t size, std::size_t count, std::FILE *stream)
{
    static auto real_fread = real<std::size_t (*)(void *, std::size_t, std::size_t, std::FILE *)>("fread");
    if (fails_now("fread")) {
        stream->_flags |= _IO_ERR_SEEN;
        return 0;
    }
    return real_fread(block, size, count, stream);
}

extern "C" int fstat(int fd, struct stat *status)
{
    static auto real_fstat = real<int (*)(int, struct stat *)>("fstat");
    return fails_now("fstat") ? -1 : real_fstat(fd, status);
}

extern "C" int fgetpos(std::FILE *stream, std::fpos_t *position)
{
    static auto real_fgetpos = real<int (*)(std::FILE *, std::fpos_t *)>("fgetpos");
    return fails_now("fgetpos") ? -1 : real_fgetpos(stream, position);
}

extern "C" int fsetpos(std::FILE *stream, const std::fpos_t *position)
{
    static auto real_fsetpos = real<int (*)(std::FILE *, const std::fpos_t *)>("fsetpos");
    return fails_now("fsetpos") ? -1 : real_fsetpos(stream, position);
}

extern "C" ssize_t getrandom(void *bytes, std::size_t count, unsigned flags)
{
    static auto real_getrandom = real<ssize_t (*)(void *, std::size_t, unsigned)>("getrandom");
    return fails_now("getrandom") ? -1 : real_getrandom(bytes, count, flags);
}

extern "C" int open(const char *path, int flags, ...)
{
    static auto real_open = real<int (*)(const char *, int, ...)>("open");
    mode_t mode = 0;
    if ((flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE) {
        va_list arguments;
        va_start(arguments, flags);
        mode = static_cast<mode_t>(va_arg(arguments, int));
        va_end(arguments);
    }
    return fails_now("open") ? -1 : real_open(path, flags, mode);
}

// A decompression library that is not installed, where the program loads
// one only when its data is seen.
extern "C" void *dlopen(const char *file, int mode)
{
    static auto real_dlopen = real<void *(*)(const char *, int)>("dlopen");
    return fails_now("dlopen") ? nullptr : real_dlopen(file, mode);
}

// A decompression library that cannot have the memory to start decoding.
extern "C" int inflateInit2_(z_streamp stream, int window_bits, const char *version, int stream_size)
{
    static auto real_init = real<int (*)(z_streamp, int, const char *, int)>("inflateInit2_");
    return fails_now("inflateInit2_") ? Z_MEM_ERROR : real_init(stream, window_bits, version, stream_size);
}

extern "C" int BZ2_bzDecompressInit(bz_stream *stream, int verbosity, int small)
{
    static auto real_init = real<int (*)(bz_stream *, int, int)>("BZ2_bzDecompressInit");
    return fails_now("BZ2_bzDecompressInit") ? BZ_MEM_ERROR : real_init(stream, verbosity, small);
}

extern "C" lzma_ret lzma_stream_decoder(lzma_stream *stream, uint64_t memory_limit, uint32_t flags)
{
    static auto real_init = real<lzma_ret (*)(lzma_stream *, uint64_t, uint32_t)>("lzma_stream_decoder");
    return fails_now("lzma_stream_decoder") ? LZMA_MEM_ERROR : real_init(stream, memory_limit, flags);
}
