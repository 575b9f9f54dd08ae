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
// The exact bytes are fixed by the parse, so speed comes from making the same
// decisions with less work: one 64-bit load gives the run test, the hash and
// the first bytes of a copy; the slot itself tells whether the candidate's
// first three bytes agree (see slot_t), so the literal-or-copy decision is
// one branch on one table load; the first 16 bytes of a copy are measured
// without a branch, and runs and longer copies eight bytes at a time; a copy
// is written without branching on its size. Loads never pass the end of the
// input, and nothing is written past the stream's own length.
#include <bit>
#include <cstdint>
#include <cstring>

#include "kwutil.h"
#include "misc/rdc.h"
#include "platform/compiler.h"

namespace kw::misc {
namespace {

using namespace rdc;

// The hash table lives in the caller's work area of 4,096 pointer-sized
// entries, as 4,096 32-bit slots (which fit it on every host). A slot holds
// the position in its low 16 bits and, above them, the first two bytes found
// there. Within one slot the first two bytes decide the third (the slot
// number gives b2 from b0 and b1), so comparing the stored pair with the
// current one is the three-byte test, made without loading the candidate's
// bytes: the test and the distance come from the one table load. An empty
// slot is all ones: its position 0xFFFF lies above every hashed position
// (those stay below 65,533), so its distance is always out of range.
typedef std::uint32_t KW_MAY_ALIAS slot_t;
constexpr unsigned char kEmptyByte = 0xFF;

// The slot of the bytes b0 b1 b2 held in the low 24 bits of w (any bits
// above them are masked out): ((b0 & 0x0F) << 8 | b1) is the low 16 bits of
// w with their two bytes swapped, b2 << 4 is (w >> 12) & 0xFF0, b0 >> 4 is
// (w >> 4) & 0x0F.
inline std::uint32_t slot_of(std::uint32_t w) noexcept {
    const std::uint32_t swapped = std::rotl(static_cast<std::uint16_t>(w), 8);
    return (swapped ^ ((w >> 12) & 0x0FF0u) ^ ((w >> 4) & 0x0Fu)) & 0x0FFFu;
}

// Length of the run at s, whose first three bytes are known to be equal,
// up to max bytes (max >= 3; s[0 .. max) lies inside the input).
inline std::uint32_t run_length(const unsigned char *s, std::uint32_t max) noexcept {
    const std::uint64_t pattern = 0x0101010101010101ull * s[0];
    std::uint32_t n = kMinItem;
    for (; n + 8 <= max; n += 8) {
        const std::uint64_t diff = load_le64(s + n) ^ pattern;
        if (diff != 0) {
            return n + equal_prefix(diff);
        }
    }
    while (n < max && s[n] == s[0]) {
        ++n;
    }
    return n;
}

inline unsigned char lo(std::uint32_t v) noexcept { return static_cast<unsigned char>(v & 0xFFu); }

// The compressor's running state. The control bits carry a marker bit above
// the group's items: it starts at bit 0 and reaches bit 16 when the group
// holds 16 items, which saves keeping a count.
struct Coder {
    const unsigned char *const in;
    unsigned char *const out;
    const std::int64_t group_limit;  // a new group's control word must end at or below this
    unsigned char *op;               // end of the output
    unsigned char *ctrl;             // the current group's control word
    std::uint32_t bits;              // marker, then one bit per item, first item highest
};

constexpr std::uint32_t kMarker = 1;
constexpr std::uint32_t kGroupFull = kMarker << kGroupItems;

inline void put_control(unsigned char *at, std::uint32_t bits) noexcept {
    at[0] = lo(bits >> 8);
    at[1] = lo(bits);
}

// Close a full group and open the next. False: the next group could end past
// the input's length, so the input must be stored instead.
inline bool next_group(Coder &c) noexcept {
    put_control(c.ctrl, c.bits);  // the marker sits at bit 16, out of the word
    c.ctrl = c.op;
    c.op += 2;
    c.bits = kMarker;
    return c.op - c.out <= c.group_limit;
}

inline void put_run(Coder &c, std::uint32_t count, unsigned char b) noexcept {
    if (count <= kMaxShortRun) {
        c.op[0] = lo(count - kMinItem);
        c.op[1] = b;
        c.op += 2;
    } else {
        const std::uint32_t k = count - (kMaxShortRun + 1);
        c.op[0] = lo(kCodeLongRun << 4 | (k & 0x0Fu));
        c.op[1] = lo(k >> 4);
        c.op[2] = b;
        c.op += 3;
    }
    c.bits = c.bits << 1 | 1u;
}

// A short or a long copy, written without a branch on which: the third byte
// goes to op[2] for a long copy and harmlessly repeats op[1] for a short one.
inline void put_copy(Coder &c, std::uint32_t count, std::uint32_t distance) noexcept {
    const std::uint32_t d = distance - kMinItem;
    const std::uint32_t is_long = count > kMaxShortCopy ? 1u : 0u;
    const std::uint32_t code = is_long != 0 ? kCodeLongCopy : count;
    c.op[0] = lo(code << 4 | (d & 0x0Fu));
    c.op[1] = lo(d >> 4);
    c.op[1 + is_long] = is_long != 0 ? lo(count - (kMaxShortCopy + 1)) : lo(d >> 4);
    c.op += 2 + is_long;
    c.bits = c.bits << 1 | 1u;
}

// Code one item at position p, with at least 3 of the n input bytes left.
// kWide: at least 16 bytes are left, and v holds the first 8; otherwise v
// holds the first three (and the fourth, when there is one, above them).
// Returns the number of input bytes the item covers.
template <bool kWide>
KW_FORCE_INLINE std::uint32_t code_item(Coder &c, slot_t *table, std::uint32_t p, std::uint32_t n,
                                       std::uint64_t v) noexcept {
    const unsigned char *const in = c.in;
    const auto w = static_cast<std::uint32_t>(v);
    // Run test: b0 == b1 and b1 == b2.
    if (((w ^ (w >> 8)) & 0xFFFFu) == 0) [[unlikely]] {
        const std::uint32_t remain = n - p;
        const std::uint32_t count = run_length(in + p, remain < kMaxRun ? remain : kMaxRun);
        put_run(c, count, lo(w));
        return count;
    }
    const std::uint32_t slot = slot_of(w);
    const std::uint32_t entry = w << 16 | p;
    const std::uint32_t old = table[slot];
    table[slot] = entry;
    // An empty slot's distance wraps to a huge value. A copy may not reach p,
    // so a distance below 3 never yields one. One test, one branch: the
    // stored pair equals the current one and the distance is 3 to 4,098.
    const std::uint32_t distance = p - (old & 0xFFFFu);
    if ((((old ^ entry) >> 16) | ((distance - kMinItem) >> 12)) == 0) {
        const std::uint32_t ref = p - distance;
        const std::uint64_t diff = (kWide ? load_le64(in + ref) : load_le32(in + ref)) ^ v;
        const std::uint32_t remain = n - p;
        std::uint32_t max = remain < kMaxCopy ? remain : kMaxCopy;
        max = distance < max ? distance : max;
        std::uint32_t count;
        if constexpr (kWide) {
            // The first 16 bytes without a branch: 8 from the loads already
            // made, 8 more whether or not they are needed.
            const std::uint64_t diff2 = load_le64(in + ref + 8) ^ load_le64(in + p + 8);
            const auto head = static_cast<std::uint32_t>(std::countr_zero(diff)) / 8;
            const auto tail = static_cast<std::uint32_t>(std::countr_zero(diff2)) / 8;
            count = head < 8 ? head : 8 + tail;
            if (count == 16 && max > 16) {
                count += match_length(in + ref + 16, in + p + 16, max - 16);
            }
            count = count < max ? count : max;
        } else {
            count = kMinItem + match_length(in + ref + kMinItem, in + p + kMinItem, max - kMinItem);
        }
        put_copy(c, count, distance);
        return count;
    }
    *c.op++ = lo(w);
    c.bits <<= 1;
    return 1;
}

// Compress n (19 .. 65,535) bytes; the table must hold kHashSlots slots.
std::uint16_t compress_block(const unsigned char *in, std::uint32_t n, unsigned char *out, slot_t *table) noexcept {
    std::memset(table, kEmptyByte, kHashSlots * sizeof(slot_t));
    Coder c{in, out, static_cast<std::int64_t>(n) - kGroupBytes, out + 2, out, kMarker};
    std::uint32_t p = 0;

    // While 16 bytes remain, one load gives the run test, the hash and the
    // first eight bytes of a copy.
    while (p + 16 <= n) {
        if (c.bits >= kGroupFull && !next_group(c)) [[unlikely]] {
            std::memcpy(out, in, n);
            return static_cast<std::uint16_t>(n);
        }
        p += code_item<true>(c, table, p, n, load_le64(in + p));
    }
    // The last 15 bytes or fewer.
    while (p < n) {
        if (c.bits >= kGroupFull && !next_group(c)) {
            std::memcpy(out, in, n);
            return static_cast<std::uint16_t>(n);
        }
        if (n - p >= 4) {
            p += code_item<false>(c, table, p, n, load_le32(in + p));
        } else if (n - p == kMinItem) {
            p += code_item<false>(c, table, p, n,
                                  std::uint32_t{in[p]} | std::uint32_t{in[p + 1]} << 8 | std::uint32_t{in[p + 2]} << 16);
        } else {
            *c.op++ = in[p++];
            c.bits <<= 1;
        }
    }
    // Align the last group's bits to bit 15: the marker tells how many there are.
    const auto items = static_cast<std::uint32_t>(std::bit_width(c.bits)) - 1;
    put_control(c.ctrl, (c.bits ^ (kMarker << items)) << (kGroupItems - items));
    return static_cast<std::uint16_t>(c.op - out);
}

}  // namespace
}  // namespace kw::misc

extern "C" KW_API uint16_t KW_RdcCompress(const unsigned char *inbuff, uint16_t inbuff_len, unsigned char *outbuff,
                                          void *work_buff) {
    using namespace kw::misc;
    return rdc::compress_entry(inbuff, inbuff_len, outbuff, work_buff, [&](void *area) {
        return compress_block(inbuff, inbuff_len, outbuff, static_cast<slot_t *>(area));
    });
}
