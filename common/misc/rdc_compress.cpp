// KW_RdcCompress: the greedy parse that writes an RDC stream (layout in rdc.h).
//
// At each position the compressor takes the first acceptable item, with no
// look-ahead: a run of 3 or more equal bytes, else a copy of 3 or more bytes
// from the one earlier position remembered for the position's hash slot,
// else a literal. The slot number mixes the next three bytes b0 b1 b2 as
//
//   ((b0 & 0x0F) << 8 | b1)  XOR  (b0 >> 4 | b2 << 4),  taken & 0x0FFF,
//
// and the slot is overwritten with the current position every time it is
// read, so only the latest position of each slot is ever tried. Positions
// inside a run or a copy are never entered. Because slots collide, a copy is
// compared from its first byte on; it may not reach into the bytes being
// coded (count <= distance), so the source always lies in output already
// produced.
//
// The output must never outgrow the input: once a group is complete, the next
// group may start only if it can end within the input's length (a group of 16
// items takes at most 48 bytes); otherwise the input is copied out verbatim.
//
// The exact bytes are fixed by the parse, so speed comes from doing the same
// decisions with less work: a 32-bit load gives the run test and the hash,
// a candidate is rejected on one masked compare, and runs and matches are
// measured eight bytes at a time. Loads never pass the end of the input.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "kwutil.h"
#include "misc/rdc.h"

