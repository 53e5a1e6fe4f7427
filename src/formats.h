// Recognising compressed data by its first bytes: gzip, bzip2, xz and lzma
// data, which the decoders read, and the formats they do not.

#ifndef ROFFSCRIPT_FORMATS_H
#define ROFFSCRIPT_FORMATS_H

#include <cstddef>

enum class Compression { kNone, kGzip, kBzip2, kXz, kLzma, kUnsupported };

// What the first `count` bytes of the input say.  For a format this program
// does not read, `*unsupported` says which it is.
Compression recognise_compression(const unsigned char *bytes, std::size_t count, const char **unsupported);

// Whether the `count` bytes at `bytes` start a gzip member or a bzip2 or xz
// stream: each test asks for as many bytes as it needs.
bool is_gzip_header(const unsigned char *bytes, std::size_t count);
bool is_bzip2_header(const unsigned char *bytes, std::size_t count);
bool is_xz_header(const unsigned char *bytes, std::size_t count);

#endif
