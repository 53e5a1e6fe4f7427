// How blocks of input become lines.
//
// Every line is translated where it lies in the block that was read: the
// bytes are copied once, out of the kernel.  Line feeds are found 64 bytes
// at a time as a mask of bits, so that a line costs a few instructions
// rather than a search of its own.  The same masks mark the only bytes that
// can make a line fail, and the checking pass merely counts the lines
// without them: most lines of a page are never translated until the output
// pass.
//
// A physical line longer than the block is handled from what the block
// holds, and the rest of it is discarded up to its line feed, so a line
// always counts once however long it is.

#include "line_finder.h"

#include "translators.h"
#include "messages.h"
#include "run_state.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>

// Where the processor has 16-byte vector compares (every x86-64 does), a
// chunk is classified sixteen bytes to an instruction; elsewhere, or in a
// portable build, eight bytes at a time in a 64-bit register.
#if defined(__SSE2__) && !defined(ROFFSCRIPT_PORTABLE)
#define ROFFSCRIPT_SSE2 1
#include <emmintrin.h>
#endif

bool translate_every_line = false;

namespace {

// Lines are looked for a chunk at a time, one bit of a mask per byte.
constexpr std::size_t kChunkSize = 64;

// The longest line that may be translated is always whole in a pass's block.
static_assert(kPageBlockSize - kChunkSize > static_cast<std::size_t>(kLineBufferSize),
              "the read block must hold the longest line with its line feed");
static_assert(kChunkSize > kLineOverread, "a line's NUL may stand just past the block");

// The line feeds of a chunk, and its suspect bytes of two kinds: those that
// may end a "\(" escape too soon, and double quotes, which may open a macro
// word that is never closed.  The first kind are the parenthesis of the
// escape where it is one of the last two bytes before a line feed, and a
// NUL, which ends its line early and so may cut short any escape before it.
// Nothing else in a line can be reported bad, so a line with no suspect
// byte, short enough to pass the length test, cannot fail.
struct Chunk {
    std::uint64_t line_feeds;
    std::uint64_t cutting;
    std::uint64_t quotes;
};

#ifndef ROFFSCRIPT_SSE2
// Eight bytes compared at once in a 64-bit register: the high bit of each
// byte of the result is set where that byte of `word` equals `byte`.
std::uint64_t equal_bytes(std::uint64_t word, unsigned char byte)
{
    constexpr std::uint64_t kLow7 = 0x7f7f7f7f7f7f7f7fULL;
    std::uint64_t differs = word ^ (0x0101010101010101ULL * byte);
    // Adding 0x7f to a byte's low seven bits carries into its high bit
    // unless they were all zero.
    return ~(((differs & kLow7) + kLow7) | differs | kLow7);
}

// The high bits of the eight bytes of `flags` as eight bits, byte j's
// (counted from the low end) at bit j.
unsigned gather_high_bits(std::uint64_t flags)
{
    return static_cast<unsigned>(((flags >> 7) * 0x0102040810204080ULL) >> 56);
}

// The eight bytes at `bytes`, the first at the low end.
std::uint64_t load_word(const char *bytes)
{
    std::uint64_t word;
    std::memcpy(&word, bytes, sizeof word);
#if __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    word = __builtin_bswap64(word);
#endif
    return word;
}
#endif

// One bit for each of the 64 bytes at `chunk` that equals `byte`, the
// first byte's at the low end.
std::uint64_t bytes_equal(const char *chunk, char byte)
{
    std::uint64_t bits = 0;
#ifdef ROFFSCRIPT_SSE2
    const __m128i wanted = _mm_set1_epi8(byte);
    // Left to itself the compiler keeps these four-step loops rolled; every
    // chunk of the input goes through one, and unrolled it takes a fifth
    // fewer instructions.
#pragma GCC unroll 4
    for (std::size_t i = 0; i < kChunkSize; i += 16) {
        __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i *>(chunk + i));
        bits |= std::uint64_t{static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, wanted)))} << i;
    }
#else
    for (std::size_t i = 0; i < kChunkSize; i += 8)
        bits |= std::uint64_t{gather_high_bits(equal_bytes(load_word(chunk + i), static_cast<unsigned char>(byte)))} << i;
