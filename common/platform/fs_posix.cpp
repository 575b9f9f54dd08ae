#include "platform/fs.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kw::plat {
namespace {

constexpr char kTempSuffix[] = ".tmp-XXXXXX";  // mkstemp fills in the X's

// The folder part of path ("/a/b/c" gives "/a/b"), or false when it does
// not fit in cap bytes.
bool folder_of(const char *path, char *out, std::size_t cap) noexcept {
    const char *slash = std::strrchr(path, '/');
    if (slash == nullptr) {
        if (cap < 2) {
            return false;
        }
        std::memcpy(out, ".", 2);
        return true;
    }
    std::size_t len = static_cast<std::size_t>(slash - path);
    if (len == 0) {
        len = 1;  // the root folder
    }
    if (len + 1 > cap) {
        return false;
    }
    std::memcpy(out, path, len);
    out[len] = '\0';
    return true;
}

// Make the renaming itself durable. Best effort: by now the new content is
// in place and on the disk, and some file systems cannot sync a folder.
void sync_folder_of(const char *path) noexcept {
    char folder[4096];
    if (!folder_of(path, folder, sizeof folder)) {
        return;
    }
    const int fd = ::open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

}  // namespace

TempFile create_temp_beside(const char *target, char *path, std::size_t cap, std::FILE **out) noexcept {
    *out = nullptr;
    const std::size_t len = std::strlen(target);
    if (len + sizeof kTempSuffix > cap) {
        errno = ENAMETOOLONG;
        return TempFile::failed;
    }
    struct stat st {};
    if (::stat(target, &st) != 0) {
        return TempFile::failed;
    }
    std::memcpy(path, target, len);
    std::memcpy(path + len, kTempSuffix, sizeof kTempSuffix);

    const int fd = ::mkostemp(path, O_CLOEXEC);
    if (fd < 0) {
        return errno == EACCES || errno == EPERM ? TempFile::denied : TempFile::failed;
    }
    // Owner first: a change of owner clears the set-user-ID bits that the
    // mode then puts back. Only a privileged process may give a file away;
    // anyone else keeps the file as their own, which is what they would get
    // by rewriting it in place too.
    if (::fchown(fd, st.st_uid, st.st_gid) != 0) {
        errno = 0;
    }
    std::FILE *f = nullptr;
    if (::fchmod(fd, st.st_mode & 07777) == 0) {
        f = ::fdopen(fd, "w");
    }
    if (f == nullptr) {
        const int saved = errno;
        ::close(fd);
        ::unlink(path);
        errno = saved;
        return TempFile::failed;
    }
    *out = f;
    return TempFile::ok;
}

bool put_text(std::FILE *f, const char *text) noexcept {
    return std::fputs(text, f) != EOF;
}

bool sync_file(std::FILE *f) noexcept {
    if (std::fflush(f) != 0) {
        return false;
    }
    return ::fsync(::fileno(f)) == 0;
}

bool commit_file(std::FILE *f) noexcept {
    const bool synced = sync_file(f);
    const bool closed = std::fclose(f) == 0;
    return synced && closed;
}

bool replace_file(const char *from, const char *to) noexcept {
    if (std::rename(from, to) != 0) {
        return false;
    }
    sync_folder_of(to);
    return true;
}

bool may_write(const char *path) noexcept {
    return ::access(path, W_OK) == 0;
}

void remove_file(const char *path) noexcept {
    ::unlink(path);
}

std::FILE *reopen_file(std::FILE *f, const char *path, const char *mode) noexcept {
    return std::freopen(path, mode, f);
}

void close_file(std::FILE *f) noexcept {
    std::fclose(f);
}

}  // namespace kw::plat
