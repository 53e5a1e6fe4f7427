// Scanning a chunk of 64 bytes at once: its line feeds, and the bytes that
// may make its lines fail, each as a mask of bits, one per byte, the first
// byte's at the low end.  Kept apart from the line finder, which walks the
// masks, because how they are computed depends on the processor and the
// line finder does not.

#ifndef ROFFSCRIPT_CHUNK_SCAN_H
#define ROFFSCRIPT_CHUNK_SCAN_H

#include "translators.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

// Where the processor has 16-byte vector compares (every x86-64 does), a
// chunk is classified sixteen bytes to an instruction; elsewhere, or in a
// portable build, eight bytes at a time in a 64-bit register.
#if defined(__SSE2__) && !defined(ROFFSCRIPT_PORTABLE)
#define ROFFSCRIPT_SSE2 1
#include <emmintrin.h>
#endif

// Lines are looked for a chunk at a time, one bit of a mask per byte.
constexpr std::size_t kChunkSize = 64;

// The line feeds of a chunk, and its suspect bytes of two kinds: those that
// may end a "\(" escape too soon, and double quotes, which may open a macro
// word that is never closed.  The first kind are the parenthesis of the
// escape where it is one of the last two bytes before a line feed, and a
// NUL, which ends its line early and so may cut short any escape before it.
// Nothing else in a line can be reported bad, so a line with no suspect
// byte, short enough to pass the length test, cannot fail.
struct Chunk {
    std::uint64_t line_feeds;
    std::uint64_t cut_short;
    std::uint64_t quotes;
};

#ifndef ROFFSCRIPT_SSE2
// Eight bytes compared at once in a 64-bit register: the high bit of each
// byte of the result is set where that byte of `word` equals `byte`.
inline std::uint64_t swar_equal(std::uint64_t word, unsigned char byte)
{
    constexpr std::uint64_t kLow7 = 0x7f7f7f7f7f7f7f7fULL;
    std::uint64_t differs = word ^ (0x0101010101010101ULL * byte);
    // Adding 0x7f to a byte's low seven bits carries into its high bit
    // unless they were all zero.
    return ~(((differs & kLow7) + kLow7) | differs | kLow7);
}

// The high bits of the eight bytes of `flags` as eight bits, byte j's
// (counted from the low end) at bit j.
inline unsigned gather_high_bits(std::uint64_t flags)
{
    return static_cast<unsigned>(((flags >> 7) * 0x0102040810204080ULL) >> 56);
}

// The eight bytes at `bytes`, the first at the low end.
inline std::uint64_t load_word(const char *bytes)
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
__attribute__((always_inline)) inline std::uint64_t chunk_mask(const char *chunk, char byte)
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
        bits |= std::uint64_t{gather_high_bits(swar_equal(load_word(chunk + i), static_cast<unsigned char>(byte)))} << i;
#endif
    return bits;
}

// The line feeds of the 64 bytes at `chunk`, as chunk_mask has them, and
// whether any of the bytes is a parenthesis, a double quote or a NUL: the
// candidates for suspect bytes.
__attribute__((always_inline)) inline std::uint64_t line_feeds_and_candidates(const char *chunk,
                                                                            bool *has_candidates)
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
        line_feeds |= std::uint64_t{gather_high_bits(swar_equal(word, '\n'))} << i;
        candidates |= swar_equal(word, kCutShortSuspect) | swar_equal(word, kQuoteSuspect) | swar_equal(word, '\0');
    }
    *has_candidates = candidates != 0;
#endif
    return line_feeds;
}

// Classifies the 64 bytes at `chunk`; those from `end` on are stale bytes
// of the block and count as nothing.  Suspect bytes are looked for only
// when `skip_clean` lines, those that cannot fail, are skipped; fixed when
// this is compiled, so that the output pass does not even look for
// candidates.
template <bool skip_clean>
__attribute__((always_inline)) inline Chunk classify_chunk(const char *chunk, const char *end)
{
    bool has_candidates;
    Chunk masks = {line_feeds_and_candidates(chunk, &has_candidates), 0, 0};
    // Most chunks hold no candidate: one test of the whole chunk spares
    // three masks.
    if (skip_clean && has_candidates) {
        // A parenthesis in the chunk's last two bytes may be near a line
        // feed in the next chunk, so it counts as near one.
        std::uint64_t near_line_feed =
            (masks.line_feeds >> 1) | (masks.line_feeds >> 2) | (std::uint64_t{3} << (kChunkSize - 2));
        masks.cut_short = chunk_mask(chunk, '\0') | (chunk_mask(chunk, kCutShortSuspect) & near_line_feed);
        masks.quotes = chunk_mask(chunk, kQuoteSuspect);
    }
    std::size_t valid = static_cast<std::size_t>(end - chunk);
    if (valid < kChunkSize) {
        std::uint64_t inside = (std::uint64_t{1} << valid) - 1;
        masks.line_feeds &= inside;
        masks.cut_short &= inside;
        masks.quotes &= inside;
    }
    return masks;
}

#endif
