// Where the bytes of each pass come from.
//
// The input is read a block at a time with the stream's own buffering
// turned off, so a plain page's bytes go straight from the kernel into the
// caller's block; compressed bytes go into the source's own block, and the
// decoder writes the page into the caller's.  Where the checking pass starts is where the output pass must start
// again, which need not be the start of the file.  Input that has no
// position (a pipe, a terminal) is copied during the checking pass, into a
// block of memory while it fits and to a temporary file beyond (spool.cc),
// and the output pass reads that copy.
//
// Compressed input is recognised by its first bytes and decoded during the
// checking pass, which copies the page it holds the same way:
// decoding a page costs more than reading it, so it is done once.  The
// source reads the compressed data into a block of its own and feeds the
// decoder from it.  Messages about the lines of compressed input are held
// until the data is known whole, and dropped if it proves damaged.

#include "source.h"

#include "decoders.h"
#include "formats.h"
#include "messages.h"
#include "spool.h"
#include "stream_read.h"
#include "watch.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

// The input as given, and whether the current pass reads the copy of it
// rather than the input itself.
struct Input {
    std::FILE *original = nullptr;
    bool reading_copy = false;
    std::fpos_t start{};     // where the checking pass started reading
    const char *name = "-";
    bool format_known = false;
    bool ended = false;   // a read found the end: the pass reads no more
    bool decoding = false;
    bool decoding_failed = false;   // and the reason was reported
};
Input input;

// The compressed data, a block at a time, from `start` to `end`; the first
// read, which the format is recognised from, may fill the block.
struct Compressed {
    unsigned char block[16 * 1024];
    std::size_t start = 0, end = 0;
    bool finished = false;   // the data has ended whole
};
Compressed compressed;

void report_input_errno()
{
    report_read_failure(input.name, std::strerror(errno));
}

void report_changed_file()
{
    report_read_failure(input.name, "file changed while it was read");
}

// Reads up to `size` bytes of the input as it stands into `block`, and sets
// `*count` to their number, 0 at its end.
bool read_raw(char *block, std::size_t size, std::size_t *count)
{
    if (input.reading_copy ? read_spool(block, size, count)
                           : read_stream(input.original, block, size, count, &input.ended))
        return true;
    report_input_errno();
    return false;
}

// Reads the first bytes of the input, at most `size`, into the compressed
// block, and looks at them.  If they start compressed data, they stay there
// as the first of it and decoding starts, with a copy for the output pass
// to read.
bool recognise_input(std::size_t size)
{
    std::size_t count;
    if (!read_raw(reinterpret_cast<char *>(compressed.block), size, &count))
        return false;
    input.format_known = true;
    compressed.start = 0;
    compressed.end = count;
    compressed.finished = false;
    const char *reason = nullptr;
    Compression kind = recognise_compression(compressed.block, count, &reason);
    if (kind == Compression::kNone)
        return true;
    if (kind == Compression::kUnsupported) {
        report_read_failure(input.name, reason);
        return false;
    }
    open_spool();
    input.decoding = true;
    hold_line_messages();
    if (!start_decoding(kind, &reason)) {
        report_read_failure(input.name, reason);
        input.decoding_failed = true;
        return false;
    }
    return true;
}

// Reads compressed bytes into the block behind the `kept` bytes at its
// start, which the decoder has yet to use.
bool refill_compressed(std::size_t kept)
{
    std::size_t more;
    if (!read_raw(reinterpret_cast<char *>(compressed.block) + kept, sizeof compressed.block - kept, &more))
        return false;
    compressed.start = 0;
    compressed.end = kept + more;
    return true;
}

