// RDC block compression: the stream layout and the helpers that the
// compressor and the expander share.
//
// A stream is a sequence of groups. A group is a 16-bit control word, most
// significant byte first, followed by up to 16 items; bit 15 describes the
// first item, bit 14 the second, and so on. A 0 bit is a literal item (one
// byte, copied as is), a 1 bit a command item of 2 or 3 bytes whose first
// byte's high nibble is the command code:
//
//   code 0      short run   2 bytes  c-3 in the low nibble; the byte
//   code 1      long run    3 bytes  c-19: low nibble, then the rest >> 4; the byte
//   code 2      long copy   3 bytes  d-3: low nibble, then the rest >> 4; c-16
//   code 3..15  short copy  2 bytes  c is the code; d-3: low nibble, then >> 4
//
// with runs of 3..18 and 19..4,114 bytes, copies of 3..15 and 16..271 bytes
// from 3..4,098 bytes back in the output. Only the last group may hold fewer
// than 16 items; its unused control bits are 0. The stream carries no length
// and no mark of its own: a block that does not compress is handed back
// verbatim, and telling the two apart is the caller's business.
#ifndef KW_MISC_RDC_H
#define KW_MISC_RDC_H

#include <bit>
#include <cstdint>
#include <cstring>

namespace kw::misc::rdc {

inline constexpr std::uint32_t kMinItem = 3;         // shortest run or copy
inline constexpr std::uint32_t kMaxShortRun = 18;
inline constexpr std::uint32_t kMaxRun = 4114;       // 19 + 0xFFF
inline constexpr std::uint32_t kMaxShortCopy = 15;
inline constexpr std::uint32_t kMaxCopy = 271;       // 16 + 0xFF
inline constexpr std::uint32_t kMaxDistance = 4098;  // 3 + 0xFFF
inline constexpr std::uint32_t kGroupItems = 16;
inline constexpr std::uint32_t kHashSlots = 4096;
inline constexpr std::uint32_t kStoredMax = 18;      // inputs up to this long are copied
inline constexpr std::uint32_t kGroupBytes = 48;     // the most one group of items takes
inline constexpr std::uint32_t kMaxBlock = 65535;

inline constexpr std::uint32_t kCodeShortRun = 0;
inline constexpr std::uint32_t kCodeLongRun = 1;
inline constexpr std::uint32_t kCodeLongCopy = 2;

// Unaligned loads in little-endian order, whatever the host's order.
inline std::uint32_t load32(const unsigned char *p) noexcept {
    std::uint32_t v;
    std::memcpy(&v, p, sizeof v);
    if constexpr (std::endian::native == std::endian::big) {
        v = __builtin_bswap32(v);
    }
    return v;
}

inline std::uint64_t load64(const unsigned char *p) noexcept {
    std::uint64_t v;
    std::memcpy(&v, p, sizeof v);
    if constexpr (std::endian::native == std::endian::big) {
        v = __builtin_bswap64(v);
    }
    return v;
}

// Number of equal bytes at the start of two little-endian words that differ.
inline std::uint32_t equal_prefix(std::uint64_t diff) noexcept {
    return static_cast<std::uint32_t>(std::countr_zero(diff)) / 8;
}

// Number of equal leading bytes of a and b, up to max (both inside the input).
inline std::uint32_t match_length(const unsigned char *a, const unsigned char *b, std::uint32_t max) noexcept {
    std::uint32_t n = 0;
    for (; n + 8 <= max; n += 8) {
        const std::uint64_t diff = load64(a + n) ^ load64(b + n);
        if (diff != 0) {
            return n + equal_prefix(diff);
        }
    }
    while (n < max && a[n] == b[n]) {
        ++n;
    }
    return n;
}

}  // namespace kw::misc::rdc

#endif
