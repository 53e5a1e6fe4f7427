// Decoding compressed data: gzip, bzip2 and xz (and the older lzma) data
// are turned back into the page they hold through zlib, libbz2 and liblzma.
//
// gzip, bzip2 and xz data of several members or streams, as concatenated
// files give, reads as the concatenation of what they hold; lzma data has no
// room for a second stream.  After the last of them, NUL bytes up to the end
// of the input are padding, as block devices and tapes leave it, and are
// skipped; anything else after the data, padding included, is an error.
// The tools differ there (gzip stops at padding and ignores the rest, bzip2
// ignores all that follows, xz reads padding in fours between streams), and
// one rule for all four formats keeps every byte of the input either read
// or refused.  Data cut short or damaged is an error, never a shorter page.
//
// The decoder is handed compressed bytes and gives page bytes: the source
// reads the data, a block at a time, and feeds it.  Each library keeps its
// own state (zlib's a few tens of KiB, bzip2's and xz's what the data's
// block or dictionary size asks for); the program only hands it blocks of
// its own.
//
// libbz2 and liblzma serve a handful of installed pages, nearly all of them
// gzip data, so they are loaded only when their data is seen: linked to the
// program, they would be mapped and relocated for every page.  Each is
// loaded whole (RTLD_NOW) into the program's global scope, and its calls
// are looked up there, once a run; it stays loaded to the end of the run,
// and what the loader holds for it is the C library's to give back.

#include "decoders.h"

#include <bzlib.h>
#include <cstdint>
#include <lzma.h>
#include <zlib.h>

#include <dlfcn.h>

