// KW_MsgSprintf, KW_MsgVSprintf and their bounded twins KW_MsgSnprintf,
// KW_MsgVSnprintf, whose contracts are in kwutil.h: formatting from a
// variable argument list. All four run the same code; the originals pass a
// capacity that tells the sink to trust the buffer.
#include <cstdarg>

#include "msg/message.h"
#include "msg/output.h"
#include "platform/compiler.h"

namespace kw::msg {
namespace {

// Arguments from a va_list that this call may consume.
class VarArgs {
public:
    explicit VarArgs(va_list *ap) noexcept : ap_(ap) {}

    void operator()(const KW_ARG_ &, ArgKind kind, std::uint32_t, ARG_UNION &value) noexcept {
        if (kind == ArgKind::number) {
            value._long = va_arg(*ap_, std::int32_t);
        } else {
            value._ptr = reinterpret_cast<const unsigned char *>(va_arg(*ap_, const char *));
        }
    }

private:
    va_list *ap_;
};

// The originals' results: the length, or 0 for a handle without the
// signature (buffer untouched). The twins': the length of the whole text, or
// KW_MSG_BAD_HANDLE with the empty text.
std::int32_t vformat(PKW_MSG_CATALOG pCatalog, unsigned char flags, char *buffer, std::uint64_t cap, bool bounded,
                     char *appID, std::uint16_t msgnum, va_list *ap) noexcept {
    if (appID != nullptr) {
        upper_case(appID);  // even when the handle turns out to be bad
    }
    Catalog cat;
    if (pCatalog == nullptr || !read_handle(pCatalog, cat)) {
        if (!bounded) {
            return 0;
        }
        Sink(buffer, cap, 0).finish();
        return KW_MSG_BAD_HANDLE;
    }
    if (cat.num_msgs == 0) {
        return as_result(Sink(buffer, cap, 0).finish());
    }
    VarArgs fetch(ap);
    const std::uint64_t len = format_message(cat, buffer, cap, skip_for(flags), app_id(cat, appID), msgnum, fetch);
    return as_result(len);
}

}  // namespace
}  // namespace kw::msg

// The caller's va_list is read through a copy: a va_list parameter cannot be
// handed on by address, and the caller's own stays as it was.
extern "C" KW_API int32_t KW_MsgVSprintf(PKW_MSG_CATALOG pCatalog, unsigned char flags, char *buffer, char *appID,
                                         uint16_t msgnum, va_list argptr) {
    va_list ap;
    va_copy(ap, argptr);
    const int32_t result =
        kw::msg::vformat(pCatalog, flags, buffer, kw::msg::Sink::kUnbounded, false, appID, msgnum, &ap);
    va_end(ap);
    return result;
}

extern "C" KW_API int32_t KW_MsgVSnprintf(PKW_MSG_CATALOG pCatalog, unsigned char flags, char *buffer,
                                          uint32_t bufsize, char *appID, uint16_t msgnum, va_list argptr) {
    va_list ap;
    va_copy(ap, argptr);
    const int32_t result = kw::msg::vformat(pCatalog, flags, buffer, bufsize, true, appID, msgnum, &ap);
    va_end(ap);
    return result;
}

// The interface fixes msgnum, a uint16_t, as the last named parameter of the
// variadic functions. va_start needs it only to find where the variable
// arguments begin, which the supported compilers and ABIs do for a promoted
// type as for any other; clang warns about the promotion all the same.
KW_WARNING_OFF("-Wvarargs")
extern "C" KW_API int32_t KW_MsgSprintf(PKW_MSG_CATALOG pCatalog, unsigned char flags, char *buffer, char *appID,
                                        uint16_t msgnum, ...) {
    va_list ap;
    va_start(ap, msgnum);
    const int32_t result =
        kw::msg::vformat(pCatalog, flags, buffer, kw::msg::Sink::kUnbounded, false, appID, msgnum, &ap);
    va_end(ap);
    return result;
}

extern "C" KW_API int32_t KW_MsgSnprintf(PKW_MSG_CATALOG pCatalog, unsigned char flags, char *buffer,
                                         uint32_t bufsize, char *appID, uint16_t msgnum, ...) {
    va_list ap;
    va_start(ap, msgnum);
    const int32_t result = kw::msg::vformat(pCatalog, flags, buffer, bufsize, true, appID, msgnum, &ap);
    va_end(ap);
    return result;
}

KW_WARNING_ON()
