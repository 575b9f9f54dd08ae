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

// isprint classifies through the runtime's table for the current locale
// (_isctype when its characters may take several bytes).
bool is_printable(unsigned char c) noexcept {
    return std::isprint(c) != 0;
}

}  // namespace kw::plat
