// KW_GetString: keys typed at a real pseudo-terminal, and bytes from a pipe.
//
// Each case runs KW_GetString in a child process whose standard input and
// output are the terminal's slave side (or pipes). The parent waits until
// the terminal is in raw mode, types the keys into the master side, collects
// what the child echoes, and reads back, through a separate pipe, the
// child's buffer and whether its terminal settings were restored.
#include <gtest/gtest.h>

#if !defined(_WIN32)
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#endif

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "kwutil.h"

namespace {

#if defined(_WIN32)
// On Windows the keys come from _getch, which reads the console itself, not
// standard input: a test has no terminal to type into.
TEST(GetString, KeysFromTheConsole) {
    GTEST_SKIP() << "console input is tested on a pseudo-terminal, and Windows programs (Wine's too) "
                    "read keys from the console, which a test cannot type into";
}

TEST(GetString, ZeroLengthReadsNoKeyAndWritesNothing) {
    std::vector<unsigned char> buf(8, 0xEE);
    KW_GetString(buf.data(), 0);
    EXPECT_EQ(buf, std::vector<unsigned char>(8, 0xEE));
}
#else

constexpr unsigned char kFill = 0xEE;  // the child's buffer before the call
constexpr std::size_t kSpare = 4;      // bytes past StringLen that must stay kFill

struct Step {
    std::string keys;
    int pause_ms = 0;  // after typing them
};

struct Outcome {
    bool finished = false;  // the child reported back and exited cleanly
    std::string echo;       // everything the child wrote to its terminal
    std::string result;     // the string up to its terminator
    bool terminated = false;
    bool spare_untouched = false;
    int restored = -1;      // 1: settings as before the call, 0: not, 2: terminal gone
};

bool wait_readable(int fd, int ms) {
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, ms) > 0;
}

// Read what arrives on fd until it stays quiet for quiet_ms (or ends).
std::string drain(int fd, int quiet_ms) {
    std::string s;
    char buf[256];
    while (wait_readable(fd, quiet_ms)) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n <= 0) {
            break;
        }
        s.append(buf, static_cast<std::size_t>(n));
    }
    return s;
}

bool read_exactly(int fd, unsigned char *p, std::size_t n, int ms) {
    std::size_t got = 0;
    while (got < n) {
        if (!wait_readable(fd, ms)) {
            return false;
        }
        const ssize_t r = ::read(fd, p + got, n - got);
        if (r <= 0) {
            return false;
        }
        got += static_cast<std::size_t>(r);
    }
    return true;
}

void write_all(int fd, const void *p, std::size_t n) {
    const auto *c = static_cast<const char *>(p);
    while (n > 0) {
        const ssize_t r = ::write(fd, c, n);
        if (r <= 0) {
            return;
        }
        c += r;
        n -= static_cast<std::size_t>(r);
    }
}

bool same_settings(const termios &a, const termios &b) {
    return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_lflag == b.c_lflag &&
           std::memcmp(a.c_cc, b.c_cc, sizeof a.c_cc) == 0;
}

// The child's side: call KW_GetString and report through fd `report`:
// [restored][buffer of StringLen + kSpare bytes].
[[noreturn]] void child(uint16_t len, int report) {
    // A closed terminal would end the child by SIGHUP before it could read
    // the end of input; an application that wants to see it ignores SIGHUP.
    ::signal(SIGHUP, SIG_IGN);
    termios before{};
    const bool tty = ::tcgetattr(STDIN_FILENO, &before) == 0;
    std::vector<unsigned char> buf(len + kSpare, kFill);
    write_all(report, "R", 1);
    KW_GetString(buf.data(), len);
    unsigned char restored = 1;
    if (tty) {
        termios after{};
        restored = ::tcgetattr(STDIN_FILENO, &after) != 0 ? 2 : same_settings(before, after) ? 1 : 0;
    }
    write_all(report, &restored, 1);
    write_all(report, buf.data(), buf.size());
    ::_exit(0);
}

Outcome collect(pid_t pid, int report, uint16_t len) {
    Outcome o;
    unsigned char restored = 0;
    std::vector<unsigned char> buf(len + kSpare);
    if (read_exactly(report, &restored, 1, 5000) && read_exactly(report, buf.data(), buf.size(), 5000)) {
        o.restored = restored;
        const auto end = std::find(buf.begin(), buf.begin() + len, 0);
        o.terminated = end != buf.begin() + len;
        o.result.assign(buf.begin(), end);
        o.spare_untouched = std::all_of(buf.begin() + len, buf.end(), [](unsigned char c) { return c == kFill; });
        int status = 0;
        o.finished = ::waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }
    if (!o.finished) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
    }
    return o;
}

