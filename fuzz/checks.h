// What the program promises of any input: see checks.cc.

#ifndef ROFFSCRIPT_FUZZ_CHECKS_H
#define ROFFSCRIPT_FUZZ_CHECKS_H

#include <cstddef>
#include <cstdint>

// Translates `data` as a file, again translating every line in the checking
// pass, and through a pipe, and aborts when a promise is broken.
void check_document(const std::uint8_t *data, std::size_t size);

#endif
