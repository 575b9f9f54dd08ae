// The syntax of an argument specifier in a message text, said once:
//
//   % position ! [-] [width] [.precision] [l] conversion !
//
// read_specifier walks one specifier from just after its '%' the way the
// formatter reads it, and fills its fields. The formatter is lenient (a
// position may carry blanks, a plus sign or several digits, anything up to
// the first '!' is passed over, the closing mark may be any character); a
// catalog's author is held to the canonical form. With Strict set the same
// walk also records the first rule of the canonical form that the text
// breaks, so the catalog compiler's check and the formatter's reading can
// never drift apart. The specifier scan's limits (kMaxArgs, kSpecifierChars)
// are here too.
//
// Header only, constexpr throughout and without calls into the library:
// tools include it beside the shared library.
#ifndef KW_MSG_SPECIFIER_SYNTAX_H
#define KW_MSG_SPECIFIER_SYNTAX_H

#include <climits>
#include <cstddef>
#include <cstdint>
#include "platform/compiler.h"

namespace kw::msg {

inline constexpr std::size_t kMaxArgs = 9;  // positions 1 to 9

// Room of a recorded specifier: the characters after its '%' up to and
// including its closing '!'.
inline constexpr std::size_t kSpecifierChars = 20;

// The characters that the formatter recognises or generates, in one
// encoding. Digits and the letters A to F are contiguous in both encodings,
// so 0, 9 and A stand for them all.
struct Literals {
    unsigned char percent, exclamation, dot, minus, plus, char_0, char_9, space;
    unsigned char lower_l, lower_c, lower_s, lower_d, lower_o, lower_u, lower_x, upper_x, upper_a;
};

inline constexpr Literals kAsciiLiterals{0x25, 0x21, 0x2E, 0x2D, 0x2B, 0x30, 0x39, 0x20, 0x6C,
                                         0x63, 0x73, 0x64, 0x6F, 0x75, 0x78, 0x58, 0x41};
inline constexpr Literals kEbcdicLiterals{0x6C, 0x5A, 0x4B, 0x60, 0x4E, 0xF0, 0xF9, 0x40, 0x93,
                                          0x83, 0xA2, 0x84, 0x96, 0xA4, 0xA7, 0xE7, 0xC1};

// Only encoding 2 is EBCDIC; every other value is ASCII.
constexpr const Literals &literals_for(std::uint8_t encoding) noexcept {
    return encoding == 2 ? kEbcdicLiterals : kAsciiLiterals;
}

constexpr bool is_digit(unsigned char c, const Literals &lit) noexcept { return c >= lit.char_0 && c <= lit.char_9; }

// The conversions the formatter writes: c s d o u x X.
constexpr bool is_conversion(unsigned char c, const Literals &lit) noexcept {
    return c == lit.lower_d || c == lit.lower_s || c == lit.lower_c || c == lit.lower_o || c == lit.lower_u ||
           c == lit.lower_x || c == lit.upper_x;
}

// Skip blanks; a plus sign is passed over, a minus sign gives 0; then the
// longest run of digits, as a decimal number that stops growing at
// INT32_MAX. The caller's pointer does not move.
constexpr std::int32_t atoi_(const unsigned char *s, unsigned char char_0, unsigned char char_9, unsigned char space,
                             unsigned char minus, unsigned char plus) noexcept {
    while (*s == space) {
        ++s;
    }
    if (*s == plus) {
        ++s;
    } else if (*s == minus) {
        return 0;
    }
    std::int64_t n = 0;
    for (; *s >= char_0 && *s <= char_9; ++s) {
        n = n * 10 + (*s - char_0);
        if (n > INT32_MAX) {
            n = INT32_MAX;
        }
    }
    return static_cast<std::int32_t>(n);
}

// The first rule of the canonical form that a specifier breaks.
enum class SpecFault : std::uint8_t {
    none,
    position,          // no digit 1 to 9 right after '%'
    position_mark,     // no '!' right after the one-digit position
    precision_digits,  // no digit after the precision's '.'
    cut_short,         // the text ends before the conversion character
    conversion,        // not one of c s d o u x X
    closing_mark,      // no '!' right after the conversion character
    too_long,          // longer than kSpecifierChars
};

// One specifier as read, from just after its '%'. read_specifier sets
// every field it reaches; the formatter's loop builds one per specifier, so
// none has a default to pay for.
struct Specifier {
    std::uint32_t position;  // 1 to 9
    std::uint32_t width;
    std::size_t precision;   // 0: no cut
    unsigned char fill;      // char_0 or space
    unsigned char conversion;
    bool left;               // '-': fill after the text
    bool long_size;          // the length letter l
    std::size_t length;      // characters read; for a usable one, where the text goes on
    SpecFault fault;         // with Strict only
    std::size_t fault_at;    // the offending character, counted like length
};

// Read the specifier at p (just after its '%', in a zero-terminated text)
// into s. Returns whether the formatter formats it: not when the text is cut
// short before the first '!', when the position is outside 1 to 9, or when
// the conversion is not one of c s d o u x X (the terminator included); the
// output then ends where the specifier starts. The closing mark is passed
// over whatever it is, but never the terminator. Nothing after the
// terminator is read. The fields other than length are meaningful only for
// a usable specifier. With Strict, s.fault and s.fault_at also say which
// canonical rule the text breaks first (none for a usable specifier in
// canonical form).
template <bool Strict = false>
KW_FORCE_INLINE constexpr bool read_specifier(const unsigned char *p, const Literals &lit, Specifier &s) noexcept {
    const unsigned char *const start = p;
    [[maybe_unused]] const auto fault = [&s, start](SpecFault f, const unsigned char *at) {
        if (s.fault == SpecFault::none) {
            s.fault = f;
            s.fault_at = static_cast<std::size_t>(at - start);
        }
    };
    const auto number = [&lit](const unsigned char *at) {
        return atoi_(at, lit.char_0, lit.char_9, lit.space, lit.minus, lit.plus);
    };
    s.left = false;
    s.long_size = false;
    s.width = 0;
    s.precision = 0;
    if constexpr (Strict) {
        s.fault = SpecFault::none;
        s.fault_at = 0;
        if (*p == lit.char_0 || !is_digit(*p, lit)) {
            fault(SpecFault::position, p);
        } else if (p[1] != lit.exclamation) {
            fault(SpecFault::position_mark, p + 1);
        }
    }
    const std::int32_t position = number(p);
    while (*p != 0 && *p != lit.exclamation) {
        ++p;
    }
    if (*p == 0 || position < 1 || position > static_cast<std::int32_t>(kMaxArgs)) {
        s.length = static_cast<std::size_t>(p - start);  // the canonical checks above have failed too
        return false;
    }
    s.position = static_cast<std::uint32_t>(position);
    ++p;
    if (*p == lit.minus) {
        s.left = true;
        ++p;
    }
    s.fill = *p == lit.char_0 ? lit.char_0 : lit.space;
    if (is_digit(*p, lit)) {
        s.width = static_cast<std::uint32_t>(number(p));
        while (is_digit(*p, lit)) {
            ++p;
        }
    }
    if (*p == lit.dot) {
        ++p;
        if constexpr (Strict) {
            if (!is_digit(*p, lit)) {
                fault(SpecFault::precision_digits, p);
            }
        }
        s.precision = static_cast<std::size_t>(number(p));
        while (is_digit(*p, lit)) {
            ++p;
        }
    }
    if (*p == lit.lower_l) {
        s.long_size = true;
        ++p;
    }
    s.conversion = *p;
    if (!is_conversion(*p, lit)) {
        if constexpr (Strict) {
            fault(*p == 0 ? SpecFault::cut_short : SpecFault::conversion, p);
        }
        s.length = static_cast<std::size_t>(p - start);
        return false;
    }
    ++p;
    if constexpr (Strict) {
        if (*p != lit.exclamation) {
            fault(SpecFault::closing_mark, p);
        } else if (static_cast<std::size_t>(p + 1 - start) > kSpecifierChars) {
            fault(SpecFault::too_long, start);
        }
    }
    if (*p != 0) {
        ++p;
    }
    s.length = static_cast<std::size_t>(p - start);
    return true;
}

}  // namespace kw::msg

#endif