// Wait until the slave side of the terminal is in raw mode (no echo, no
// line buffering): from then on, typed keys reach KW_GetString unchanged.
bool wait_raw(int master) {
    const char *name = ::ptsname(master);
    if (name == nullptr) {
        return false;
    }
    const int slave = ::open(name, O_RDWR | O_NOCTTY);
    if (slave < 0) {
        return false;
    }
    bool raw = false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!raw && std::chrono::steady_clock::now() < deadline) {
        termios t{};
        raw = ::tcgetattr(slave, &t) == 0 && (t.c_lflag & (ECHO | ICANON)) == 0;
        if (!raw) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    ::close(slave);
    return raw;
}

// Run KW_GetString(buffer, len) on a pseudo-terminal, typing the steps.
// hang_up: after the keys, close the terminal instead of waiting.
Outcome on_terminal(uint16_t len, const std::vector<Step> &steps, bool hang_up = false) {
    int report[2];
    if (::pipe(report) != 0) {
        return {};
    }
    int master = -1;
    const pid_t pid = ::forkpty(&master, nullptr, nullptr, nullptr);
    if (pid < 0) {
        return {};
    }
    if (pid == 0) {
        ::close(report[0]);
        child(len, report[1]);
    }
    ::close(report[1]);
    unsigned char ready = 0;
    Outcome o;
    std::string echo;
    if (read_exactly(report[0], &ready, 1, 5000) && (len == 0 || wait_raw(master))) {
        for (const Step &s : steps) {
            write_all(master, s.keys.data(), s.keys.size());
            if (s.pause_ms > 0) {
                std::this_thread::sleep_for(std::chrono::milliseconds(s.pause_ms));
            }
        }
        if (hang_up) {
            echo = drain(master, 300);
            ::close(master);
            master = -1;
        }
        o = collect(pid, report[0], len);
    } else {
        o = collect(pid, report[0], len);
    }
    if (master >= 0) {
        echo += drain(master, 100);
        ::close(master);
    }
    ::close(report[0]);
    o.echo = echo;
    return o;
}

// The same with standard input and output as pipes.
Outcome on_pipes(uint16_t len, const std::string &input) {
    int in[2];
    int out[2];
    int report[2];
    if (::pipe(in) != 0 || ::pipe(out) != 0 || ::pipe(report) != 0) {
        return {};
    }
    const pid_t pid = ::fork();
    if (pid < 0) {
        return {};
    }
    if (pid == 0) {
        ::dup2(in[0], STDIN_FILENO);
        ::dup2(out[1], STDOUT_FILENO);
        ::close(in[0]);
        ::close(in[1]);
        ::close(out[0]);
        ::close(out[1]);
        ::close(report[0]);
        child(len, report[1]);
    }
    ::close(in[0]);
    ::close(out[1]);
    ::close(report[1]);
    write_all(in[1], input.data(), input.size());
    ::close(in[1]);  // then the end of input
    unsigned char ready = 0;
    read_exactly(report[0], &ready, 1, 5000);
    Outcome o = collect(pid, report[0], len);
    o.echo = drain(out[0], 100);
    ::close(out[0]);
    ::close(report[0]);
    return o;
}

const std::string BS = "\x08";
const std::string BEL = "\x07";
const std::string ERASE = "\x08 \x08";

struct TerminalCase {
    const char *what;
    uint16_t len;
    std::vector<Step> steps;
    std::string echo;
    std::string result;
};

class GetStringTerminal : public ::testing::TestWithParam<TerminalCase> {};

TEST_P(GetStringTerminal, EchoAndString) {
    const TerminalCase &c = GetParam();
    const Outcome o = on_terminal(c.len, c.steps);
    ASSERT_TRUE(o.finished) << c.what;
    EXPECT_EQ(o.echo, c.echo) << c.what;
    EXPECT_EQ(o.result, c.result) << c.what;
    EXPECT_TRUE(o.terminated) << c.what;
    EXPECT_TRUE(o.spare_untouched) << c.what;
    EXPECT_EQ(o.restored, 1) << c.what << ": terminal settings restored";
}

void PrintTo(const TerminalCase &c, std::ostream *os) { *os << c.what; }

