// Where the bytes of each pass come from.
//
// The input is read a block at a time with the stream's own buffering
// turned off, so the bytes go straight from the kernel into the caller's
// block.  Where the checking pass starts is where the output pass must start
// again, which need not be the start of the file.  Input that has no
// position (a pipe, a terminal) is copied during the checking pass to a
// temporary file, and the output pass reads that copy.
//
// Compressed input is recognised by its first bytes and decoded during the
// checking pass, which copies the page it holds to the temporary file as
// well: decoding a page costs more than reading it, so it is done once.
//
// The output pass must translate exactly the bytes that the checking pass
// passed.  It reads no more of them than the checking pass read, and the
// bytes each pass hands on are hashed (XXH3, 128 bits): the two hashes must
// agree when the output pass ends.  That holds whatever wrote the file and
// whatever its file system keeps of times.  A regular file is also watched
// through its identity, size and times, which cost nothing per byte: they
// are looked at before the checking pass, before the output pass and after
// it, and most changes show there before any script is written.

#include "source.h"

#include "decoders.h"
#include "messages.h"
#include "stream_read.h"

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// The state of a hash is a fixed block of ours, not one that the library
// allocates; and the library picks the widest vector code the processor has.
#define XXH_STATIC_LINKING_ONLY
#include <xxhash.h>
#if defined(__x86_64__) || defined(__i386__)
#include <xxh_x86dispatch.h>
#endif

