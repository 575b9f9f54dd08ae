// KW_strcmp_wildcards: see the rule in wildcard.h.
#include "misc/wildcard.h"

#include "kwutil.h"

extern "C" KW_API unsigned char KW_strcmp_wildcards(const unsigned char *target, const unsigned char *source) {
    const std::size_t plen = std::strlen(reinterpret_cast<const char *>(source));
    // Only the first plen bytes of the target can matter; reading no further
    // keeps a long target cheap and never passes its terminator.
    std::size_t tlen = 0;
    while (tlen <= plen && target[tlen] != 0) {
        ++tlen;
    }
    return kw::misc::wildcard_match(target, tlen, source, plen, [](unsigned char c) { return c; }) ? 1 : 0;
}
