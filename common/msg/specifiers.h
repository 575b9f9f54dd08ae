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

// Record the specifiers of the zero-terminated text into args (kMaxArgs
// records) and return how many were recorded. Percent and exclamation marks
// are recognised by their codes in the text's encoding (lit), exactly as the
// formatter recognises them; stored characters pass through pTbIn. A doubled
// percent sign is no specifier. Specifiers after the ninth are passed over
// and not recorded. Never reads past the terminator.
std::uint32_t scan_specifiers(const unsigned char *text, const Literals &lit, const unsigned char *pTbIn,
                              KW_ARG_ *args) noexcept;

// The order of two records: the difference of their first characters taken
// as signed bytes, so position digits ascend.
int sort_args_func(const KW_ARG_ &a, const KW_ARG_ &b) noexcept;

// Sort num_args records with sort_args_func, stably: specifiers with the
// same first character keep their order in the text.
void sort_args(KW_ARG_ *args, std::uint32_t num_args) noexcept;

// Set arg_type (the last character of the specifier) and arg_size (the one
// before it) and say what the specifier takes: a 32-bit number for X c d i
// o u x, a text for s, nothing otherwise, in which case both are cleared. A
// specifier of fewer than 2 characters takes nothing.
ArgKind classify(KW_ARG_ &a) noexcept;

}  // namespace kw::msg

#endif
