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

#include <array>
#include <bit>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "platform/bytes.h"

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

// Words are read in little-endian order whatever the host's: the parse and
// the match measure take the byte at the lowest address as the lowest.
using plat::load_le32;
using plat::load_le64;

// Bit reversal of a byte: a control word read lowest bit first has item i
// at bit i, so the next command is its lowest set bit.
inline constexpr std::array<unsigned char, 256> kReverse8 = [] {
    std::array<unsigned char, 256> t{};
    for (unsigned v = 0; v < 256; ++v) {
        unsigned r = 0;
        for (unsigned b = 0; b < 8; ++b) {
            r |= ((v >> b) & 1u) << (7 - b);
        }
        t[v] = static_cast<unsigned char>(r);
    }
    return t;
}();

// Number of equal bytes at the start of two little-endian words that differ.
inline std::uint32_t equal_prefix(std::uint64_t diff) noexcept {
    return static_cast<std::uint32_t>(std::countr_zero(diff)) / 8;
}

// Number of equal leading bytes of a and b, up to max (both inside the input).
inline std::uint32_t match_length(const unsigned char *a, const unsigned char *b, std::uint32_t max) noexcept {
    std::uint32_t n = 0;
    for (; n + 8 <= max; n += 8) {
        const std::uint64_t diff = load_le64(a + n) ^ load_le64(b + n);
        if (diff != 0) {
            return n + equal_prefix(diff);
        }
    }
    while (n < max && a[n] == b[n]) {
        ++n;
    }
    return n;
}

// The entry that both compressors share: an input of up to 18 bytes is
// copied as it is and needs no work area; otherwise compress(area) runs on
// the caller's work area, or on one of 4,096 pointer-sized entries from
// malloc that is freed afterwards (0 when malloc refuses it).
template <class Compress>
inline std::uint16_t compress_entry(const unsigned char *in, std::uint16_t n, unsigned char *out, void *work,
                                    Compress &&compress) noexcept {
    if (n <= kStoredMax) {
        if (n != 0) {
            std::memcpy(out, in, n);
        }
        return n;
    }
    void *area = work != nullptr ? work : std::malloc(kHashSlots * sizeof(void *));
    if (area == nullptr) {
        return 0;
    }
    const std::uint16_t written = compress(area);
    if (work == nullptr) {
        std::free(area);
    }
    return written;
}

}  // namespace kw::misc::rdc

#endif
