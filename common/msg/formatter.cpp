// The formatter: the search for the next '%', the writing of one
// conversion, and the loop that joins them with the reading of each
// specifier (specifier_syntax.h). What the syntax means and what unusual
// texts give is said in kwutil.h; the functions declared in formatter.h say
// what they promise their callers.
//
// Punctuation, digits and letters are recognised by their codes in the
// text's encoding, and the characters generated (digits, A to F, minus sign,
// fill) are produced in it, so an EBCDIC catalog never needs translating.
// Nothing at or past limit (the end of the catalog's text area, which ends
// with a zero) is ever read.
//
// The loop is a template over where the output goes: a buffer the caller
// vouches for needs no counting at all, so it gets its own instance. The
// pieces are marked inline because both instances want them inlined: a
// message is a few dozen bytes, and calls cost as much as the work.
#include "msg/formatter.h"

#include <climits>
#include <cstring>

#include "msg/output.h"

namespace kw::msg {

std::size_t itoa_(std::int32_t n, unsigned char *s, unsigned char char_0, unsigned char minus) noexcept {
    // The magnitude is taken unsigned, so INT32_MIN has one too.
    std::uint32_t u = n < 0 ? 0u - static_cast<std::uint32_t>(n) : static_cast<std::uint32_t>(n);
    std::size_t len = n < 0 ? 2 : 1;
    for (std::uint32_t v = u; v >= 10; v /= 10) {
        ++len;
    }
    s[len] = 0;
    std::size_t i = len;
    do {
        s[--i] = static_cast<unsigned char>(char_0 + u % 10);
        u /= 10;
    } while (u != 0);
    if (n < 0) {
        s[0] = minus;
    }
    return len;
}

namespace {

// Digits are produced from the least significant end, so the conversions
// count them first and fill their buffer backwards: no reversal, no strlen.

template <std::uint32_t B>
inline std::size_t digits_in_base(std::uint32_t n, unsigned char *s, unsigned char char_0, unsigned char upper_a) noexcept {
    std::size_t len = 1;
    for (std::uint32_t v = n; v >= B; v /= B) {
        ++len;
    }
    s[len] = 0;
    std::size_t i = len;
    do {
        const std::uint32_t d = n % B;
        s[--i] = static_cast<unsigned char>(d < 10 ? char_0 + d : upper_a + (d - 10));
        n /= B;
    } while (n != 0);
    return len;
}

// Unsigned digits in base b (8, 10 or 16), letters in upper case, and a
// terminating zero. Returns the length.
inline std::size_t itoab(std::uint32_t n, unsigned char *s, std::uint32_t b, unsigned char char_0,
                         unsigned char upper_a) noexcept {
    switch (b) {
        case 8: return digits_in_base<8>(n, s, char_0, upper_a);
        case 10: return digits_in_base<10>(n, s, char_0, upper_a);
        default: return digits_in_base<16>(n, s, char_0, upper_a);
    }
}

inline std::size_t bounded_length(const unsigned char *s, std::size_t limit) noexcept {
    std::size_t n = 0;
    while (n < limit && s[n] != 0) {
        ++n;
    }
    return n;
}

// Write the conversion of a usable specifier with its argument: a text is
// read only from an element of kind text, a number only from one of kind
// number; anything else gives the empty text or 0.
template <class Out>
inline void emit(Out &out, const Literals &lit, const Specifier &s, const ARG_UNION &arg, ArgKind kind) noexcept {
    static const unsigned char empty[1] = {0};
    unsigned char str[17];
    const unsigned char *text = str;
    std::size_t len;
    if (s.conversion == lit.lower_s) {
        text = kind == ArgKind::text && arg._ptr != nullptr ? arg._ptr : empty;
        len = bounded_length(text, s.precision != 0 ? s.precision : SIZE_MAX);
    } else {
        const std::int32_t value = kind == ArgKind::number ? arg._long : 0;
        if (s.conversion == lit.lower_d) {
            len = itoa_(value, str, lit.char_0, lit.minus);
        } else if (s.conversion == lit.lower_c) {
            str[0] = static_cast<unsigned char>(value);
            str[1] = 0;
            len = str[0] != 0 ? 1 : 0;
        } else {
            const std::uint32_t base = s.conversion == lit.lower_o ? 8 : s.conversion == lit.lower_u ? 10 : 16;
            len = itoab(static_cast<std::uint32_t>(value), str, base, lit.char_0, lit.upper_a);
        }
    }
    if (s.precision != 0 && s.precision < len) {
        len = s.precision;
    }
    if (s.width <= len) {
        out.put(text, len);
        return;
    }
    const std::uint64_t fills = s.width - len;
    if (!s.left) {
        out.fill(s.fill, fills);
    }
    out.put(text, len);
    if (s.left) {
        out.fill(s.fill, fills);
    }
}

// Format ctl_string (its zero before limit) into out, position n taking
// args[n - 1] of the kind kinds[n - 1].
template <class Out>
inline void format_core(const Literals &lit, Out &out, const unsigned char *ctl_string, const unsigned char *limit,
                 const ARG_UNION *args, const ArgKind *kinds) noexcept {
    const unsigned char *p = ctl_string;
    for (;;) {
        const unsigned char *stop = find_byte_or_zero(p, limit, lit.percent);
        out.put(p, static_cast<std::size_t>(stop - p));
        if (*stop == 0) {
            return;
        }
        p = stop + 1;
        if (*p == lit.percent) {
            out.put(p, 1);
            ++p;
            continue;
        }
        Specifier s;
        if (!read_specifier(p, lit, s)) {
            return;
        }
        emit(out, lit, s, args[s.position - 1], kinds[s.position - 1]);
        p += s.length;
    }
}

// Run write(out) into buf as Sink(buf, cap, skip) stores it and return the
// length of the whole text after the skipped characters.
template <class Write>
std::uint64_t run_output(char *buf, std::uint64_t cap, std::uint32_t skip, Write &&write) noexcept {
    if (cap == Sink::kUnbounded && skip == 0 && buf != nullptr) {
        // The caller vouches for the room and nothing is dropped: no count
        // and no check but the position.
        auto *const start = reinterpret_cast<unsigned char *>(buf);
        RawOut out{start};
        write(out);
        *out.cur = 0;
        return static_cast<std::uint64_t>(out.cur - start);
    }
    // Dropped characters are never written, so even the unbounded calls need
    // no more room than the text they return and its zero.
    Sink out(buf, cap, skip);
    write(out);
    return out.finish();
}

}  // namespace

std::uint64_t ascii_ebcdic_sprintf(std::uint8_t encoding, char *buf, std::uint64_t cap, std::uint32_t skip,
                                   const unsigned char *ctl_string, const unsigned char *limit, const ARG_UNION *args,
                                   const ArgKind *kinds) noexcept {
    const Literals &lit = literals_for(encoding);
    return run_output(buf, cap, skip, [&](auto &out) { format_core(lit, out, ctl_string, limit, args, kinds); });
}

}  // namespace kw::msg
