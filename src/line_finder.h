// How blocks of the page become lines, each counted and handed to its
// translator.  The driver reads the page into a block of its own and hands
// over each stretch it read; the line finder neither reads the input nor
// knows where the translators' commands go.

#ifndef ROFFSCRIPT_LINE_FINDER_H
#define ROFFSCRIPT_LINE_FINDER_H

#include "run_state.h"

#include <cstddef>

// The size of the block that the driver reads the page into.  It holds many
// lines, and always more than the longest line that may be translated.
constexpr std::size_t kPageBlockSize = 48 * 1024;

// Which lines the checking pass translates: those that could be reported
// bad, the others only counted; or every line, so that tests and the fuzzer
// can hold the two to the same messages.  The output pass translates every
// line.
enum class CheckedLines { kThoseThatMayFail, kEvery };

// Starts a pass over the page, to be read into `block`, kPageBlockSize
// bytes.
void start_lines(char *block, Pass pass, CheckedLines checked = CheckedLines::kThoseThatMayFail);

// Where the next bytes of the page go, and how many may come: behind the
// start of an unfinished line, kept at the front of the block.
struct PageRoom {
    char *bytes;
    std::size_t size;
};
PageRoom room_for_page();

// Takes the `count` bytes, at least one, just read into the room: every
// line they end.  Returns false when the run must end: the reason has been
// reported.
bool take_page_bytes(std::size_t count);

// The page has ended: a last line without a line feed is a line all the
// same.  Returns false when the run must end.
bool end_of_page();

#endif
