#include <conio.h>

#include <cctype>
#include <cstdio>

#include "platform/console.h"

namespace kw::plat {

// _getch reads the console itself, always without echo and without waiting
// for a line: there is no mode to set or restore.
Console::Console() noexcept = default;
Console::~Console() = default;

Key Console::read_key() noexcept {
    const int c = _getch();
    if (c == EOF) {
        return {Key::end, 0};
    }
    if (c == 0x00 || c == 0xE0) {
        (void)_getch();  // the key's second code
        return {Key::special, 0};
    }
    return {Key::byte, static_cast<unsigned char>(c & 0xFF)};
}

void put_char(unsigned char c) noexcept {
    std::putchar(c);
    std::fflush(stdout);
}

// The runtime's printable test for the current locale: blank, punctuation,
// letter or digit (the mask isprint uses), asked of _isctype directly so
// that locales whose characters may take several bytes are classified the
// same way as single-byte ones.
bool is_printable(unsigned char c) noexcept {
    return _isctype(c, _BLANK | _PUNCT | _ALPHA | _DIGIT) != 0;
}

}  // namespace kw::plat
