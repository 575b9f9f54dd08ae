// KW_ini_next, KW_ini_goto and KW_ini_find: moving the current line.
//
// The search compares names where they lie in the text buffer, folding case
// byte by byte, so neither patterns nor lines are copied or cut to a fixed
// length.
#include <cstring>

#include "ini/ini_internal.h"
#include "misc/wildcard.h"
#include "platform/text.h"

namespace kw::ini {
namespace {

bool name_matches(const unsigned char *name, std::size_t len, const unsigned char *pattern, std::size_t plen) noexcept {
    return misc::wildcard_match(name, len, pattern, plen, plat::fold);
}

std::size_t line_length(const KW_INI_INTERNAL *x, std::uint16_t i) noexcept {
    return static_cast<std::size_t>(x->pRef[i + 1].offs - x->pRef[i].offs - 1);
}

enum class Step { pass, found, not_found };

// A "[section]" or "<section>" line met while looking for the section.
Step section_line(const unsigned char *line, std::size_t len, const unsigned char *sect, std::size_t sectlen,
                  bool key_given, bool *foundsect) noexcept {
    const unsigned char close = line[0] == '[' ? ']' : '>';
    const void *cut = std::memchr(line, close, len);
    if (cut == nullptr) {
        return Step::not_found;  // cannot be classified so; stop where it stands
    }
    const auto cutpos = static_cast<std::size_t>(static_cast<const unsigned char *>(cut) - line);
    const std::size_t namelen = cutpos > 0 ? cutpos - 1 : 0;
    if (!name_matches(line + 1, namelen, sect, sectlen)) {
        return Step::pass;
    }
    *foundsect = true;
    return key_given ? Step::pass : Step::found;
}

// A "key=value" line inside the wanted section.
Step key_line(const unsigned char *line, std::size_t len, const unsigned char *key, std::size_t keylen) noexcept {
    const void *eq = std::memchr(line, '=', len);
    if (eq == nullptr) {
        return Step::not_found;
    }
    const auto namelen = static_cast<std::size_t>(static_cast<const unsigned char *>(eq) - line);
    return name_matches(line, namelen, key, keylen) ? Step::found : Step::pass;
}

}  // namespace
}  // namespace kw::ini

using namespace kw::ini;

extern "C" KW_API uint32_t KW_ini_next(KW_INI_STRUC *pIni) {
    KW_INI_INTERNAL *x = view(pIni);
    if (!is_open(x)) {
        return INI_ERR_HANDLE;
    }
    if (x->ix < x->numlines) {
        ++x->ix;
        set_current(x);
    }
    return INI_OK;
}

extern "C" KW_API uint32_t KW_ini_goto(KW_INI_STRUC *pIni, uint16_t nth_line) {
    KW_INI_INTERNAL *x = view(pIni);
    if (!is_open(x)) {
        return INI_ERR_HANDLE;
    }
    if (nth_line == 0 || nth_line > x->numlines) {
        return INI_ERR_LINE;
    }
    x->ix = static_cast<std::uint16_t>(nth_line - 1);
    set_current(x);
    return INI_OK;
}

extern "C" KW_API uint32_t KW_ini_find(KW_INI_STRUC *pIni, const unsigned char *Section, const unsigned char *Key,
                                       unsigned char *pFound) {
    KW_INI_INTERNAL *x = view(pIni);
    if (!is_open(x)) {
        return INI_ERR_HANDLE;
    }
    if (Section == nullptr && Key == nullptr) {
        return INI_ERR_NO_NAME;
    }
    *pFound = 0;
    const std::size_t sectlen = Section != nullptr ? std::strlen(reinterpret_cast<const char *>(Section)) : 0;
    const std::size_t keylen = Key != nullptr ? std::strlen(reinterpret_cast<const char *>(Key)) : 0;
    bool foundsect = Section == nullptr;

    for (; x->ix < x->numlines; ++x->ix) {
        const LINE_STRUC &e = x->pRef[x->ix];
        const unsigned char *line = x->pTxt + e.offs;
        Step step = Step::pass;
        if (e.type == INI_LINE_SECTION) {
            // Inside the wanted section, the next header ends it.
            step = foundsect ? Step::not_found
                             : section_line(line, line_length(x, x->ix), Section, sectlen, Key != nullptr, &foundsect);
        } else if (e.type == INI_LINE_KEY && Key != nullptr && foundsect) {
            step = key_line(line, line_length(x, x->ix), Key, keylen);
        }
        if (step == Step::found) {
            *pFound = 1;
            break;
        }
        if (step == Step::not_found) {
            break;
        }
    }
    set_current(x);
    return INI_OK;
}