namespace {

// The calls of libbz2 and liblzma that decoding makes, once loaded.
struct Bzip2Calls {
    decltype(&BZ2_bzDecompressInit) init = nullptr;
    decltype(&BZ2_bzDecompress) decompress = nullptr;
    decltype(&BZ2_bzDecompressEnd) end = nullptr;
};
Bzip2Calls bzip2;
struct XzCalls {
    decltype(&lzma_stream_decoder) stream_decoder = nullptr;
    decltype(&lzma_alone_decoder) alone_decoder = nullptr;
    decltype(&lzma_code) code = nullptr;
    decltype(&lzma_end) end = nullptr;
};
XzCalls xz;

template <typename Call>
bool look_up(Call *call, const char *name)
{
    *call = reinterpret_cast<Call>(dlsym(RTLD_DEFAULT, name));
    return *call != nullptr;
}

// Loads the library that decodes `kind`, unless it is loaded or linked.
// Returns false, with a reason, when it cannot be.
bool load_library_for(Compression kind, const char **reason)
{
    if (kind == Compression::kBzip2) {
        if (bzip2.end != nullptr)
            return true;
        if (dlopen("libbz2.so.1.0", RTLD_NOW | RTLD_GLOBAL) == nullptr ||
            !look_up(&bzip2.init, "BZ2_bzDecompressInit") || !look_up(&bzip2.decompress, "BZ2_bzDecompress") ||
            !look_up(&bzip2.end, "BZ2_bzDecompressEnd")) {
            bzip2 = Bzip2Calls{};
            *reason = "libbz2 cannot be loaded to read bzip2 data";
            return false;
        }
    } else if (kind == Compression::kXz || kind == Compression::kLzma) {
        if (xz.end != nullptr)
            return true;
        if (dlopen("liblzma.so.5", RTLD_NOW | RTLD_GLOBAL) == nullptr ||
            !look_up(&xz.stream_decoder, "lzma_stream_decoder") || !look_up(&xz.alone_decoder, "lzma_alone_decoder") ||
            !look_up(&xz.code, "lzma_code") || !look_up(&xz.end, "lzma_end")) {
            xz = XzCalls{};
            *reason = "liblzma cannot be loaded to read xz and lzma data";
            return false;
        }
    }
    return true;
}

// The most that xz or lzma data may ask for.  Its header names the size of
// its dictionary, up to 4 GiB, and a hostile page of twenty bytes would
// otherwise have the library take it; the largest the xz tools' presets use
// is 64 MiB.
constexpr std::uint64_t kXzMemoryLimit = 256 * 1024 * 1024;

// The kind of data being decoded, whether its last gzip member or bzip2,
// xz or lzma stream is whole, whether NUL bytes have followed it (then only
// more of them may come), and the state of each library.
struct Decoder {
    Compression compression = Compression::kNone;
    bool member_ended = false;
    bool padding = false;
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
    return bzip2.init(&decoder.bzip2_stream, 0, 0) == BZ_OK;
}

// One xz stream at a time: its end is then seen here, and what follows it
// is read by the same rule as after the other formats.
bool start_xz_stream()
{
    decoder.xz_stream = LZMA_STREAM_INIT;
    return xz.stream_decoder(&decoder.xz_stream, kXzMemoryLimit, 0) == LZMA_OK;
}

bool start_lzma_stream()
{
    decoder.xz_stream = LZMA_STREAM_INIT;
    return xz.alone_decoder(&decoder.xz_stream, kXzMemoryLimit) == LZMA_OK;
}

// Starts the library on a member or stream of the current kind.
bool start_member()
{
    switch (decoder.compression) {
    case Compression::kGzip:
        return start_gzip_member();
    case Compression::kBzip2:
        return start_bzip2_stream();
    case Compression::kXz:
        return start_xz_stream();
    case Compression::kLzma:
        return start_lzma_stream();
    default:
        return false;
    }
}

bool is_header_of(Compression kind, const unsigned char *bytes, std::size_t count)
{
    return (kind == Compression::kGzip && is_gzip_header(bytes, count)) ||
           (kind == Compression::kBzip2 && is_bzip2_header(bytes, count)) ||
           (kind == Compression::kXz && is_xz_header(bytes, count));
}

const char *trailing_garbage_reason()
{
    switch (decoder.compression) {
    case Compression::kGzip:
        return "trailing garbage after gzip data";
    case Compression::kBzip2:
        return "trailing garbage after bzip2 data";
    case Compression::kXz:
        return "trailing garbage after xz data";
    default:
        return "trailing garbage after lzma data";
    }
}

// A member or stream has ended.  What follows must be another of the same
// kind (never after lzma, whose data is one stream), or NUL bytes to the
// end of the input, or nothing at all.
DecodeStatus after_member(const unsigned char *in, std::size_t in_count, bool input_ended, std::size_t *consumed,
                          const char **reason)
{
    if (in_count > 0 && in[0] == 0)
        decoder.padding = true;
    if (decoder.padding) {
        while (*consumed < in_count && in[*consumed] == 0)
            ++*consumed;
        if (*consumed < in_count) {
            *reason = trailing_garbage_reason();
            return DecodeStatus::kFailed;
        }
        return input_ended ? DecodeStatus::kFinished : DecodeStatus::kMore;
    }
    if (in_count == 0)
        return input_ended ? DecodeStatus::kFinished : DecodeStatus::kMore;
    // Wait for a whole header, unless no more bytes are coming.
    constexpr std::size_t kHeaderLength = 10;
    if (in_count < kHeaderLength && !input_ended)
        return DecodeStatus::kMore;
    if (!is_header_of(decoder.compression, in, in_count)) {
        *reason = trailing_garbage_reason();
        return DecodeStatus::kFailed;
    }
    end_decoding();
    if (!start_member()) {
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
    int result = bzip2.decompress(&decoder.bzip2_stream);
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
    lzma_ret result = xz.code(&decoder.xz_stream, input_ended ? LZMA_FINISH : LZMA_RUN);
    bool alone = decoder.compression == Compression::kLzma;
    *consumed = in_count - decoder.xz_stream.avail_in;
    *produced = out_size - decoder.xz_stream.avail_out;
    switch (result) {
    case LZMA_STREAM_END:
        decoder.member_ended = true;
        return DecodeStatus::kMore;
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
    // Until the library is loaded, there is nothing to end.
    decoder.compression = Compression::kNone;
    if (!load_library_for(kind, reason))
        return false;
    decoder.compression = kind;
    decoder.member_ended = false;
    decoder.padding = false;
    bool started = start_member();
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
        *reason = "unknown compression";
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
        bzip2.end(&decoder.bzip2_stream);
        break;
    case Compression::kXz:
    case Compression::kLzma:
        xz.end(&decoder.xz_stream);
        break;
    default:
        break;
    }
}