#endif
    return bits;
}

// The line feeds of the 64 bytes at `chunk`, as bytes_equal has them, and
// whether any of the bytes is a parenthesis, a double quote or a NUL: the
// candidates for suspect bytes.
std::uint64_t line_feeds_and_candidates(const char *chunk, bool *has_candidates)
{
    std::uint64_t line_feeds = 0;
#ifdef ROFFSCRIPT_SSE2
    const __m128i line_feed = _mm_set1_epi8('\n');
    const __m128i parenthesis = _mm_set1_epi8(kCutShortSuspect);
    const __m128i quote = _mm_set1_epi8(kQuoteSuspect);
    const __m128i nul = _mm_setzero_si128();
    __m128i candidates = _mm_setzero_si128();
#pragma GCC unroll 4
    for (std::size_t i = 0; i < kChunkSize; i += 16) {
        __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i *>(chunk + i));
        line_feeds |= std::uint64_t{static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, line_feed)))} << i;
        candidates = _mm_or_si128(candidates, _mm_cmpeq_epi8(bytes, parenthesis));
        candidates = _mm_or_si128(candidates, _mm_cmpeq_epi8(bytes, quote));
        candidates = _mm_or_si128(candidates, _mm_cmpeq_epi8(bytes, nul));
    }
    *has_candidates = _mm_movemask_epi8(candidates) != 0;
#else
    std::uint64_t candidates = 0;
    for (std::size_t i = 0; i < kChunkSize; i += 8) {
        std::uint64_t word = load_word(chunk + i);
        line_feeds |= std::uint64_t{gather_high_bits(equal_bytes(word, '\n'))} << i;
        candidates |= equal_bytes(word, kCutShortSuspect) | equal_bytes(word, kQuoteSuspect) | equal_bytes(word, '\0');
    }
    *has_candidates = candidates != 0;
#endif
    return line_feeds;
}

// Classifies the 64 bytes at `chunk`; those from `end` on are stale bytes
// of the block and count as nothing.  Suspect bytes are looked for only
// when `skipping` lines that cannot fail; fixed when this is compiled, so
// that the output pass does not even look for candidates.
template <bool skipping>
Chunk classify_chunk(const char *chunk, const char *end)
{
    bool has_candidates;
    Chunk masks = {line_feeds_and_candidates(chunk, &has_candidates), 0, 0};
    // Most chunks hold no candidate: one test of the whole chunk spares
    // three masks.
    if (skipping && has_candidates) {
        // A parenthesis in the chunk's last two bytes may be near a line
        // feed in the next chunk, so it counts as near one.
        std::uint64_t near_line_feed =
            (masks.line_feeds >> 1) | (masks.line_feeds >> 2) | (std::uint64_t{3} << (kChunkSize - 2));
        masks.cutting = bytes_equal(chunk, '\0') | (bytes_equal(chunk, kCutShortSuspect) & near_line_feed);
        masks.quotes = bytes_equal(chunk, kQuoteSuspect);
    }
    std::size_t valid = static_cast<std::size_t>(end - chunk);
    if (valid < kChunkSize) {
        std::uint64_t inside = (std::uint64_t{1} << valid) - 1;
        masks.line_feeds &= inside;
        masks.cutting &= inside;
        masks.quotes &= inside;
    }
    return masks;
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
    constexpr std::size_t kLimit = kMaxLineLength;
    if (extent >= kLimit && std::strlen(line) >= kLimit) {
        report_too_long_line();
        return false;
    }
    // The line passed the length test, so only a NUL that ends it early
    // can leave `extent` beyond the limit; the translators need no more.
    std::size_t reach = std::min(extent, static_cast<std::size_t>(kMaxLineLength));
    if (is_macro_line(line))
        translate_macro_line(line, reach);
    else
        translate_text_line(line, reach);
    return true;
}

