// GetFinalPathNameByHandleA came with Windows Vista.
#if !defined(_WIN32_WINNT) || _WIN32_WINNT < 0x0600
#undef _WIN32_WINNT
#define _WIN32_WINNT 0x0600
#endif

#include "platform/fs.h"
#include "platform/fs_host.h"

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

HANDLE handle_of(std::FILE *f) noexcept {
    return reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(f)));
}

bool info_of(std::FILE *f, BY_HANDLE_FILE_INFORMATION &info) noexcept {
    const HANDLE h = handle_of(f);
    return h != INVALID_HANDLE_VALUE && GetFileInformationByHandle(h, &info) != 0;
}

}  // namespace

// Only a file on a disk is replaceable; NUL, consoles and pipes are
// written into.
bool inspect(std::FILE *f, HeldFile *out) noexcept {
    const HANDLE h = handle_of(f);
    if (h == INVALID_HANDLE_VALUE) {
        return false;
    }
    out->regular = GetFileType(h) == FILE_TYPE_DISK;
    out->named = true;
    out->linked = false;
    BY_HANDLE_FILE_INFORMATION info {};
    if (out->regular && GetFileInformationByHandle(h, &info) != 0) {
        out->named = info.nNumberOfLinks > 0;
        out->linked = info.nNumberOfLinks > 1;
    }
    return true;
}

// The handle knows its own final path ("\\?\C:\dir\name" or
// "\\?\UNC\server\share\dir\name"); the prefix is taken off again so that the
// runtime's file functions take the path as they took the name at the open.
std::size_t held_path(std::FILE *f, char *out, std::size_t cap) noexcept {
    const HANDLE h = handle_of(f);
    if (h == INVALID_HANDLE_VALUE || cap > 0x7fffffff) {
        return 0;
    }
    const DWORD n = GetFinalPathNameByHandleA(h, out, static_cast<DWORD>(cap), FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (n == 0 || n >= cap) {
        return 0;
    }
    std::size_t len = n;
    if (std::strncmp(out, "\\\\?\\UNC\\", 8) == 0) {
        std::memmove(out + 2, out + 8, len - 8 + 1);  // "\\server\share..."
        len -= 6;
    } else if (std::strncmp(out, "\\\\?\\", 4) == 0) {
        std::memmove(out, out + 4, len - 4 + 1);
        len -= 4;
    }
    return len;
}

bool may_write(std::FILE *f, const char *path) noexcept {
    if (path != nullptr) {
        return _access(path, 2) == 0;
    }
    BY_HANDLE_FILE_INFORMATION info {};
    return info_of(f, info) && (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) == 0;
}

// The new file needs no owner or permission bits of its own: ReplaceFileA
// gives it the replaced file's attributes and security descriptor.
TempFile create_temp_beside(std::FILE * /*held*/, const char *target, char *path, std::size_t cap,
                            std::FILE **out) noexcept {
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

bool replace_file(const char *from, const char *to) noexcept {
    if (ReplaceFileA(to, from, nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr)) {
        return true;
    }
    // Some file systems (older network shares) do not support ReplaceFileA;
    // a write-through move still replaces the file in one step there.
    return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

void remove_file(const char *path) noexcept {
    DeleteFileA(path);
}

namespace host {

// Only a file on a disk has anything to commit.
bool sync_stream(std::FILE *f, bool regular) noexcept {
    return !regular || _commit(_fileno(f)) == 0;
}

// Text mode writes each line end as CR LF, one byte more than it is held.
// Windows reserves room only by making the file longer, so a text that is
// not longer than the file needs nothing; a longer one extends the file
// first, and a failure then has changed nothing.
bool reserve_room(std::FILE *f, std::size_t bytes, std::size_t line_ends) noexcept {
    const int fd = _fileno(f);
    const long long need = static_cast<long long>(bytes + line_ends);
    const long long have = _filelengthi64(fd);
    return have >= 0 && (need <= have || _chsize_s(fd, need) == 0);
}

bool cut_here(std::FILE *f) noexcept {
    const int fd = _fileno(f);
    const long long end = _telli64(fd);
    return end >= 0 && _chsize_s(fd, end) == 0;
}

bool unseekable(bool regular) noexcept {
    return !regular;
}

}  // namespace host

}  // namespace kw::plat
