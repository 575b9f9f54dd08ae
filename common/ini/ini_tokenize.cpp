// KW_ini_tokenize and KW_ini_value: the current key line's value, split at
// its commas or whole.
//
// With 16-bit characters the value is read two bytes at a time from the byte
// after the '=', while the first byte of a character lies before the line's
// terminating zero; the zero itself may be a character's second byte, never
// anything past it. A character of value 0 or the line end stops the scan.
#include <cstring>

#include "ini/ini_internal.h"

namespace kw::ini {
namespace {

// A blank (space or tab) as a character of the handle's width.
bool is_blank_char(const KW_INI_INTERNAL *x, const unsigned char *p) noexcept {
    const std::uint16_t c = char_at(x, p);
    return c == ' ' || c == '\t';
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

std::uint32_t check_key_line(const KW_INI_INTERNAL *x) noexcept {
    if (!is_open(x)) {
        return INI_ERR_HANDLE;
    }
    if (x->ix == x->numlines) {
        return INI_ERR_LINE;
    }
    return x->pRef[x->ix].type == INI_LINE_KEY ? INI_OK : INI_ERR_NOT_KEY;
}

std::uint32_t tokenize(const KW_INI_INTERNAL *x, unsigned char *pBuffer, unsigned char flags,
                       std::uint16_t *pNumTokens, std::uint16_t *pTotalSize) noexcept {
    if (std::uint32_t status = check_key_line(x); status != 0) {
        return status;
    }
    const unsigned char *p = value_start(x, x->ix);
    const std::size_t step = x->unicode_flag != 0 ? 2 : 1;
    UnitWriter out(pBuffer, (flags & 1) != 0, x->unicode_high_low != 0);
    std::uint16_t tokens = 0;
    if (!common_dialect(x)) {
        const unsigned char *const stop = x->pTxt + x->pRef[x->ix + 1].offs - 1;  // the line's zero
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
    } else {
        // Tokens without the blanks around them, up to the value's end.
        const unsigned char *const stop = value_end(x, x->ix, p);
        for (;;) {
            while (p < stop && is_blank_char(x, p)) {
                p += step;
            }
            const unsigned char *last = p;  // one past the token's last non-blank character
            const unsigned char *q = p;
            for (; q < stop; q += step) {
                const std::uint16_t c = char_at(x, q);
                if (c == 0 || c == x->comma) {
                    break;
                }
                if (c != ' ' && c != '\t') {
                    last = q + step;
                }
            }
            for (; p < last; p += step) {
                out.put(x->pTb[char_at(x, p) & 0xFF]);
            }
            if (q >= stop || char_at(x, q) != x->comma) {
                break;
            }
            out.put(0);
            ++tokens;
            p = q + step;
        }
    }
    out.put(0);
    ++tokens;
    *pNumTokens = tokens;
    *pTotalSize = out.units();
    return INI_OK;
}

std::uint32_t value(const KW_INI_INTERNAL *x, const unsigned char **ppValue, std::uint16_t *pLen) noexcept {
    if (std::uint32_t status = check_key_line(x); status != 0) {
        return status;
    }
    const unsigned char *start = value_start(x, x->ix);
    const unsigned char *end = value_end(x, x->ix, start);
    if (ppValue != nullptr) {
        *ppValue = start;
    }
    if (pLen != nullptr) {
        *pLen = static_cast<std::uint16_t>(end - start);
    }
    return INI_OK;
}

}  // namespace
}  // namespace kw::ini

extern "C" KW_API uint32_t KW_ini_tokenize(KW_INI_STRUC *pIni, unsigned char *pBuffer, unsigned char flags,
                                           uint16_t *pNumTokens, uint16_t *pTotalSize) {
    return kw::ini::tokenize(kw::ini::view(pIni), pBuffer, flags, pNumTokens, pTotalSize);
}

extern "C" KW_API uint32_t KW_ini_value(KW_INI_STRUC *pIni, const unsigned char **ppValue, uint16_t *pLen) {
    return kw::ini::value(kw::ini::view(pIni), ppValue, pLen);
}