// Takes every whole line from `*line` up to `end`, and leaves `*line` at the
// start of the unfinished line after them.  When `skipping`, a line that
// cannot fail is only counted.  Returns false when the run must end.
template <bool skipping>
bool take_lines(char **line, char *end)
{
    char *start = *line;           // the start of the line being looked at
    bool may_cut_escape = false;   // that line has suspect bytes in earlier chunks
    bool has_quote = false;
    for (char *chunk = start; chunk < end; chunk += kChunkSize) {
        Chunk masks = classify_chunk<skipping>(chunk, end);
        // A chunk with no suspect byte may end many clean lines at once.
        // Only the first of them can be long: the others lie in the chunk.
        if (skipping && !may_cut_escape && !has_quote &&
            (masks.cutting | masks.quotes) == 0 &&
            masks.line_feeds != 0 && chunk + __builtin_ctzll(masks.line_feeds) - start < kMaxLineLength) {
            line_number += __builtin_popcountll(masks.line_feeds);
            start = chunk + (kChunkSize - 1 - __builtin_clzll(masks.line_feeds)) + 1;
            continue;
        }
        while (masks.line_feeds != 0) {
            std::uint64_t before = (masks.line_feeds & (0 - masks.line_feeds)) - 1;
            char *line_feed = chunk + __builtin_ctzll(masks.line_feeds);
            masks.line_feeds &= masks.line_feeds - 1;
            // Suspect bytes before this line feed belong to this line: those
            // of the lines before it were cleared as they were taken.
            may_cut_escape = may_cut_escape || (masks.cutting & before) != 0;
            has_quote = has_quote || (masks.quotes & before) != 0;
            masks.cutting &= ~before;
            masks.quotes &= ~before;
            std::size_t extent = static_cast<std::size_t>(line_feed - start);
            bool take = !skipping || extent >= static_cast<std::size_t>(kMaxLineLength);
            if (!take && (may_cut_escape || has_quote)) {
                *line_feed = '\0';
                take = line_may_fail(start, line_feed, {may_cut_escape, has_quote});
            }
            if (take) {
                *line_feed = '\0';
                if (!take_line(start, extent))
                    return false;
            } else {
                ++line_number;
            }
            start = line_feed + 1;
            may_cut_escape = false;
            has_quote = false;
        }
        may_cut_escape = may_cut_escape || masks.cutting != 0;
        has_quote = has_quote || masks.quotes != 0;
    }
    *line = start;
    return true;
}

// The pass's block: the driver's, less its last kChunkSize bytes.  Those
// are room for a NUL after a last line that has no line feed, for a last
// chunk that runs past the end of what was read to be loaded whole, and for
// the translators' reads past a line's NUL.
struct LineBlock {
    char *bytes = nullptr;
    std::size_t size = 0;
    bool skip_clean_lines = false;
    std::size_t held = 0;        // bytes of an unfinished line at the block's start
    bool discarding = false;     // the rest of a line that filled the block
};
LineBlock block;

}  // namespace

void start_lines(char *bytes, int pass)
{
    block = LineBlock{};
    block.bytes = bytes;
    block.size = kPageBlockSize - kChunkSize;
    block.skip_clean_lines = pass == 0 && !translate_every_line;
}

PageRoom room_for_page()
{
    return {block.bytes + block.held, block.size - block.held};
}

bool take_page_bytes(std::size_t got)
{
    char *line = block.bytes;
    char *end = block.bytes + block.held + got;
    if (block.discarding) {
        char *line_feed = static_cast<char *>(std::memchr(line, '\n', got));
        if (line_feed == nullptr) {
            block.held = 0;
            return true;
        }
        line = line_feed + 1;
        block.discarding = false;
    }
    if (!(block.skip_clean_lines ? take_lines<true>(&line, end) : take_lines<false>(&line, end)))
        return false;
    block.held = static_cast<std::size_t>(end - line);
    if (block.held == block.size) {
        // A whole block without a line feed: a line longer than any may
        // be, unless it is a comment or a NUL byte ends it early.
        block.bytes[block.held] = '\0';
        if (!take_line(block.bytes, block.held))
            return false;
        block.discarding = true;
        block.held = 0;
    } else {
        // Only the start of a line is left: move it to the front, where
        // the next read completes it.
        std::memmove(block.bytes, line, block.held);
    }
    return true;
}

bool end_of_page()
{
    if (block.held > 0 && !block.discarding) {
        block.bytes[block.held] = '\0';
        return take_line(block.bytes, block.held);
    }
    return true;
}
