// The watch on what the two passes read: the output pass must translate
// exactly the bytes that the checking pass passed.

#ifndef ROFFSCRIPT_WATCH_H
#define ROFFSCRIPT_WATCH_H

#include <cstddef>
#include <cstdint>

// Starts the watch for a run over the input open on `fd` (-1 for a stream
// without one), named `name` in messages: no bytes read yet, and a regular
// file watched as it is now, and a secret for the hash drawn afresh.
// Returns false when the input cannot be looked at, or is standard output's
// file, or no random secret can be had: the reason has been reported.
bool start_watch(int fd, const char *name);

// Whether the watched file, if any, is still as it was found.
bool file_unchanged();

// Counts and hashes `count` bytes that the current pass hands on.
void watch_bytes(const char *bytes, std::size_t count);

// The checking pass has ended: the output pass's bytes are counted and
// hashed afresh, to be held to the checking pass's.
void watch_second_pass();

// How many of the checking pass's bytes the output pass has yet to hand on.
std::uint64_t bytes_left_to_hand_on();

// Whether the output pass handed on the same bytes as the checking pass,
// once it has handed on as many.
bool same_bytes_both_passes();

#endif
