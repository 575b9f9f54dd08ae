// Case folding, as the runtime's _strupr does it in the "C" locale.
//
// Only the letters a to z are folded, on every host and whatever locale the
// application has set, so a configuration file searches the same everywhere.
#ifndef KW_PLATFORM_TEXT_H
#define KW_PLATFORM_TEXT_H

namespace kw::plat {

// Upper-case one byte: a..z become A..Z, every other byte is returned as is.
constexpr unsigned char fold(unsigned char c) noexcept {
    return (c >= 'a' && c <= 'z') ? static_cast<unsigned char>(c - ('a' - 'A')) : c;
}

// Upper-case a zero-terminated string in place (the runtime's _strupr).
void strupr(char *s) noexcept;

}  // namespace kw::plat

#endif
