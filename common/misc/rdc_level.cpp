// KW_RdcCompressLevel: RDC streams (layout in rdc.h) found by a harder search
// than the one-slot greedy parse of KW_RdcCompress, which level 1 still is.
//
// The format prices every item by its length class alone, never by its
// distance: a literal costs 9 bits (its byte and its control bit), a short
// run or copy 17, a long one 25. So the search needs, at each position, only
// the longest copy that any earlier position offers (any shorter one from
// the same place is as valid, and a copy's count may not pass its distance)
// and the run there.
//
// Search state, 16,384 bytes whatever the pointer width, so that a level
// gives the same bytes on every host: 4,096 chain heads and a ring of 4,096
// links, both 16-bit positions. The ring slot of position q is q mod 4,096,
// so a link is sound while q is at most 4,096 behind the position searched;
// the candidates 4,097 and 4,098 back are still tried when a sound link
// leads to them, only not followed further. Every position that has three
// bytes is entered, also inside runs and copies.
//
// Levels 2 and 3 parse greedily, 4 to 8 lazily (a literal is written when the
// next position offers a better item), each with a deeper chain walk; level 9
// finds the cheapest parse of each stretch of 1,024 positions by dynamic
// programming over the bit costs, with a long item taken as it comes and,
// inside a long copy, the copy's tail standing for a fresh search (the walk
// is nearly all of its time; deeper walks bought under 0.1% of size).
//
// The stream is written into the caller's buffer under a check that it stays
// within the input's length; past it, the input is stored instead.
#include <bit>
#include <cstdint>
#include <cstring>

#include "kwutil.h"
#include "misc/rdc.h"

namespace kw::misc {
namespace {

using namespace rdc;

constexpr std::uint32_t kRing = 4096;
constexpr std::uint32_t kHashBits = 12;
constexpr std::uint16_t kNone = 0xFFFF;  // no position: hashed ones stay below 65,533
constexpr std::uint32_t kLinkReach = kRing;  // a link is sound this far back

struct SearchState {
    std::uint16_t head[kHashSlots];
    std::uint16_t link[kRing];
};
static_assert(sizeof(SearchState) <= 16384, "the search state must fit the smallest work area");

struct Level {
    std::uint32_t depth;  // candidates tried per position
    std::uint32_t nice;   // a copy or run this long is taken at once
    bool lazy;
};

// Indexed by level 2 .. 9.
constexpr Level kLevels[] = {
    {4, 32, false},  {16, 64, false},   {16, 64, true},     {32, 128, true},
    {64, 271, true}, {256, 271, true},  {1024, 271, true},  {128, 96, false},
};

inline std::uint32_t hash3(const unsigned char *s) noexcept {
    const std::uint32_t v = std::uint32_t{s[0]} | std::uint32_t{s[1]} << 8 | std::uint32_t{s[2]} << 16;
    return (v * 2654435761u) >> (32 - kHashBits);
}

// An item choice: len 0 for none, dist 0 for a run, else a copy's distance.
struct Choice {
    std::uint32_t len = 0;
    std::uint32_t dist = 0;
};

inline std::uint32_t item_bits(std::uint32_t len, bool run) noexcept {
    return len <= (run ? kMaxShortRun : kMaxShortCopy) ? 17 : 25;
}

// Bits saved against writing the same bytes as literals.
inline std::int32_t saving(const Choice &c) noexcept {
    if (c.len < kMinItem) {
        return 0;
    }
    return static_cast<std::int32_t>(9 * c.len) - static_cast<std::int32_t>(item_bits(c.len, c.dist == 0));
}

class Finder {
public:
    Finder(const unsigned char *in, std::uint32_t n, SearchState *st, const Level &lv) noexcept
        : in_(in), n_(n), st_(st), depth_(lv.depth), nice_(lv.nice) {
        std::memset(st_->head, 0xFF, sizeof st_->head);
    }

