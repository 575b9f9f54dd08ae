#include "io.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <random>
#include <system_error>

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#else
#include <unistd.h>
#endif

namespace kwtool {

namespace fs = std::filesystem;

namespace {

std::string errno_text(int err) { return std::strerror(err); }

// Progress is worth showing only for work that takes a noticeable time.
constexpr std::uint64_t kProgressThreshold = 32ull << 20;

void set_binary([[maybe_unused]] std::FILE *f) {
#ifdef _WIN32
    // Text written before the switch must still go out translated.
    std::fflush(f);
    _setmode(_fileno(f), _O_BINARY);
#endif
}

// _isatty holds for every character device, NUL included; only a console
// answers GetConsoleMode.
bool is_terminal(int fd) {
#ifdef _WIN32
    const auto h = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
    DWORD mode = 0;
    return h != INVALID_HANDLE_VALUE && GetConsoleMode(h, &mode) != 0;
#else
    return isatty(fd) != 0;
#endif
}

// A new file that no one else has: fopen's "x" would do, but the Windows
// runtime ignores letters it does not know and would open an existing file.
std::FILE *create_new(const std::string &path) {
#ifdef _WIN32
    const int fd = _open(path.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT,
                         _S_IREAD | _S_IWRITE);
    if (fd < 0) {
        return nullptr;
    }
    std::FILE *f = _fdopen(fd, "wb");
    if (f == nullptr) {
        const int err = errno;
        _close(fd);
        std::remove(path.c_str());
        errno = err;
    }
    return f;
#else
    return std::fopen(path.c_str(), "wbx");
#endif
}

}  // namespace

void fail(int status, const std::string &message) { throw failure(status, message); }

std::string located(const std::string &file, unsigned long line, const std::string &text) {
    if (line == 0) {
        return file + ": " + text;
    }
    return file + ":" + std::to_string(line) + ": " + text;
}

bool is_std_stream(const std::string &name) { return name.empty() || name == "-"; }

std::string display_name(const std::string &name, bool out) {
    if (is_std_stream(name)) {
        return out ? "stdout" : "stdin";
    }
    return name;
}

std::string read_small_file(const std::string &path, std::size_t limit) {
    input in(path);
    std::string bytes;
    std::size_t have = 0;
    // One byte more than the limit tells a file that is too long.
    bytes.resize(limit + 1);
    have = in.read_full(reinterpret_cast<unsigned char *>(bytes.data()), bytes.size());
    if (have > limit) {
        fail(kExitBadInput, located(in.name(), 0, "longer than " + std::to_string(limit) + " bytes"));
    }
    bytes.resize(have);
    return bytes;
}

input::input(const std::string &name) : shown_(display_name(name, false)) {
    if (is_std_stream(name)) {
        f_ = stdin;
        set_binary(f_);
        return;
    }
    std::error_code ec;
    if (fs::is_directory(name, ec)) {
        fail(kExitBadInput, located(name, 0, "is a folder"));
    }
    f_ = std::fopen(name.c_str(), "rb");
    if (f_ == nullptr) {
        fail(kExitBadInput, located(name, 0, "cannot open: " + errno_text(errno)));
    }
    owned_ = true;
    // Large reads go straight into the caller's buffer; stdio's own buffer
    // would only add a copy.
    std::setvbuf(f_, nullptr, _IONBF, 0);
    if (fs::is_regular_file(name, ec)) {
        const auto n = fs::file_size(name, ec);
        if (!ec) {
            size_ = n;
        }
    }
}

input::~input() { close(); }

void input::close() {
    if (owned_) {
        std::fclose(f_);
        owned_ = false;
        f_ = nullptr;
    }
}

std::size_t input::read_full(unsigned char *buf, std::size_t n) {
    std::size_t have = 0;
    while (have < n) {
        const std::size_t got = std::fread(buf + have, 1, n - have, f_);
        have += got;
        if (got == 0) {
            if (std::ferror(f_)) {
                fail(kExitBadInput, located(shown_, 0, "read error: " + errno_text(errno)));
            }
            break;
        }
    }
    return have;
}

output::output(const std::string &name) : target_(name), shown_(display_name(name, true)) {
    if (is_std_stream(name)) {
        f_ = stdout;
        set_binary(f_);
        return;
    }
    std::error_code ec;
    if (fs::is_directory(name, ec)) {
        fail(kExitBadInput, located(name, 0, "is a folder"));
    }
    // A name beside the target, so the final rename stays on one file system.
    std::random_device rd;
    for (int attempt = 0; attempt < 16 && f_ == nullptr; ++attempt) {
        char suffix[32];
        std::snprintf(suffix, sizeof suffix, ".kwtool-%08x", static_cast<unsigned>(rd()));
        temp_ = name + suffix;
        f_ = create_new(temp_);
        if (f_ == nullptr && errno != EEXIST) {
            break;
        }
    }
    if (f_ == nullptr) {
        fail(kExitBadInput, located(name, 0, "cannot create: " + errno_text(errno)));
    }
    static_cast<void>(std::setvbuf(f_, nullptr, _IOFBF, 1u << 16));
}

output::~output() {
    if (f_ == nullptr || f_ == stdout) {
        return;
    }
    if (!committed_) {
        std::fclose(f_);
        std::error_code ec;
        fs::remove(temp_, ec);
    }
}

void output::write(const void *data, std::size_t n) {
    if (n != 0 && std::fwrite(data, 1, n, f_) != n) {
        fail(kExitBadInput, located(shown_, 0, "write error: " + errno_text(errno)));
    }
}

void output::commit() {
    if (f_ == stdout) {
        if (std::fflush(stdout) != 0) {
            fail(kExitBadInput, located(shown_, 0, "write error: " + errno_text(errno)));
        }
        return;
    }
    std::FILE *f = f_;
    f_ = nullptr;
    const bool flushed = std::fflush(f) == 0;
    const int err = errno;
    const bool closed = std::fclose(f) == 0;
    std::error_code ec;
    if (!flushed || !closed) {
        fs::remove(temp_, ec);
        fail(kExitBadInput, located(shown_, 0, "write error: " + errno_text(flushed ? errno : err)));
    }
    fs::rename(temp_, target_, ec);
    if (ec) {
        const std::string why = ec.message();  // before the clean-up reuses ec
        fs::remove(temp_, ec);
        fail(kExitBadInput, located(shown_, 0, "cannot replace: " + why));
    }
    committed_ = true;
}

progress::progress(std::optional<std::uint64_t> total) : total_(total) {
    enabled_ = is_terminal(2) && (!total || *total >= kProgressThreshold);
}

progress::~progress() { finish(); }

void progress::advance(std::uint64_t bytes) {
    done_ += bytes;
    if (!enabled_ || (!total_ && done_ < kProgressThreshold)) {
        return;
    }
    const auto now = std::chrono::steady_clock::now();
    if (drawn_ && now - last_ < std::chrono::milliseconds(100)) {
        return;
    }
    last_ = now;
    draw();
}

void progress::draw() {
    drawn_ = true;
    const double mib = static_cast<double>(done_) / (1024.0 * 1024.0);
    if (total_ && *total_ > 0) {
        constexpr int kWidth = 40;
        const double frac = std::min(1.0, static_cast<double>(done_) / static_cast<double>(*total_));
        const int filled = static_cast<int>(frac * kWidth);
        std::string bar(static_cast<std::size_t>(filled), '#');
        bar.append(static_cast<std::size_t>(kWidth - filled), '.');
        std::fprintf(stderr, "\r[%s] %3d%% %9.1f MiB", bar.c_str(), static_cast<int>(frac * 100.0), mib);
    } else {
        std::fprintf(stderr, "\r%9.1f MiB", mib);
    }
    std::fflush(stderr);
}

void progress::finish() {
    if (drawn_) {
        std::fprintf(stderr, "\r%70s\r", "");
        std::fflush(stderr);
        drawn_ = false;
    }
    enabled_ = false;
}

bool stdout_is_terminal() { return is_terminal(1); }
bool stdin_is_terminal() { return is_terminal(0); }

void binary_stdout() { set_binary(stdout); }

std::optional<std::int64_t> parse_integer(const std::string &text) {
    std::size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
        negative = text[i] == '-';
        ++i;
    }
    int base = 10;
    if (text.size() - i > 2 && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
        base = 16;
        i += 2;
    }
    if (i == text.size()) {
        return std::nullopt;
    }
    std::uint64_t value = 0;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        unsigned digit = 0;
        if (c >= '0' && c <= '9') {
            digit = static_cast<unsigned>(c - '0');
        } else if (base == 16 && c >= 'a' && c <= 'f') {
            digit = static_cast<unsigned>(c - 'a' + 10);
        } else if (base == 16 && c >= 'A' && c <= 'F') {
            digit = static_cast<unsigned>(c - 'A' + 10);
        } else {
            return std::nullopt;
        }
        if (digit >= static_cast<unsigned>(base)) {
            return std::nullopt;
        }
        value = value * static_cast<unsigned>(base) + digit;
        if (value > (1ull << 40)) {
            return std::nullopt;  // far beyond any 32-bit argument
        }
    }
    const auto v = static_cast<std::int64_t>(value);
    return negative ? -v : v;
}

}  // namespace kwtool
