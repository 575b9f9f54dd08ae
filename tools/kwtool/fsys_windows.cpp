// Windows has no device nodes, FIFOs or symbolic links a user meets in a
// file argument, no owners in the POSIX sense and no signals that end a
// console program with a cleanup chance worth the name (Ctrl-C runs its
// handler on another thread while the file is still open, and an open file
// cannot be removed). What is left is the times.
#include "fsys.h"

#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <cerrno>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/utime.h>

namespace kwtool::fsys {

namespace {

facts from_stat(const struct _stat64 &st) {
    facts f;
    if ((st.st_mode & _S_IFMT) == _S_IFREG) {
        f.type = kind::regular;
    } else if ((st.st_mode & _S_IFMT) == _S_IFDIR) {
        f.type = kind::directory;
    } else {
        f.type = kind::other;  // NUL, CON, a pipe
    }
    f.device = static_cast<std::uint64_t>(st.st_dev);
    f.inode = 0;
    f.links = static_cast<std::uint64_t>(st.st_nlink);
    f.mode = static_cast<unsigned>(st.st_mode & 0777);
    f.atime_s = static_cast<std::int64_t>(st.st_atime);
    f.mtime_s = static_cast<std::int64_t>(st.st_mtime);
    return f;
}

// The file's identity from its handle: volume serial and file index.
bool identity(int fd, std::uint64_t &volume, std::uint64_t &index) {
    const auto h = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
    BY_HANDLE_FILE_INFORMATION info{};
    if (h == INVALID_HANDLE_VALUE || GetFileInformationByHandle(h, &info) == 0) {
        return false;
    }
    volume = info.dwVolumeSerialNumber;
    index = (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    return true;
}

}  // namespace

std::optional<facts> stat_path(const std::string &path, int &err) {
    struct _stat64 st {};
    if (_stat64(path.c_str(), &st) != 0) {
        err = errno;
        return std::nullopt;
    }
    facts f = from_stat(st);
    if (f.type == kind::regular) {
        const int fd = _open(path.c_str(), _O_RDONLY | _O_BINARY);
        if (fd >= 0) {
            std::uint64_t volume = 0;
            std::uint64_t index = 0;
            if (identity(fd, volume, index)) {
                f.device = volume;
                f.inode = index;
            }
            _close(fd);
        }
    }
    return f;
}

std::optional<facts> stat_open(std::FILE *f) {
    struct _stat64 st {};
    if (_fstat64(_fileno(f), &st) != 0) {
        return std::nullopt;
    }
    facts r = from_stat(st);
    std::uint64_t volume = 0;
    std::uint64_t index = 0;
    if (r.type == kind::regular && identity(_fileno(f), volume, index)) {
        r.device = volume;
        r.inode = index;
    }
    return r;
}

bool same_file(const facts &a, const facts &b) { return a.inode != 0 && a.device == b.device && a.inode == b.inode; }

std::string resolve_links(const std::string &path, int &) { return path; }

std::FILE *create_new(const std::string &path, unsigned mode) {
    const int perm = (mode & 0200) != 0 ? (_S_IREAD | _S_IWRITE) : _S_IREAD;
    // fopen's "x" would do, but the runtime ignores letters it does not know
    // and would open an existing file.
    const int fd = _open(path.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT, perm | _S_IWRITE);
    return detail::write_stream(fd, path.c_str());
}

std::FILE *open_into(const std::string &path) {
    const int fd = _open(path.c_str(), _O_WRONLY | _O_BINARY | _O_NOINHERIT);
    return detail::write_stream(fd, nullptr);
}

std::FILE *detail::fd_write_stream(int fd) { return _fdopen(fd, "wb"); }
void detail::close_fd(int fd) { _close(fd); }

// Of the mode only the read-only attribute exists here, and a file that has
// it could not be renamed over its target or written again: not carried.
bool set_mode(std::FILE *, unsigned) { return true; }

bool set_owner(std::FILE *, std::int64_t owner, std::int64_t group) { return owner < 0 && group < 0; }

bool set_times(std::FILE *f, const facts &src) {
    struct __utimbuf64 t {};
    t.actime = static_cast<__time64_t>(src.atime_s);
    t.modtime = static_cast<__time64_t>(src.mtime_s);
    return std::fflush(f) == 0 && _futime64(_fileno(f), &t) == 0;
}

bool reserve(std::FILE *, std::uint64_t, int &) { return true; }

bool truncate(std::FILE *f, std::uint64_t size) {
    return std::fflush(f) == 0 && _chsize_s(_fileno(f), static_cast<__int64>(size)) == 0;
}

bool sync(std::FILE *f) { return std::fflush(f) == 0 && _commit(_fileno(f)) == 0; }

unsigned default_mode() { return 0666; }

// _isatty holds for every character device, NUL included; only a console
// answers GetConsoleMode.
bool is_terminal(int fd) {
    const auto h = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
    DWORD mode = 0;
    return h != INVALID_HANDLE_VALUE && GetConsoleMode(h, &mode) != 0;
}

bool is_terminal(std::FILE *f) { return is_terminal(_fileno(f)); }

bool may_write_file(const std::string &path) { return _access(path.c_str(), 2) == 0; }

void install_signal_cleanup() {}
void guard_temp(const std::string &) {}
void release_temp() {}

signals_held::signals_held() : nested_(false) {}
signals_held::~signals_held() = default;

}  // namespace kwtool::fsys
