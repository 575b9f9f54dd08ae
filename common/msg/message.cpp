// The message key and its lookup.
//
// Keys live in a catalog in the catalog's own encoding: an EBCDIC catalog
// holds C1 C2 F0 F0 F0 F4 F2 for AB00042. So the key is built in that
// encoding, the application ID translated from the platform's encoding and
// the digits generated in the catalog's, and then meets the catalog's bytes
// unchanged.
#include "msg/message.h"

#include "misc/offsort.h"

namespace kw::msg {

AppId app_id(const Catalog &cat, const char *appID) noexcept {
    if (appID == nullptr) {
        return {cat.pTxt[0], cat.pTxt[1]};
    }
    const auto a0 = static_cast<unsigned char>(appID[0]);
    const auto a1 = a0 != 0 ? static_cast<unsigned char>(appID[1]) : static_cast<unsigned char>(0);
    if (cat.encoding == kEncodingEbcdic) {
        return {KW_xlate_ASC_EBC[a0], KW_xlate_ASC_EBC[a1]};
    }
    return {a0, a1};
}

Found find_message(const Catalog &cat, AppId id, std::uint16_t msgnum) noexcept {
    const unsigned char char_0 = literals_for(cat.encoding).char_0;
    unsigned char key[kKeyLen] = {id.c0, id.c1};
    unsigned n = msgnum;
    for (std::size_t i = kKeyLen; i > 2; --i) {
        key[i - 1] = static_cast<unsigned char>(char_0 + n % 10);
        n /= 10;
    }
    std::int32_t index = misc::bsearch_offs(key, cat.pOff, cat.num_msgs, kKeyLen, cat.pTxt);
    if (index < 0) {
        index = 0;
    }
    std::uint16_t off;
    std::memcpy(&off, cat.pOff + 2 * static_cast<std::size_t>(index), sizeof off);
    return {cat.pTxt + off, index == 0};
}

}  // namespace kw::msg