    // Enter every position before p that has three bytes.
    void enter_upto(std::uint32_t p) noexcept {
        const std::uint32_t last = n_ - 2;  // positions below it have three bytes
        const std::uint32_t to = p < last ? p : last;
        for (; entered_ < to; ++entered_) {
            const std::uint32_t h = hash3(in_ + entered_);
            st_->link[entered_ % kRing] = st_->head[h];
            st_->head[h] = static_cast<std::uint16_t>(entered_);
        }
    }

    std::uint32_t run_at(std::uint32_t p) const noexcept {
        const std::uint32_t remain = n_ - p;
        const std::uint32_t max = remain < kMaxRun ? remain : kMaxRun;
        if (max < kMinItem || in_[p + 1] != in_[p] || in_[p + 2] != in_[p]) {
            return 0;
        }
        std::uint32_t k = kMinItem;
        while (k < max && in_[p + k] == in_[p]) {
            ++k;
        }
        return k;
    }

    // The longest copy for p (whose predecessors must all have been entered).
    Choice copy_at(std::uint32_t p) const noexcept {
        Choice best;
        const std::uint32_t remain = n_ - p;
        if (remain < kMinItem) {
            return best;
        }
        const std::uint32_t top = remain < kMaxCopy ? remain : kMaxCopy;
        std::uint32_t q = st_->head[hash3(in_ + p)];
        for (std::uint32_t tries = depth_; tries != 0 && q != kNone && q < p; --tries) {
            const std::uint32_t dist = p - q;
            if (dist > kMaxDistance) {
                break;
            }
            if (dist >= kMinItem) {
                const std::uint32_t max = dist < top ? dist : top;
                // Only a candidate that beats the best so far is measured.
                if (max > best.len && in_[q + best.len] == in_[p + best.len]) {
                    const std::uint32_t len = match_length(in_ + q, in_ + p, max);
                    if (len > best.len) {
                        best = {len, dist};
                        if (len == top || len >= nice_) {
                            break;  // the parse takes it as it is
                        }
                    }
                }
            }
            if (dist > kLinkReach) {
                break;
            }
            q = st_->link[q % kRing];
        }
        if (best.len < kMinItem) {
            best = {};
        }
        return best;
    }

    Choice best_at(std::uint32_t p) noexcept {
        enter_upto(p);
        const std::uint32_t run = run_at(p);
        const Choice copy = copy_at(p);
        const Choice as_run{run, 0};
        return saving(as_run) >= saving(copy) && run >= kMinItem ? as_run : copy;
    }

private:
    const unsigned char *const in_;
    const std::uint32_t n_;
    SearchState *const st_;
    const std::uint32_t depth_;
    const std::uint32_t nice_;
    std::uint32_t entered_ = 0;
};

// The stream under construction; it never writes past n bytes of out.
class Writer {
public:
    Writer(unsigned char *out, std::uint32_t n) noexcept : out_(out), end_(out + n), op_(out + 2), ctrl_(out) {}

    bool failed() const noexcept { return failed_; }

    void literal(unsigned char b) noexcept {
        if (!open(1)) {
            return;
        }
        *op_++ = b;
        bits_ <<= 1;
    }

    void run(std::uint32_t count, unsigned char b) noexcept {
        if (count <= kMaxShortRun) {
            if (!open(2)) {
                return;
            }
            op_[0] = static_cast<unsigned char>(count - kMinItem);
            op_[1] = b;
            op_ += 2;
        } else {
            if (!open(3)) {
                return;
            }
            const std::uint32_t k = count - (kMaxShortRun + 1);
            op_[0] = static_cast<unsigned char>(kCodeLongRun << 4 | (k & 0x0Fu));
            op_[1] = static_cast<unsigned char>(k >> 4);
            op_[2] = b;
            op_ += 3;
        }
        bits_ = bits_ << 1 | 1u;
    }

