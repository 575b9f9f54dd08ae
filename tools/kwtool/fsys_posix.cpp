#include "fsys.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace kwtool::fsys {

namespace {

facts from_stat(const struct stat &st) {
    facts f;
    if (S_ISREG(st.st_mode)) {
        f.type = kind::regular;
    } else if (S_ISDIR(st.st_mode)) {
        f.type = kind::directory;
    } else {
        f.type = kind::other;
    }
    f.device = static_cast<std::uint64_t>(st.st_dev);
    f.inode = static_cast<std::uint64_t>(st.st_ino);
    f.links = static_cast<std::uint64_t>(st.st_nlink);
    f.mode = static_cast<unsigned>(st.st_mode & 07777);
    f.owner = static_cast<std::int64_t>(st.st_uid);
    f.group = static_cast<std::int64_t>(st.st_gid);
    f.atime_s = static_cast<std::int64_t>(st.st_atim.tv_sec);
    f.atime_ns = static_cast<std::int64_t>(st.st_atim.tv_nsec);
    f.mtime_s = static_cast<std::int64_t>(st.st_mtim.tv_sec);
    f.mtime_ns = static_cast<std::int64_t>(st.st_mtim.tv_nsec);
    return f;
}

// The handler's view of the temporary file. The signal may arrive on any
// thread (pack works on two), so a step that must not be cut is marked by a
// flag the handler reads rather than by this thread's signal mask.
char g_temp[4096];
volatile std::sig_atomic_t g_armed = 0;
volatile std::sig_atomic_t g_held = 0;
volatile std::sig_atomic_t g_pending = 0;

constexpr int kCleanupSignals[] = {SIGINT, SIGTERM, SIGHUP};

void end_by(int sig) {
    if (g_armed) {
        ::unlink(g_temp);
    }
    // The default action now: the process ends as it would have without us.
    std::signal(sig, SIG_DFL);
    ::raise(sig);
}

extern "C" void on_cleanup_signal(int sig) {
    if (g_held) {
        g_pending = sig;  // acted on when the step is done
        return;
    }
    end_by(sig);
}

}  // namespace

std::optional<facts> stat_path(const std::string &path, int &err) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        err = errno;
        return std::nullopt;
    }
    return from_stat(st);
}

std::optional<facts> stat_open(std::FILE *f) {
    struct stat st {};
    if (::fstat(fileno(f), &st) != 0) {
        return std::nullopt;
    }
    return from_stat(st);
}

bool same_file(const facts &a, const facts &b) { return a.device == b.device && a.inode == b.inode; }

std::string resolve_links(const std::string &path, int &err) {
    std::string p = path;
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st {};
        if (::lstat(p.c_str(), &st) != 0) {
            if (errno == ENOENT) {
                return p;  // a name to create
            }
            err = errno;
            return {};
        }
        if (!S_ISLNK(st.st_mode)) {
            return p;
        }
        std::string target(4096, '\0');
        const ssize_t n = ::readlink(p.c_str(), target.data(), target.size());
        if (n < 0 || static_cast<std::size_t>(n) >= target.size()) {
            err = n < 0 ? errno : ENAMETOOLONG;
            return {};
        }
        target.resize(static_cast<std::size_t>(n));
        if (target.front() != '/') {
            const auto slash = p.rfind('/');
            if (slash != std::string::npos) {
                target = p.substr(0, slash + 1) + target;
            }
        }
        p = target;
    }
    err = ELOOP;
    return {};
}

std::FILE *create_new(const std::string &path, unsigned mode) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, static_cast<mode_t>(mode));
    return detail::write_stream(fd, path.c_str());
}

std::FILE *open_into(const std::string &path) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0 && errno == ENXIO) {
        // A socket is not opened but connected to.
        struct sockaddr_un addr {};
        if (path.size() >= sizeof addr.sun_path) {
            errno = ENAMETOOLONG;
            return nullptr;
        }
        addr.sun_family = AF_UNIX;
        std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
        fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd >= 0 && ::connect(fd, reinterpret_cast<const struct sockaddr *>(&addr), sizeof addr) != 0) {
            const int err = errno;
            ::close(fd);
            fd = -1;
            errno = err;
        }
    }
    return detail::write_stream(fd, nullptr);
}

