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

std::FILE *input_stream = nullptr;   // the stream the current pass reads
std::FILE *original_input = nullptr;
std::FILE *spool = nullptr;          // the temporary copy, for input without a position
std::fpos_t input_start{};
const char *input_name = "-";

// Set by the rewind: the bytes handed on now are those the checking pass
// read, handed on again.
bool replaying = false;

// Once a read finds the end, the pass reads no more: a terminal would
// otherwise wait for a second end-of-file.
bool input_ended = false;

// How many bytes the checking pass read, and how many the current pass has
// handed on.
std::uint64_t checked_length = 0;
std::uint64_t handed_length = 0;

// Compressed input is read into a block of its own, from which the
// decoder fills the caller's.
constexpr std::size_t kCompressedBlockSize = 16 * 1024;
unsigned char compressed_block[kCompressedBlockSize];
std::size_t compressed_start = 0, compressed_end = 0;
bool format_known = false;
bool decoding = false;
bool decoding_finished = false;
bool decoding_failed = false;   // and the reason was reported

// A regular input file as the checking pass found it.
bool watching_file = false;
struct stat watched_file;

// The hash of the bytes the current pass has handed on, and what the
// checking pass's came to.
XXH3_state_t pass_hash;
XXH128_hash_t checked_hash;

void report_read_error()
{
    report_read_failure(input_name, std::strerror(errno));
}

void report_changed_file()
{
    report_read_failure(input_name, "file changed while it was read");
}

