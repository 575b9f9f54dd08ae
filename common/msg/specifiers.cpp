// The specifier scan and sort. The i-th specifier in ascending position
// order receives the i-th argument, and the formatter reads position n from
// element n - 1: that is why positions must run 1, 2, ... without gaps, and
// why the order of equal first characters is fixed (stable) here.
#include "msg/specifiers.h"

#include <cstring>

namespace kw::msg {
namespace {

constexpr std::size_t kSpecLen = sizeof(KW_ARG_{}.specifier);

}  // namespace

std::uint32_t scan_specifiers(const unsigned char *text, const Literals &lit, const unsigned char *pTbIn,
                              KW_ARG_ *args) noexcept {
    std::uint32_t num_args = 0;
    const unsigned char *p = text;
    while (*p != 0) {
        if (*p != lit.percent) {
            ++p;
            continue;
        }
        if (p[1] == lit.percent) {
            p += 2;
            continue;
        }
        // Collect up to the second '!', the terminator or 20 characters.
        const unsigned char *q = p + 1;
        unsigned char scratch[kSpecLen];
        unsigned char *spec = num_args < kMaxArgs ? args[num_args].specifier : scratch;
        std::size_t k = 0;
        int marks = 0;
        bool at_end = false;
        for (; k < kSpecLen; ++k) {
            const unsigned char c = q[k];
            if (c == 0) {
                spec[k] = 0;
                at_end = true;
                break;
            }
            if (c == lit.exclamation) {
                spec[k] = '%';
                if (++marks == 2) {
                    break;
                }
            } else {
                spec[k] = pTbIn[c];
            }
        }
        if (k == kSpecLen) {
            --k;  // cut after 20 characters
        }
        spec[k] = 0;  // the last character collected gives way to the terminator
        if (num_args < kMaxArgs) {
            ++num_args;
        }
        if (at_end) {
            break;
        }
        p = q + k + 1;
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

ArgKind classify(KW_ARG_ &a) noexcept {
    const std::size_t len = std::strlen(reinterpret_cast<const char *>(a.specifier));
    if (len >= 2) {
        a.arg_type = a.specifier[len - 1];
        a.arg_size = a.specifier[len - 2];
        switch (a.arg_type) {
            case 'X': case 'c': case 'd': case 'i': case 'o': case 'u': case 'x':
                return ArgKind::number;
            case 's':
                return ArgKind::text;
            default:
                break;
        }
    }
    a.arg_type = 0;
    a.arg_size = 0;
    return ArgKind::none;
}

}  // namespace kw::msg
