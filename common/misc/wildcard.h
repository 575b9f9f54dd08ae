// The positional wildcard rule, shared by KW_strcmp_wildcards and the INI
// search.
//
// The pattern is visited position by position with no backtracking: '*'
// accepts whatever remains and ends the comparison, '?' passes its position
// without looking at the target (even past the target's end), and any other
// byte must equal the target's byte at that position. Without a '*' anywhere
// in the pattern the target must be exactly as long as the pattern.
#ifndef KW_MISC_WILDCARD_H
#define KW_MISC_WILDCARD_H

#include <cstddef>
#include <cstring>

namespace kw::misc {

// Match the counted target against the counted pattern, comparing ordinary
// bytes after passing both through fold (an identity for the exported
// function, upper-casing for the INI search). Never reads outside either.
template <class Fold>
bool wildcard_match(const unsigned char *target, std::size_t tlen, const unsigned char *pattern,
                    std::size_t plen, Fold fold) noexcept {
    const bool contain_star = std::memchr(pattern, '*', plen) != nullptr;
    if (!contain_star && tlen != plen) {
        return false;
    }
    for (std::size_t i = 0; i < plen; ++i) {
        const unsigned char c = pattern[i];
        if (c == '*') {
            return true;
        }
        if (c == '?') {
            continue;
        }
        if (i >= tlen || fold(target[i]) != fold(c)) {
            return false;
        }
    }
    return true;
}

}  // namespace kw::misc

#endif
