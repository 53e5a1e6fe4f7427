// How blocks of the page become lines.
//
// Every line is translated where it lies in the driver's block: only the
// start of a line that a read cut short is moved, to the front of the block
// for the next read to complete.  Line feeds are found a chunk of 64 bytes
// at a time (chunk_scan.h), so that a line costs a few instructions rather
// than a search of its own.  The same masks mark the only bytes that can
// make a line fail, and the checking pass merely counts the lines without
// them: most lines of a page are never translated until the output pass.
//
// A physical line longer than the block is handled from what the block
// holds, and the rest of it is passed over up to its line feed, so a line
// always counts once however long it is.

#include "line_finder.h"

#include "chunk_scan.h"
#include "cpu_features.h"
#include "messages.h"
#include "run_state.h"
#include "translators.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace {

// The longest line that may be translated is always whole in a pass's block.
static_assert(kPageBlockSize - kChunkSize > static_cast<std::size_t>(kShortestRefusedLine) + 1,
              "the read block must hold the longest line with its line feed and a NUL");
static_assert(kChunkSize > kLineOverread, "a line's NUL may stand just past the block");

// Whether the line from `line` to `end`, in which the finder saw `seen`,
// could be reported bad.  The line is NUL-terminated at `end`, so a rule
// may read it as its translator would.
bool line_may_fail(const char *line, const char *end, LineSuspects seen)
{
    return is_macro_line(line) ? macro_line_may_fail(line, end, seen) : text_line_may_fail(line, end, seen);
}

bool is_comment(const char *line)
{
    // The tests stop at the line's NUL, so a short line is never read past.
    return (line[0] == '.' || line[0] == '\'') && line[1] == '\\' && line[2] == '"';
}

// Counts, tests and translates one line.  `extent` is the distance to the
// line feed or the end of the block; a NUL byte may end the line sooner.
// The comment test comes first so that a comment of any length is dropped
// rather than rejected.  Returns false when the line is too long, which
// ends the run.
bool take_line(const char *line, std::size_t extent)
{
    ++line_number;
    if (is_comment(line))
        return true;
    constexpr std::size_t kLimit = kShortestRefusedLine;
    if (extent >= kLimit && std::strlen(line) >= kLimit) {
        report_too_long_line();
        return false;
    }
    // The line passed the length test, so only a NUL that ends it early
    // can leave `extent` beyond the limit; the translators need no more.
    std::size_t reach = std::min(extent, static_cast<std::size_t>(kShortestRefusedLine));
    if (is_macro_line(line))
        translate_macro_line(line, reach);
    else
        translate_text_line(line, reach);
    return true;
}

// Takes every whole line from `*line` up to `end`, and leaves `*line` at the
// start of the unfinished line after them.  When `skip_clean`, a line that
// cannot fail is only counted.  Returns false when the run must end.
template <bool skip_clean>
__attribute__((always_inline)) inline bool scan_lines(char **line, char *end)
{
    char *start = *line;           // the start of the line being looked at
    bool may_be_cut_short = false;   // that line has suspect bytes in earlier chunks
    bool has_quote = false;
    for (char *chunk = start; chunk < end; chunk += kChunkSize) {
        Chunk masks = classify_chunk<skip_clean>(chunk, end);
        // A chunk with no suspect byte may end many clean lines at once.
        // Only the first of them can be long: the others lie in the chunk.
        if (skip_clean && !may_be_cut_short && !has_quote &&
            (masks.cut_short | masks.quotes) == 0 &&
            masks.line_feeds != 0 && chunk + __builtin_ctzll(masks.line_feeds) - start < kShortestRefusedLine) {
            line_number += __builtin_popcountll(masks.line_feeds);
            start = chunk + (kChunkSize - 1 - __builtin_clzll(masks.line_feeds)) + 1;
            continue;
        }
        // Otherwise the lines that end before its first suspect byte are
        // clean all the same, and counted at once.
        if (skip_clean && !may_be_cut_short && !has_quote) {
            std::uint64_t suspects = masks.cut_short | masks.quotes;
            std::uint64_t head = masks.line_feeds & ((suspects & (0 - suspects)) - 1);
            if (head != 0 && chunk + __builtin_ctzll(head) - start < kShortestRefusedLine) {
                line_number += __builtin_popcountll(head);
                start = chunk + (kChunkSize - 1 - __builtin_clzll(head)) + 1;
                masks.line_feeds &= ~head;
            }
        }
        while (masks.line_feeds != 0) {
            std::uint64_t before = (masks.line_feeds & (0 - masks.line_feeds)) - 1;
            char *line_feed = chunk + __builtin_ctzll(masks.line_feeds);
            masks.line_feeds &= masks.line_feeds - 1;
            // Suspect bytes before this line feed belong to this line: those
            // of the lines before it were cleared as they were taken.
            may_be_cut_short = may_be_cut_short || (masks.cut_short & before) != 0;
            has_quote = has_quote || (masks.quotes & before) != 0;
            masks.cut_short &= ~before;
            masks.quotes &= ~before;
            std::size_t extent = static_cast<std::size_t>(line_feed - start);
            bool take = !skip_clean || extent >= static_cast<std::size_t>(kShortestRefusedLine);
            if (!take && (may_be_cut_short || has_quote)) {
                *line_feed = '\0';
                take = line_may_fail(start, line_feed, {may_be_cut_short, has_quote});
            }
            if (take) {
                *line_feed = '\0';
                if (!take_line(start, extent))
                    return false;
            } else {
                ++line_number;
            }
            start = line_feed + 1;
            may_be_cut_short = false;
            has_quote = false;
            // And so are those after its last suspect byte, which start in
            // the chunk and are short.
            if (skip_clean && (masks.cut_short | masks.quotes) == 0 && masks.line_feeds != 0) {
                line_number += __builtin_popcountll(masks.line_feeds);
                start = chunk + (kChunkSize - 1 - __builtin_clzll(masks.line_feeds)) + 1;
                masks.line_feeds = 0;
            }
        }
        may_be_cut_short = may_be_cut_short || masks.cut_short != 0;
        has_quote = has_quote || masks.quotes != 0;
    }
    *line = start;
    return true;
}

