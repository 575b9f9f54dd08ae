// ascii_ebcdic_sprintf: the formatter over argument values that are all
// known beforehand. Its pieces live in format_core.h.
#include "msg/formatter.h"

#include "msg/format_core.h"

namespace kw::msg {

std::uint64_t ascii_ebcdic_sprintf(std::uint8_t encoding, char *buf, std::uint64_t cap, std::uint32_t skip,
                                   const unsigned char *ctl_string, const unsigned char *limit, const ARG_UNION *args,
                                   const ArgKind *kinds) noexcept {
    const Literals &lit = literals_for(encoding);
    return run_output(buf, cap, skip, [&](auto &out) { format_core(lit, out, ctl_string, limit, args, kinds); });
}

}  // namespace kw::msg
