// Decoding compressed data: the source hands over compressed bytes, a block
// at a time, and is given the page they hold.

#ifndef ROFFSCRIPT_DECODERS_H
#define ROFFSCRIPT_DECODERS_H

#include "formats.h"

#include <cstddef>

// Starts decoding data of the given kind.  Returns false, with a reason,
// when the library cannot start.
bool start_decoding(Compression compression, const char **reason);

enum class DecodeStatus { kMore, kFinished, kFailed };

// Decodes from the `in_count` bytes at `in` into the `out_size` bytes at
// `out`, and says how many of each it used.  `input_ended` says that no
// bytes follow these.  kMore asks to be called again, with the bytes not
// consumed and more behind them when those are all consumed; kFinished
// means the data ended whole; kFailed gives the reason.
DecodeStatus decode(const unsigned char *in, std::size_t in_count, bool input_ended, char *out,
                    std::size_t out_size, std::size_t *consumed, std::size_t *produced, const char **reason);

// Lets go of what the library holds.
void end_decoding();

#endif
