// KW_GetString: line input with echo, Backspace and the bell (kwutil.h
// says what a caller sees).
//
// The editor knows no host: platform/console.h turns whatever the host
// delivers into single keys, and a cursor or function key arrives already
// as one special key, so it costs one bell and can never type its codes as
// letters. The Console lives for exactly the call, so a terminal is never
// left in raw mode, whichever way the loop ends.
#include <cstdint>

#include "kwutil.h"
#include "platform/console.h"

namespace kw::misc {
namespace {

constexpr unsigned char kBell = 0x07;
constexpr unsigned char kBackspace = 0x08;
constexpr unsigned char kEnter = 0x0D;

void get_string(unsigned char *ReadString, std::uint16_t StringLen) noexcept {
    plat::Console console;  // raw mode until the function returns
    std::uint16_t CurrentLen = 0;
    for (;;) {
        const plat::Key key = console.read_key();
        if (key.kind == plat::Key::end) {
            break;
        }
        if (key.kind == plat::Key::special) {
            plat::put_char(kBell);
            continue;
        }
        const unsigned char Car = key.code;
        if (Car == kBackspace) {
            if (CurrentLen > 0) {
                plat::put_char(kBackspace);
                plat::put_char(' ');
                plat::put_char(kBackspace);
                --CurrentLen;
            } else {
                plat::put_char(kBell);
            }
        } else if (plat::is_printable(Car)) {
            if (CurrentLen < StringLen - 1) {
                plat::put_char(Car);
                ReadString[CurrentLen++] = Car;
            } else {
                plat::put_char(kBell);
            }
        } else if (Car == kEnter) {
            break;
        } else {
            plat::put_char(kBell);
        }
    }
    ReadString[CurrentLen] = 0;
}

}  // namespace
}  // namespace kw::misc

extern "C" KW_API void KW_GetString(unsigned char *ReadString, uint16_t StringLen) {
    if (StringLen == 0) {
        return;  // no room even for the terminator: no key is read
    }
    kw::misc::get_string(ReadString, StringLen);
}
