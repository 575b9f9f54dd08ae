// KW_RdcDecompress and KW_RdcDecompressBound: expanding an RDC stream
// (layout in rdc.h).
//
// Both run the same code over a capacity: the caller's for the bound twin
// (never more than the largest block), the largest block (65,535 bytes) for
// the original interface. Every item is
// checked before it is carried out: it must lie wholly in the stream, a copy
// must not reach before the start of the output, and the output must not
// pass the capacity. The first item that fails stops the expansion; the
// bytes written so far stay. A copy longer than its distance (never written
// by the compressor) repeats the last distance bytes, byte after byte.
//
// Neither loop branches on "literal or command" item by item, which no
// predictor can guess: a stretch of literals is found by counting bits and
// moved as one block. The fast loop reads a control word with its bit order
// reversed (item i at bit i), so that the lowest set bit is the next command
// and clearing it is all the work carried from one command to the next. The
// exact loop keeps the bits in a 32-bit word, the open group's items from bit
// 31 down and a marker bit below them: the leading zeros count the literals
// before the next command, and the word is the marker alone once the group is
// done.
//
// The fast loop works group by group while the stream holds the whole group
// and 64 bytes more and the capacity leaves room for any group of short
// items: there literals, short copies and short runs are moved 16 or 32 bytes
// at a time, without a test of their own. Such a move may store up to 29
// bytes past the item's end; in a stream that the compressor wrote, the 64
// stream bytes still to come expand to more than that, so the excess is
// always overwritten and nothing past the expansion is touched. Anything
// unusual (a long item near the end of the capacity, a copy that reaches too
// far back or past its own start) stops the fast loop before the item; the
// exact loop goes on from there, finishes the stream and writes every byte
// exactly once.
#include <bit>
#include <cstdint>
#include <cstring>

#include "kwutil.h"
#include "misc/rdc.h"

namespace kw::misc {
namespace {

using namespace rdc;

constexpr std::uint32_t kMarker = 1u << 15;           // below the 16 item bits
constexpr std::uint32_t kGroupDone = 1u << 31;        // the marker alone, at the top
constexpr std::uint32_t kCommand = 1u << 31;          // the next item is a command
constexpr std::ptrdiff_t kGroupInput = 2 + kGroupBytes;
constexpr std::ptrdiff_t kTrailInput = 64;            // stream kept beyond a fast group
constexpr std::int64_t kWideSlack = 32;               // the most a wide move stores past an item
constexpr std::int64_t kShortGroupOutput = 16 * kMaxShortRun;  // a group of short items at most

struct Expanded {
    std::uint32_t length;  // bytes written
    bool complete;         // the whole stream was expanded
};

inline void copy16(unsigned char *dst, const unsigned char *src) noexcept {
    unsigned char tmp[16];
    std::memcpy(tmp, src, 16);
    std::memcpy(dst, tmp, 16);
}

inline void fill32(unsigned char *dst, unsigned char value) noexcept {
    const std::uint64_t pattern = 0x0101010101010101ull * value;
    std::memcpy(dst, &pattern, 8);
    std::memcpy(dst + 8, &pattern, 8);
    std::memcpy(dst + 16, &pattern, 8);
    std::memcpy(dst + 24, &pattern, 8);
}

inline std::uint32_t copy_distance(const unsigned char *ip) noexcept {
    return ((ip[0] & 0x0Fu) | std::uint32_t{ip[1]} << 4) + kMinItem;
}

class Expander {
public:
    Expander(const unsigned char *in, std::uint32_t in_len, unsigned char *out, std::uint32_t capacity) noexcept
        : ip_(in), iend_(in + in_len), out_(out), op_(out), capacity_(capacity) {}

    Expanded run() noexcept {
        fast();
        return exact();
    }

private:
    std::int64_t room() const noexcept { return static_cast<std::int64_t>(capacity_) - (op_ - out_); }
    std::uint32_t written() const noexcept { return static_cast<std::uint32_t>(op_ - out_); }

