// KW_RdcDecompress and KW_RdcDecompressBound: expanding an RDC stream
// (layout in rdc.h).
//
// Both run the same loop over a capacity: the caller's for the bound twin,
// the largest block (65,535 bytes) for the original interface. Every item is
// checked before it is carried out: it must lie wholly in the stream, a copy
// must not reach before the start of the output, and the output must not
// pass the capacity. The first item that fails stops the expansion; the
// bytes written so far stay. A copy longer than its distance (never written
// by the compressor) repeats the last distance bytes, byte after byte.
//
// Speed: a group's literal items are found together by counting the leading
// zero bits of its control word and moved in one block, and runs and copies
// are written 16 bytes at a time. Those wide moves may store up to 15 bytes
// past the item's end, so they are used only while at least 64 bytes of
// stream remain (the items still to come then expand to more than 32 bytes
// and overwrite the excess) and only while the whole wide move fits the
// capacity; nearer either end every byte is written exactly.
#include <bit>
#include <cstdint>
#include <cstring>

#include "kwutil.h"
#include "misc/rdc.h"

namespace kw::misc {
namespace {

using namespace rdc;

constexpr std::ptrdiff_t kWideInput = 64;  // stream bytes left for wide moves
constexpr std::size_t kWide = 16;

struct Expanded {
    std::uint32_t length;  // bytes written
    bool complete;         // the whole stream was expanded
};

inline void copy16(unsigned char *dst, const unsigned char *src) noexcept {
    unsigned char tmp[kWide];
    std::memcpy(tmp, src, kWide);
    std::memcpy(dst, tmp, kWide);
}

inline void fill16(unsigned char *dst, std::uint64_t pattern) noexcept {
    std::memcpy(dst, &pattern, 8);
    std::memcpy(dst + 8, &pattern, 8);
}

Expanded expand(const unsigned char *in, std::uint32_t in_len, unsigned char *out, std::uint32_t capacity) noexcept {
    const unsigned char *ip = in;
    const unsigned char *const iend = in + in_len;
    unsigned char *op = out;
    // Room left in the output, kept as a count: the original interface's
    // capacity may exceed the caller's real buffer.
    const auto room_left = [&]() { return static_cast<std::int64_t>(capacity) - (op - out); };
    const auto stop = [&]() { return Expanded{static_cast<std::uint32_t>(op - out), false}; };

    while (ip < iend) {
        if (iend - ip < 2) {
            return stop();  // control word cut off
        }
        // The group's control bits at the top of a 32-bit word, first item highest.
        std::uint32_t bits = (std::uint32_t{ip[0]} << 8 | ip[1]) << 16;
        ip += 2;
        std::uint32_t left = kGroupItems;
        while (left != 0 && ip < iend) {
            if ((bits & 0x80000000u) == 0) {
                // A stretch of literal items, at most to the end of the group or stream.
                std::uint32_t k = bits == 0 ? left : static_cast<std::uint32_t>(std::countl_zero(bits));
                if (static_cast<std::ptrdiff_t>(k) > iend - ip) {
                    k = static_cast<std::uint32_t>(iend - ip);
                }
                const std::int64_t room = room_left();
                if (iend - ip >= kWideInput && room >= static_cast<std::int64_t>(kWide)) {
                    copy16(op, ip);
                } else {
                    if (static_cast<std::int64_t>(k) > room) {
                        std::memcpy(op, ip, static_cast<std::size_t>(room));
                        op += room;
                        return stop();
                    }
                    std::memcpy(op, ip, k);
                }
                ip += k;
                op += k;
                bits <<= k;  // k <= 16: the word keeps its top bits defined
                left -= k;
                continue;
            }
            bits <<= 1;
            --left;

            const std::uint32_t head = ip[0];
            const std::uint32_t code = head >> 4;
            const std::uint32_t low = head & 0x0Fu;
            const std::ptrdiff_t avail = iend - ip;
            const bool wide_input = avail >= kWideInput;
            const std::int64_t room = room_left();

            if (code >= kCodeLongCopy) {
                std::uint32_t count = code;
                std::ptrdiff_t size = 2;
                if (code == kCodeLongCopy) {
                    size = 3;
                    if (avail < 3) {
                        return stop();  // item cut off
                    }
                    count = std::uint32_t{ip[2]} + kMaxShortCopy + 1;
                } else if (avail < 2) {
                    return stop();
                }
                const std::uint32_t distance = (low | std::uint32_t{ip[1]} << 4) + kMinItem;
                if (static_cast<std::ptrdiff_t>(distance) > op - out || static_cast<std::int64_t>(count) > room) {
                    return stop();
                }
                ip += size;
                const unsigned char *src = op - distance;
                if (count <= distance) {
                    if (wide_input && room >= static_cast<std::int64_t>(count + kWide)) {
                        // Each 16-byte block is read before it is written, and the
                        // bytes that matter lie before op (count <= distance).
                        std::size_t i = 0;
                        do {
                            copy16(op + i, src + i);
                            i += kWide;
                        } while (i < count);
                    } else {
                        std::memcpy(op, src, count);
                    }
                } else {
                    for (std::uint32_t i = 0; i < count; ++i) {
                        op[i] = src[i];
                    }
                }
                op += count;
            } else {
                std::uint32_t count;
                unsigned char value;
                if (code == kCodeShortRun) {
                    if (avail < 2) {
                        return stop();
                    }
                    count = low + kMinItem;
                    value = ip[1];
                    ip += 2;
                } else {
                    if (avail < 3) {
                        return stop();  // item cut off
                    }
                    count = (low | std::uint32_t{ip[1]} << 4) + kMaxShortRun + 1;
                    value = ip[2];
                    ip += 3;
                }
                if (static_cast<std::int64_t>(count) > room) {
                    return stop();
                }
                if (count <= 2 * kWide && wide_input && room >= static_cast<std::int64_t>(2 * kWide)) {
                    const std::uint64_t pattern = 0x0101010101010101ull * value;
                    fill16(op, pattern);
                    fill16(op + kWide, pattern);
                } else {
                    std::memset(op, value, count);
                }
                op += count;
            }
        }
    }
    return {static_cast<std::uint32_t>(op - out), true};
}

}  // namespace
}  // namespace kw::misc

extern "C" KW_API uint16_t KW_RdcDecompress(const unsigned char *inbuff, uint16_t inbuff_len, unsigned char *outbuff) {
    return static_cast<uint16_t>(kw::misc::expand(inbuff, inbuff_len, outbuff, kw::misc::rdc::kMaxBlock).length);
}

extern "C" KW_API int32_t KW_RdcDecompressBound(const unsigned char *inbuff, uint16_t inbuff_len,
                                                unsigned char *outbuff, uint32_t outbuff_size) {
    const kw::misc::Expanded r = kw::misc::expand(inbuff, inbuff_len, outbuff, outbuff_size);
    return r.complete ? static_cast<int32_t>(r.length) : -1;
}
