// The output gate and the word encoder.
//
// Every byte of the script leaves through the gate declared in the header,
// which writes nothing during the checking pass: the translators run the
// same way in both passes and only the gate knows the difference.  This file
// holds the gate's block and its way out to standard output.  write_word quotes one
// argument with backslashes so that a reader of the script sees one word
// whatever bytes the input held: the bytes that the script's syntax gives a
// meaning (blank, tab, double quote, dollar, semicolon, opening bracket and
// brace) get a backslash in front, and a backslash from the input is doubled
// unless it starts a numbered character or a digit-width space.

#include "roffscript.h"

#include <cerrno>
#include <cstdint>
#include <cstring>

namespace {

int saved_output_errno = 0;

void put(const char *bytes, std::size_t count)
{
    if (saved_output_errno == 0 && std::fwrite(bytes, 1, count, stdout) != count)
        saved_output_errno = errno != 0 ? errno : EIO;
}

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
        for (const char *byte = "\t \"$;[{"; *byte != '\0'; ++byte)
            of[static_cast<unsigned char>(*byte)] = {{'\\', *byte}, 2};
        of[static_cast<unsigned char>('\\')].length = 0;
    }
};
constexpr ByteEncodings kWordBytes;

// Puts a plain or quoted byte at `out` and returns the end.  Two bytes are
// always put down, and the next byte writes over the second where only one
// is kept: blanks come every few bytes in text, too often and too
// irregularly for a branch to guess, and one store costs less than two.
inline char *put_word_byte(char *out, const ByteEncoding &encoding)
{
    std::memcpy(out, encoding.bytes, sizeof encoding.bytes);
    return out + encoding.length;
}

bool read_decimal(const char *digits, long long *value);

// "\u" and up to eight hexadecimal digits.
constexpr std::size_t kNumberedCharacterSize = 10;
constexpr std::size_t kWorstBytesPerByte = 4;
static_assert(kWorstBytesPerByte * kLineBufferSize + kNumberedCharacterSize <= kOutputBlockSize,
              "a whole word must fit in the output block");

// Puts "\u" and the number that starts at `digits`, in lower-case
// hexadecimal with at least four digits, at `out`; returns the end.
char *put_numbered_character(const char *digits, char *out)
{
    // A number that cannot be read, or does not fit, stands for the
    // replacement character rather than for whatever bits overflow left.
    long long value;
    std::uint32_t code = read_decimal(digits, &value) ? static_cast<std::uint32_t>(value) : 0xfffdU;
    *out++ = '\\';
    *out++ = 'u';
    int digit_count = 4;
    while (digit_count < 8 && (code >> (4 * digit_count)) != 0)
        ++digit_count;
    for (int shift = 4 * (digit_count - 1); shift >= 0; shift -= 4)
        *out++ = "0123456789abcdef"[(code >> shift) & 0xf];
    return out;
}

}  // namespace

char output_block[kOutputBlockSize];
std::size_t output_block_length = 0;

void flush_output_block()
{
    put(output_block, output_block_length);
    output_block_length = 0;
}

void write_bytes_unbuffered(const char *bytes, std::size_t count)
{
    flush_output_block();
    put(bytes, count);
}

bool takes_backslash(unsigned char byte)
{
    return kWordBytes.of[byte].length == 2;
}

int output_failure()
{
    return saved_output_errno;
}

int finish_output()
{
    flush_output_block();
    if (saved_output_errno == 0 && (std::fflush(stdout) != 0 || std::ferror(stdout)))
        saved_output_errno = errno != 0 ? errno : EIO;
    return saved_output_errno;
}

void write_numbered_text(const char *digits)
{
    char *out = output_space(sizeof "text \n" + kNumberedCharacterSize);
    if (out == nullptr)
        return;
    out = put_numbered_character(digits, put_literal(out, "text "));
    *out++ = '\n';
    output_advance(out);
}

void write_word(const char *start, int length)
{
    if (length <= 0) {
        write_literal("{}");
        return;
    }
    // A quoted byte writes two bytes and a numbered character ten for its
    // three (or fewer, where it reaches past the word), so this much room
    // holds the whole word.  Nothing inside a word can be wrong, so the
    // checking pass, which gets no room, has nothing to look at here.
    char *out = output_space(kWorstBytesPerByte * static_cast<std::size_t>(length) + kNumberedCharacterSize);
    if (out == nullptr)
        return;
    const char *p = start;
    int remaining = length;
    while (remaining > 0) {
        const ByteEncoding &encoding = kWordBytes.of[static_cast<unsigned char>(*p)];
        if (encoding.length != 0) {
            out = put_word_byte(out, encoding);
            ++p;
            --remaining;
            continue;
        }
        *out++ = '\\';
        // The line is NUL-terminated, so the byte after a backslash can
        // always be read, and the one after that once the first proved not
        // to be the end of the line.
        if (p[1] == 'N' && p[2] == '\'') {
            out = put_numbered_character(p + 3, out - 1);
            p += 3;
            remaining -= 3;
            // The escape runs to its closing apostrophe, or to the end of
            // the word; taking the apostrophe may leave `remaining` below
            // zero, which ends the word just the same.
            while (remaining > 0 && *p != '\'') {
                ++p;
                --remaining;
            }
            ++p;
            --remaining;
        } else if (p[1] == '0') {
            *out++ = ' ';
            p += 2;
            remaining -= 2;
        } else {
            *out++ = '\\';
            ++p;
            --remaining;
        }
    }
    output_advance(out);
}

const char *write_text_run(const char *run)
{
    // The run is part of a line, so it can never need more room than this.
    constexpr std::size_t kTextRunRoom = sizeof "text " + 2 * static_cast<std::size_t>(kMaxLineLength);
    // The run's first byte is never a backslash or the line's end, so the
    // run is never empty.
    const unsigned char *p = reinterpret_cast<const unsigned char *>(run);
    char *out = output_space(kTextRunRoom);
    if (out == nullptr) {
        // The checking pass only needs to know where the run ends, which
        // the C library's search finds a vector at a time.
#ifdef __GLIBC__
        return strchrnul(run, '\\');
#else
        const char *backslash = std::strchr(run, '\\');
        return backslash != nullptr ? backslash : run + std::strlen(run);
#endif
    }
    out = put_literal(out, "text ");
    for (; kWordBytes.of[*p].length != 0; ++p)
        out = put_word_byte(out, kWordBytes.of[*p]);
    *out++ = '\n';
    output_advance(out);
    return reinterpret_cast<const char *>(p);
}

namespace {

// Reads a decimal number the way "%d" would, from `digits` on: whitespace,
// an optional sign, then digits as far as they go.  Returns false when no
// digit follows or the value does not fit in a signed 32-bit integer; the
// digits are still counted to the end so that the result does not depend on
// where overflow began.
bool read_decimal(const char *digits, long long *value)
{
    const char *p = digits;
    while (is_space_byte(static_cast<unsigned char>(*p)))
        ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') {
        negative = *p == '-';
        ++p;
    }
    if (*p < '0' || *p > '9')
        return false;
    const long long limit = negative ? 2147483648LL : 2147483647LL;
    long long magnitude = 0;
    bool fits = true;
    for (; *p >= '0' && *p <= '9'; ++p) {
        if (fits) {
            magnitude = magnitude * 10 + (*p - '0');
            fits = magnitude <= limit;
        }
    }
    if (!fits)
        return false;
    *value = negative ? -magnitude : magnitude;
    return true;
}

}  // namespace