    // Whole groups, as long as they are far from both ends; returns at an
    // item boundary with the state ready for exact(). The first 4,098 bytes
    // of output are made with a test that no copy reaches before the start;
    // after them no copy can.
    void fast() noexcept {
        if (bits_ == kGroupDone && groups<true>()) {
            groups<false>();
        }
    }

    // A group is walked command by command over its control word with the
    // bit order reversed (item i at bit i): the lowest set bit is the next
    // command, and clearing it is the only work carried from one command to
    // the next. kNearStart: stop at the first group that starts 4,098 bytes
    // or more into the output (returning true); else copies are not tested
    // against the start. Returns false when it stopped for good.
    template <bool kNearStart>
    bool groups() noexcept {
        // Locals: the stores through op could otherwise alias the members.
        const unsigned char *ip = ip_;
        const unsigned char *const iend = iend_;
        unsigned char *op = op_;
        unsigned char *const out = out_;
        const std::uint32_t capacity = capacity_;
        const auto room = [&]() { return static_cast<std::int64_t>(capacity) - (op - out); };
        std::uint32_t ctrl = 0;
        std::uint32_t next = 0;  // the group's next item
        bool go_on = false;
        for (;;) {
            if (iend - ip < kGroupInput + kTrailInput || room() < kShortGroupOutput + kWideSlack) {
                break;
            }
            if (kNearStart && op - out >= static_cast<std::ptrdiff_t>(kMaxDistance)) {
                go_on = true;
                break;
            }
            ctrl = std::uint32_t{ip[0]} << 8 | ip[1];
            std::uint32_t commands = std::uint32_t{kReverse8[ip[0]]} | std::uint32_t{kReverse8[ip[1]]} << 8;
            ip += 2;
            next = 0;
            while (commands != 0) {
                const auto at = static_cast<std::uint32_t>(std::countr_zero(commands));
                // Literals up to the command (perhaps none).
                copy16(op, ip);
                op += at - next;
                ip += at - next;
                next = at;
                const std::uint32_t head = ip[0];
                const std::uint32_t code = head >> 4;
                if (code > kCodeLongCopy) [[likely]] {
                    const std::uint32_t distance = copy_distance(ip);
                    if ((kNearStart && static_cast<std::ptrdiff_t>(distance) > op - out) || code > distance)
                        [[unlikely]] {
                        goto leave;
                    }
                    copy16(op, op - distance);
                    op += code;
                    ip += 2;
                } else if (code == kCodeLongCopy) {
                    const std::uint32_t distance = copy_distance(ip);
                    const std::uint32_t count = std::uint32_t{ip[2]} + kMaxShortCopy + 1;
                    if ((kNearStart && static_cast<std::ptrdiff_t>(distance) > op - out) || count > distance ||
                        room() < count + kShortGroupOutput + kWideSlack) {
                        goto leave;
                    }
                    const unsigned char *src = op - distance;
                    // Each block is read before it is written, and the bytes
                    // that matter lie before op (count <= distance).
                    for (std::uint32_t i = 0; i < count; i += 16) {
                        copy16(op + i, src + i);
                    }
                    op += count;
                    ip += 3;
                } else if (code == kCodeShortRun) {
                    fill32(op, ip[1]);
                    op += (head & 0x0Fu) + kMinItem;
                    ip += 2;
                } else {
                    const std::uint32_t count = ((head & 0x0Fu) | std::uint32_t{ip[1]} << 4) + kMaxShortRun + 1;
                    if (room() < count + kShortGroupOutput + kWideSlack) {
                        goto leave;
                    }
                    if (count <= 32) {
                        fill32(op, ip[2]);
                    } else {
                        std::memset(op, ip[2], count);
                    }
                    op += count;
                    ip += 3;
                }
                next = at + 1;
                commands &= commands - 1;
            }
            // The literals that end the group (perhaps none).
            copy16(op, ip);
            op += kGroupItems - next;
            ip += kGroupItems - next;
        }
        ip_ = ip;
        op_ = op;
        return go_on;
    leave:
        // Stopped before the command at item `next`: the exact loop goes on
        // from there, with the group's remaining bits.
        ip_ = ip;
        op_ = op;
        bits_ = (ctrl << 16 | kMarker) << next;
        return false;
    }

