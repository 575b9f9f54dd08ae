// Line classification and publishing of the current line.
#include <cstring>

#include "ini/ini_internal.h"

namespace kw::ini {

std::uint32_t analyze_line(const KW_INI_INTERNAL *pX, const unsigned char *pTxtline, std::size_t len,
                           std::uint8_t *pLinetype, std::uint8_t *pKeylen) noexcept {
    // A zero-length line holds no '=' and no bracket: it is malformed. Checked
    // first so that a 16-bit read never reaches past its terminator.
    if (len == 0) {
        return INI_ERR_LINE;
    }
    const std::uint16_t first = char_at(pX, pTxtline);
    if (first == pX->space) {
        return INI_ERR_LEADING_SPACE;
    }
    if (first == pX->semicolon || first == pX->endline) {
        *pLinetype = INI_LINE_COMMENT;
        return INI_OK;
    }
    if (first == pX->open_square_bracket || first == pX->open_angle_bracket) {
        // A "[section]" or "<section>" line: only the closing bracket is
        // looked for; text after it is allowed.
        const std::uint16_t close =
            first == pX->open_square_bracket ? pX->close_square_bracket : pX->close_angle_bracket;
        if (std::memchr(pTxtline, code_byte(close), len) == nullptr) {
            return INI_ERR_LINE;
        }
        *pLinetype = INI_LINE_SECTION;
        return INI_OK;
    }
    // A "key=value" line: any other first character, as long as an '=' follows.
    const void *eq = std::memchr(pTxtline, code_byte(pX->equal), len);
    if (eq == nullptr) {
        return INI_ERR_LINE;
    }
    if (pKeylen != nullptr) {
        *pKeylen = saturated_keylen(static_cast<std::size_t>(static_cast<const unsigned char *>(eq) - pTxtline));
    }
    *pLinetype = INI_LINE_KEY;
    return INI_OK;
}

void set_current(KW_INI_INTERNAL *pX) noexcept {
    const LINE_STRUC &e = pX->pRef[pX->ix];
    pX->linenum = static_cast<std::uint16_t>(pX->ix + 1);
    pX->linetype = e.type;
    pX->__ = 0;
    pX->pLine = pX->pTxt + e.offs;
    pX->pValue = e.type == INI_LINE_KEY ? const_cast<unsigned char *>(value_start(pX, pX->ix)) : nullptr;
}

const unsigned char *value_start(const KW_INI_INTERNAL *x, std::uint16_t i) noexcept {
    const LINE_STRUC &e = x->pRef[i];
    const unsigned char *const line = x->pTxt + e.offs;
    const unsigned char *const stop = x->pTxt + x->pRef[i + 1].offs - 1;  // the line's zero
    const unsigned char *p;
    if (e.keylen < 255) {
        p = line + e.keylen + 1;
    } else {
        // A key of 255 bytes or more does not fit keylen: find its '=' again.
        p = static_cast<const unsigned char *>(std::memchr(line, code_byte(x->equal), static_cast<std::size_t>(stop - line))) + 1;
    }
    if (common_dialect(x)) {
        while (p < stop && is_blank(*p)) {
            ++p;
        }
    }
    return p;
}

const unsigned char *value_end(const KW_INI_INTERNAL *x, std::uint16_t i, const unsigned char *start) noexcept {
    const unsigned char *end = x->pTxt + x->pRef[i + 1].offs - 1;
    const bool common = common_dialect(x);
    if (end > start && end[-1] == code_byte(x->endline)) {
        --end;
        if (common && end > start && end[-1] == '\r') {
            --end;
        }
    }
    if (common) {
        while (end > start && is_blank(end[-1])) {
            --end;
        }
    }
    return end;
}

}  // namespace kw::ini
