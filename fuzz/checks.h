// What the program promises of any input: see checks.cc.

#ifndef ROFFSCRIPT_FUZZ_CHECKS_H
#define ROFFSCRIPT_FUZZ_CHECKS_H

#include "line_finder.h"
#include "run_state.h"

#include <cstddef>
#include <cstdint>
#include <string>

// Translates `data` as a file and through a pipe, and runs its checking pass
// alone translating every line and only those that may fail; returns the
// first promise broken, or nothing,
// and sets `status` (where given) to the run's exit status and `script`
// (where given) to what it wrote.
std::string check_document(const std::uint8_t *data, std::size_t size, int *status = nullptr,
                           std::string *script = nullptr);

// What one pass of the line finder made of a page: its script and
// messages, whether it ran to the end, and how many lines it counted.
struct PassTaken {
    std::string script, messages;
    bool whole = false;
    std::uint64_t lines = 0;
    bool operator==(const PassTaken &other) const
    {
        return script == other.script && messages == other.messages && whole == other.whole &&
               lines == other.lines;
    }
};

// Runs one pass of the line finder over `page` in this process, handing it
// `stretch` bytes at a time, as the driver hands it what each read gave.
// In the checking pass nothing reaches the gate's way out, so only the
// messages and the count tell what it found: nothing that the output pass
// writes can hide what it missed.
PassTaken take_page(const std::string &page, Pass pass, CheckedLines checked, std::size_t stretch);

#endif