std::FILE *detail::fd_write_stream(int fd) { return ::fdopen(fd, "wb"); }
void detail::close_fd(int fd) { ::close(fd); }

bool set_mode(std::FILE *f, unsigned mode) { return ::fchmod(fileno(f), static_cast<mode_t>(mode)) == 0; }

bool set_owner(std::FILE *f, std::int64_t owner, std::int64_t group) {
    return ::fchown(fileno(f), owner < 0 ? static_cast<uid_t>(-1) : static_cast<uid_t>(owner),
                    group < 0 ? static_cast<gid_t>(-1) : static_cast<gid_t>(group)) == 0;
}

bool set_times(std::FILE *f, const facts &src) {
    struct timespec ts[2] = {};
    ts[0].tv_sec = static_cast<time_t>(src.atime_s);
    ts[0].tv_nsec = static_cast<long>(src.atime_ns);
    ts[1].tv_sec = static_cast<time_t>(src.mtime_s);
    ts[1].tv_nsec = static_cast<long>(src.mtime_ns);
    return std::fflush(f) == 0 && ::futimens(fileno(f), ts) == 0;
}

bool reserve([[maybe_unused]] std::FILE *f, [[maybe_unused]] std::uint64_t size, int &err) {
#ifdef __linux__
    struct stat st {};
    if (::fstat(fileno(f), &st) != 0 || static_cast<std::uint64_t>(st.st_size) >= size) {
        return true;
    }
    // Only beyond the current end: the bytes already there stay as they are.
    const auto have = static_cast<std::uint64_t>(st.st_size);
    if (::fallocate(fileno(f), 0, static_cast<off_t>(have), static_cast<off_t>(size - have)) != 0 &&
        errno != EOPNOTSUPP && errno != ENOSYS) {
        err = errno;
        return false;
    }
#endif
    return true;
}

bool truncate(std::FILE *f, std::uint64_t size) {
    return std::fflush(f) == 0 && ::ftruncate(fileno(f), static_cast<off_t>(size)) == 0;
}

bool sync(std::FILE *f) { return std::fflush(f) == 0 && ::fsync(fileno(f)) == 0; }

unsigned default_mode() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666u & ~static_cast<unsigned>(mask);
}

bool is_terminal(int fd) { return ::isatty(fd) != 0; }
bool is_terminal(std::FILE *f) { return is_terminal(fileno(f)); }

bool may_write_file(const std::string &path) { return ::access(path.c_str(), W_OK) == 0; }

void install_signal_cleanup() {
    for (const int s : kCleanupSignals) {
        struct sigaction old {};
        if (::sigaction(s, nullptr, &old) != 0 || old.sa_handler == SIG_IGN) {
            continue;  // a background job's ignored signals stay ignored
        }
        struct sigaction act {};
        act.sa_handler = on_cleanup_signal;
        sigfillset(&act.sa_mask);
        ::sigaction(s, &act, nullptr);
    }
    // Past the file-size limit a write should fail with EFBIG, to be
    // reported and cleaned up like a full disk, not end the process.
    std::signal(SIGXFSZ, SIG_IGN);
}

void guard_temp(const std::string &path) {
    signals_held hold;
    const std::size_t n = std::min(path.size(), sizeof g_temp - 1);
    std::memcpy(g_temp, path.data(), n);
    g_temp[n] = '\0';
    g_armed = n == path.size() ? 1 : 0;
}

void release_temp() {
    signals_held hold;
    g_armed = 0;
}

signals_held::signals_held() : nested_(g_held != 0) { g_held = 1; }

signals_held::~signals_held() {
    if (nested_) {
        return;
    }
    g_held = 0;
    if (const int sig = g_pending) {
        end_by(sig);
    }
}

}  // namespace kwtool::fsys
