// Checks shared by the INI fuzz targets: a plain reading of the line rules,
// and the invariants that must hold between the engine's private text, its
// line table and the published current line after every call.
#ifndef KW_FUZZ_INI_CHECK_H
#define KW_FUZZ_INI_CHECK_H

#include <cstring>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "ini/ini_internal.h"

namespace kwfuzz {

struct Classified {
    std::uint32_t status;  // 0, 26 or 27
    std::uint8_t type;
    std::uint8_t keylen;
};

// The line rules, written out as plainly as possible. line is the stored
// line without its zero; unicode is the open's UnicodeFlag.
inline Classified classify(const unsigned char *line, std::size_t len, std::uint8_t unicode) {
    if (len == 0) {
        return {INI_ERR_LINE, 0, 0};
    }
    const unsigned b0 = line[0];
    const unsigned b1 = len > 1 ? line[1] : 0u;  // may be the zero
    unsigned first = b0;
    if (unicode == KW_INI_UTF16_BE) {
        first = static_cast<unsigned>(b0) << 8 | b1;
    } else if (unicode != 0) {
        first = b1 << 8 | b0;
    }
    if (first == ' ') {
        return {INI_ERR_LEADING_SPACE, 0, 0};
    }
    if (first == ';' || first == '\n') {
        return {0, INI_LINE_COMMENT, 0};
    }
    if (first == '[' || first == '<') {
        const unsigned char close = first == '[' ? ']' : '>';
        return std::memchr(line, close, len) == nullptr ? Classified{INI_ERR_LINE, 0, 0}
                                                        : Classified{0, INI_LINE_SECTION, 0};
    }
    const void *eq = std::memchr(line, '=', len);
    if (eq == nullptr) {
        return {INI_ERR_LINE, 0, 0};
    }
    const auto at = static_cast<std::size_t>(static_cast<const unsigned char *>(eq) - line);
    return {0, INI_LINE_KEY, static_cast<std::uint8_t>(at < 255 ? at : 255)};
}

inline Classified classify(const std::string &line, std::uint8_t unicode) {
    return classify(reinterpret_cast<const unsigned char *>(line.data()), line.size(), unicode);
}

// Do the record's lines equal these, in order?
inline bool same_lines(KW_INI_STRUC &ini, const std::vector<std::string> &lines) {
    const KW_INI_INTERNAL *x = kw::ini::view(&ini);
    if (x->numlines != lines.size()) {
        return false;
    }
    for (std::uint16_t i = 0; i < x->numlines; ++i) {
        const std::size_t len = x->pRef[i + 1].offs - x->pRef[i].offs - 1u;
        if (len != lines[i].size() || std::memcmp(x->pTxt + x->pRef[i].offs, lines[i].data(), len) != 0) {
            return false;
        }
    }
    return true;
}

// The stored lines of an open record, each without its zero.
inline std::vector<std::string> stored_lines(KW_INI_STRUC &ini) {
    const KW_INI_INTERNAL *x = kw::ini::view(&ini);
    std::vector<std::string> lines;
    for (std::uint16_t i = 0; i < x->numlines; ++i) {
        lines.emplace_back(reinterpret_cast<const char *>(x->pTxt + x->pRef[i].offs));
    }
    return lines;
}

// Everything that must agree in an open record. unicode is the open's flag.
inline void check_record(KW_INI_STRUC &ini, std::uint8_t unicode) {
    const KW_INI_INTERNAL *x = kw::ini::view(&ini);
    FUZZ_CHECK(x->signature == kw::ini::kSignature);
    FUZZ_CHECK(x->numlines <= KW_INI_MAX_LINES);
    FUZZ_CHECK(x->ix <= x->numlines);
    FUZZ_CHECK(x->remain <= x->txtsize);
    const std::uint16_t used = kw::ini::used(x);
    FUZZ_CHECK(x->pRef[0].offs == 0);
    FUZZ_CHECK(x->pRef[x->numlines].offs == used);
    FUZZ_CHECK(x->pRef[x->numlines].type == INI_LINE_NONE);
    if ((x->owned & kw::ini::kOwnsText) == 0) {
        FUZZ_CHECK(x->pTxt == x->pBuf && x->txtsize == x->bufsize);
    } else {
        // The engine's block is zero past the text.
        static const unsigned char zeros[0x10000] = {};
        FUZZ_CHECK(std::memcmp(x->pTxt + used, zeros, static_cast<std::size_t>(x->txtsize - used)) == 0);
    }
    for (std::uint16_t i = 0; i < x->numlines; ++i) {
        const std::uint16_t at = x->pRef[i].offs;
        const std::uint16_t next = x->pRef[i + 1].offs;
        FUZZ_CHECK(at < next && next <= used);
        // Every line ends with its zero inside the text buffer, and holds no other.
        FUZZ_CHECK(x->pTxt[next - 1] == 0);
        FUZZ_CHECK(std::memchr(x->pTxt + at, 0, next - 1u - at) == nullptr);
        const Classified c = classify(x->pTxt + at, next - 1u - at, unicode);
        FUZZ_CHECK(c.status == 0);
        FUZZ_CHECK(c.type == x->pRef[i].type);
        if (c.type == INI_LINE_KEY) {
            FUZZ_CHECK(c.keylen == x->pRef[i].keylen);
        }
    }
    // The published current line is the table's line ix.
    const LINE_STRUC &cur = x->pRef[x->ix];
    FUZZ_CHECK(ini.linenum == x->ix + 1);
    FUZZ_CHECK(ini.linetype == cur.type);
    FUZZ_CHECK(ini.__ == 0);
    if (x->ix < x->numlines) {
        FUZZ_CHECK(ini.pLine == x->pTxt + cur.offs);
        if (cur.type == INI_LINE_KEY) {
            const void *eq = std::memchr(ini.pLine, '=', x->pRef[x->ix + 1].offs - cur.offs);
            FUZZ_CHECK(eq != nullptr && ini.pValue == static_cast<const unsigned char *>(eq) + 1);
        } else {
            FUZZ_CHECK(ini.pValue == nullptr);
        }
    } else {
        FUZZ_CHECK(ini.linetype == INI_LINE_NONE && ini.pValue == nullptr);
    }
}

}  // namespace kwfuzz

#endif
