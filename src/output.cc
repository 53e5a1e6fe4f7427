// The output gate and the word encoder.
//
// Every byte of the script leaves through write_bytes, which writes nothing
// during the checking pass: the translators run exactly the same way in both
// passes and only the gate knows the difference.  write_word quotes one
// argument with backslashes so that a reader of the script sees one word
// whatever bytes the input held: the bytes that the script's syntax gives a
// meaning (blank, tab, double quote, dollar, semicolon, opening bracket and
// brace) get a backslash in front, and a backslash from the input is doubled
// unless it starts a numbered character or a digit-width space.

#include "roffscript.h"

#include <cerrno>
#include <cstdint>

namespace {

int saved_output_errno = 0;

// Which bytes write_word must look at rather than copy: those that take a
// backslash in front, and the backslash itself.
struct ByteClasses {
    bool special[256] = {};
    constexpr ByteClasses()
    {
        for (const char *byte = "\t \"$;[{\\"; *byte != '\0'; ++byte)
            special[static_cast<unsigned char>(*byte)] = true;
    }
};
constexpr ByteClasses kWordBytes;

bool read_decimal(const char *digits, long long *value);

}  // namespace

void write_bytes(const char *bytes, std::size_t count)
{
    if (output_pass == 0 || saved_output_errno != 0)
        return;
    if (std::fwrite(bytes, 1, count, stdout) != count)
        saved_output_errno = errno != 0 ? errno : EIO;
}

int output_failure()
{
    return saved_output_errno;
}

int finish_output()
{
    if (saved_output_errno == 0 && (std::fflush(stdout) != 0 || std::ferror(stdout)))
        saved_output_errno = errno != 0 ? errno : EIO;
    return saved_output_errno;
}

void write_numbered_character(const char *digits)
{
    // A number that cannot be read, or does not fit, stands for the
    // replacement character rather than for whatever bits overflow left.
    long long value;
    std::uint32_t code = read_decimal(digits, &value)
        ? static_cast<std::uint32_t>(value) : 0xfffdU;

    char text[2 + 8];
    int length = 0;
    text[length++] = '\\';
    text[length++] = 'u';
    int digit_count = 4;
    while (digit_count < 8 && (code >> (4 * digit_count)) != 0)
        ++digit_count;
    for (int shift = 4 * (digit_count - 1); shift >= 0; shift -= 4)
        text[length++] = "0123456789abcdef"[(code >> shift) & 0xf];
    write_bytes(text, static_cast<std::size_t>(length));
}

void write_word(const char *start, int length)
{
    if (length == 0) {
        write_literal("{}");
        return;
    }
    const char *p = start;
    int remaining = length;
    while (remaining > 0) {
        // Copy the longest stretch that needs no quoting in one write.
        int plain = 0;
        while (plain < remaining && !kWordBytes.special[static_cast<unsigned char>(p[plain])])
            ++plain;
        if (plain > 0) {
            write_bytes(p, static_cast<std::size_t>(plain));
            p += plain;
            remaining -= plain;
            if (remaining == 0)
                break;
        }
        if (*p != '\\') {
            const char quoted[2] = {'\\', *p};
            write_bytes(quoted, sizeof quoted);
            ++p;
            --remaining;
            continue;
        }
        // The line is NUL-terminated, so the byte after a backslash can
        // always be read, and the one after that once the first proved not
        // to be the end of the line.
        if (p[1] == 'N' && p[2] == '\'') {
            write_numbered_character(p + 3);
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
            write_literal("\\ ");
            p += 2;
            remaining -= 2;
        } else {
            write_literal("\\\\");
            ++p;
            --remaining;
        }
    }
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
