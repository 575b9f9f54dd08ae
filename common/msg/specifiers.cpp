// The specifier scan and sort. The i-th specifier in ascending position
// order receives the i-th argument, and the formatter reads position n from
// element n - 1: that is why positions must run 1, 2, ... without gaps, and
// why the order of equal first characters is fixed (stable) here.
#include "msg/specifiers.h"

#include <cstring>

#include "msg/format_core.h"

namespace kw::msg {

std::uint32_t scan_specifiers(const unsigned char *text, const unsigned char *limit, const Literals &lit,
                              const unsigned char *pTbIn, KW_ARG_ *args) noexcept {
    std::uint32_t num_args = 0;
    const unsigned char *p = text;
    for (;;) {
        p = find_byte_or_zero(p, limit, lit.percent);
        if (*p == 0) {
            break;
        }
        if (p[1] == lit.percent) {
            p += 2;
            continue;
        }
        KW_ARG_ scratch;
        p = collect_specifier(p + 1, lit, pTbIn, num_args < kMaxArgs ? args[num_args] : scratch);
        if (num_args < kMaxArgs) {
            ++num_args;
        }
    }
    return num_args;
}

int sort_args_func(const KW_ARG_ &a, const KW_ARG_ &b) noexcept {
    return static_cast<signed char>(a.specifier[0]) - static_cast<signed char>(b.specifier[0]);
}

void sort_args(KW_ARG_ *args, std::uint32_t num_args) noexcept {
    for (std::uint32_t i = 1; i < num_args; ++i) {
        if (sort_args_func(args[i - 1], args[i]) <= 0) {
            continue;
        }
        KW_ARG_ moving;
        std::memcpy(&moving, &args[i], sizeof moving);
        std::uint32_t j = i;
        while (j > 0 && sort_args_func(args[j - 1], moving) > 0) {
            std::memcpy(&args[j], &args[j - 1], sizeof moving);
            --j;
        }
        std::memcpy(&args[j], &moving, sizeof moving);
    }
}

}  // namespace kw::msg
