// KW_ini_tokenize: splitting the current key line's value at its commas.
//
// With 16-bit characters the value is read two bytes at a time from the byte
// after the '=', while the first byte of a character lies before the line's
// terminating zero; the zero itself may be a character's second byte, never
// anything past it. A character of value 0 or the line end stops the scan.
#include <cstring>

#include "ini/ini_internal.h"

namespace kw::ini {
namespace {

// The value of key line i: the byte after its first '='.
const unsigned char *value_of(const KW_INI_INTERNAL *x, std::uint16_t i) noexcept {
    const LINE_STRUC &e = x->pRef[i];
    const unsigned char *line = x->pTxt + e.offs;
    if (e.keylen < 255) {
        return line + e.keylen + 1;
    }
    // A key of 255 bytes or more does not fit keylen: find its '=' again.
    const auto len = static_cast<std::size_t>(x->pRef[i + 1].offs - e.offs);
    return static_cast<const unsigned char *>(std::memchr(line, x->equal & 0xFF, len)) + 1;
}

// Writes one output unit: a byte, or a byte beside a zero byte.
class UnitWriter {
public:
    UnitWriter(unsigned char *out, bool wide, bool zero_first) noexcept
        : out_(out), wide_(wide), zero_first_(zero_first) {}

    void put(unsigned char b) noexcept {
        if (!wide_) {
            *out_++ = b;
        } else if (zero_first_) {
            out_[0] = 0;
            out_[1] = b;
            out_ += 2;
        } else {
            out_[0] = b;
            out_[1] = 0;
            out_ += 2;
        }
        ++units_;
    }
    std::uint16_t units() const noexcept { return units_; }

private:
    unsigned char *out_;
    bool wide_;
    bool zero_first_;
    std::uint16_t units_ = 0;
};

std::uint32_t tokenize(const KW_INI_INTERNAL *x, unsigned char *pBuffer, unsigned char flags,
                       std::uint16_t *pNumTokens, std::uint16_t *pTotalSize) noexcept {
    if (!is_open(x)) {
        return INI_ERR_HANDLE;
    }
    if (x->ix == x->numlines) {
        return INI_ERR_LINE;
    }
    if (x->pRef[x->ix].type != INI_LINE_KEY) {
        return INI_ERR_NOT_KEY;
    }
    const unsigned char *p = value_of(x, x->ix);
    const unsigned char *const stop = x->pTxt + x->pRef[x->ix + 1].offs - 1;  // the line's zero
    const std::size_t step = x->unicode_flag != 0 ? 2 : 1;
    UnitWriter out(pBuffer, (flags & 1) != 0, x->unicode_high_low != 0);
    std::uint16_t tokens = 0;
    for (; p < stop; p += step) {
        const std::uint16_t c = char_at(x, p);
        if (c == 0 || c == x->endline) {
            break;
        }
        if (c == x->comma) {
            out.put(0);
            ++tokens;
        } else {
            out.put(x->pTb[c & 0xFF]);
        }
    }
    out.put(0);
    ++tokens;
    *pNumTokens = tokens;
    *pTotalSize = out.units();
    return INI_OK;
}

}  // namespace
}  // namespace kw::ini

extern "C" KW_API uint32_t KW_ini_tokenize(KW_INI_STRUC *pIni, unsigned char *pBuffer, unsigned char flags,
                                           uint16_t *pNumTokens, uint16_t *pTotalSize) {
    return kw::ini::tokenize(kw::ini::view(pIni), pBuffer, flags, pNumTokens, pTotalSize);
}