INSTANTIATE_TEST_SUITE_P(
    Keys, GetStringTerminal,
    ::testing::Values(
        TerminalCase{"a, b, Enter: no line feed", 10, {{"ab\r"}}, "ab", "ab"},
        TerminalCase{"a, Backspace, c", 10, {{"a" + BS + "c\r"}}, "a" + ERASE + "c", "c"},
        TerminalCase{"the terminal's erase key is Backspace", 10, {{"ab\x7f\r"}}, "ab" + ERASE, "a"},
        TerminalCase{"Backspace on an empty line", 10, {{BS + "\r"}}, BEL, ""},
        TerminalCase{"full buffer refuses c", 3, {{"abc\r"}}, "ab" + BEL, "ab"},
        TerminalCase{"StringLen 1 refuses every character", 1, {{"ab\r"}}, BEL + BEL, ""},
        TerminalCase{"Enter first", 10, {{"\r"}}, "", ""},
        TerminalCase{"control keys and line feed are refused", 10, {{"\x01x\x04\n\x1f\r"}}, BEL + "x" + BEL + BEL + BEL,
                     "x"},
        TerminalCase{"bytes above 127 are not printable in the C locale", 10, {{"\xE9y\r"}}, BEL + "y", "y"},
        TerminalCase{"a lone Escape", 10, {{"\x1b", 250}, {"y\r"}}, BEL + "y", "y"},
        TerminalCase{"Escape, then an ordinary key", 10, {{"\x1bq\r"}}, BEL + "q", "q"},
        TerminalCase{"cursor up is one refused key", 10, {{"a\x1b[Ab\r"}}, "a" + BEL + "b", "ab"},
        TerminalCase{"cursor keys in application mode", 10, {{"\x1bOD\x1bOCz\r"}}, BEL + BEL + "z", "z"},
        TerminalCase{"F1", 10, {{"\x1bOPz\r"}}, BEL + "z", "z"},
        TerminalCase{"F5 with a parameter", 10, {{"\x1b[15~z\r"}}, BEL + "z", "z"},
        TerminalCase{"Ctrl+Right with parameters", 10, {{"\x1b[1;5Cz\r"}}, BEL + "z", "z"},
        TerminalCase{"the Linux console's F1", 10, {{"\x1b[[Az\r"}}, BEL + "z", "z"},
        TerminalCase{"a sequence typed slowly", 10, {{"\x1b", 10}, {"[", 10}, {"B", 10}, {"z\r"}}, BEL + "z", "z"},
        TerminalCase{"editing after a refused key", 10, {{"ab\x1b[D" + BS + "c\r"}}, "ab" + BEL + ERASE + "c", "ac"}));

TEST(GetString, EndOfInputOnAClosedTerminalEndsTheLine) {
    const Outcome o = on_terminal(10, {{"ab"}}, /*hang_up=*/true);
    ASSERT_TRUE(o.finished);
    EXPECT_EQ(o.echo, "ab");
    EXPECT_EQ(o.result, "ab");
    EXPECT_TRUE(o.terminated);
}

TEST(GetString, ZeroLengthReadsNoKeyAndWritesNothing) {
    const Outcome o = on_terminal(0, {});
    ASSERT_TRUE(o.finished);
    EXPECT_EQ(o.echo, "");
    EXPECT_TRUE(o.spare_untouched);
    EXPECT_EQ(o.restored, 1);
}

struct PipeCase {
    const char *what;
    uint16_t len;
    std::string input;
    std::string echo;
    std::string result;
};

class GetStringPipe : public ::testing::TestWithParam<PipeCase> {};

TEST_P(GetStringPipe, OneBytePerKey) {
    const PipeCase &c = GetParam();
    const Outcome o = on_pipes(c.len, c.input);
    ASSERT_TRUE(o.finished) << c.what;
    EXPECT_EQ(o.echo, c.echo) << c.what;
    EXPECT_EQ(o.result, c.result) << c.what;
    EXPECT_TRUE(o.terminated) << c.what;
    EXPECT_TRUE(o.spare_untouched) << c.what;
}

void PrintTo(const PipeCase &c, std::ostream *os) { *os << c.what; }

INSTANTIATE_TEST_SUITE_P(
    Bytes, GetStringPipe,
    ::testing::Values(
        PipeCase{"a line", 10, "ab\rignored", "ab", "ab"},
        PipeCase{"an escape sequence is three keys", 10, "a\x1b[A\r", "a" + BEL + "[A", "a[A"},
        PipeCase{"Backspace is 0x08 only", 10, "ab\x08\x7f\r", "ab" + ERASE + BEL, "a"},
        PipeCase{"a line feed is refused; the end of input ends the line", 10, "xy\n", "xy" + BEL, "xy"},
        PipeCase{"empty input", 10, "", "", ""},
        PipeCase{"full buffer", 3, "abcd\r", "ab" + BEL + BEL, "ab"}));

#endif

}  // namespace
