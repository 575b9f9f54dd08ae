// KW_MsgRSprintf and KW_MsgRSnprintf, whose contracts are in kwutil.h:
// formatting from a packed argument list.
//
// A field is read where it lies, through memcpy, so the list may have any
// alignment. A text field is copied with a terminator into a fixed area in
// the call's own frame (9 x 256 bytes: a field is at most 255 long), which is
// why the call never allocates and cannot fail for memory. The list's end,
// when known, is checked before each field, so a short list runs out as
// zeros and empty texts instead of being read past.
#include <cstring>
#include <string_view>

#include "msg/message.h"
#include "msg/output.h"
#include "platform/bytes.h"

namespace kw::msg {
namespace {

struct PackedList {
    const unsigned char *p;    // the next field, or null: no fields
    const unsigned char *end;  // null: the list's length is not known
    unsigned char strings[kMaxArgs][256];

    void operator()(const KW_ARG_ &a, ArgKind kind, std::uint32_t index, ARG_UNION &value) noexcept {
        const unsigned char *field = nullptr;
        std::size_t len = 0;
        if (p != nullptr && (end == nullptr || p < end)) {
            len = p[0];
            if (end == nullptr || len <= static_cast<std::size_t>(end - p - 1)) {
                field = p + 1;
                p = field + len;
            } else {
                p = end;  // the field would pass the list's end
                len = 0;
            }
        }
        if (kind == ArgKind::text) {
            unsigned char *copy = strings[index];
            if (field != nullptr) {
                std::memcpy(copy, field, len);
            }
            copy[field != nullptr ? len : 0] = 0;
            value._ptr = copy;
            return;
        }
        value._long = 0;
        if (field == nullptr) {
            return;
        }
        if (len == 4) {
            value._long = static_cast<std::int32_t>(plat::load32(field));
        } else if (len == 2) {
            const std::uint16_t v = plat::load16(field);
            value._long = a.arg_size == 'l' ? std::int32_t{v} : std::int32_t{static_cast<std::int16_t>(v)};
        }
    }
};

// What a caller whose application ID is not the catalog's receives: this
// text with appID for %s and msgnum for %d, in ASCII whatever the catalog's
// encoding.
constexpr std::string_view kInvalidTable = "\r\nInvalid message table for application %s who generate error %d ";

void wrong_application(char *buffer, std::uint64_t cap, const char *appID, std::uint16_t msgnum) noexcept {
    constexpr std::size_t at_s = kInvalidTable.find("%s");
    constexpr std::size_t at_d = kInvalidTable.find("%d");
    static_assert(at_s < at_d && at_d != std::string_view::npos);
    Sink out(buffer, cap, 0);
    const auto put = [&out](std::string_view s) {
        out.put(reinterpret_cast<const unsigned char *>(s.data()), s.size());
    };
    unsigned char digits[17];
    const std::size_t n = itoa_(msgnum, digits, kAsciiLiterals.char_0, kAsciiLiterals.minus);
    put(kInvalidTable.substr(0, at_s));
    put(appID);
    put(kInvalidTable.substr(at_s + 2, at_d - at_s - 2));
    out.put(digits, n);
    put(kInvalidTable.substr(at_d + 2));
    out.finish();
}

// Results as for vformat, and for a catalog of another application: 0 from
// the original, KW_MSG_WRONG_APP from the twin, the fixed text in both.
std::int32_t rformat(PKW_MSG_CATALOG pCatalog, unsigned char flags, char *buffer, std::uint64_t cap, bool bounded,
                     char *appID, std::uint16_t msgnum, const unsigned char *pArgList,
                     std::uint32_t listsize) noexcept {
    Catalog cat;
    if (pCatalog == nullptr || !read_handle(pCatalog, cat)) {
        if (bounded) {
            Sink(buffer, cap, 0).finish();
            return KW_MSG_BAD_HANDLE;
        }
        return 0;  // neither buffer nor appID touched
    }
    if (appID != nullptr) {
        upper_case(appID);
    }
    if (cat.num_msgs == 0) {
        return as_result(Sink(buffer, cap, 0).finish());
    }
    const AppId id = app_id(cat, appID);
    if (appID != nullptr && (id.c0 != cat.pTxt[0] || id.c1 != cat.pTxt[1])) {
        wrong_application(buffer, cap, appID, msgnum);
        return bounded ? KW_MSG_WRONG_APP : 0;
    }
    PackedList list;
    list.p = nullptr;
    list.end = nullptr;
    if (pArgList != nullptr) {
        if (!bounded) {
            list.p = pArgList + 3;
        } else if (listsize >= 3) {
            list.p = pArgList + 3;
            list.end = pArgList + listsize;
        }
    }
    return as_result(format_message(cat, buffer, cap, skip_for(flags), id, msgnum, list));
}

}  // namespace
}  // namespace kw::msg

extern "C" KW_API int32_t KW_MsgRSprintf(PKW_MSG_CATALOG pCatalog, unsigned char flags, char *buffer, char *appID,
                                         uint16_t msgnum, const unsigned char *pArgList) {
    return kw::msg::rformat(pCatalog, flags, buffer, kw::msg::Sink::kUnbounded, false, appID, msgnum, pArgList, 0);
}

extern "C" KW_API int32_t KW_MsgRSnprintf(PKW_MSG_CATALOG pCatalog, unsigned char flags, char *buffer,
                                          uint32_t bufsize, char *appID, uint16_t msgnum,
                                          const unsigned char *pArgList, uint32_t listsize) {
    return kw::msg::rformat(pCatalog, flags, buffer, bufsize, true, appID, msgnum, pArgList, listsize);
}
