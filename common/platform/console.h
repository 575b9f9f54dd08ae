// The console, as line input needs it: keys one at a time without echo and
// without waiting for a line, single characters written to standard output,
// and the printable test of the current locale.
//
// A key is one byte, a key that the line editor cannot take as a character
// (a cursor or function key: on Windows the prefix 0x00 or 0xE0 with its
// second code, on a terminal an escape sequence), or the end of input.
//
// POSIX: while a Console lives and standard input is a terminal, the
// terminal is in raw mode: no echo, no line buffering, no signal keys, CR not
// turned into LF; the settings found are put back when it goes. A byte 0x1B
// followed within 50 ms by '[' or 'O' opens an escape sequence, read up to
// its final byte (0x40 to 0x7E) as one special key; an ESC with nothing
// after it in that time is the Escape key itself, and an ESC followed by any
// other byte is the Escape key, that byte being the next key. The terminal's
// erase character (normally 0x7F) is delivered as Backspace, 0x08. From a
// pipe or a file every byte is one key, with no interpretation. The end of
// the file, a closed terminal or a read error is the end of input, and stays
// so for the rest of the Console's life.
//
// Windows: _getch; the prefix 0x00 or 0xE0 and the code after it are one
// special key.
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
