// The encoding-aware formatter of message texts, ascii_ebcdic_sprintf: the
// values it reads, and the two of its pieces that the specifier scan and the
// fixed texts of the message calls use as well. The specifier syntax and the
// characters it is written in are specifier_syntax.h; where the output goes
// is output.h.
#ifndef KW_MSG_FORMATTER_H
#define KW_MSG_FORMATTER_H

#include <bit>
#include <cstddef>
#include <cstdint>

#include "msg/specifier_syntax.h"
#include "platform/bytes.h"

namespace kw::msg {

// One argument value: a 32-bit number, or the address of a zero-terminated
// text (as wide as the host's addresses).
union ARG_UNION {
    std::int32_t _long;
    const unsigned char *_ptr;
};

// Which member of an ARG_UNION holds a value. The formatter reads _ptr only
// from a text and _long only from a number; anything else reads as the empty
// text or 0, so a catalog whose specifiers disagree about one position can
// never make it follow a number as an address.
enum class ArgKind : std::uint8_t { none, number, text };

// The first byte at or after p that is c or the terminating zero, which
// must lie before limit; bytes up to limit may be read. Defined here because
// the scan and the formatter run it for every piece of a text: it looks at
// eight bytes at a time while they all lie before limit.
inline const unsigned char *find_byte_or_zero(const unsigned char *p, const unsigned char *limit,
                                              unsigned char c) noexcept {
    constexpr std::uint64_t ones = 0x0101010101010101u;
    constexpr std::uint64_t lows = 0x7F7F7F7F7F7F7F7Fu;
    constexpr std::uint64_t highs = ones << 7;
    constexpr bool little = std::endian::native == std::endian::little;
    const std::uint64_t pattern = ones * c;
    // The high bit of a byte of zero_bytes(x) is set where x has a zero byte.
    // Little-endian, the borrow of the subtraction may flag bytes after the
    // first zero too, never one before it, and only the first is looked at;
    // big-endian, the borrow runs towards earlier bytes, so the flags must be
    // exact.
    const auto zero_bytes = [](std::uint64_t x) {
        if constexpr (little) {
            return (x - ones) & ~x & highs;
        } else {
            return ~(((x & lows) + lows) | x | lows);
        }
    };
    while (limit - p >= 8) {
        const std::uint64_t v = plat::load64(p);
        const std::uint64_t hit = zero_bytes(v ^ pattern) | zero_bytes(v);
        if (hit != 0) {
            if constexpr (little) {
                return p + (std::countr_zero(hit) >> 3);
            } else {
                return p + (std::countl_zero(hit) >> 3);
            }
        }
        p += 8;
    }
    while (*p != c && *p != 0) {
        ++p;
    }
    return p;
}

// n in signed decimal, digits from char_0 and a leading minus for a negative
// n, into s (room for 12 bytes) with a terminating zero. Returns the length.
std::size_t itoa_(std::int32_t n, unsigned char *s, unsigned char char_0, unsigned char minus) noexcept;

// Format the zero-terminated ctl_string, whose zero lies before limit (up to
// which bytes may be read), in the given encoding into buf as a Sink(buf,
// cap, skip) stores it (see output.h), taking position n's value from
// args[n - 1], of the kind kinds[n - 1] (9 elements each). Returns the length
// of the whole text after the skipped characters; buf is terminated when it
// has room. Reads nothing at or past limit and uses nothing after
// ctl_string's terminator; never reads args outside its 9 elements.
std::uint64_t ascii_ebcdic_sprintf(std::uint8_t encoding, char *buf, std::uint64_t cap, std::uint32_t skip,
                                   const unsigned char *ctl_string, const unsigned char *limit, const ARG_UNION *args,
                                   const ArgKind *kinds) noexcept;

}  // namespace kw::msg

#endif