    void copy(std::uint32_t count, std::uint32_t dist) noexcept {
        const std::uint32_t d = dist - kMinItem;
        if (count <= kMaxShortCopy) {
            if (!open(2)) {
                return;
            }
            op_[0] = static_cast<unsigned char>(count << 4 | (d & 0x0Fu));
            op_[1] = static_cast<unsigned char>(d >> 4);
            op_ += 2;
        } else {
            if (!open(3)) {
                return;
            }
            op_[0] = static_cast<unsigned char>(kCodeLongCopy << 4 | (d & 0x0Fu));
            op_[1] = static_cast<unsigned char>(d >> 4);
            op_[2] = static_cast<unsigned char>(count - (kMaxShortCopy + 1));
            op_ += 3;
        }
        bits_ = bits_ << 1 | 1u;
    }

    // Close the last group; the stream's length.
    std::uint32_t finish() noexcept {
        const auto items = static_cast<std::uint32_t>(std::bit_width(bits_)) - 1;
        put_control((bits_ ^ (1u << items)) << (kGroupItems - items));
        return static_cast<std::uint32_t>(op_ - out_);
    }

private:
    void put_control(std::uint32_t bits) noexcept {
        ctrl_[0] = static_cast<unsigned char>((bits >> 8) & 0xFFu);
        ctrl_[1] = static_cast<unsigned char>(bits & 0xFFu);
    }

    // Room for an item of size bytes, after a new control word if the group
    // is full. False once the stream would pass the input's length.
    bool open(std::ptrdiff_t size) noexcept {
        if (failed_) {
            return false;
        }
        if (bits_ >= 1u << kGroupItems) {
            if (end_ - op_ < 2) {
                failed_ = true;
                return false;
            }
            put_control(bits_);
            ctrl_ = op_;
            op_ += 2;
            bits_ = 1;
        }
        if (end_ - op_ < size) {
            failed_ = true;
            return false;
        }
        return true;
    }

