// Compressed input: recognising gzip, bzip2 and xz data by their first
// bytes, and turning them back into the page they hold.

#ifndef ROFFSCRIPT_DECODERS_H
#define ROFFSCRIPT_DECODERS_H

#include <cstddef>

enum class Compression { kNone, kGzip, kBzip2, kXz, kLzma, kUnsupported };

// What the first `count` bytes of the input say.  For a format this program
// does not read, `*unsupported` says which it is.
Compression recognise_compression(const unsigned char *bytes, std::size_t count, const char **unsupported);

// Reads up to `size` more bytes of compressed data into `block`, sets
// `*count` to their number and `*ended` once no bytes follow them.  Returns
// false when reading failed: the reason has been reported.
using CompressedReader = bool (*)(char *block, std::size_t size, std::size_t *count, bool *ended);

// The block that compressed data is read into, a block at a time; the first
// read, which the format was recognised from, may fill it.
constexpr std::size_t kCompressedBlockSize = 16 * 1024;

// Starts decoding data of the given kind, whose first `count` bytes (at most
// kCompressedBlockSize) are at `first`, `ended` saying that none follow
// them; the rest is read through `read_more`.  Returns false, with a reason,
// when the library cannot start.
bool start_decoding(Compression compression, const char *first, std::size_t count, bool ended,
                    CompressedReader read_more, const char **reason);

// Fills `block` with up to `size` decoded bytes and sets `*got` to their
// number, 0 once the data has ended whole.  Returns false when the data is
// damaged or cut short, with `*reason`, or when reading failed, with
// `*reason` null: the reader has reported it.
bool read_decoded(char *block, std::size_t size, std::size_t *got, const char **reason);

// Whether the data has ended whole.
bool decoded_to_the_end();

// Lets go of what the library holds.
void end_decoding();

#endif
