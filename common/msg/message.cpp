// The message key and its lookup, and the arguments a text takes.
//
// Keys live in a catalog in the catalog's own encoding: an EBCDIC catalog
// holds C1 C2 F0 F0 F0 F4 F2 for AB00042. So the key is built in that
// encoding, the application ID translated from the platform's encoding and
// the digits generated in the catalog's, and then meets the catalog's bytes
// unchanged.
#include "msg/message.h"

#include "misc/offsort.h"
#include "platform/text.h"

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
    // The key AB00042 as the integer its 7 bytes make, most significant
    // first, so that each probe is one integer comparison.
    const unsigned char char_0 = literals_for(cat.encoding).char_0;
    const unsigned n = msgnum;
    const std::uint64_t z = char_0;
    const std::uint64_t key = (std::uint64_t{id.c0} << 48) | (std::uint64_t{id.c1} << 40) |
                              ((z + n / 10000) << 32) | ((z + n / 1000 % 10) << 24) | ((z + n / 100 % 10) << 16) |
                              ((z + n / 10 % 10) << 8) | (z + n % 10);
    const unsigned char *txt = cat.pTxt;
    // Every offset leaves at least 8 bytes of the text area (checked at
    // open), so a key is read as one 8-byte load without its last byte.
    std::int32_t index = misc::search_key(cat.pOff, cat.num_msgs, key,
                                          [txt](std::uint16_t off) { return misc::key_at<8>(txt + off) >> 8; });
    if (index < 0) {
        index = 0;
    }
    return {txt + misc::offset_at(cat.pOff, static_cast<std::uint32_t>(index)), index == 0};
}

void upper_case(char *appID) noexcept {
    plat::strupr(appID);
}

}  // namespace kw::msg