bool same_time(const struct timespec &a, const struct timespec &b)
{
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

// Whether the watched file is still as the checking pass found it.
bool file_unchanged()
{
    if (!watching_file)
        return true;
    struct stat now;
    return fstat(fileno(original_input), &now) == 0 && now.st_dev == watched_file.st_dev &&
           now.st_ino == watched_file.st_ino && now.st_size == watched_file.st_size &&
           same_time(now.st_mtim, watched_file.st_mtim) && same_time(now.st_ctim, watched_file.st_ctim);
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

// Reads up to `size` bytes of the input as it stands into `block`, and sets
// `*count` to their number, 0 at its end.
bool read_raw(char *block, std::size_t size, std::size_t *count)
{
    *count = input_ended ? 0 : std::fread(block, 1, size, input_stream);
    if (*count == 0) {
        if (!input_ended && std::ferror(input_stream)) {
            report_read_error();
            return false;
        }
        input_ended = true;
    } else if (*count < size && std::feof(input_stream)) {
        input_ended = true;
    }
    return true;
}

// Looks at the first `count` bytes of the input, read into `block`.  If they
// start compressed data, they move to the compressed block and decoding
// starts, with a temporary copy for the output pass to read.
bool recognise_input(char *block, std::size_t count)
{
    format_known = true;
    const char *reason = nullptr;
    Compression compression =
        recognise_compression(reinterpret_cast<const unsigned char *>(block), count, &reason);
    if (compression == Compression::kNone)
        return true;
    if (compression == Compression::kUnsupported) {
        report_read_failure(input_name, reason);
        return false;
    }
    if (spool == nullptr) {
        spool = open_temporary_file();
        if (spool == nullptr) {
            report_temporary_create_failure(std::strerror(errno));
            return false;
        }
        std::setvbuf(spool, nullptr, _IONBF, 0);
    }
    std::memcpy(compressed_block, block, count);
    compressed_start = 0;
    compressed_end = count;
    decoding = true;
    hold_line_messages();
    if (!start_decoding(compression, &reason)) {
        report_read_failure(input_name, reason);
        return false;
    }
    return true;
}

// Fills `block` with up to `size` decoded bytes and sets `*got` to their
// number, 0 at the end of the data.
bool read_decoded(char *block, std::size_t size, std::size_t *got)
{
    *got = 0;
    while (!decoding_finished) {
        std::size_t left = compressed_end - compressed_start;
        if (left == 0 && !input_ended) {
            if (!read_raw(reinterpret_cast<char *>(compressed_block), sizeof compressed_block, &left))
                return false;
            compressed_start = 0;
            compressed_end = left;
        }
        std::size_t consumed, produced;
        const char *reason = nullptr;
        DecodeStatus status = decode(compressed_block + compressed_start, left, input_ended, block, size,
                                     &consumed, &produced, &reason);
        compressed_start += consumed;
        if (status == DecodeStatus::kFailed) {
            report_read_failure(input_name, reason);
            return false;
        }
        decoding_finished = status == DecodeStatus::kFinished;
        if (produced > 0) {
            *got = produced;
            return true;
        }
        if (status == DecodeStatus::kMore && consumed == 0) {
            // The decoder needs more bytes after those it has: keep them and
            // read more behind them.
            if (input_ended || left == sizeof compressed_block) {
                report_read_failure(input_name, "corrupt compressed data");
                return false;
            }
            std::memmove(compressed_block, compressed_block + compressed_start, left);
            std::size_t more;
            if (!read_raw(reinterpret_cast<char *>(compressed_block) + left, sizeof compressed_block - left, &more))
                return false;
            compressed_start = 0;
            compressed_end = left + more;
        }
    }
    return true;
}

}  // namespace

bool open_source(std::FILE *input, const char *name)
{
    input_stream = original_input = input;
    input_name = name;
    spool = nullptr;
    replaying = input_ended = false;
    checked_length = handed_length = 0;
    watching_file = false;
    format_known = decoding = decoding_finished = decoding_failed = false;
    compressed_start = compressed_end = 0;
    XXH3_128bits_reset(&pass_hash);
    // Every stream moves whole blocks of ours, so none needs a buffer of its
    // own: each read and write goes straight to the system.
    std::setvbuf(input, nullptr, _IONBF, 0);

    int fd = fileno(input);
    if (fd >= 0) {
        if (fstat(fd, &watched_file) != 0) {
            report_read_error();
            return false;
        }
        // Writing the script into the file being read would make the output
        // pass read it back, or cut the input short.
        struct stat output;
        if (fstat(STDOUT_FILENO, &output) == 0 && S_ISREG(output.st_mode) &&
            output.st_dev == watched_file.st_dev && output.st_ino == watched_file.st_ino) {
            report_write_failure("standard output is the input file");
            return false;
        }
        watching_file = S_ISREG(watched_file.st_mode);
    }

    errno = 0;
    if (std::fgetpos(input, &input_start) == 0)
        return true;
    if (errno != ESPIPE) {
        report_read_error();
        return false;
    }
    spool = open_temporary_file();
    if (spool == nullptr) {
        report_temporary_create_failure(std::strerror(errno));
        return false;
    }
    std::setvbuf(spool, nullptr, _IONBF, 0);
    return true;
}

bool read_source(char *block, std::size_t size, std::size_t *got)
{
    *got = 0;
    if (replaying) {
        std::uint64_t left = checked_length - handed_length;
        if (left == 0) {
            // The output pass has read what the checking pass read; the file
            // must still be what both read, and end there: some files (under
            // /proc, say) change without their size or times telling.
            char past_end;
            if (!XXH128_isEqual(XXH3_128bits_digest(&pass_hash), checked_hash) ||
                (input_stream == original_input &&
                 (!file_unchanged() || (!input_ended && std::fread(&past_end, 1, 1, input_stream) != 0)))) {
                report_changed_file();
                return false;
            }
            return true;
        }
        if (size > left)
            size = static_cast<std::size_t>(left);
    }
    std::size_t count;
    if (decoding) {
        if (!read_decoded(block, size, &count)) {
            decoding_failed = true;
            drop_line_messages();
            return false;
        }
    } else if (!format_known) {
        // The first bytes say whether the input is compressed; a block of
        // compressed data holds them.
        if (!read_raw(block, size < sizeof compressed_block ? size : sizeof compressed_block, &count) ||
            !recognise_input(block, count))
            return false;
        if (decoding && !read_decoded(block, size, &count)) {
            decoding_failed = true;
            drop_line_messages();
            return false;
        }
    } else if (!read_raw(block, size, &count)) {
        return false;
    }
    if (count == 0) {
        if (replaying) {
            // Fewer bytes than the checking pass read.
            report_changed_file();
            return false;
        }
        // The data decoded whole, so the lines it gave were the page's.
        release_line_messages();
        return true;
    }
    if (!replaying) {
        if (spool != nullptr && std::fwrite(block, 1, count, spool) != count) {
            report_temporary_write_failure(std::strerror(errno));
            return false;
        }
        checked_length += count;
    }
    XXH3_128bits_update(&pass_hash, block, count);
    handed_length += count;
    *got = count;
    return true;
}

void confirm_source_whole()
{
    // Decoded bytes go nowhere: all that is wanted is the decoder's verdict.
    char discarded[4096];
    std::size_t count = 0;
    bool whole = true;
    while (whole && decoding && !decoding_finished && !decoding_failed)
        whole = read_decoded(discarded, sizeof discarded, &count);
    if (whole)
        release_line_messages();
    else
        drop_line_messages();
}

bool rewind_source()
{
    if (!file_unchanged()) {
        report_changed_file();
        return false;
    }
    replaying = true;
    input_ended = false;
    handed_length = 0;
    checked_hash = XXH3_128bits_digest(&pass_hash);
    XXH3_128bits_reset(&pass_hash);
    if (decoding) {
        end_decoding();
        decoding = false;
    }
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
    if (decoding)
        end_decoding();
    decoding = false;
    if (spool != nullptr)
        std::fclose(spool);
    spool = nullptr;
}