// Feeds the decoder until it gives up to `size` page bytes to `block`, and
// sets `*got` to their number, 0 once the data has ended whole.  Data that
// is damaged, cut short or cannot be read is reported (a failed read by
// read_raw), and the messages held about the lines decoded from it dropped.
bool read_decoded(char *block, std::size_t size, std::size_t *got)
{
    *got = 0;
    const char *reason = nullptr;
    auto fail = [&reason] {
        if (reason != nullptr)
            report_read_failure(input.name, reason);
        input.decoding_failed = true;
        drop_line_messages();
        return false;
    };
    while (!compressed.finished) {
        std::size_t left = compressed.end - compressed.start;
        if (left == 0 && !input.ended) {
            if (!refill_compressed(0))
                return fail();
            left = compressed.end;
        }
        std::size_t consumed, produced;
        DecodeStatus status = decode(compressed.block + compressed.start, left, input.ended, block, size,
                                     &consumed, &produced, &reason);
        compressed.start += consumed;
        if (status == DecodeStatus::kFailed)
            return fail();
        compressed.finished = status == DecodeStatus::kFinished;
        if (produced > 0) {
            *got = produced;
            return true;
        }
        if (status == DecodeStatus::kMore && consumed == 0) {
            // The decoder needs more bytes after those it has: keep them and
            // read more behind them.
            if (input.ended || left == sizeof compressed.block) {
                reason = "corrupt compressed data";
                return fail();
            }
            std::memmove(compressed.block, compressed.block + compressed.start, left);
            if (!refill_compressed(left))
                return fail();
        }
    }
    return true;
}

}  // namespace

bool open_source(std::FILE *stream, const char *name)
{
    input = Input{};
    input.original = stream;
    input.name = name;
    // Every stream moves whole blocks of ours, so none needs a buffer of its
    // own: each read and write goes straight to the system.
    std::setvbuf(stream, nullptr, _IONBF, 0);
    if (!start_watch(fileno(stream), name))
        return false;
    errno = 0;
    if (std::fgetpos(stream, &input.start) == 0)
        return true;
    if (errno != ESPIPE) {
        report_input_errno();
        return false;
    }
    open_spool();
    return true;
}

// Recognises compressed input by its first bytes and decodes it, and copies
// what it hands on where the output pass will need a copy.
bool read_for_checking(char *block, std::size_t size, std::size_t *got)
{
    *got = 0;
    std::size_t count;
    if (input.decoding) {
        if (!read_decoded(block, size, &count))
            return false;
    } else if (!input.format_known) {
        // The first bytes say whether the input is compressed data.
        if (!recognise_input(std::min(size, sizeof compressed.block)))
            return false;
        if (input.decoding) {
            if (!read_decoded(block, size, &count))
                return false;
        } else {
            count = compressed.end;
            std::memcpy(block, compressed.block, count);
        }
    } else if (!read_raw(block, size, &count)) {
        return false;
    }
    if (count == 0) {
        // The input ended, and compressed data ended whole: the lines it
        // gave were the page's.
        release_line_messages();
        return true;
    }
    if (spool_is_open() && !add_to_spool(block, count))
        return false;
    watch_bytes(block, count);
    *got = count;
    return true;
}

// The bytes the checking pass read, again, and no more.  Once they are all
// handed on, the input must still be what both passes read, and end there:
// some files (under /proc, say) change without their size or times telling.
bool read_for_output(char *block, std::size_t size, std::size_t *got)
{
    *got = 0;
    std::uint64_t left = bytes_left_to_hand_on();
    if (left == 0) {
        char past_end;
        if (!same_bytes_both_passes() ||
            (!input.reading_copy &&
             (!file_unchanged() || (!input.ended && std::fread(&past_end, 1, 1, input.original) != 0)))) {
            report_changed_file();
            return false;
        }
        return true;
    }
    if (size > left)
        size = static_cast<std::size_t>(left);
    std::size_t count;
    if (!read_raw(block, size, &count))
        return false;
    if (count == 0) {
        // Fewer bytes than the checking pass read.
        report_changed_file();
        return false;
    }
    watch_bytes(block, count);
    *got = count;
    return true;
}

void confirm_source_whole()
{
    // Decoded bytes go nowhere: all that is wanted is the decoder's verdict.
    char unused[4096];
    std::size_t count = 0;
    bool whole = true;
    while (whole && input.decoding && !input.decoding_failed && !compressed.finished)
        whole = read_decoded(unused, sizeof unused, &count);
    if (whole)
        release_line_messages();
}

bool rewind_source()
{
    if (!file_unchanged()) {
        report_changed_file();
        return false;
    }
    input.ended = false;
    watch_second_pass();
    if (input.decoding) {
        end_decoding();
        input.decoding = false;
    }
    if (spool_is_open()) {
        rewind_spool();
        input.reading_copy = true;
        return true;
    }
    if (std::fsetpos(input.original, &input.start) != 0) {
        report_input_errno();
        return false;
    }
    return true;
}

void close_source()
{
    if (input.decoding)
        end_decoding();
    input.decoding = false;
    close_spool();
}
