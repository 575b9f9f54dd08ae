// ascii_ebcdic_sprintf: printf-like formatting of a catalog text in the
// catalog's own encoding, with positional specifiers
//
//   % position ! [-] [width] [.precision] [l] conversion !
//
// whose punctuation, digits and letters are recognised by their codes in
// that encoding, and whose generated characters (digits, A to F, minus sign,
// fill) are produced in it. Every other byte of the text, and the bytes of
// s and c values, are copied unchanged.
//
// Incomplete or unusable specifiers end the output where they start (the
// text so far is kept and terminated): a text cut short before the first
// '!', a position outside 1 to 9, or a conversion other than c s d o u x X
// (the terminator included). A specifier that lacks only its closing mark at
// the very end of the text is still converted. Nothing is ever read past the
// text's terminator.
#include "msg/formatter.h"

#include <climits>

namespace kw::msg {
namespace {

// Skip blanks; a plus sign is passed over, a minus sign gives 0; then the
// longest run of digits, as a decimal number that stops growing at
// INT32_MAX. The caller's pointer does not move.
std::int32_t atoi_(const unsigned char *s, unsigned char char_0, unsigned char char_9, unsigned char space,
                   unsigned char minus, unsigned char plus) noexcept {
    while (*s == space) {
        ++s;
    }
    if (*s == plus) {
        ++s;
    } else if (*s == minus) {
        return 0;
    }
    std::int32_t n = 0;
    for (; *s >= char_0 && *s <= char_9; ++s) {
        const int d = *s - char_0;
        n = n > (INT32_MAX - d) / 10 ? INT32_MAX : n * 10 + d;
    }
    return n;
}

void reverse(unsigned char *s) noexcept {
    std::size_t j = std::strlen(reinterpret_cast<const char *>(s));
    for (std::size_t i = 0; i + 1 < j; ++i, --j) {
        const unsigned char t = s[i];
        s[i] = s[j - 1];
        s[j - 1] = t;
    }
}

// Signed decimal: the magnitude's digits, a leading minus for a negative n.
void itoa_(std::int32_t n, unsigned char *s, unsigned char char_0, unsigned char minus) noexcept {
    // The magnitude is taken unsigned, so INT32_MIN has one too.
    std::uint32_t u = n < 0 ? 0u - static_cast<std::uint32_t>(n) : static_cast<std::uint32_t>(n);
    std::size_t i = 0;
    do {
        s[i++] = static_cast<unsigned char>(char_0 + u % 10);
        u /= 10;
    } while (u != 0);
    if (n < 0) {
        s[i++] = minus;
    }
    s[i] = 0;
    reverse(s);
}

// Unsigned digits in base b (8, 10 or 16), letters in upper case.
void itoab(std::uint32_t n, unsigned char *s, std::uint32_t b, unsigned char char_0, unsigned char upper_a) noexcept {
    std::size_t i = 0;
    do {
        const std::uint32_t d = n % b;
        s[i++] = static_cast<unsigned char>(d < 10 ? char_0 + d : upper_a + (d - 10));
        n /= b;
    } while (n != 0);
    s[i] = 0;
    reverse(s);
}

std::size_t bounded_length(const unsigned char *s, std::size_t limit) noexcept {
    std::size_t n = 0;
    while (n < limit && s[n] != 0) {
        ++n;
    }
    return n;
}

}  // namespace

void ascii_ebcdic_sprintf(std::uint8_t encoding, Sink &out, const unsigned char *ctl_string,
                          const ARG_UNION *args, const ArgKind *kinds) noexcept {
    const Literals &lit = literals_for(encoding);
    const auto is_digit = [&lit](unsigned char c) { return c >= lit.char_0 && c <= lit.char_9; };
    const auto number = [&lit](const unsigned char *s) {
        return atoi_(s, lit.char_0, lit.char_9, lit.space, lit.minus, lit.plus);
    };
    static const unsigned char empty[1] = {0};
    unsigned char str[17];
    const unsigned char *p = ctl_string;
    for (;;) {
        const unsigned char *run = p;
        while (*p != 0 && *p != lit.percent) {
            ++p;
        }
        if (p != run) {
            out.put(run, static_cast<std::size_t>(p - run));
        }
        if (*p == 0) {
            return;
        }
        ++p;
        if (*p == lit.percent) {
            out.put(p, 1);
            ++p;
            continue;
        }

        const std::int32_t position = number(p);
        while (*p != 0 && *p != lit.exclamation) {
            ++p;
        }
        if (*p == 0 || position < 1 || position > static_cast<std::int32_t>(kMaxArgs)) {
            return;
        }
        ++p;
        bool left = false;
        if (*p == lit.minus) {
            left = true;
            ++p;
        }
        const unsigned char fill = *p == lit.char_0 ? lit.char_0 : lit.space;
        std::uint32_t width = 0;
        if (is_digit(*p)) {
            width = static_cast<std::uint32_t>(number(p));
            while (is_digit(*p)) {
                ++p;
            }
        }
        std::size_t precision = 0;
        if (*p == lit.dot) {
            ++p;
            precision = static_cast<std::size_t>(number(p));
            while (is_digit(*p)) {
                ++p;
            }
        }
        if (*p == lit.lower_l) {
            ++p;
        }

        const std::size_t index = static_cast<std::size_t>(position - 1);
        const std::int32_t value = kinds[index] == ArgKind::number ? args[index]._long : 0;
        const unsigned char conversion = *p;
        const unsigned char *text = str;
        std::size_t len;
        if (conversion == lit.lower_c) {
            str[0] = static_cast<unsigned char>(value);
            str[1] = 0;
            len = str[0] != 0 ? 1 : 0;
        } else if (conversion == lit.lower_s) {
            text = kinds[index] == ArgKind::text && args[index]._ptr != nullptr ? args[index]._ptr : empty;
            len = bounded_length(text, precision != 0 ? precision : SIZE_MAX);
        } else if (conversion == lit.lower_d) {
            itoa_(value, str, lit.char_0, lit.minus);
            len = std::strlen(reinterpret_cast<const char *>(str));
        } else if (conversion == lit.lower_o || conversion == lit.lower_u || conversion == lit.lower_x ||
                   conversion == lit.upper_x) {
            const std::uint32_t base = conversion == lit.lower_o ? 8 : conversion == lit.lower_u ? 10 : 16;
            itoab(static_cast<std::uint32_t>(value), str, base, lit.char_0, lit.upper_a);
            len = std::strlen(reinterpret_cast<const char *>(str));
        } else {
            return;  // unknown conversion, or the text ended inside the specifier
        }
        ++p;
        if (*p != 0) {
            ++p;  // the closing mark, whatever it is; never the terminator
        }

        if (precision != 0 && precision < len) {
            len = precision;
        }
        const std::uint64_t fills = width > len ? width - len : 0;
        if (!left) {
            out.fill(fill, fills);
        }
        out.put(text, len);
        if (left) {
            out.fill(fill, fills);
        }
    }
}

}  // namespace kw::msg
