// The encoding-aware formatter of message texts, ascii_ebcdic_sprintf, the
// bounded output it writes to, and the argument values it reads.
#ifndef KW_MSG_FORMATTER_H
#define KW_MSG_FORMATTER_H

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace kw::msg {

// One argument value: a 32-bit number, or the address of a zero-terminated
// text (as wide as the host's addresses).
union ARG_UNION {
    std::int32_t _long;
    const unsigned char *_ptr;
};

inline constexpr std::size_t kMaxArgs = 9;  // positions 1 to 9

// Which member of an ARG_UNION holds a value. The formatter reads _ptr only
// from a text and _long only from a number; anything else reads as the empty
// text or 0, so a catalog whose specifiers disagree about one position can
// never make it follow a number as an address.
enum class ArgKind : std::uint8_t { none, number, text };

// The characters that the formatter recognises or generates, in one
// encoding. Digits and the letters A to F are contiguous in both encodings,
// so 0, 9 and A stand for them all.
struct Literals {
    unsigned char percent, exclamation, dot, minus, plus, char_0, char_9, space;
    unsigned char lower_l, lower_c, lower_s, lower_d, lower_o, lower_u, lower_x, upper_x, upper_a;
};

inline constexpr Literals kAsciiLiterals{0x25, 0x21, 0x2E, 0x2D, 0x2B, 0x30, 0x39, 0x20, 0x6C,
                                         0x63, 0x73, 0x64, 0x6F, 0x75, 0x78, 0x58, 0x41};
inline constexpr Literals kEbcdicLiterals{0x6C, 0x5A, 0x4B, 0x60, 0x4E, 0xF0, 0xF9, 0x40, 0x93,
                                          0x83, 0xA2, 0x84, 0x96, 0xA4, 0xA7, 0xE7, 0xC1};

// Only encoding 2 is EBCDIC; every other value is ASCII.
inline const Literals &literals_for(std::uint8_t encoding) noexcept {
    return encoding == 2 ? kEbcdicLiterals : kAsciiLiterals;
}

// Where formatted text goes: a buffer of cap bytes (terminator included),
// into which the text goes without its first `skip` characters. Characters
// beyond the buffer are counted but not stored, so the count is always the
// length of the whole text. cap kUnbounded means the buffer is known to be
// large enough; a null buf stores nothing whatever cap says.
class Sink {
public:
    static constexpr std::uint64_t kUnbounded = ~std::uint64_t{0};

    Sink(char *buf, std::uint64_t cap, std::uint32_t skip) noexcept
        : buf_(reinterpret_cast<unsigned char *>(buf)), skip_(skip) {
        if (buf == nullptr || cap == 0) {
            room_ = 0;
            lim_ = 0;  // nothing is ever stored
            has_buf_ = false;
        } else {
            room_ = cap - 1;
            lim_ = cap == kUnbounded ? kUnbounded : skip_ + room_;
            has_buf_ = true;
        }
    }

    void put(const unsigned char *p, std::size_t n) noexcept {
        const std::uint64_t start = pos_;
        pos_ += n;
        if (start >= lim_ || pos_ <= skip_) {
            return;
        }
        const std::uint64_t b = start > skip_ ? start : skip_;
        const std::uint64_t e = pos_ < lim_ ? pos_ : lim_;
        std::memcpy(buf_ + (b - skip_), p + (b - start), static_cast<std::size_t>(e - b));
    }

    void fill(unsigned char c, std::uint64_t n) noexcept {
        const std::uint64_t start = pos_;
        pos_ += n;
        if (start >= lim_ || pos_ <= skip_) {
            return;
        }
        const std::uint64_t b = start > skip_ ? start : skip_;
        const std::uint64_t e = pos_ < lim_ ? pos_ : lim_;
        std::memset(buf_ + (b - skip_), c, static_cast<std::size_t>(e - b));
    }

    // Characters produced so far, dropped ones included.
    std::uint64_t produced() const noexcept { return pos_; }

    // Terminate the stored text and return the length of the whole text
    // after the dropped characters.
    std::uint64_t finish() noexcept {
        const std::uint64_t len = pos_ > skip_ ? pos_ - skip_ : 0;
        if (has_buf_) {
            buf_[len < room_ ? len : room_] = 0;
        }
        return len;
    }

private:
    unsigned char *buf_;
    std::uint64_t pos_ = 0;
    std::uint64_t skip_;
    std::uint64_t room_;  // characters that may be stored, terminator excluded
    std::uint64_t lim_;   // produced-character index at which storing stops
    bool has_buf_;
};

// Format the zero-terminated ctl_string in the given encoding into out,
// taking position n's value from args[n - 1], of the kind kinds[n - 1] (9
// elements each). Never reads ctl_string past its terminator nor args
// outside its 9 elements.
void ascii_ebcdic_sprintf(std::uint8_t encoding, Sink &out, const unsigned char *ctl_string,
                          const ARG_UNION *args, const ArgKind *kinds) noexcept;

}  // namespace kw::msg

#endif
