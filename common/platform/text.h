// Case folding, as the runtime's _strupr does it in the "C" locale.
//
// fold changes only the letters a to z, on every host and whatever locale
// the application has set, so a configuration file searches the same
// everywhere. strupr is the runtime's _strupr on Windows (locale-aware
// there) and fold applied to each byte elsewhere.
#ifndef KW_PLATFORM_TEXT_H
#define KW_PLATFORM_TEXT_H

namespace kw::plat {

// Upper-case one byte: a..z become A..Z, every other byte is returned as is.
constexpr unsigned char fold(unsigned char c) noexcept {
    return (c >= 'a' && c <= 'z') ? static_cast<unsigned char>(c - ('a' - 'A')) : c;
}

// Upper-case a zero-terminated string in place.
void strupr(char *s) noexcept;

}  // namespace kw::plat

#endif
