#include "platform/fs.h"
#include "platform/fs_host.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#if defined(__linux__)
#include <sys/xattr.h>
#endif

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

// Errors by which a file says that it has no such thing as a sync or a
// reservation of room (devices, pipes, some file systems), not that one failed.
bool unsupported(int err) noexcept {
    return err == EINVAL || err == ENOTSUP || err == EOPNOTSUPP || err == ENODEV || err == ESPIPE || err == EROFS;
}

bool same_file(const struct stat &a, const struct stat &b) noexcept {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Which of the write permission bits apply to this process (no ACLs): the
// stand-in for access() when the file's name is unknown.
bool mode_allows_write(const struct stat &st) noexcept {
    const uid_t me = ::geteuid();
    if (me == 0) {
        return true;
    }
    if (st.st_uid == me) {
        return (st.st_mode & S_IWUSR) != 0;
    }
    bool in_group = st.st_gid == ::getegid();
    gid_t groups[256];
    const int n = in_group ? 0 : ::getgroups(256, groups);
    for (int i = 0; i < n && !in_group; ++i) {
        in_group = groups[i] == st.st_gid;
    }
    return (st.st_mode & (in_group ? S_IWGRP : S_IWOTH)) != 0;
}

#if defined(__linux__)
// Give the file at to every extended attribute of the file at from (access
// lists are among them), as far as this process can see them. False when
// one could not be read or set, or the names or a value need more room than
// we set aside; a replacement without them would not be the same file.
bool copy_attributes(int from, int to) noexcept {
    char names[4096];
    const ssize_t len = ::flistxattr(from, names, sizeof names);
    if (len < 0) {
        return errno == ENOTSUP;  // a file system without them
    }
    char value[4096];
    char present[4096];
    for (const char *name = names; name < names + len; name += std::strlen(name) + 1) {
        const ssize_t size = ::fgetxattr(from, name, value, sizeof value);
        if (size < 0) {
            return false;
        }
        // A security label is set on every new file; ours may already be the same.
        const ssize_t have = ::fgetxattr(to, name, present, sizeof present);
        if (have == size && std::memcmp(present, value, static_cast<std::size_t>(size)) == 0) {
            continue;
        }
        if (::fsetxattr(to, name, value, static_cast<std::size_t>(size), 0) != 0) {
            return false;
        }
    }
    return true;
}
#else
bool copy_attributes(int /*from*/, int /*to*/) noexcept {
    return true;  // no extended attributes that we know how to read
}
#endif

}  // namespace

bool inspect(std::FILE *f, HeldFile *out) noexcept {
    struct stat st {};
    if (::fstat(::fileno(f), &st) != 0) {
        return false;
    }
    out->regular = S_ISREG(st.st_mode);
    out->named = st.st_nlink > 0;
    out->linked = st.st_nlink > 1;
    return true;
}

// Linux names the file behind every descriptor in /proc/self/fd, other
// hosts may answer F_GETPATH; either answer is checked against the held
// file itself, since the file may have moved again in between.
std::size_t held_path(std::FILE *f, char *out, std::size_t cap) noexcept {
    const int fd = ::fileno(f);
    std::size_t len = 0;
#if defined(__linux__)
    char link[64];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    const ssize_t got = cap > 1 ? ::readlink(link, out, cap - 1) : -1;
    if (got <= 0 || static_cast<std::size_t>(got) >= cap - 1) {
        return 0;  // no /proc, or the path may have been cut short
    }
    len = static_cast<std::size_t>(got);
    out[len] = '\0';
#elif defined(F_GETPATH)
    char full[PATH_MAX];
    if (::fcntl(fd, F_GETPATH, full) == -1) {
        return 0;
    }
    len = std::strlen(full);
    if (len + 1 > cap) {
        return 0;
    }
    std::memcpy(out, full, len + 1);
#else
    static_cast<void>(fd);
    static_cast<void>(cap);
    return 0;
#endif
    struct stat held {}, named {};
    if (out[0] != '/' || ::fstat(fd, &held) != 0 || ::stat(out, &named) != 0 || !same_file(held, named)) {
        return 0;
    }
    return len;
}

bool may_write(std::FILE *f, const char *path) noexcept {
    if (path != nullptr) {
        return ::access(path, W_OK) == 0;
    }
    struct stat st {};
    return ::fstat(::fileno(f), &st) == 0 && mode_allows_write(st);
}

TempFile create_temp_beside(std::FILE *held, const char *target, char *path, std::size_t cap,
                            std::FILE **out) noexcept {
    *out = nullptr;
    const std::size_t len = std::strlen(target);
    if (len + sizeof kTempSuffix > cap) {
        errno = ENAMETOOLONG;
        return TempFile::failed;
    }
    struct stat want {};
    if (::fstat(::fileno(held), &want) != 0) {
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
    // anyone else may still give it one of their own groups.
    if (::fchown(fd, want.st_uid, want.st_gid) != 0) {
        static_cast<void>(::fchown(fd, static_cast<uid_t>(-1), want.st_gid));
    }
    std::FILE *f = nullptr;
    struct stat got {};
    TempFile result = TempFile::failed;
    // The host may refuse any of these quietly (a set-group-ID bit for a
    // group we are not in is dropped): only the outcome counts. An access
    // list sets the group bits too, so the check comes after it.
    if (::fchmod(fd, want.st_mode & 07777) == 0) {
        if (!copy_attributes(::fileno(held), fd)) {
            result = TempFile::unlike;
        } else if (::fstat(fd, &got) != 0) {
            result = TempFile::failed;
        } else if (got.st_uid != want.st_uid || got.st_gid != want.st_gid ||
                   (got.st_mode & 07777) != (want.st_mode & 07777)) {
            result = TempFile::unlike;
        } else {
            f = ::fdopen(fd, "w");
        }
    }
    if (f == nullptr) {
        const int saved = errno;
        ::close(fd);
        ::unlink(path);
        errno = saved;
        return result;
    }
    *out = f;
    return TempFile::ok;
}

bool replace_file(const char *from, const char *to) noexcept {
    if (std::rename(from, to) != 0) {
        return false;
    }
    sync_folder_of(to);
    return true;
}

void remove_file(const char *path) noexcept {
    ::unlink(path);
}

namespace host {

bool sync_stream(std::FILE *f, bool regular) noexcept {
    return ::fsync(::fileno(f)) == 0 || (!regular && unsupported(errno));
}

// POSIX text mode adds nothing to a line end, so the text takes exactly
// bytes bytes. The room is reserved from offset 0, over the old content: a
// write over reserved blocks needs no new ones.
bool reserve_room(std::FILE *f, std::size_t bytes, std::size_t /*line_ends*/) noexcept {
    if (bytes == 0) {
        return true;
    }
    const int err = ::posix_fallocate(::fileno(f), 0, static_cast<off_t>(bytes));
    if (err != 0 && !unsupported(err)) {
        errno = err;
        return false;
    }
    return true;
}

bool cut_here(std::FILE *f) noexcept {
    const int fd = ::fileno(f);
    const off_t end = ::lseek(fd, 0, SEEK_CUR);
    return end >= 0 && ::ftruncate(fd, end) == 0;
}

bool unseekable(bool regular) noexcept {
    return !regular && errno == ESPIPE;
}

}  // namespace host

}  // namespace kw::plat