    unsigned char *const out_;
    unsigned char *const end_;
    unsigned char *op_;
    unsigned char *ctrl_;
    std::uint32_t bits_ = 1;  // a marker bit above the group's item bits
    bool failed_ = false;
};

void put_choice(Writer &w, const unsigned char *in, std::uint32_t p, const Choice &c) noexcept {
    if (c.len < kMinItem) {
        w.literal(in[p]);
    } else if (c.dist == 0) {
        w.run(c.len, in[p]);
    } else {
        w.copy(c.len, c.dist);
    }
}

// Levels 2 to 8: greedy, or lazy by one position.
void parse_greedy(const unsigned char *in, std::uint32_t n, Finder &f, Writer &w, const Level &lv) noexcept {
    std::uint32_t p = 0;
    Choice here = f.best_at(0);
    while (p < n && !w.failed()) {
        if (here.len < kMinItem) {
            w.literal(in[p]);
            ++p;
            here = p < n ? f.best_at(p) : Choice{};
            continue;
        }
        if (lv.lazy && here.len < lv.nice && p + 1 < n) {
            const Choice next = f.best_at(p + 1);
            if (saving(next) > saving(here)) {
                w.literal(in[p]);
                ++p;
                here = next;
                continue;
            }
        }
        put_choice(w, in, p, here);
        p += here.len;
        here = p < n ? f.best_at(p) : Choice{};
    }
}

// Level 9: the cheapest parse of each stretch, in bits.
constexpr std::uint32_t kStretch = 1024;
constexpr std::uint32_t kUnreached = 0xFFFFFFFFu;
constexpr std::uint32_t kReuse = 32;

struct Node {
    std::uint32_t price;  // bits to reach this position from the stretch's start
    std::uint16_t len;    // the item that reaches it (then: the item that starts here)
    std::uint16_t dist;   // 0 run or literal (len 1), else copy distance
};

void parse_optimal(const unsigned char *in, std::uint32_t n, Finder &f, Writer &w, const Level &lv) noexcept {
    Node node[kStretch + 1];
    std::uint32_t s = 0;
    while (s < n && !w.failed()) {
        const std::uint32_t span = n - s < kStretch ? n - s : kStretch;
        for (std::uint32_t j = 1; j <= span; ++j) {
            node[j].price = kUnreached;
        }
        node[0] = {0, 0, 0};
        std::uint32_t stop = span;  // where the stretch ends
        Choice last;                // the copy found at the previous position
        Choice taken;               // a long item that ends it early
        for (std::uint32_t j = 0; j < span; ++j) {
            const std::uint32_t i = s + j;
            const std::uint32_t price = node[j].price;
            if (price + 9 < node[j + 1].price) {
                node[j + 1] = {price + 9, 1, 0};
            }
            f.enter_upto(i);
            // Inside a long copy its tail is as good as a fresh search.
            const Choice c = last.len > kReuse ? Choice{last.len - 1, last.dist} : f.copy_at(i);
            last = c;
            const std::uint32_t run = f.run_at(i);
            if ((c.len >= lv.nice || run >= lv.nice) && j > 0) {
                stop = j;
                taken = run >= c.len ? Choice{run, 0} : c;
                break;
            }
            if (j == 0 && (c.len >= lv.nice || run >= lv.nice)) {
                // Nothing before it to weigh: the stretch is this item.
                taken = run >= c.len ? Choice{run, 0} : c;
                stop = 0;
                break;
            }
            const std::uint32_t room = span - j;
            const std::uint32_t copy_max = c.len < room ? c.len : room;
            for (std::uint32_t len = kMinItem; len <= copy_max; ++len) {
                const std::uint32_t cost = price + item_bits(len, false);
                if (cost < node[j + len].price) {
                    node[j + len] = {cost, static_cast<std::uint16_t>(len), static_cast<std::uint16_t>(c.dist)};
                }
            }
            const std::uint32_t run_max = run < room ? run : room;
            for (std::uint32_t len = kMinItem; len <= run_max; ++len) {
                const std::uint32_t cost = price + item_bits(len, true);
                if (cost < node[j + len].price) {
                    node[j + len] = {cost, static_cast<std::uint16_t>(len), 0};
                }
            }
        }
        // Turn the chain of "reached by" into "starts here", then write it.
        if (stop > 0) {
            std::uint32_t at = stop;
            std::uint16_t len = node[at].len;
            std::uint16_t dist = node[at].dist;
            for (;;) {
                const std::uint32_t from = at - len;
                const std::uint16_t nlen = node[from].len;
                const std::uint16_t ndist = node[from].dist;
                node[from].len = len;
                node[from].dist = dist;
                if (from == 0) {
                    break;
                }
                at = from;
                len = nlen;
                dist = ndist;
            }
            for (std::uint32_t j = 0; j < stop;) {
                const Choice c{node[j].len, node[j].dist};
                put_choice(w, in, s + j, c.len == 1 ? Choice{} : c);
                j += node[j].len;
            }
        }
        s += stop;
        if (taken.len >= kMinItem) {
            put_choice(w, in, s, taken);
            s += taken.len;
        }
    }
}

std::uint16_t compress_level(const unsigned char *in, std::uint32_t n, unsigned char *out, SearchState *st,
                             int level) noexcept {
    const Level &lv = kLevels[level - 2];
    Finder f(in, n, st, lv);
    Writer w(out, n);
    if (level == 9) {
        parse_optimal(in, n, f, w, lv);
    } else {
        parse_greedy(in, n, f, w, lv);
    }
    if (w.failed()) {
        std::memcpy(out, in, n);
        return static_cast<std::uint16_t>(n);
    }
    return static_cast<std::uint16_t>(w.finish());
}

}  // namespace
}  // namespace kw::misc

extern "C" KW_API uint16_t KW_RdcCompressLevel(const unsigned char *inbuff, uint16_t inbuff_len, unsigned char *outbuff,
                                               void *work_buff, int level) {
    using namespace kw::misc;
    if (level <= 1) {
        return KW_RdcCompress(inbuff, inbuff_len, outbuff, work_buff);
    }
    const int searched = level < 9 ? level : 9;
    return rdc::compress_entry(inbuff, inbuff_len, outbuff, work_buff, [&](void *area) {
        return compress_level(inbuff, inbuff_len, outbuff, static_cast<SearchState *>(area), searched);
    });
}
