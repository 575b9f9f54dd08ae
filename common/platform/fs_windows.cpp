#include "platform/fs.h"

#include <cerrno>
#include <cstring>

#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>

namespace kw::plat {
namespace {

constexpr char kTempSuffix[] = ".tmp-XXXXXX";  // _mktemp_s fills in the X's
constexpr int kTempTries = 8;                  // names taken meanwhile by someone else

}  // namespace

// The new file needs no permission bits of its own: ReplaceFileA gives it
// the replaced file's attributes and security descriptor.
TempFile create_temp_beside(const char *target, char *path, std::size_t cap, std::FILE **out) noexcept {
    *out = nullptr;
    const std::size_t len = std::strlen(target);
    if (len + sizeof kTempSuffix > cap) {
        errno = ENAMETOOLONG;
        return TempFile::failed;
    }
    for (int attempt = 0; attempt < kTempTries; ++attempt) {
        std::memcpy(path, target, len);
        std::memcpy(path + len, kTempSuffix, sizeof kTempSuffix);
        if (_mktemp_s(path, len + sizeof kTempSuffix) != 0) {
            return TempFile::failed;
        }
        int fd = -1;
        const errno_t err = _sopen_s(&fd, path, _O_CREAT | _O_EXCL | _O_WRONLY | _O_TEXT | _O_NOINHERIT,
                                     _SH_DENYWR, _S_IREAD | _S_IWRITE);
        if (err == EEXIST) {
            continue;
        }
        if (err != 0) {
            return err == EACCES ? TempFile::denied : TempFile::failed;
        }
        std::FILE *f = _fdopen(fd, "w");
        if (f == nullptr) {
            _close(fd);
            DeleteFileA(path);
            return TempFile::failed;
        }
        *out = f;
        return TempFile::ok;
    }
    return TempFile::failed;
}

bool put_text(std::FILE *f, const char *text) noexcept {
    return std::fputs(text, f) != EOF;
}

bool sync_file(std::FILE *f) noexcept {
    if (std::fflush(f) != 0) {
        return false;
    }
    return _commit(_fileno(f)) == 0;
}

bool commit_file(std::FILE *f) noexcept {
    const bool synced = sync_file(f);
    const bool closed = std::fclose(f) == 0;
    return synced && closed;
}

bool replace_file(const char *from, const char *to) noexcept {
    if (ReplaceFileA(to, from, nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr)) {
        return true;
    }
    // Some file systems (older network shares) do not support ReplaceFileA;
    // a write-through move still replaces the file in one step there.
    return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

bool may_write(const char *path) noexcept {
    return _access(path, 2) == 0;
}

void remove_file(const char *path) noexcept {
    DeleteFileA(path);
}

std::FILE *reopen_file(std::FILE *f, const char *path, const char *mode) noexcept {
    std::FILE *g = nullptr;
    return freopen_s(&g, path, mode, f) == 0 ? g : nullptr;
}

void close_file(std::FILE *f) noexcept {
    std::fclose(f);
}

}  // namespace kw::plat
