// Compressed input: recognising gzip, bzip2 and xz data by their first
// bytes, and turning them back into the page they hold.

#ifndef ROFFSCRIPT_DECODERS_H
#define ROFFSCRIPT_DECODERS_H

#include <cstddef>

enum class Compression { kNone, kGzip, kBzip2, kXz, kLzma, kUnsupported };

// What the first `count` bytes of the input say.  For a format this program
// does not read, `*unsupported` says which it is.
Compression recognise_compression(const unsigned char *bytes, std::size_t count, const char **unsupported);

// Prepares to decode data of the given kind.  Returns false, with a reason,
// when the library cannot start.
bool start_decoding(Compression compression, const char **reason);

enum class DecodeStatus { kMore, kFinished, kFailed };

// Decodes from the `in_count` bytes at `in` into the `out_size` bytes at
// `out`, and says how many of each it used.  `input_ended` says that no
// bytes follow these.  kMore asks to be called again, with the input not
// consumed and more when it is all consumed; kFinished means the data ended
// whole; kFailed gives the reason.
DecodeStatus decode(const unsigned char *in, std::size_t in_count, bool input_ended, char *out,
                    std::size_t out_size, std::size_t *consumed, std::size_t *produced, const char **reason);

// Lets go of what the library holds.
void end_decoding();

#endif
