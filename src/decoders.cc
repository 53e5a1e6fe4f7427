// Compressed input.
//
// Nearly every installed manual page is compressed, so the input is
// recognised by its first bytes, never by its name, and gzip, bzip2 and xz
// (and the older lzma) data are turned back into the page through zlib,
// libbz2 and liblzma.  gzip, bzip2 and xz data of several members or
// streams, as concatenated files give, reads as the concatenation of what
// they hold; lzma data has no room for a second stream, so anything after
// its end is an error, as the xz tools make it.  Data cut short or damaged
// is an error, never a shorter page; so are formats this program does not
// read, rather than being taken for text.
//
// The decoder owns the compressed data: it is handed the first block, from
// which the format was recognised, and the stream, from which it reads the
// rest into a block of its own; the source asks it only for decoded bytes.
// Each library keeps its own state (zlib's a few tens of KiB, bzip2's and
// xz's what the data's block or dictionary size asks for): the program only
// hands it blocks of its own.

#include "decoders.h"

#include "stream_read.h"

#include <bzlib.h>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <lzma.h>
#include <zlib.h>

namespace {

// The most that xz or lzma data may ask for.  Its header names the size of
// its dictionary, up to 4 GiB, and a hostile page of twenty bytes would
// otherwise have the library take it; the largest the xz tools' presets use
// is 64 MiB.
constexpr std::uint64_t kXzMemoryLimit = 256 * 1024 * 1024;

Compression compression = Compression::kNone;
bool member_ended = false;   // the last gzip member, bzip2 stream or lzma stream is whole
bool finished = false;       // the data has ended whole

// The compressed data, a block at a time, from `start` to `end`; `ended`
// once no bytes follow them.
unsigned char compressed_block[kCompressedBlockSize];
std::size_t compressed_start = 0, compressed_end = 0;
bool compressed_ended = false;
std::FILE *compressed_stream = nullptr;

enum class DecodeStatus { kMore, kFinished, kFailed };
z_stream gzip_stream;
bz_stream bzip2_stream;
lzma_stream xz_stream = LZMA_STREAM_INIT;

// A format is taken to be present only where enough of its header says so:
// a text page may well begin with the first bytes of a magic number.  Each
// test is told how many bytes there are and asks for as many as it needs.

// gzip: the magic number, the deflate method, and no reserved flag set.
bool is_gzip_header(const unsigned char *bytes, std::size_t count)
{
    return count >= 4 && bytes[0] == 0x1f && bytes[1] == 0x8b && bytes[2] == 8 && (bytes[3] & 0xe0) == 0;
}

// bzip2: "BZh", a block size from 1 to 9, and the magic number that opens a
// block or, for an empty stream, the one that ends the stream.
bool is_bzip2_header(const unsigned char *bytes, std::size_t count)
{
    static const unsigned char kBlockMagic[6] = {0x31, 0x41, 0x59, 0x26, 0x53, 0x59};
    static const unsigned char kEndMagic[6] = {0x17, 0x72, 0x45, 0x38, 0x50, 0x90};
    return count >= 10 && std::memcmp(bytes, "BZh", 3) == 0 && bytes[3] >= '1' && bytes[3] <= '9' &&
           (std::memcmp(bytes + 4, kBlockMagic, 6) == 0 || std::memcmp(bytes + 4, kEndMagic, 6) == 0);
}

bool is_xz_header(const unsigned char *bytes, std::size_t count)
{
    return count >= 6 && std::memcmp(bytes, "\xfd" "7zXZ", 6) == 0;
}

// The older lzma format has no magic number, only a header of 13 bytes,
// which liblzma and the xz tools accept by these rules: a properties byte
// naming at most 4 literal context and position bits between them, a
// dictionary size of 2^n or 2^n + 2^(n-1) bytes (or the largest size, for
// unknown), and an uncompressed size that is unknown or under 256 GiB.
bool is_lzma_header(const unsigned char *bytes, std::size_t count)
{
    if (count < 13 || bytes[0] > (4 * 5 + 4) * 9 + 8)
        return false;
    unsigned properties = bytes[0];
    unsigned position_bits = properties / (9 * 5);
    properties -= position_bits * 9 * 5;
    unsigned literal_position_bits = properties / 9;
    unsigned literal_context_bits = properties - literal_position_bits * 9;
    if (literal_context_bits + literal_position_bits > 4)
        return false;
    std::uint32_t dictionary = 0;
    for (int i = 0; i < 4; ++i)
        dictionary |= std::uint32_t{bytes[1 + i]} << (8 * i);
    if (dictionary != UINT32_MAX) {
        // Rounded up to the next 2^n or 2^n + 2^(n-1), a valid size stays.
        std::uint32_t rounded = dictionary - 1;
        rounded |= rounded >> 2;
        rounded |= rounded >> 3;
        rounded |= rounded >> 4;
        rounded |= rounded >> 8;
        rounded |= rounded >> 16;
        ++rounded;
        if (dictionary == 0 || rounded != dictionary)
            return false;
    }
    std::uint64_t size = 0;
    for (int i = 0; i < 8; ++i)
        size |= std::uint64_t{bytes[5 + i]} << (8 * i);
    return size == UINT64_MAX || size < (std::uint64_t{1} << 38);
}

struct Format {
    bool (*recognised)(const unsigned char *bytes, std::size_t count);
    Compression compression;
    const char *unsupported;   // the reason, for a format this program does not read
};

const Format kFormats[] = {
    {is_gzip_header, Compression::kGzip, nullptr},
    {is_bzip2_header, Compression::kBzip2, nullptr},
    {is_xz_header, Compression::kXz, nullptr},
    {is_lzma_header, Compression::kLzma, nullptr},
    {[](const unsigned char *bytes, std::size_t count) {
         return count >= 4 && std::memcmp(bytes, "\x28\xb5\x2f\xfd", 4) == 0;
     },
     Compression::kUnsupported, "zstd-compressed data is not supported"},
    // lzip: the magic number and version 1.
    {[](const unsigned char *bytes, std::size_t count) {
         return count >= 5 && std::memcmp(bytes, "LZIP", 4) == 0 && bytes[4] == 1;
     },
     Compression::kUnsupported, "lzip-compressed data is not supported"},
    // compress: the magic number, then a code width of 9 to 16 bits and no
    // reserved flag.
    {[](const unsigned char *bytes, std::size_t count) {
         return count >= 3 && bytes[0] == 0x1f && bytes[1] == 0x9d && (bytes[2] & 0x60) == 0 &&
                (bytes[2] & 0x1f) >= 9 && (bytes[2] & 0x1f) <= 16;
     },
     Compression::kUnsupported, "compress (.Z) data is not supported"},
};

bool start_gzip_member()
{
    gzip_stream = z_stream{};
    // 16 more than the largest window: a gzip header and trailer.
    return inflateInit2(&gzip_stream, 16 + MAX_WBITS) == Z_OK;
}

bool start_bzip2_stream()
{
    bzip2_stream = bz_stream{};
    return BZ2_bzDecompressInit(&bzip2_stream, 0, 0) == BZ_OK;
}

// A gzip member, bzip2 stream or lzma stream has ended.  After gzip and
// bzip2, more data must be another member or stream of the same kind; none
// at all ends the input.  NUL bytes after a gzip member are skipped, as gzip
// skips the padding that block devices add.  lzma data is one stream with
// nothing after it, as the xz tools read it.
DecodeStatus after_member(const unsigned char *in, std::size_t in_count, bool input_ended, std::size_t *consumed,
                          const char **reason)
{
    if (compression == Compression::kGzip) {
        while (*consumed < in_count && in[*consumed] == 0)
            ++*consumed;
        if (*consumed > 0)
            return DecodeStatus::kMore;
    }
    if (in_count == 0)
        return input_ended ? DecodeStatus::kFinished : DecodeStatus::kMore;
    if (compression == Compression::kLzma) {
        *reason = "trailing garbage after lzma data";
        return DecodeStatus::kFailed;
    }
    bool gzip = compression == Compression::kGzip;
    // Wait for a whole header, unless no more bytes are coming.
    constexpr std::size_t kHeaderLength = 10;
    if (in_count < kHeaderLength && !input_ended)
        return DecodeStatus::kMore;
    if (!(gzip ? is_gzip_header(in, in_count) : is_bzip2_header(in, in_count))) {
        *reason = gzip ? "trailing garbage after gzip data" : "trailing garbage after bzip2 data";
        return DecodeStatus::kFailed;
    }
    end_decoding();
    if (!(gzip ? start_gzip_member() : start_bzip2_stream())) {
        *reason = "out of memory";
        return DecodeStatus::kFailed;
    }
    member_ended = false;
    return DecodeStatus::kMore;
}

DecodeStatus decode_gzip(const unsigned char *in, std::size_t in_count, bool input_ended, char *out,
                         std::size_t out_size, std::size_t *consumed, std::size_t *produced, const char **reason)
{
    gzip_stream.next_in = const_cast<unsigned char *>(in);
    gzip_stream.avail_in = static_cast<uInt>(in_count);
    gzip_stream.next_out = reinterpret_cast<unsigned char *>(out);
    gzip_stream.avail_out = static_cast<uInt>(out_size);
    int result = inflate(&gzip_stream, Z_NO_FLUSH);
    *consumed = in_count - gzip_stream.avail_in;
    *produced = out_size - gzip_stream.avail_out;
    if (result == Z_STREAM_END) {
        member_ended = true;
        return DecodeStatus::kMore;
    }
    if (result == Z_OK || (result == Z_BUF_ERROR && !(input_ended && in_count == 0)))
        return DecodeStatus::kMore;
    if (result == Z_BUF_ERROR)
        *reason = "truncated gzip data";
    else if (result == Z_MEM_ERROR)
        *reason = "out of memory";
    else
        *reason = "corrupt gzip data";
    return DecodeStatus::kFailed;
}

DecodeStatus decode_bzip2(const unsigned char *in, std::size_t in_count, bool input_ended, char *out,
                          std::size_t out_size, std::size_t *consumed, std::size_t *produced, const char **reason)
{
    bzip2_stream.next_in = reinterpret_cast<char *>(const_cast<unsigned char *>(in));
    bzip2_stream.avail_in = static_cast<unsigned>(in_count);
    bzip2_stream.next_out = out;
    bzip2_stream.avail_out = static_cast<unsigned>(out_size);
    int result = BZ2_bzDecompress(&bzip2_stream);
    *consumed = in_count - bzip2_stream.avail_in;
    *produced = out_size - bzip2_stream.avail_out;
    if (result == BZ_STREAM_END) {
        member_ended = true;
        return DecodeStatus::kMore;
    }
    if (result == BZ_OK) {
        if (input_ended && in_count == 0 && *produced == 0) {
            *reason = "truncated bzip2 data";
            return DecodeStatus::kFailed;
        }
        return DecodeStatus::kMore;
    }
    *reason = result == BZ_MEM_ERROR ? "out of memory" : "corrupt bzip2 data";
    return DecodeStatus::kFailed;
}

DecodeStatus decode_xz(const unsigned char *in, std::size_t in_count, bool input_ended, char *out,
                       std::size_t out_size, std::size_t *consumed, std::size_t *produced, const char **reason)
{
    xz_stream.next_in = in;
    xz_stream.avail_in = in_count;
    xz_stream.next_out = reinterpret_cast<std::uint8_t *>(out);
    xz_stream.avail_out = out_size;
    lzma_ret result = lzma_code(&xz_stream, input_ended ? LZMA_FINISH : LZMA_RUN);
    bool alone = compression == Compression::kLzma;
    *consumed = in_count - xz_stream.avail_in;
    *produced = out_size - xz_stream.avail_out;
    switch (result) {
    case LZMA_STREAM_END:
        // liblzma reads joined xz streams itself; the end of lzma data must
        // be the end of the input, which only later bytes can show.
        if (alone) {
            member_ended = true;
            return DecodeStatus::kMore;
        }
        return DecodeStatus::kFinished;
    case LZMA_OK:
        // With every byte given and nothing more to give, the data was cut
        // short; liblzma would say so only on the next call.
        if (input_ended && in_count == 0 && *produced == 0) {
            *reason = alone ? "truncated lzma data" : "truncated xz data";
            break;
        }
        return DecodeStatus::kMore;
    case LZMA_BUF_ERROR:
        *reason = alone ? "truncated lzma data" : "truncated xz data";
        break;
    case LZMA_MEM_ERROR:
        *reason = "out of memory";
        break;
    case LZMA_MEMLIMIT_ERROR:
        *reason = alone ? "lzma data that needs more than 256 MiB of memory"
                        : "xz data that needs more than 256 MiB of memory";
        break;
    case LZMA_OPTIONS_ERROR:
        *reason = alone ? "lzma data with options that liblzma does not read"
                        : "xz data with options that liblzma does not read";
        break;
    default:
        *reason = alone ? "corrupt lzma data" : "corrupt xz data";
        break;
    }
    return DecodeStatus::kFailed;
}

// Starts the library for data of the kind given.
bool start_library(Compression kind, const char **reason)
{
    compression = kind;
    member_ended = false;
    bool started = false;
    switch (kind) {
    case Compression::kGzip:
        started = start_gzip_member();
        break;
    case Compression::kBzip2:
        started = start_bzip2_stream();
        break;
    case Compression::kXz:
        xz_stream = LZMA_STREAM_INIT;
        started = lzma_stream_decoder(&xz_stream, kXzMemoryLimit, LZMA_CONCATENATED) == LZMA_OK;
        break;
    case Compression::kLzma:
        xz_stream = LZMA_STREAM_INIT;
        started = lzma_alone_decoder(&xz_stream, kXzMemoryLimit) == LZMA_OK;
        break;
    default:
        break;
    }
    if (!started)
        *reason = "out of memory";
    return started;
}

// Decodes from the `in_count` bytes at `in` into the `out_size` bytes at
// `out`, and says how many of each it used.  `input_ended` says that no
// bytes follow these.  kMore asks to be called again, with the input not
// consumed and more when it is all consumed; kFinished means the data ended
// whole; kFailed gives the reason.
DecodeStatus decode(const unsigned char *in, std::size_t in_count, bool input_ended, char *out,
                    std::size_t out_size, std::size_t *consumed, std::size_t *produced, const char **reason)
{
    *consumed = *produced = 0;
    if (member_ended) {
        DecodeStatus status = after_member(in, in_count, input_ended, consumed, reason);
        // Unless the next member has started, there is nothing to decode.
        if (member_ended || status != DecodeStatus::kMore)
            return status;
    }
    switch (compression) {
    case Compression::kGzip:
        return decode_gzip(in, in_count, input_ended, out, out_size, consumed, produced, reason);
    case Compression::kBzip2:
        return decode_bzip2(in, in_count, input_ended, out, out_size, consumed, produced, reason);
    case Compression::kXz:
    case Compression::kLzma:
        return decode_xz(in, in_count, input_ended, out, out_size, consumed, produced, reason);
    default:
        *reason = "unknown compression";
        return DecodeStatus::kFailed;
    }
}

// Reads up to `size` more compressed bytes to `into` and sets `*count`, 0
// at the end of the input.
bool read_more_compressed(unsigned char *into, std::size_t size, std::size_t *count, const char **reason)
{
    if (read_stream(compressed_stream, into, size, count, &compressed_ended))
        return true;
    *reason = std::strerror(errno);
    return false;
}

}  // namespace

