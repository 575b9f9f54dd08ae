// kwtool's files and pipes.
//
// When an output is synced. A regular file is written under a temporary name
// and renamed over its target. The temporary file is synced before the
// rename only when something of the user's is at stake: the rename replaces
// a file that exists, or the input is removed once the output is complete
// (--rm). A content rewritten in place is always synced. A new output beside
// a kept input is renamed without a sync, as compressors conventionally do:
// after a crash the new file may be empty or missing, but the input is still
// there to make it again, and the sync would cost the whole run's writing
// time on a slow disk.
#include "file_io.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <random>
#include <system_error>
#include <vector>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
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
        stdin_ = true;
        set_binary(f_);
        facts_ = fsys::stat_open(f_);
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
    facts_ = fsys::stat_open(f_);
    if (facts_ && facts_->type == fsys::kind::regular) {
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

bool input::is_terminal() const { return f_ != nullptr && fsys::is_terminal(f_); }

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
    read_ += have;
    return have;
}

namespace {

// A temporary name in folder dir (empty: the current one) for target.
std::FILE *create_temp(const std::string &dir_prefix, const std::string &base, unsigned mode, std::string &temp) {
    std::random_device rd;
    for (int attempt = 0; attempt < 16; ++attempt) {
        char suffix[32];
        std::snprintf(suffix, sizeof suffix, ".kwtool-%08x", static_cast<unsigned>(rd()));
        temp = dir_prefix + base + suffix;
        // Registered before it exists, so that no signal can come between
        // its creation and its registration; removing a name that is not
        // there does no harm, and the exclusive creation below never takes
        // someone else's file.
        fsys::guard_temp(temp);
        std::FILE *f = fsys::create_new(temp, mode);
        if (f != nullptr) {
            return f;
        }
        fsys::release_temp();
        if (errno != EEXIST) {
            return nullptr;
        }
    }
    return nullptr;
}

std::string folder_of(const std::string &path) {
    const auto slash = path.find_last_of(
#ifdef _WIN32
        "/\\:"
#else
        "/"
#endif
    );
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

}  // namespace

output::output(const std::string &name, const write_options &opts, const input *from)
    : target_(name), shown_(display_name(name, true)), opts_(opts) {
    if (from != nullptr && !from->is_stdin()) {
        source_ = from->facts();
    }
    if (is_std_stream(name)) {
        f_ = stdout;
        stdout_ = true;
        if (opts.binary && !opts.force && fsys::is_terminal(1)) {
            fail(kExitBadInput, "stdout: refusing to write binary data to a terminal (redirect it, or give -f)");
        }
        set_binary(f_);
        return;
    }
    int err = 0;
    old_ = fsys::stat_path(name, err);
    if (!old_ && err != ENOENT) {
        fail(kExitBadInput, located(name, 0, "cannot write: " + errno_text(err)));
    }
    // The links are followed by hand only to a file that is renamed over:
    // a device, FIFO or socket is opened by its own name, so that names
    // such as /dev/stdout, links into /proc, keep working.
    if (!old_ || old_->type != fsys::kind::other) {
        target_ = fsys::resolve_links(name, err);
        if (target_.empty()) {
            fail(kExitBadInput, located(name, 0, "cannot follow the link: " + errno_text(err)));
        }
    }
    if (old_ && from != nullptr && from->facts() && old_->type != fsys::kind::other &&
        fsys::same_file(*old_, *from->facts())) {
        fail(kExitBadInput, located(name, 0, "is also the input: give another output name"));
    }
    if (old_ && old_->type == fsys::kind::directory) {
        fail(kExitBadInput, located(name, 0, "is a folder"));
    }
    if (old_ && old_->type == fsys::kind::other) {
        // A device, a FIFO, a socket: never replaced, only written into.
        direct_ = true;
        f_ = fsys::open_into(target_);
        if (f_ == nullptr) {
            fail(kExitBadInput, located(name, 0, "cannot open for writing: " + errno_text(errno)));
        }
        if (opts.binary && !opts.force && fsys::is_terminal(f_)) {
            std::fclose(f_);
            f_ = nullptr;
            fail(kExitBadInput, located(name, 0, "refusing to write binary data to a terminal (give -f to force)"));
        }
        static_cast<void>(std::setvbuf(f_, nullptr, _IOFBF, 1u << 16));
        return;
    }
    if (old_ && !opts.force) {
        fail(kExitBadInput, located(name, 0, "already exists (give -f to overwrite)"));
    }
    // Private until commit() gives it the mode it should have.
    const std::string dir = folder_of(target_);
    const std::string base = target_.substr(dir.size());
    f_ = create_temp(dir, base, 0600, temp_);
    if (f_ == nullptr && old_ && (errno == EACCES || errno == EPERM || errno == EROFS)) {
        // The folder takes no new file, but the file itself may be writable:
        // finish the content elsewhere, then copy it in.
        const int why = errno;
        std::error_code ec;
        const std::string tmp = fs::temp_directory_path(ec).string();
        if (!ec && fsys::may_write_file(target_)) {
            beside_ = false;
            f_ = create_temp(tmp + "/", "kwtool", 0600, temp_);
        }
        if (f_ == nullptr) {
            errno = why;
        }
    }
    if (f_ == nullptr) {
        fail(kExitBadInput, located(name, 0, "cannot create: " + errno_text(errno)));
    }
    static_cast<void>(std::setvbuf(f_, nullptr, _IOFBF, 1u << 16));
}

output::~output() {
    if (f_ == nullptr || stdout_) {
        return;
    }
    std::fclose(f_);
    if (!direct_ && !committed_) {
        std::error_code ec;
        fs::remove(temp_, ec);
        fsys::release_temp();
    }
}

void output::fail_write(const char *what, int err) {
    fail(kExitBadInput, located(shown_, 0, std::string(what) + ": " + errno_text(err)));
}

void output::write(const void *data, std::size_t n) {
    if (discard_) {
        written_ += n;
        return;
    }
    if (n != 0 && std::fwrite(data, 1, n, f_) != n) {
        fail_write("write error", errno);
    }
    written_ += n;
}

void output::commit() {
    if (discard_) {
        return;
    }
    if (stdout_) {
        if (std::fflush(stdout) != 0) {
            fail_write("write error", errno);
        }
        return;
    }
    if (direct_) {
        std::FILE *f = f_;
        f_ = nullptr;
        const bool flushed = std::fflush(f) == 0;
        const int err = errno;
        if (std::fclose(f) != 0 || !flushed) {
            fail_write("write error", flushed ? errno : err);
        }
        committed_ = true;
        return;
    }
    const bool at_stake = old_.has_value() || opts_.durable;
    if (!(at_stake ? fsys::sync(f_) : std::fflush(f_) == 0)) {
        fail_write("write error", errno);  // the destructor removes the temporary file
    }
    // Another owner, hard links, or a temporary file in another folder: a
    // rename could not keep what the target is.
    bool in_place = !beside_;
    if (old_) {
        if (!fsys::set_mode(f_, old_->mode)) {
            in_place = true;
        }
        if (old_->links > 1 || !fsys::set_owner(f_, old_->owner, old_->group)) {
            in_place = true;
        }
    } else {
        fsys::set_mode(f_, source_ ? (source_->mode & 0777u) : fsys::default_mode());
    }
    if (opts_.keep_time && source_ && !in_place && !fsys::set_times(f_, *source_)) {
        fail_write("cannot set the times", errno);
    }
    if (in_place) {
        rewrite_in_place();
    } else {
        replace_target();
    }
    committed_ = true;
}

void output::replace_target() {
    std::FILE *f = f_;
    f_ = nullptr;
    const bool closed = std::fclose(f) == 0;
    const int err = errno;
    fsys::signals_held hold;
    std::error_code ec;
    if (!closed) {
        fs::remove(temp_, ec);
        fsys::release_temp();
        fail_write("write error", err);
    }
    fs::rename(temp_, target_, ec);
    if (ec) {
        const std::string why = ec.message();  // before the clean-up reuses ec
        fs::remove(temp_, ec);
        fsys::release_temp();
        fail(kExitBadInput, located(shown_, 0, "cannot replace: " + why));
    }
    fsys::release_temp();
}

// The content is whole in the temporary file (and synced: a target exists);
// copy it over the target's own bytes. The room is taken first, so a full disk refuses before
// the first byte changes.
void output::rewrite_in_place() {
    std::FILE *src = f_;
    f_ = nullptr;
    std::fclose(src);
    const auto cleanup = [this] {
        std::error_code ec;
        fs::remove(temp_, ec);
        fsys::release_temp();
    };
    src = std::fopen(temp_.c_str(), "rb");
    std::FILE *dst = src != nullptr ? std::fopen(target_.c_str(), "r+b") : nullptr;
    if (dst == nullptr) {
        const int err = errno;
        if (src != nullptr) {
            std::fclose(src);
        }
        cleanup();
        fail_write("cannot rewrite in place", err);
    }
    fsys::signals_held hold;
    int err = 0;
    bool ok = fsys::reserve(dst, written_, err);
    if (!ok) {
        std::fclose(src);
        std::fclose(dst);
        cleanup();
        fail_write("no room to rewrite it in place", err);
    }
    std::vector<unsigned char> buf(1u << 16);
    std::size_t n = 0;
    while (ok && (n = std::fread(buf.data(), 1, buf.size(), src)) > 0) {
        ok = std::fwrite(buf.data(), 1, n, dst) == n;
    }
    err = errno;
    ok = ok && !std::ferror(src) && fsys::truncate(dst, written_) && fsys::sync(dst);
    if (ok && opts_.keep_time && source_) {
        ok = fsys::set_times(dst, *source_);
    }
    if (!ok && err == 0) {
        err = errno;
    }
    std::fclose(src);
    ok = std::fclose(dst) == 0 && ok;
    cleanup();
    if (!ok) {
        fail_write("write error while rewriting in place, the file is damaged", err);
    }
}

namespace {
bool g_silent = false;
}

void progress::silence() { g_silent = true; }

progress::progress(std::optional<std::uint64_t> total) : total_(total) {
    enabled_ = !g_silent && fsys::is_terminal(2) && (!total || *total >= kProgressThreshold);
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

bool stdout_is_terminal() { return fsys::is_terminal(1); }
bool stdin_is_terminal() { return fsys::is_terminal(0); }

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
