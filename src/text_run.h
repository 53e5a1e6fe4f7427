// Quoting a run of plain text, the bulk of a page, and the table of how
// each byte is written inside a word, which put_word shares.  Kept in a
// header so that the text translator can hold the quoting in its own loop:
// it is built once for each way of quoting, and the way the processor
// allows is chosen when the program starts, from what the C library found
// of the processor as it loaded the program (text_line.cc).

#ifndef ROFFSCRIPT_TEXT_RUN_H
#define ROFFSCRIPT_TEXT_RUN_H

#include "line.h"
#include "output.h"
#include "words.h"

#include <algorithm>
#include <cstring>

#if defined(__x86_64__) && defined(__GNUC__) && !defined(ROFFSCRIPT_PORTABLE)
#define ROFFSCRIPT_SSSE3 1
#include <tmmintrin.h>
#endif

constexpr std::size_t kTextRunOverwrite = 32;

namespace text_run {

// How each byte value is written inside a word: the bytes to put down and
// how many of them to keep.  A quoted byte gets a backslash in front; every
// other byte is itself.  The backslash, which starts an escape inside a word,
// and the NUL at the end of the line keep none: both end a text run.
struct alignas(4) ByteEncoding {
    char bytes[2];
    unsigned char length;
};

struct ByteEncodings {
    ByteEncoding of[256] = {};
    constexpr ByteEncodings()
    {
        for (int byte = 1; byte < 256; ++byte)
            of[byte] = {{static_cast<char>(byte), '\0'}, 1};
        for (const char *byte = kQuotedBytes; *byte != '\0'; ++byte)
            of[static_cast<unsigned char>(*byte)] = {{'\\', *byte}, 2};
        of[static_cast<unsigned char>('\\')].length = 0;
    }
};
inline constexpr ByteEncodings kWordBytes;

// Puts a plain or quoted byte at `out` and returns the end.  Two bytes are
// always put down, and the next byte writes over the second where only one
// is kept: blanks come every few bytes in text, too often and too
// irregularly for a branch to guess, and one store costs less than two.
inline char *put_word_byte(char *out, const ByteEncoding &encoding)
{
    std::memcpy(out, encoding.bytes, sizeof encoding.bytes);
    return out + encoding.length;
}

// Quotes the bytes from `*run` up to the first backslash or NUL at `out`,
// returns the end, and moves `*run` to where the run stopped.
inline char *quote_run(char *out, const unsigned char **run)
{
    const unsigned char *p = *run;
    for (; kWordBytes.of[*p].length != 0; ++p)
        out = put_word_byte(out, kWordBytes.of[*p]);
    *run = p;
    return out;
}

// The wide loop below puts down 32 bytes at a time, past the end of what it
// keeps, and reads 16 at a time, past the run's NUL.
static_assert(kTextRunOverwrite >= 32, "the wide loop puts down 32 bytes at a time");
static_assert(kLineOverread >= 16, "the wide loop reads 16 bytes from the run's last one");

#ifdef ROFFSCRIPT_SSSE3
// Quoting sixteen bytes at a time, where the processor can shuffle bytes
// (every x86-64 made since about 2008, though not every one).
//
// Each byte is classified by two table look-ups, one by its low four bits
// and one by its high four, whose results are ANDed: a byte has a class bit
// only if both of its halves name it.  The classes are the quoted bytes of
// kWordBytes (tab, vertical tab, form feed, carriage return; blank, double
// quote, dollar; semicolon, bracket, brace) and the two bytes that end a run
// (NUL, backslash).  Then each half of the
// sixteen bytes is spread out by one shuffle: the table of expansions holds,
// for each of the 256 ways the quoted bytes may lie among eight, the order
// in which to put down the eight bytes and a backslash before each quoted
// one.  No branch depends on where the blanks are, which a processor cannot
// guess; only the end of the run is a branch, taken once.
struct Expansions {
    // Indexes 0 to 7 pick the eight bytes, 8 to 15 a backslash, and 0x80
    // puts down a zero in the unused tail.
    alignas(16) unsigned char shuffle[256][16] = {};
    unsigned char length[256] = {};
    const __m128i *shuffle_of(unsigned quoted) const
    {
        return reinterpret_cast<const __m128i *>(shuffle[quoted]);
    }
    constexpr Expansions()
    {
        for (int quoted = 0; quoted < 256; ++quoted) {
            int j = 0;
            for (int i = 0; i < 8; ++i) {
                if ((quoted >> i) & 1)
                    shuffle[quoted][j++] = static_cast<unsigned char>(8 + i);
                shuffle[quoted][j++] = static_cast<unsigned char>(i);
            }
            length[quoted] = static_cast<unsigned char>(j);
            while (j < 16)
                shuffle[quoted][j++] = 0x80;
        }
    }
};
inline constexpr Expansions kExpansions;

// The quoted classes are the low bits, and the two ends the high ones, so
// that one add brings either end's bit to the top, where the processor
// gathers a mask from.
enum : unsigned char {
    kControlSpace = 1, kBlankQuoteDollar = 2, kSemicolonBracketBrace = 4, kBackslash = 0x40, kNul = 0x80,
    kQuotedClasses = kControlSpace | kBlankQuoteDollar | kSemicolonBracketBrace,
    kEndClasses = kNul | kBackslash
};
alignas(16) inline constexpr unsigned char kClassesByLowHalf[16] = {
    kBlankQuoteDollar | kNul, 0, kBlankQuoteDollar, 0, kBlankQuoteDollar, 0, 0, 0,
    0, kControlSpace, 0, kControlSpace | kSemicolonBracketBrace, kControlSpace | kBackslash, kControlSpace, 0, 0};
alignas(16) inline constexpr unsigned char kClassesByHighHalf[16] = {
    kControlSpace | kNul, 0, kBlankQuoteDollar, kSemicolonBracketBrace, 0, kSemicolonBracketBrace | kBackslash, 0,
    kSemicolonBracketBrace, 0, 0, 0, 0, 0, 0, 0, 0};

// Whether the two tables give every byte value the classes that kWordBytes
// gives it: quoted where it takes a backslash, an end where it ends a run.
constexpr bool class_tables_match_word_bytes()
{
    for (int byte = 0; byte < 256; ++byte) {
        unsigned classes = kClassesByLowHalf[byte & 0xf] & kClassesByHighHalf[byte >> 4];
        if (((classes & kQuotedClasses) != 0) != (kWordBytes.of[byte].length == 2) ||
            ((classes & kEndClasses) != 0) != (kWordBytes.of[byte].length == 0))
            return false;
    }
    return true;
}
static_assert(class_tables_match_word_bytes(), "the vector tables must quote exactly kQuotedBytes");

// Whether the loop below reads the classes rightly: a byte with any class
// gets the high bit from a saturating add of 0x7f, and only an end gets it
// from a wrapping add of 0x40.
constexpr bool class_masks_read_right()
{
    for (int byte = 0; byte < 256; ++byte) {
        unsigned classes = kClassesByLowHalf[byte & 0xf] & kClassesByHighHalf[byte >> 4];
        bool end = (classes & kEndClasses) != 0;
        if ((std::min(classes + 0x7fU, 0xffU) >= 0x80) != (classes != 0) || (((classes + 0x40U) & 0x80) != 0) != end)
            return false;
    }
    return true;
}
static_assert(class_masks_read_right(), "each mask must take its bytes from the top bit");

// For each count of bytes kept, from 0 to 16, the mask of those bytes.
struct KeptMasks {
    unsigned of[17] = {};
    constexpr KeptMasks()
    {
        for (int kept = 0; kept <= 16; ++kept)
            of[kept] = (1U << kept) - 1;
    }
};
inline constexpr KeptMasks kKeptMasks;

// The loop's constants, set once for a line's runs.
struct Ssse3Constants {
    __m128i by_low_half, by_high_half;
    // Added to a byte with saturation, it sets the high bit of every byte
    // that is not zero; with wrapping, the high bit of every end's byte.
    __m128i any_class_to_high_bit, end_to_high_bit;
    __m128i low_four_bits, backslashes;
    __attribute__((target("ssse3"))) Ssse3Constants()
        : by_low_half(_mm_load_si128(reinterpret_cast<const __m128i *>(kClassesByLowHalf))),
          by_high_half(_mm_load_si128(reinterpret_cast<const __m128i *>(kClassesByHighHalf))),
          any_class_to_high_bit(_mm_set1_epi8(0x7f)), end_to_high_bit(_mm_set1_epi8(0x40)),
          low_four_bits(_mm_set1_epi8(0x0f)), backslashes(_mm_set1_epi8('\\'))
    {
    }
};

__attribute__((target("ssse3")))
inline char *quote_run_ssse3(const Ssse3Constants &k, char *out, const unsigned char **run)
{
    const unsigned char *p = *run;
    char *o = out;
    for (;;) {
        __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
        __m128i low = _mm_and_si128(bytes, k.low_four_bits);
        __m128i high = _mm_and_si128(_mm_srli_epi16(bytes, 4), k.low_four_bits);
        __m128i classes = _mm_and_si128(_mm_shuffle_epi8(k.by_low_half, low), _mm_shuffle_epi8(k.by_high_half, high));
        // The ends are marked with the quoted bytes, and the mask of bytes
        // kept drops them.
        unsigned quoted = static_cast<unsigned>(_mm_movemask_epi8(_mm_adds_epu8(classes, k.any_class_to_high_bit)));
        unsigned ends = static_cast<unsigned>(_mm_movemask_epi8(_mm_add_epi8(classes, k.end_to_high_bit)));
        // The bytes kept are those before the first end, all sixteen where
        // there is none.
        std::size_t kept = static_cast<std::size_t>(__builtin_ctz(ends | 0x10000U));
        quoted &= kKeptMasks.of[kept];
        std::size_t first = quoted & 0xff;
        std::size_t second = quoted >> 8;
        __m128i spread_first = _mm_shuffle_epi8(_mm_unpacklo_epi64(bytes, k.backslashes),
                                                _mm_load_si128(kExpansions.shuffle_of(static_cast<unsigned>(first))));
        __m128i spread_second = _mm_shuffle_epi8(_mm_unpackhi_epi64(bytes, k.backslashes),
                                                 _mm_load_si128(kExpansions.shuffle_of(static_cast<unsigned>(second))));
        std::size_t first_length = kExpansions.length[first];
        _mm_storeu_si128(reinterpret_cast<__m128i *>(o), spread_first);
        _mm_storeu_si128(reinterpret_cast<__m128i *>(o + first_length), spread_second);
        // Each quoted byte kept adds its backslash; the two lengths count
        // eight bytes each, kept or not.
        o += first_length + kExpansions.length[second] + kept - 16;
        p += kept;
        if (kept != 16)
            break;
    }
    *run = p;
    return o;
}
#endif

}  // namespace text_run

// The two ways of quoting a run, for put_text_run: a byte at a time, and
// sixteen at a time where the processor can shuffle bytes.
// Each is set up once for a line and then quotes its runs.
struct PortableQuoting {
    char *quote(char *out, const unsigned char **run) const { return text_run::quote_run(out, run); }
};
#ifdef ROFFSCRIPT_SSSE3
struct Ssse3Quoting {
    text_run::Ssse3Constants constants;
    __attribute__((target("ssse3"))) char *quote(char *out, const unsigned char **run) const
    {
        return text_run::quote_run_ssse3(constants, out, run);
    }
};
#endif

// Puts the text command for the run that starts at `*run` at `out`, returns
// the end, and moves `*run` to where the run ended; the run takes every byte
// up to the next backslash or the end of the line, tabs after its first byte
// included, and its first byte is neither.  The command needs room for its
// bytes quoted and kTextRunOverwrite more, which may be written over.
template <typename Quoting>
inline char *put_text_run(const Quoting &quoting, char *out, const char **run)
{
    const unsigned char *p = reinterpret_cast<const unsigned char *>(*run);
    out = quoting.quote(put_literal(out, "text "), &p);
    *out++ = '\n';
    *run = reinterpret_cast<const char *>(p);
    return out;
}

#endif
