// What the program promises of any input: see checks.cc.

#ifndef ROFFSCRIPT_FUZZ_CHECKS_H
#define ROFFSCRIPT_FUZZ_CHECKS_H

#include <cstddef>
#include <cstdint>
#include <string>

// Translates `data` as a file, again translating every line in the checking
// pass, and through a pipe; returns the first promise broken, or nothing,
// and sets `status` (where given) to the run's exit status and `script`
// (where given) to what it wrote.
std::string check_document(const std::uint8_t *data, std::size_t size, int *status = nullptr,
                           std::string *script = nullptr);

#endif
