// Finding the argument specifiers of a message text and putting them in the
// order in which their arguments are taken.
#ifndef KW_MSG_SPECIFIERS_H
#define KW_MSG_SPECIFIERS_H

#include <cstdint>

#include "msg/formatter.h"

namespace kw::msg {

// One specifier of a text: the characters after its percent sign, in the
// platform's encoding, each '!' stored as '%' and the closing one dropped
// (%1!ld! gives 1%ld), then its length letter and conversion character.
struct KW_ARG_ {
    unsigned char specifier[20];
    unsigned char arg_size;
    unsigned char arg_type;
};

// Collect the specifier that starts at q (just after its '%') into a: the
// characters up to its second '!', the terminator or 20 characters,
// whichever comes first, the last of them giving way to a zero; each passes
// through pTbIn, and '!' (recognised in the text's encoding, lit) is stored
// as '%'. Sets arg_type to the last character left and arg_size to the one
// before it (both 0 when fewer than 2 are left). Returns where the scan goes
// on: just after the last character collected, or the terminator when the
// text ended inside the specifier. Never reads past the terminator.
inline const unsigned char *collect_specifier(const unsigned char *q, const Literals &lit,
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
            spec[k] = pTbIn[c];
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

// Record the specifiers of the zero-terminated text, whose zero lies before
// limit (up to which bytes may be read), into args (kMaxArgs records) and
// return how many were recorded. Percent signs are recognised in the text's
// encoding, exactly as the formatter recognises them; a doubled one is no
// specifier. Specifiers after the ninth are passed over and not recorded.
std::uint32_t scan_specifiers(const unsigned char *text, const unsigned char *limit, const Literals &lit,
                              const unsigned char *pTbIn, KW_ARG_ *args) noexcept;

// The order of two records: the difference of their first characters taken
// as signed bytes, so position digits ascend.
int sort_args_func(const KW_ARG_ &a, const KW_ARG_ &b) noexcept;

// Sort num_args records with sort_args_func, stably: specifiers with the
// same first character keep their order in the text.
void sort_args(KW_ARG_ *args, std::uint32_t num_args) noexcept;

// What a collected specifier takes, by its arg_type: a 32-bit number for X c
// d i o u x, a text for s, nothing otherwise (arg_type and arg_size are then
// cleared).
inline ArgKind classify(KW_ARG_ &a) noexcept {
    switch (a.arg_type) {
        case 'X': case 'c': case 'd': case 'i': case 'o': case 'u': case 'x':
            return ArgKind::number;
        case 's':
            return ArgKind::text;
        default:
            a.arg_type = 0;
            a.arg_size = 0;
            return ArgKind::none;
    }
}

}  // namespace kw::msg

#endif