    // Item by item, every byte exact, to the end of the stream or the first
    // item that fails.
    Expanded exact() noexcept {
        const auto stop = [this]() { return Expanded{written(), false}; };
        for (;;) {
            if (bits_ == kGroupDone) {
                if (ip_ == iend_) {
                    break;
                }
                if (iend_ - ip_ < 2) {
                    return stop();  // control word cut off
                }
                bits_ = (std::uint32_t{ip_[0]} << 8 | ip_[1]) << 16 | kMarker;
                ip_ += 2;
            }
            if (ip_ == iend_) {
                break;  // the last group's unused bits
            }
            if ((bits_ & kCommand) == 0) {
                auto k = static_cast<std::uint32_t>(std::countl_zero(bits_));
                if (static_cast<std::ptrdiff_t>(k) > iend_ - ip_) {
                    k = static_cast<std::uint32_t>(iend_ - ip_);
                }
                if (k > room()) {
                    const auto fit = static_cast<std::size_t>(room());
                    if (fit != 0) {  // an empty output may be a null pointer
                        std::memcpy(op_, ip_, fit);
                        op_ += fit;
                    }
                    return stop();
                }
                std::memcpy(op_, ip_, k);
                op_ += k;
                ip_ += k;
                bits_ <<= k;
                continue;
            }
            const std::uint32_t head = ip_[0];
            const std::uint32_t code = head >> 4;
            const std::ptrdiff_t size = code == kCodeShortRun || code > kCodeLongCopy ? 2 : 3;
            if (iend_ - ip_ < size) {
                return stop();  // item cut off
            }
            if (code >= kCodeLongCopy) {
                const std::uint32_t distance = copy_distance(ip_);
                const std::uint32_t count = code == kCodeLongCopy ? std::uint32_t{ip_[2]} + kMaxShortCopy + 1 : code;
                if (static_cast<std::ptrdiff_t>(distance) > op_ - out_ || count > room()) {
                    return stop();
                }
                const unsigned char *src = op_ - distance;
                if (count <= distance) {
                    std::memcpy(op_, src, count);
                } else {
                    for (std::uint32_t i = 0; i < count; ++i) {
                        op_[i] = src[i];
                    }
                }
                op_ += count;
            } else {
                const std::uint32_t count = code == kCodeShortRun
                                                ? (head & 0x0Fu) + kMinItem
                                                : ((head & 0x0Fu) | std::uint32_t{ip_[1]} << 4) + kMaxShortRun + 1;
                if (count > room()) {
                    return stop();
                }
                std::memset(op_, ip_[size - 1], count);
                op_ += count;
            }
            ip_ += size;
            bits_ <<= 1;
        }
        return {written(), true};
    }

    const unsigned char *ip_;
    const unsigned char *const iend_;
    unsigned char *const out_;
    unsigned char *op_;
    const std::uint32_t capacity_;
    std::uint32_t bits_ = kGroupDone;  // no group open yet
};

}  // namespace
}  // namespace kw::misc

extern "C" KW_API uint16_t KW_RdcDecompress(const unsigned char *inbuff, uint16_t inbuff_len, unsigned char *outbuff) {
    kw::misc::Expander e(inbuff, inbuff_len, outbuff, kw::misc::rdc::kMaxBlock);
    return static_cast<uint16_t>(e.run().length);
}

extern "C" KW_API int32_t KW_RdcDecompressBound(const unsigned char *inbuff, uint16_t inbuff_len,
                                                unsigned char *outbuff, uint32_t outbuff_size) {
    // No stream expands past the largest block, whatever room it is given:
    // the two expanders must agree on every stream.
    const std::uint32_t capacity = outbuff_size < kw::misc::rdc::kMaxBlock ? outbuff_size : kw::misc::rdc::kMaxBlock;
    kw::misc::Expander e(inbuff, inbuff_len, outbuff, capacity);
    const kw::misc::Expanded r = e.run();
    return r.complete ? static_cast<int32_t>(r.length) : -1;
}
