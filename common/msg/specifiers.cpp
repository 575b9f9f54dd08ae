// The specifier scan and sort; specifiers.h says what they give, kwutil.h
// what a catalog's author sees of it. The i-th specifier in ascending
// position order receives the i-th argument, and the formatter reads
// position n from element n - 1: that is why positions must run 1, 2, ...
// without gaps, and why the order of equal first characters is fixed
// (stable) here.
#include "msg/specifiers.h"

#include "kwutil.h"

namespace kw::msg {
namespace {

// Collect the specifier that starts at q (just after its '%') into a, each
// character through pTbIn, '!' recognised in the text's encoding. Returns
// where the scan goes on: just after the last character collected, or the
// terminator when the text ended inside the specifier, so nothing past the
// terminator is read.
// Translate is false for the identity table, the usual case of a catalog
// in the platform's own encoding.
template <bool Translate>
const unsigned char *collect_specifier(const unsigned char *q, const Literals &lit,
                                       const unsigned char *pTbIn, KW_ARG_ &a) noexcept {
    unsigned char *spec = a.specifier;
    std::size_t k = 0;
    int marks = 0;
    bool at_end = false;
    for (; k < sizeof a.specifier; ++k) {
        const unsigned char c = q[k];
        if (c == 0) {
            at_end = true;
            break;
        }
        if (c == lit.exclamation) {
            spec[k] = '%';
            if (++marks == 2) {
                break;
            }
        } else {
            spec[k] = Translate ? pTbIn[c] : c;
        }
    }
    if (k == sizeof a.specifier) {
        --k;  // cut after 20 characters
    }
    spec[k] = 0;  // the last character collected gives way to the terminator
    // The conversion character is now the last one left, the length letter
    // the one before.
    a.arg_type = k >= 2 ? spec[k - 1] : 0;
    a.arg_size = k >= 2 ? spec[k - 2] : 0;
    return at_end ? q + k : q + k + 1;
}

template <bool Translate>
std::uint32_t scan(const unsigned char *text, const unsigned char *limit, const Literals &lit,
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
        p = collect_specifier<Translate>(p + 1, lit, pTbIn, num_args < kMaxArgs ? args[num_args] : scratch);
        if (num_args < kMaxArgs) {
            ++num_args;
        }
    }
    return num_args;
}

}  // namespace

std::uint32_t scan_specifiers(const unsigned char *text, const unsigned char *limit, const Literals &lit,
                              const unsigned char *pTbIn, KW_ARG_ *args) noexcept {
    return pTbIn == KW_xlate_dummy ? scan<false>(text, limit, lit, pTbIn, args)
                                   : scan<true>(text, limit, lit, pTbIn, args);
}

}  // namespace kw::msg
