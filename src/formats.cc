// Recognising compressed data by its first bytes.
//
// Nearly every installed manual page is compressed, so the input is
// recognised by what it holds, never by its name.  A format is taken to be
// present only where enough of its header says so: a text page may well
// begin with the first bytes of a magic number.  Formats this program does
// not read are recognised too, so that they are refused rather than taken
// for text.

#include "formats.h"

#include <cstdint>
#include <cstring>

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

namespace {

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
