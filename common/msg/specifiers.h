// Finding the argument specifiers of a message text and putting them in the
// order in which their arguments are taken. The formatter reads the same
// text again on its own terms (formatter.h); the scan only decides which
// argument comes when and of which kind.
#ifndef KW_MSG_SPECIFIERS_H
#define KW_MSG_SPECIFIERS_H

#include <cstdint>
#include <cstring>

#include "msg/formatter.h"

namespace kw::msg {

// One specifier of a text: the characters after its percent sign up to its
// second '!', the terminator or 20 characters, whichever comes first, the
// last of them giving way to a zero; each in the platform's encoding and
// each '!' stored as '%' (%1!ld! gives 1%ld). Then its length letter and
// conversion character: the two characters before that zero (both 0 when
// fewer than 2 are left).
struct KW_ARG_ {
    unsigned char specifier[kSpecifierChars];
    unsigned char arg_size;
    unsigned char arg_type;
};

// Record the specifiers of the zero-terminated text, whose zero lies before
// limit (up to which bytes may be read), into args (kMaxArgs records) and
// return how many were recorded, each character translated by pTbIn (256
// bytes, from the text's encoding into the platform's). Percent signs are
// recognised in the text's encoding, exactly as the formatter recognises
// them; a doubled one is no specifier. Specifiers after the ninth are passed over and not recorded.
std::uint32_t scan_specifiers(const unsigned char *text, const unsigned char *limit, const Literals &lit,
                              const unsigned char *pTbIn, KW_ARG_ *args) noexcept;

// The order of two records: the difference of their first characters taken
// as signed bytes, so position digits ascend.
inline int sort_args_func(const KW_ARG_ &a, const KW_ARG_ &b) noexcept {
    return static_cast<signed char>(a.specifier[0]) - static_cast<signed char>(b.specifier[0]);
}

// Sort num_args records with sort_args_func, stably: specifiers with the
// same first character keep their order in the text. Inline: a text holds a
// few specifiers, mostly in order already, and a call costs more than that.
inline void sort_args(KW_ARG_ *args, std::uint32_t num_args) noexcept {
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

// What a recorded specifier takes, by its arg_type: a 32-bit number for X c
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