namespace {

// The input as given, and the stream that the current pass reads: the input
// itself, or in the output pass the temporary copy.
struct Input {
    std::FILE *original = nullptr;
    std::FILE *stream = nullptr;
    std::fpos_t start{};     // where the checking pass started reading
    const char *name = "-";
    bool format_known = false;
    bool ended = false;   // a read found the end: the pass reads no more
    // Set by the rewind: the bytes handed on now are those the checking
    // pass read, handed on again.
    bool replaying = false;
    bool decoding = false;
    bool decoding_failed = false;   // and the reason was reported
};
Input input;

// The temporary copy, for input without a position and compressed input.
std::FILE *spool = nullptr;

// The watch on what the passes hand on: how much the checking pass read
// and how much the current pass has handed on, the hash of each pass's
// bytes, and a regular input file as the checking pass found it.
struct Watch {
    std::uint64_t checked_length = 0;
    std::uint64_t handed_length = 0;
    XXH3_state_t pass_hash;
    XXH128_hash_t checked_hash{};
    bool watching_file = false;
    struct stat file;
};
Watch watch;

void report_read_error()
{
    report_read_failure(input.name, std::strerror(errno));
}

void report_changed_file()
{
    report_read_failure(input.name, "file changed while it was read");
}

bool same_time(const struct timespec &a, const struct timespec &b)
{
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

// Whether the watched file is still as the checking pass found it.
bool file_unchanged()
{
    if (!watch.watching_file)
        return true;
    struct stat now;
    return fstat(fileno(input.original), &now) == 0 && now.st_dev == watch.file.st_dev &&
           now.st_ino == watch.file.st_ino && now.st_size == watch.file.st_size &&
           same_time(now.st_mtim, watch.file.st_mtim) && same_time(now.st_ctim, watch.file.st_ctim);
}

// A file for the copy, in the folder that TMPDIR names, with no name of its
// own, so that nothing is left behind however the run ends.  Where the file
// system cannot make a file without a name, a named one is removed at once.
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

// Opens the temporary copy unless it is open.  Returns false when it cannot
// be: the reason has been reported.
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

// Reads up to `size` bytes of the input as it stands into `block`, and sets
// `*count` to their number, 0 at its end.
bool read_raw(char *block, std::size_t size, std::size_t *count)
{
    if (read_stream(input.stream, block, size, count, &input.ended))
        return true;
    report_read_error();
    return false;
}

// Looks at the first `count` bytes of the input, read into `block`.  If they
// start compressed data, they go to the decoder and decoding starts, with a
// temporary copy for the output pass to read.
bool recognise_input(char *block, std::size_t count)
{
    input.format_known = true;
    const char *reason = nullptr;
    Compression compression =
        recognise_compression(reinterpret_cast<const unsigned char *>(block), count, &reason);
    if (compression == Compression::kNone)
        return true;
    if (compression == Compression::kUnsupported) {
        report_read_failure(input.name, reason);
        return false;
    }
    if (!open_spool())
        return false;
    input.decoding = true;
    hold_line_messages();
    if (!start_decoding(compression, block, count, input.ended, input.stream, &reason)) {
        report_read_failure(input.name, reason);
        input.decoding_failed = true;
        return false;
    }
    return true;
}

// Fills `block` with up to `size` decoded bytes and sets `*count`, 0 at the
// end of the data.  Damaged data is reported, and the messages held about
// the lines decoded from it dropped.
bool read_page(char *block, std::size_t size, std::size_t *count)
{
    const char *reason;
    if (read_decoded(block, size, count, &reason))
        return true;
    report_read_failure(input.name, reason);
    input.decoding_failed = true;
    drop_line_messages();
    return false;
}

// The checking pass's read: recognises compressed input by its first
// bytes and decodes it, and copies what it hands on where the output pass
// will need a copy.
bool read_for_checking(char *block, std::size_t size, std::size_t *count)
{
    if (input.decoding) {
        if (!read_page(block, size, count))
            return false;
    } else if (!input.format_known) {
        // The first bytes say whether the input is compressed; a block of
        // compressed data holds them.
        if (!read_raw(block, size < kCompressedBlockSize ? size : kCompressedBlockSize, count) ||
            !recognise_input(block, *count))
            return false;
        if (input.decoding && !read_page(block, size, count))
            return false;
    } else if (!read_raw(block, size, count)) {
        return false;
    }
    if (*count == 0) {
        // The input ended, and compressed data ended whole: the lines it
        // gave were the page's.
        release_line_messages();
        return true;
    }
    if (spool != nullptr && std::fwrite(block, 1, *count, spool) != *count) {
        report_temporary_write_failure(std::strerror(errno));
        return false;
    }
    watch.checked_length += *count;
    return true;
}

// The output pass's read: the bytes the checking pass read, again, and no
// more.  Once they are all handed on, the input must still be what both
// passes read, and end there: some files (under /proc, say) change without
// their size or times telling.
bool read_again(char *block, std::size_t size, std::size_t *count)
{
    *count = 0;
    std::uint64_t left = watch.checked_length - watch.handed_length;
    if (left == 0) {
        char past_end;
        if (!XXH128_isEqual(XXH3_128bits_digest(&watch.pass_hash), watch.checked_hash) ||
            (input.stream == input.original &&
             (!file_unchanged() || (!input.ended && std::fread(&past_end, 1, 1, input.stream) != 0)))) {
            report_changed_file();
            return false;
        }
        return true;
    }
    if (size > left)
        size = static_cast<std::size_t>(left);
    if (!read_raw(block, size, count))
        return false;
    if (*count == 0) {
        // Fewer bytes than the checking pass read.
        report_changed_file();
        return false;
    }
    return true;
}

}  // namespace

bool open_source(std::FILE *stream, const char *name)
{
    input = Input{};
    input.original = input.stream = stream;
    input.name = name;
    spool = nullptr;
    watch.checked_length = watch.handed_length = 0;
    watch.watching_file = false;
    XXH3_128bits_reset(&watch.pass_hash);
    // Every stream moves whole blocks of ours, so none needs a buffer of its
    // own: each read and write goes straight to the system.
    std::setvbuf(stream, nullptr, _IONBF, 0);

    int fd = fileno(stream);
    if (fd >= 0) {
        if (fstat(fd, &watch.file) != 0) {
            report_read_error();
            return false;
        }
        // Writing the script into the file being read would make the output
        // pass read it back, or cut the input short.
        struct stat output;
        if (fstat(STDOUT_FILENO, &output) == 0 && S_ISREG(output.st_mode) &&
            output.st_dev == watch.file.st_dev && output.st_ino == watch.file.st_ino) {
            report_write_failure("standard output is the input file");
            return false;
        }
        watch.watching_file = S_ISREG(watch.file.st_mode);
    }

    errno = 0;
    if (std::fgetpos(stream, &input.start) == 0)
        return true;
    if (errno != ESPIPE) {
        report_read_error();
        return false;
    }
    return open_spool();
}

bool read_source(char *block, std::size_t size, std::size_t *got)
{
    *got = 0;
    std::size_t count;
    if (!(input.replaying ? read_again(block, size, &count) : read_for_checking(block, size, &count)))
        return false;
    if (count == 0)
        return true;
    XXH3_128bits_update(&watch.pass_hash, block, count);
    watch.handed_length += count;
    *got = count;
    return true;
}

void confirm_source_whole()
{
    // Decoded bytes go nowhere: all that is wanted is the decoder's verdict.
    char discarded[4096];
    std::size_t count = 0;
    bool whole = true;
    while (whole && input.decoding && !input.decoding_failed && !decoded_to_the_end())
        whole = read_page(discarded, sizeof discarded, &count);
    if (whole)
        release_line_messages();
}

bool rewind_source()
{
    if (!file_unchanged()) {
        report_changed_file();
        return false;
    }
    input.replaying = true;
    input.ended = false;
    watch.handed_length = 0;
    watch.checked_hash = XXH3_128bits_digest(&watch.pass_hash);
    XXH3_128bits_reset(&watch.pass_hash);
    if (input.decoding) {
        end_decoding();
        input.decoding = false;
    }
    if (spool != nullptr) {
        if (std::fflush(spool) != 0 || std::ferror(spool)) {
            report_temporary_write_failure(std::strerror(errno));
            return false;
        }
        std::rewind(spool);
        input.stream = spool;
        return true;
    }
    if (std::fsetpos(input.stream, &input.start) != 0) {
        report_read_error();
        return false;
    }
    return true;
}

void close_source()
{
    if (input.decoding)
        end_decoding();
    input.decoding = false;
    if (spool != nullptr)
        std::fclose(spool);
    spool = nullptr;
}