Compression recognise_compression(const unsigned char *bytes, std::size_t count, const char **unsupported)
{
    for (const Format &format : kFormats) {
        if (format.recognised(bytes, count)) {
            *unsupported = format.unsupported;
            return format.compression;
        }
    }
    return Compression::kNone;
}

bool start_decoding(Compression kind, const char *first, std::size_t count, bool ended, std::FILE *stream,
                    const char **reason)
{
    std::memcpy(compressed_block, first, count);
    compressed_start = 0;
    compressed_end = count;
    compressed_ended = ended;
    compressed_stream = stream;
    finished = false;
    return start_library(kind, reason);
}

bool read_decoded(char *block, std::size_t size, std::size_t *got, const char **reason)
{
    *got = 0;
    *reason = nullptr;
    while (!finished) {
        std::size_t left = compressed_end - compressed_start;
        if (left == 0 && !compressed_ended) {
            if (!read_more_compressed(compressed_block, sizeof compressed_block, &left, reason))
                return false;
            compressed_start = 0;
            compressed_end = left;
        }
        std::size_t consumed, produced;
        DecodeStatus status = decode(compressed_block + compressed_start, left, compressed_ended, block, size,
                                     &consumed, &produced, reason);
        compressed_start += consumed;
        if (status == DecodeStatus::kFailed)
            return false;
        finished = status == DecodeStatus::kFinished;
        if (produced > 0) {
            *got = produced;
            return true;
        }
        if (status == DecodeStatus::kMore && consumed == 0) {
            // The decoder needs more bytes after those it has: keep them and
            // read more behind them.
            if (compressed_ended || left == sizeof compressed_block) {
                *reason = "corrupt compressed data";
                return false;
            }
            std::memmove(compressed_block, compressed_block + compressed_start, left);
            std::size_t more;
            if (!read_more_compressed(compressed_block + left, sizeof compressed_block - left, &more, reason))
                return false;
            compressed_start = 0;
            compressed_end = left + more;
        }
    }
    return true;
}

bool decoded_to_the_end()
{
    return finished;
}

void end_decoding()
{
    switch (compression) {
    case Compression::kGzip:
        inflateEnd(&gzip_stream);
        break;
    case Compression::kBzip2:
        BZ2_bzDecompressEnd(&bzip2_stream);
        break;
    case Compression::kXz:
    case Compression::kLzma:
        lzma_end(&xz_stream);
        break;
    default:
        break;
    }
}
