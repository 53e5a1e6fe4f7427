// Compressed input: recognising gzip, bzip2, xz and lzma data by their
// first bytes, and turning them back into the page they hold.

#ifndef ROFFSCRIPT_DECODERS_H
#define ROFFSCRIPT_DECODERS_H

#include <cstddef>
#include <cstdio>

enum class Compression { kNone, kGzip, kBzip2, kXz, kLzma, kUnsupported };

// What the first `count` bytes of the input say.  For a format this program
// does not read, `*unsupported` says which it is.
Compression recognise_compression(const unsigned char *bytes, std::size_t count, const char **unsupported);

// The block that compressed data is read into, a block at a time; the first
// read, which the format was recognised from, may fill it.
constexpr std::size_t kCompressedBlockSize = 16 * 1024;

// Starts decoding data of the given kind, whose first `count` bytes (at most
// kCompressedBlockSize) are at `first`, `ended` saying that none follow
// them; the rest is read from `stream`, a block at a time.  Returns false,
// with a reason, when the library cannot start.
bool start_decoding(Compression compression, const char *first, std::size_t count, bool ended,
                    std::FILE *stream, const char **reason);

// Fills `block` with up to `size` decoded bytes and sets `*got` to their
// number, 0 once the data has ended whole.  Returns false, with a reason,
// when the data is damaged or cut short or cannot be read.
bool read_decoded(char *block, std::size_t size, std::size_t *got, const char **reason);

// Whether the data has ended whole.
bool decoded_to_the_end();

// Lets go of what the library holds.
void end_decoding();

#endif
