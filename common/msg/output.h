// Where formatted text goes: a buffer known to be large enough (RawOut), or
// a bounded one that drops leading characters and counts what does not fit
// (Sink).
#ifndef KW_MSG_OUTPUT_H
#define KW_MSG_OUTPUT_H

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace kw::msg {

// Copy n bytes, sizeof(Word) <= n <= 2 * sizeof(Word), as two words that
// overlap in the middle: both loads and stores stay inside the ranges.
template <class Word>
inline void copy_two_words(unsigned char *to, const unsigned char *p, std::size_t n) noexcept {
    Word a;
    Word b;
    std::memcpy(&a, p, sizeof a);
    std::memcpy(&b, p + n - sizeof b, sizeof b);
    std::memcpy(to, &a, sizeof a);
    std::memcpy(to + n - sizeof b, &b, sizeof b);
}

// Copy n bytes between ranges that do not overlap. Short copies are the
// common case: a few loads and stores that stay inside both ranges instead of
// a call.
inline void copy_bytes(unsigned char *to, const unsigned char *p, std::size_t n) noexcept {
    if (n > 16) {
        std::memcpy(to, p, n);
    } else if (n >= 8) {
        copy_two_words<std::uint64_t>(to, p, n);
    } else if (n >= 4) {
        copy_two_words<std::uint32_t>(to, p, n);
    } else {
        for (std::size_t i = 0; i < n; ++i) {
            to[i] = p[i];
        }
    }
}

// A buffer the caller vouches for: nothing to count or check but the
// position.
struct RawOut {
    unsigned char *cur;

    void put(const unsigned char *p, std::size_t n) noexcept {
        copy_bytes(cur, p, n);
        cur += n;
    }
    void fill(unsigned char c, std::uint64_t n) noexcept {
        std::memset(cur, c, static_cast<std::size_t>(n));
        cur += n;
    }
};

// A buffer of cap bytes (terminator included), into which the text goes
// without its first `skip` characters. Characters beyond the buffer are
// counted but not stored, so the count is always the length of the whole
// text. cap kUnbounded means the buffer is known to be large enough; a null
// buf stores nothing whatever cap says.
class Sink {
public:
    static constexpr std::uint64_t kUnbounded = ~std::uint64_t{0};

    Sink(char *buf, std::uint64_t cap, std::uint32_t skip) noexcept
        : cur_(reinterpret_cast<unsigned char *>(buf)),
          room_(buf == nullptr || cap == 0 ? 0 : cap == kUnbounded ? kUnbounded : cap - 1),
          skip_(skip),
          has_buf_(buf != nullptr && cap != 0) {}

    void put(const unsigned char *p, std::size_t n) noexcept {
        if (skip_ != 0) {
            const std::size_t drop = n < skip_ ? n : static_cast<std::size_t>(skip_);
            skip_ -= drop;
            p += drop;
            n -= drop;
        }
        len_ += n;
        const std::size_t k = n <= room_ ? n : static_cast<std::size_t>(room_);
        if (k != 0) {
            copy_bytes(cur_, p, k);
            cur_ += k;
            room_ -= k;
        }
    }

    void fill(unsigned char c, std::uint64_t n) noexcept {
        if (skip_ != 0) {
            const std::uint64_t drop = n < skip_ ? n : skip_;
            skip_ -= drop;
            n -= drop;
        }
        len_ += n;
        const std::uint64_t k = n <= room_ ? n : room_;
        if (k != 0) {
            std::memset(cur_, c, static_cast<std::size_t>(k));
            cur_ += k;
            room_ -= k;
        }
    }

    // Terminate the stored text and return the length of the whole text
    // after the dropped characters.
    std::uint64_t finish() noexcept {
        if (has_buf_) {
            *cur_ = 0;
        }
        return len_;
    }

private:
    unsigned char *cur_;     // where the next stored character goes
    std::uint64_t room_;     // characters that may still be stored, terminator excluded
    std::uint64_t skip_;     // leading characters still to drop
    std::uint64_t len_ = 0;  // characters produced after the dropped ones
    bool has_buf_;
};

}  // namespace kw::msg

#endif
