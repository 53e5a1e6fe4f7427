// Decoding compressed data: gzip, bzip2 and xz (and the older lzma) data
// are turned back into the page they hold through zlib, libbz2 and liblzma.
//
// gzip, bzip2 and xz data of several members or streams, as concatenated
// files give, reads as the concatenation of what they hold; lzma data has no
// room for a second stream, so anything after its end is an error, as the xz
// tools make it.  Data cut short or damaged is an error, never a shorter
// page.
//
// The decoder is handed compressed bytes and gives page bytes: the source
// reads the data, a block at a time, and feeds it.  Each library keeps its
// own state (zlib's a few tens of KiB, bzip2's and xz's what the data's
// block or dictionary size asks for); the program only hands it blocks of
// its own.

#include "decoders.h"

#include <bzlib.h>
#include <cstdint>
#include <lzma.h>
#include <zlib.h>

namespace {

// The most that xz or lzma data may ask for.  Its header names the size of
// its dictionary, up to 4 GiB, and a hostile page of twenty bytes would
// otherwise have the library take it; the largest the xz tools' presets use
// is 64 MiB.
constexpr std::uint64_t kXzMemoryLimit = 256 * 1024 * 1024;

// The kind of data being decoded, whether its last gzip member, bzip2
// stream or lzma stream is whole, and the state of each library.
struct Decoder {
    Compression compression = Compression::kNone;
    bool member_ended = false;
    z_stream gzip_stream;
    bz_stream bzip2_stream;
    lzma_stream xz_stream = LZMA_STREAM_INIT;
};
Decoder decoder;

bool start_gzip_member()
{
    decoder.gzip_stream = z_stream{};
    // 16 more than the largest window: a gzip header and trailer.
    return inflateInit2(&decoder.gzip_stream, 16 + MAX_WBITS) == Z_OK;
}

bool start_bzip2_stream()
{
    decoder.bzip2_stream = bz_stream{};
    return BZ2_bzDecompressInit(&decoder.bzip2_stream, 0, 0) == BZ_OK;
}

// A gzip member, bzip2 stream or lzma stream has ended.  After gzip and
// bzip2, more data must be another member or stream of the same kind; none
// at all ends the input.  NUL bytes after a gzip member are skipped, as gzip
// skips the padding that block devices add.  lzma data is one stream with
// nothing after it, as the xz tools read it.
DecodeStatus after_member(const unsigned char *in, std::size_t in_count, bool input_ended, std::size_t *consumed,
                          const char **reason)
{
    if (decoder.compression == Compression::kGzip) {
        while (*consumed < in_count && in[*consumed] == 0)
            ++*consumed;
        if (*consumed > 0)
            return DecodeStatus::kMore;
    }
    if (in_count == 0)
        return input_ended ? DecodeStatus::kFinished : DecodeStatus::kMore;
    if (decoder.compression == Compression::kLzma) {
        *reason = "trailing garbage after lzma data";
        return DecodeStatus::kFailed;
    }
    bool gzip = decoder.compression == Compression::kGzip;
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
    decoder.member_ended = false;
    return DecodeStatus::kMore;
}

DecodeStatus decode_gzip(const unsigned char *in, std::size_t in_count, bool input_ended, char *out,
                         std::size_t out_size, std::size_t *consumed, std::size_t *produced, const char **reason)
{
    decoder.gzip_stream.next_in = const_cast<unsigned char *>(in);
    decoder.gzip_stream.avail_in = static_cast<uInt>(in_count);
    decoder.gzip_stream.next_out = reinterpret_cast<unsigned char *>(out);
    decoder.gzip_stream.avail_out = static_cast<uInt>(out_size);
    int result = inflate(&decoder.gzip_stream, Z_NO_FLUSH);
    *consumed = in_count - decoder.gzip_stream.avail_in;
    *produced = out_size - decoder.gzip_stream.avail_out;
    if (result == Z_STREAM_END) {
        decoder.member_ended = true;
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
    decoder.bzip2_stream.next_in = reinterpret_cast<char *>(const_cast<unsigned char *>(in));
    decoder.bzip2_stream.avail_in = static_cast<unsigned>(in_count);
    decoder.bzip2_stream.next_out = out;
    decoder.bzip2_stream.avail_out = static_cast<unsigned>(out_size);
    int result = BZ2_bzDecompress(&decoder.bzip2_stream);
    *consumed = in_count - decoder.bzip2_stream.avail_in;
    *produced = out_size - decoder.bzip2_stream.avail_out;
    if (result == BZ_STREAM_END) {
        decoder.member_ended = true;
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
    decoder.xz_stream.next_in = in;
    decoder.xz_stream.avail_in = in_count;
    decoder.xz_stream.next_out = reinterpret_cast<std::uint8_t *>(out);
    decoder.xz_stream.avail_out = out_size;
    lzma_ret result = lzma_code(&decoder.xz_stream, input_ended ? LZMA_FINISH : LZMA_RUN);
    bool alone = decoder.compression == Compression::kLzma;
    *consumed = in_count - decoder.xz_stream.avail_in;
    *produced = out_size - decoder.xz_stream.avail_out;
    switch (result) {
    case LZMA_STREAM_END:
        // liblzma reads joined xz streams itself; the end of lzma data must
        // be the end of the input, which only later bytes can show.
        if (alone) {
            decoder.member_ended = true;
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

}  // namespace

bool start_decoding(Compression kind, const char **reason)
{
    decoder.compression = kind;
    decoder.member_ended = false;
    bool started = false;
    switch (kind) {
    case Compression::kGzip:
        started = start_gzip_member();
        break;
    case Compression::kBzip2:
        started = start_bzip2_stream();
        break;
    case Compression::kXz:
        decoder.xz_stream = LZMA_STREAM_INIT;
        started = lzma_stream_decoder(&decoder.xz_stream, kXzMemoryLimit, LZMA_CONCATENATED) == LZMA_OK;
        break;
    case Compression::kLzma:
        decoder.xz_stream = LZMA_STREAM_INIT;
        started = lzma_alone_decoder(&decoder.xz_stream, kXzMemoryLimit) == LZMA_OK;
        break;
    default:
        break;
    }
    if (!started)
        *reason = "out of memory";
    return started;
}

DecodeStatus decode(const unsigned char *in, std::size_t in_count, bool input_ended, char *out,
                    std::size_t out_size, std::size_t *consumed, std::size_t *produced, const char **reason)
{
    *consumed = *produced = 0;
    if (decoder.member_ended) {
        DecodeStatus status = after_member(in, in_count, input_ended, consumed, reason);
        // Unless the next member has started, there is nothing to decode.
        if (decoder.member_ended || status != DecodeStatus::kMore)
            return status;
    }
    switch (decoder.compression) {
    case Compression::kGzip:
        return decode_gzip(in, in_count, input_ended, out, out_size, consumed, produced, reason);
    case Compression::kBzip2:
        return decode_bzip2(in, in_count, input_ended, out, out_size, consumed, produced, reason);
    case Compression::kXz:
    case Compression::kLzma:
        return decode_xz(in, in_count, input_ended, out, out_size, consumed, produced, reason);
    default:
        *reason = "unknown decoder.compression";
        return DecodeStatus::kFailed;
    }
}

void end_decoding()
{
    switch (decoder.compression) {
    case Compression::kGzip:
        inflateEnd(&decoder.gzip_stream);
        break;
    case Compression::kBzip2:
        BZ2_bzDecompressEnd(&decoder.bzip2_stream);
        break;
    case Compression::kXz:
    case Compression::kLzma:
        lzma_end(&decoder.xz_stream);
        break;
    default:
        break;
    }
}
