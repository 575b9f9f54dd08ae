#include <poll.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>

#include "platform/console.h"

namespace kw::plat {
namespace {

constexpr unsigned char kEsc = 0x1B;
constexpr unsigned char kBackspace = 0x08;
constexpr int kEscapeWaitMs = 50;     // how long a key's bytes may lag behind its ESC
constexpr int kMaxSequenceBytes = 32; // a longer "sequence" is taken as ended there

bool is_final_byte(int b) { return b >= 0x40 && b <= 0x7E; }
bool is_sequence_byte(int b) { return b >= 0x20 && b <= 0x7E; }

}  // namespace

Console::Console() noexcept {
    if (::tcgetattr(STDIN_FILENO, &saved_) != 0) {
        return;  // a pipe or a file: bytes as they come
    }
    struct termios raw = saved_;
    raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | ISIG | IEXTEN);
    raw.c_iflag &= ~static_cast<tcflag_t>(ICRNL | INLCR | IGNCR | IXON);
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    if (::tcsetattr(STDIN_FILENO, TCSANOW, &raw) != 0) {
        return;
    }
    raw_ = true;
    erase_ = saved_.c_cc[VERASE];  // 0 (_POSIX_VDISABLE) when there is none
}

Console::~Console() {
    if (raw_) {
        ::tcsetattr(STDIN_FILENO, TCSANOW, &saved_);
    }
}

int Console::read_byte() noexcept {
    if (pending_ >= 0) {
        const int b = pending_;
        pending_ = -1;
        return b;
    }
    if (ended_) {
        return -1;
    }
    for (;;) {
        unsigned char c = 0;
        const ssize_t r = ::read(STDIN_FILENO, &c, 1);
        if (r == 1) {
            return c;
        }
        if (r < 0 && errno == EINTR) {
            continue;
        }
        ended_ = true;  // end of file, a hung-up terminal (EIO) or another error
        return -1;
    }
}

bool Console::byte_within(int ms) noexcept {
    if (pending_ >= 0) {
        return true;
    }
    if (ended_) {
        return false;
    }
    struct pollfd fd {};
    fd.fd = STDIN_FILENO;
    fd.events = POLLIN;
    for (;;) {
        const int r = ::poll(&fd, 1, ms);
        if (r < 0 && errno == EINTR) {
            continue;
        }
        return r > 0;  // readable, or hung up: the read that follows tells
    }
}

Key Console::read_key() noexcept {
    const int b = read_byte();
    if (b < 0) {
        return {Key::end, 0};
    }
    if (!raw_) {
        return {Key::byte, static_cast<unsigned char>(b)};
    }
    if (b == kEsc) {
        if (!byte_within(kEscapeWaitMs)) {
            return {Key::byte, kEsc};  // the Escape key by itself
        }
        const int intro = read_byte();
        if (intro != '[' && intro != 'O') {
            pending_ = intro;  // Escape, then an ordinary key (or the end: -1)
            return {Key::byte, kEsc};
        }
        // Parameters and intermediates up to the final byte. The Linux console
        // writes its function keys as ESC [ [ and a letter.
        bool double_bracket = false;
        for (int n = 0; n < kMaxSequenceBytes && byte_within(kEscapeWaitMs); ++n) {
            const int c = read_byte();
            if (c < 0) {
                break;
            }
            if (!is_sequence_byte(c)) {
                pending_ = c;  // not part of the sequence: the next key
                break;
            }
            if (intro == '[' && n == 0 && c == '[') {
                double_bracket = true;
                continue;
            }
            if (is_final_byte(c) || double_bracket) {
                break;
            }
        }
        return {Key::special, 0};
    }
    if (erase_ != 0 && b == erase_) {
        return {Key::byte, kBackspace};
    }
    return {Key::byte, static_cast<unsigned char>(b)};
}

void put_char(unsigned char c) noexcept {
    std::putchar(c);
    std::fflush(stdout);
}

bool is_printable(unsigned char c) noexcept {
    return std::isprint(c) != 0;
}

}  // namespace kw::plat
