// The message calls' common way: the key, the lookup with its not-found
// fallback, the arguments in position order and the formatter. Shared by the
// variable-list and the packed-list entry points, which differ only in how
// an argument value is fetched.
//
// One reading of the text decides the arguments (the scan, specifiers.h),
// then the formatter reads it again and writes it (formatter.h); no argument
// is fetched before their order is known.
#ifndef KW_MSG_MESSAGE_H
#define KW_MSG_MESSAGE_H

#include <climits>
#include <cstdint>

#include "msg/catalog.h"
#include "msg/formatter.h"
#include "msg/specifiers.h"

namespace kw::msg {

// The key's application ID in the catalog's encoding. With an appID (in the
// platform's encoding, already upper case) its first two characters are
// translated into the catalog's encoding; a character past the end of a
// shorter appID is 0. Without one, the catalog's own: the first two bytes of
// its text area. The catalog holds at least one message.
struct AppId {
    unsigned char c0;
    unsigned char c1;
};
AppId app_id(const Catalog &cat, const char *appID) noexcept;

struct Found {
    const unsigned char *text;
    bool entry0;  // the not-found entry, or message 0 of the array itself
};

// Find message msgnum under the application ID id; entry 0 when it is not in
// the catalog. The catalog holds at least one message.
Found find_message(const Catalog &cat, AppId id, std::uint16_t msgnum) noexcept;

// The specifiers of a text of the catalog in the order in which their
// arguments are taken (at most kMaxArgs records into args). Returns how many.
// Records are kept in the platform's encoding, where the kinds are told by
// their letters.
inline std::uint32_t arguments_of(const Catalog &cat, const unsigned char *text, KW_ARG_ *args) noexcept {
    const unsigned char *pTbIn = cat.encoding == kEncodingEbcdic ? KW_xlate_EBC_ASC : KW_xlate_dummy;
    const std::uint32_t n = scan_specifiers(text, cat.pTxt + cat.txtsize, literals_for(cat.encoding), pTbIn, args);
    if (n > 1) {
        sort_args(args, n);
    }
    return n;
}

// Format message msgnum into buf as Sink(buf, cap, skip) stores it and
// return the length of the whole text. fetch(const KW_ARG_ &, ArgKind,
// index, ARG_UNION &) supplies the value of the index-th specifier in
// position order. Entry 0 takes no arguments: its position 1 is msgnum.
template <class Fetch>
std::uint64_t format_message(const Catalog &cat, char *buf, std::uint64_t cap, std::uint32_t skip, AppId id,
                             std::uint16_t msgnum, Fetch &fetch) noexcept {
    const Found m = find_message(cat, id, msgnum);
    ARG_UNION argums[kMaxArgs];
    ArgKind kinds[kMaxArgs] = {};  // an element is read only as the kind recorded for it
    if (m.entry0) {
        argums[0]._long = static_cast<std::int32_t>(msgnum);
        kinds[0] = ArgKind::number;
    } else {
        KW_ARG_ args[kMaxArgs];
        const std::uint32_t n = arguments_of(cat, m.text, args);
        for (std::uint32_t i = 0; i < n; ++i) {
            const ArgKind kind = classify(args[i]);
            if (kind != ArgKind::none) {
                fetch(args[i], kind, i, argums[i]);
                kinds[i] = kind;
            }
        }
    }
    // The text area ends with a zero, so nothing past it is read.
    return ascii_ebcdic_sprintf(cat.encoding, buf, cap, skip, m.text, cat.pTxt + cat.txtsize, argums, kinds);
}

// Upper-case the caller's application ID in place, as the runtime does.
void upper_case(char *appID) noexcept;

// Characters that flags bit 0 drops from the front of a message.
inline constexpr std::uint32_t kStripLen = 11;

inline std::uint32_t skip_for(unsigned char flags) noexcept {
    return (flags & KW_MSG_STRIP_KEY) != 0 ? kStripLen : 0;
}

// A length as the int32 result of the formatting calls.
inline std::int32_t as_result(std::uint64_t len) noexcept {
    return len > static_cast<std::uint64_t>(INT32_MAX) ? INT32_MAX : static_cast<std::int32_t>(len);
}

}  // namespace kw::msg

#endif
