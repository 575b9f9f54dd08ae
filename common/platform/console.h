// The console, as line input needs it: keys one at a time without echo and
// without waiting for a line, single characters written to standard output,
// and the printable test of the current locale.
//
// A key is one byte, a key that the line editor cannot take as a character
// (a cursor or function key, whatever the host makes of it), or the end of
// input, which stays the end for the rest of the Console's life. While a
// Console lives, a terminal on standard input is in raw mode; its settings
// go back when the Console goes. What each host does for that, and how it
// tells a special key from bytes, is in docs/platforms.md ("Console input");
// KW_GetString in kwutil.h says what a caller of the whole sees.
#ifndef KW_PLATFORM_CONSOLE_H
#define KW_PLATFORM_CONSOLE_H

#if !defined(_WIN32)
#include <termios.h>
#endif

namespace kw::plat {

struct Key {
    enum Kind { byte, special, end };
    Kind kind;
    unsigned char code;  // the byte, for kind byte
};

class Console {
public:
    Console() noexcept;   // raw mode, where there is a terminal to set
    ~Console();           // the terminal's settings back as they were
    Console(const Console &) = delete;
    Console &operator=(const Console &) = delete;

    // Wait for the next key.
    Key read_key() noexcept;

private:
#if !defined(_WIN32)
    int read_byte() noexcept;            // 0 .. 255, or -1 at the end of input
    bool byte_within(int ms) noexcept;   // does a byte arrive within ms?

    struct termios saved_ {};
    bool raw_ = false;        // standard input is a terminal set to raw mode
    bool ended_ = false;      // the end of input has been seen
    int pending_ = -1;        // a byte read ahead after ESC, or -1
    unsigned char erase_ = 0; // the terminal's erase character
#endif
};

// Write one character to standard output and flush it.
void put_char(unsigned char c) noexcept;

// Is c a printable character in the current locale?
bool is_printable(unsigned char c) noexcept;

}  // namespace kw::plat

#endif