// The checking pass counts the clean lines of a chunk at once, by the
// population count of its line feeds: one instruction where the processor
// has one, as the C library found when it loaded the program, and a
// dozen of libgcc's otherwise.
#ifdef ROFFSCRIPT_X86_FEATURES
const bool has_popcnt = processor_has_popcnt();

__attribute__((target("popcnt"))) bool scan_clean_lines_popcnt(char **line, char *end)
{
    return scan_lines<true>(line, end);
}
#endif

bool scan_clean_lines(char **line, char *end)
{
#ifdef ROFFSCRIPT_X86_FEATURES
    if (has_popcnt)
        return scan_clean_lines_popcnt(line, end);
#endif
    return scan_lines<true>(line, end);
}

// The pass's block: the driver's, less its last kChunkSize bytes.  Those
// are room for a NUL after a last line that has no line feed, for a last
// chunk that runs past the end of what was read to be loaded whole, and for
// the translators' reads past a line's NUL.
struct LineBlock {
    char *bytes = nullptr;
    std::size_t size = 0;
    bool skip_clean_lines = false;
    std::size_t unfinished = 0;  // bytes of an unfinished line at the block's start
    bool skipping_rest = false;  // passing over the rest of a line that filled the block
};
LineBlock block;

}  // namespace

void start_lines(char *bytes, Pass pass, CheckedLines checked)
{
    block = LineBlock{};
    block.bytes = bytes;
    block.size = kPageBlockSize - kChunkSize;
    block.skip_clean_lines = pass == Pass::kChecking && checked == CheckedLines::kThoseThatMayFail;
}

PageRoom room_for_page()
{
    return {block.bytes + block.unfinished, block.size - block.unfinished};
}

bool take_page_bytes(std::size_t got)
{
    char *line = block.bytes;
    char *end = block.bytes + block.unfinished + got;
    if (block.skipping_rest) {
        char *line_feed = static_cast<char *>(std::memchr(line, '\n', got));
        if (line_feed == nullptr) {
            block.unfinished = 0;
            return true;
        }
        line = line_feed + 1;
        block.skipping_rest = false;
    }
    if (!(block.skip_clean_lines ? scan_clean_lines(&line, end) : scan_lines<false>(&line, end)))
        return false;
    block.unfinished = static_cast<std::size_t>(end - line);
    if (block.unfinished == block.size) {
        // A whole block without a line feed: a line longer than any may
        // be, unless it is a comment or a NUL byte ends it early.
        block.bytes[block.unfinished] = '\0';
        if (!take_line(block.bytes, block.unfinished))
            return false;
        block.skipping_rest = true;
        block.unfinished = 0;
    } else {
        // Only the start of a line is left: move it to the front, where
        // the next read completes it.
        std::memmove(block.bytes, line, block.unfinished);
    }
    return true;
}

bool end_of_page()
{
    if (block.unfinished > 0 && !block.skipping_rest) {
        block.bytes[block.unfinished] = '\0';
        return take_line(block.bytes, block.unfinished);
    }
    return true;
}
