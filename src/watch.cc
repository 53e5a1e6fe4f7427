// The watch on what the two passes read.
//
// The output pass reads no more bytes than the checking pass read, and the
// bytes each pass hands on are hashed (XXH3, 128 bits): the two hashes must
// agree when the output pass ends.  That holds whatever wrote the file and
// whatever its file system keeps of times.  XXH3 is fast, not a
// cryptographic hash: with the secret it is published with, two pages that
// hash alike can be made in advance.  So each run hashes with a secret of
// its own, drawn from the kernel's random source, which no page prepared
// beforehand can know.  A regular file is also watched
// through its identity, size and times, which cost nothing per byte: the
// source looks at them before the checking pass, before the output pass and
// after it, and most changes show there before any script is written.  Nor
// may the script be written into the file being read.

#include "watch.h"

#include "messages.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

// The state of a hash is a fixed block of ours, not one that the library
// allocates.  The library's own code is used as it was built (SSE2 on
// x86-64), not its dispatcher, which would ask the processor for its
// features once more in every run: on a virtual machine that costs more of
// a small page's time than hashing does, and hashing 90 MB costs no more.
#define XXH_STATIC_LINKING_ONLY
#include <xxhash.h>

namespace {

// How much the checking pass handed on and how much the current pass has,
// the hash of each pass's bytes, and a regular input file as it was found.
struct Watch {
    std::uint64_t checked_length = 0;
    std::uint64_t handed_length = 0;
    alignas(64) unsigned char hash_secret[XXH3_SECRET_DEFAULT_SIZE];
    XXH3_state_t pass_hash;
    XXH128_hash_t checked_hash{};
    int fd = -1;
    bool watching_file = false;
    struct stat file;
};
Watch watch;

// Fills `count` bytes at `bytes` from the kernel's random source through
// `draw` (getrandom, or a read of /dev/urandom).  Returns false, with errno
// set, when it fails.
template <typename Draw>
bool fill_from(unsigned char *bytes, std::size_t count, Draw draw)
{
    std::size_t filled = 0;
    while (filled < count) {
        ssize_t got = draw(bytes + filled, count - filled);
        if (got < 0 && errno != EINTR)
            return false;
        if (got == 0) {
            errno = EIO;
            return false;
        }
        if (got > 0)
            filled += static_cast<std::size_t>(got);
    }
    return true;
}

// Fills the hash's secret from the system's random source: getrandom, or
// where an old kernel or a strict seccomp profile refuses it, /dev/urandom.
// Returns false, with errno set by the last one tried, when neither gives.
bool draw_hash_secret()
{
    unsigned char *secret = watch.hash_secret;
    std::size_t size = sizeof watch.hash_secret;
    if (fill_from(secret, size, [](unsigned char *to, std::size_t n) { return getrandom(to, n, 0); }))
        return true;
    int fd = open("/dev/urandom", O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    bool filled = fill_from(secret, size, [fd](unsigned char *to, std::size_t n) { return read(fd, to, n); });
    int saved = errno;
    close(fd);
    errno = saved;
    return filled;
}

// Every hash of a run starts here, with the run's secret, so that the two
// passes' hashes can be compared.
void start_hash()
{
    XXH3_128bits_reset_withSecret(&watch.pass_hash, watch.hash_secret, sizeof watch.hash_secret);
}

bool same_time(const struct timespec &a, const struct timespec &b)
{
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

}  // namespace

bool start_watch(int fd, const char *name)
{
    watch.checked_length = watch.handed_length = 0;
    watch.checked_hash = XXH128_hash_t{};
    watch.fd = fd;
    watch.watching_file = false;
    if (!draw_hash_secret()) {
        char reason[128];
        std::snprintf(reason, sizeof reason, "no random secret to hash it with: %s", std::strerror(errno));
        report_read_failure(name, reason);
        return false;
    }
    start_hash();
    if (fd < 0)
        return true;
    if (fstat(fd, &watch.file) != 0) {
        report_read_failure(name, std::strerror(errno));
        return false;
    }
    // Writing the script into the file being read would make the output
    // pass read it back, or cut the input short.
    struct stat output;
    if (fstat(STDOUT_FILENO, &output) == 0 && S_ISREG(output.st_mode) && output.st_dev == watch.file.st_dev &&
        output.st_ino == watch.file.st_ino) {
        report_write_failure("standard output is the input file");
        return false;
    }
    watch.watching_file = S_ISREG(watch.file.st_mode);
    return true;
}

bool file_unchanged()
{
    if (!watch.watching_file)
        return true;
    struct stat now;
    return fstat(watch.fd, &now) == 0 && now.st_dev == watch.file.st_dev && now.st_ino == watch.file.st_ino &&
           now.st_size == watch.file.st_size && same_time(now.st_mtim, watch.file.st_mtim) &&
           same_time(now.st_ctim, watch.file.st_ctim);
}

void watch_bytes(const char *bytes, std::size_t count)
{
    XXH3_128bits_update(&watch.pass_hash, bytes, count);
    watch.handed_length += count;
}

void watch_second_pass()
{
    watch.checked_length = watch.handed_length;
    watch.handed_length = 0;
    watch.checked_hash = XXH3_128bits_digest(&watch.pass_hash);
    start_hash();
}

std::uint64_t bytes_left_to_hand_on()
{
    return watch.checked_length - watch.handed_length;
}

bool same_bytes_both_passes()
{
    return XXH128_isEqual(XXH3_128bits_digest(&watch.pass_hash), watch.checked_hash);
}