namespace kw::misc {
namespace {

using namespace rdc;

// The hash table lives in the caller's work area of pointer-sized entries;
// 16-bit positions take a quarter of it and clear four times faster. An
// empty slot holds a value above every hashed position (those stay below
// 65,533), so its distance is always out of range.
#if defined(__GNUC__) || defined(__clang__)
typedef std::uint16_t __attribute__((may_alias)) slot_t;
#else
typedef std::uint16_t slot_t;
#endif
constexpr unsigned char kEmptyByte = 0xFF;

inline std::uint32_t slot_of(std::uint32_t w) noexcept {
    const std::uint32_t b0 = w & 0xFFu;
    const std::uint32_t b1 = (w >> 8) & 0xFFu;
    const std::uint32_t b2 = (w >> 16) & 0xFFu;
    return (((b0 & 0x0Fu) << 8 | b1) ^ (b0 >> 4 | b2 << 4)) & 0x0FFFu;
}

// Length of the run at s, whose first three bytes are known to be equal,
// up to max bytes (max >= 3; s[0 .. max) lies inside the input).
inline std::uint32_t run_length(const unsigned char *s, std::uint32_t max) noexcept {
    const std::uint64_t pattern = 0x0101010101010101ull * s[0];
    std::uint32_t n = kMinItem;
    for (; n + 8 <= max; n += 8) {
        const std::uint64_t diff = load64(s + n) ^ pattern;
        if (diff != 0) {
            return n + equal_prefix(diff);
        }
    }
    while (n < max && s[n] == s[0]) {
        ++n;
    }
    return n;
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

inline unsigned char lo(std::uint32_t v) noexcept { return static_cast<unsigned char>(v & 0xFFu); }

// Compress n (19 .. 65,535) bytes; the table must hold kHashSlots slots.
std::uint16_t compress_block(const unsigned char *in, std::uint32_t n, unsigned char *out, slot_t *table) noexcept {
    std::memset(table, kEmptyByte, kHashSlots * sizeof(slot_t));
    // A group may start only while its control word ends at or below n - 48.
    const std::int64_t group_limit = static_cast<std::int64_t>(n) - kGroupBytes;

    std::uint32_t p = 0;         // the anchor: next input byte to code
    std::uint32_t o = 2;         // bytes of output, the reserved control word included
    std::uint32_t ctrl_pos = 0;  // where the current group's control word goes
    std::uint32_t bits = 0;      // control bits of the current group, first item highest
    std::uint32_t items = 0;     // items in the current group

    while (p < n) {
        if (items == kGroupItems) {
            out[ctrl_pos] = lo(bits >> 8);
            out[ctrl_pos + 1] = lo(bits);
            ctrl_pos = o;
            o += 2;
            bits = 0;
            items = 0;
            if (static_cast<std::int64_t>(o) > group_limit) {
                std::memcpy(out, in, n);
                return static_cast<std::uint16_t>(n);
            }
        }
        ++items;
        const std::uint32_t remain = n - p;
        if (remain >= kMinItem) {
            const std::uint32_t w = remain >= 4 ? load32(in + p)
                                                : (std::uint32_t{in[p]} | std::uint32_t{in[p + 1]} << 8 |
                                                   std::uint32_t{in[p + 2]} << 16);
            // Run test: b0 == b1 and b1 == b2.
            if (((w ^ (w >> 8)) & 0xFFFFu) == 0) {
                const std::uint32_t count = run_length(in + p, remain < kMaxRun ? remain : kMaxRun);
                const unsigned char b = in[p];
                if (count <= kMaxShortRun) {
                    out[o] = lo(count - kMinItem);
                    out[o + 1] = b;
                    o += 2;
                } else {
                    const std::uint32_t c = count - (kMaxShortRun + 1);
                    out[o] = lo(kCodeLongRun << 4 | (c & 0x0Fu));
                    out[o + 1] = lo(c >> 4);
                    out[o + 2] = b;
                    o += 3;
                }
                bits = bits << 1 | 1u;
                p += count;
                continue;
            }
            const std::uint32_t slot = slot_of(w);
            const std::uint32_t q = table[slot];
            table[slot] = static_cast<slot_t>(p);
            // Wraps to a huge value for an empty slot (q above p).
            const std::uint32_t distance = p - q;
            // A copy may not reach p, so a distance below 3 never yields one.
            // q <= p - 1 <= n - 4: four bytes at q are inside the input.
            if (distance - kMinItem <= kMaxDistance - kMinItem && ((load32(in + q) ^ w) & 0xFFFFFFu) == 0) {
                std::uint32_t max = remain < kMaxCopy ? remain : kMaxCopy;
                max = distance < max ? distance : max;
                const std::uint32_t count =
                    kMinItem + match_length(in + q + kMinItem, in + p + kMinItem, max - kMinItem);
                const std::uint32_t d = distance - kMinItem;
                if (count <= kMaxShortCopy) {
                    out[o] = lo(count << 4 | (d & 0x0Fu));
                    out[o + 1] = lo(d >> 4);
                    o += 2;
                } else {
                    out[o] = lo(kCodeLongCopy << 4 | (d & 0x0Fu));
                    out[o + 1] = lo(d >> 4);
                    out[o + 2] = lo(count - (kMaxShortCopy + 1));
                    o += 3;
                }
                bits = bits << 1 | 1u;
                p += count;
                continue;
            }
        }
        out[o++] = in[p++];
        bits <<= 1;
    }
    bits <<= kGroupItems - items;
    out[ctrl_pos] = lo(bits >> 8);
    out[ctrl_pos + 1] = lo(bits);
    return static_cast<std::uint16_t>(o);
}

}  // namespace
}  // namespace kw::misc

extern "C" KW_API uint16_t KW_RdcCompress(const unsigned char *inbuff, uint16_t inbuff_len, unsigned char *outbuff,
                                          void *work_buff) {
    using namespace kw::misc;
    if (inbuff_len <= rdc::kStoredMax) {
        if (inbuff_len != 0) {
            std::memcpy(outbuff, inbuff, inbuff_len);
        }
        return inbuff_len;
    }
    void *area = work_buff;
    if (area == nullptr) {
        area = std::malloc(rdc::kHashSlots * sizeof(void *));
        if (area == nullptr) {
            return 0;
        }
    }
    const std::uint16_t written = compress_block(inbuff, inbuff_len, outbuff, static_cast<slot_t *>(area));
    if (work_buff == nullptr) {
        std::free(area);
    }
    return written;
}
