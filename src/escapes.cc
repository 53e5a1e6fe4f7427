// The escapes that text lines and macro words both read.
//
// A numbered character stands for the character of that number, written
// "\u" and hexadecimal digits in a word and in a text command alike; a
// number that cannot be read, or does not fit, stands for the replacement
// character rather than for whatever bits overflow left.  Reading it here
// keeps the two readers from drifting apart.

#include "escapes.h"

#include "line.h"
#include "output.h"

#include <cstdint>

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

char *put_numbered_character(char *out, const char *digits)
{
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

const char *numbered_character_end(const char *digits, const char *limit)
{
    const char *p = digits;
    while (p < limit && *p != '\'' && *p != '\0')
        ++p;
    return p < limit && *p == '\'' ? p + 1 : p;
}

char *put_numbered_text(char *out, const char *digits)
{
    out = put_numbered_character(put_literal(out, "text "), digits);
    *out++ = '\n';
    return out;
}

