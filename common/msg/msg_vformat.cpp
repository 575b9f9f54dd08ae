// Formatting from a variable argument list: KW_MsgSprintf, KW_MsgVSprintf
// and their bounded twins KW_MsgSnprintf, KW_MsgVSnprintf. All four run the
// same code; the originals write to a buffer of unknown size.
#include <cstdarg>

#include "msg/message.h"
#include "platform/text.h"

namespace kw::msg {
namespace {

// The originals' results: the length, or 0 for a handle without the
// signature (buffer untouched). The twins': the length of the whole text, or
// KW_MSG_BAD_HANDLE with the empty text.
std::int32_t vformat(PKW_MSG_CATALOG pCatalog, unsigned char flags, char *buffer, std::uint64_t cap, bool bounded,
                     char *appID, std::uint16_t msgnum, va_list argptr) noexcept {
    if (appID != nullptr) {
        plat::strupr(appID);  // even when the handle turns out to be bad
    }
    Sink out(buffer, cap, skip_for(flags));
    Catalog cat;
    if (pCatalog == nullptr || !read_handle(pCatalog, cat)) {
        if (!bounded) {
            return 0;
        }
        out.finish();
        return KW_MSG_BAD_HANDLE;
    }
    if (cat.num_msgs > 0) {
        va_list ap;
        va_copy(ap, argptr);
        format_message(cat, out, app_id(cat, appID), msgnum,
                       [&ap](const KW_ARG_ &, ArgKind kind, std::uint32_t, ARG_UNION &value) {
                           if (kind == ArgKind::number) {
                               value._long = va_arg(ap, std::int32_t);
                           } else {
                               value._ptr = reinterpret_cast<const unsigned char *>(va_arg(ap, const char *));
                           }
                       });
        va_end(ap);
    }
    return as_result(out.finish());
}

}  // namespace
}  // namespace kw::msg

extern "C" KW_API int32_t KW_MsgVSprintf(PKW_MSG_CATALOG pCatalog, unsigned char flags, char *buffer, char *appID,
                                         uint16_t msgnum, va_list argptr) {
    return kw::msg::vformat(pCatalog, flags, buffer, kw::msg::Sink::kUnbounded, false, appID, msgnum, argptr);
}

extern "C" KW_API int32_t KW_MsgVSnprintf(PKW_MSG_CATALOG pCatalog, unsigned char flags, char *buffer,
                                          uint32_t bufsize, char *appID, uint16_t msgnum, va_list argptr) {
    return kw::msg::vformat(pCatalog, flags, buffer, bufsize, true, appID, msgnum, argptr);
}

// msgnum is the last named parameter of both variadic functions; its type
// is the one the interface fixes.
extern "C" KW_API int32_t KW_MsgSprintf(PKW_MSG_CATALOG pCatalog, unsigned char flags, char *buffer, char *appID,
                                        uint16_t msgnum, ...) {
    va_list ap;
    va_start(ap, msgnum);
    const int32_t result = KW_MsgVSprintf(pCatalog, flags, buffer, appID, msgnum, ap);
    va_end(ap);
    return result;
}

extern "C" KW_API int32_t KW_MsgSnprintf(PKW_MSG_CATALOG pCatalog, unsigned char flags, char *buffer,
                                         uint32_t bufsize, char *appID, uint16_t msgnum, ...) {
    va_list ap;
    va_start(ap, msgnum);
    const int32_t result = KW_MsgVSnprintf(pCatalog, flags, buffer, bufsize, appID, msgnum, ap);
    va_end(ap);
    return result;
}
