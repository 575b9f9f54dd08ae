// KW_ini_write: putting the lines back into the file they were loaded from.
// kwutil.h says what a caller sees; docs/platforms.md ("Files and line
// ends") how each host takes the steps below.
//
// The file is found through the held stream, not by a name kept from the
// open, so a change of working folder or a rename since the open does not
// matter, and the engine keeps no name it would have to obtain memory for.
//
// Where it can, the write replaces the file: until the new file takes the
// old one's place in one step the old file is whole, so no failure and no
// crash on the way leaves the configuration empty or half written.
//
// A replacement must not change what the file is, so wherever a new file
// could not be the same (kwutil.h lists the cases) the file is rewritten
// where it stands, through the held stream. The room for the new text is
// reserved before the first byte is overwritten, so a full disk leaves the
// file as it was.
#include <cstring>

#include "ini/ini_internal.h"
#include "platform/fs.h"
#include "platform/stream.h"

namespace kw::ini {
namespace {

// The longest path looked up, and room for the temporary name's suffix.
constexpr std::size_t kPathCap = 4096 + 32;
constexpr std::size_t kSuffixRoom = 32;

bool write_lines(const KW_INI_INTERNAL *x, std::FILE *f) noexcept {
    for (std::uint16_t i = 0; i < x->numlines; ++i) {
        if (!plat::put_text(f, reinterpret_cast<const char *>(x->pTxt + x->pRef[i].offs))) {
            return false;
        }
    }
    return true;
}

// The held stream stays held whatever happens, so a later write can try
// again. Only an error after the reservation, while the old bytes are being
// overwritten, can leave the file half new and half old.
std::uint32_t rewrite_in_place(KW_INI_INTERNAL *x, bool regular) noexcept {
    std::size_t bytes = 0;
    std::size_t line_ends = 0;
    for (std::uint16_t i = 0; i < x->numlines; ++i) {
        const char *line = reinterpret_cast<const char *>(x->pTxt + x->pRef[i].offs);
        bytes += std::strlen(line);
        for (const char *p = std::strchr(line, '\n'); p != nullptr; p = std::strchr(p + 1, '\n')) {
            ++line_ends;  // an inserted line may hold more than one
        }
    }
    if (!plat::start_rewrite(x->pFile, regular, bytes, line_ends)) {
        return INI_ERR_WRITE;
    }
    if (!write_lines(x, x->pFile) || !plat::finish_rewrite(x->pFile, regular)) {
        return INI_ERR_WRITE;
    }
    return INI_OK;
}

std::uint32_t replace(KW_INI_INTERNAL *x, const char *path) noexcept {
    char temp[kPathCap];
    std::FILE *out = nullptr;
    switch (plat::create_temp_beside(x->pFile, path, temp, sizeof temp, &out)) {
    case plat::TempFile::ok:
        break;
    case plat::TempFile::denied:
    case plat::TempFile::unlike:
        return rewrite_in_place(x, true);
    case plat::TempFile::failed:
        return INI_ERR_REOPEN;  // nothing touched; the file is still held
    }
    const bool written = write_lines(x, out);
    const bool committed = plat::commit_file(out);  // a buffered failure shows here
    if (!written || !committed) {
        plat::remove_file(temp);
        return INI_ERR_WRITE;
    }

    // Let go of the old file first: some hosts refuse to replace an open file.
    plat::close_file(x->pFile);
    x->pFile = nullptr;
    std::uint32_t status = INI_OK;
    if (!plat::replace_file(temp, path)) {
        plat::remove_file(temp);
        status = INI_ERR_WRITE;
    }
    x->pFile = plat::open_file(path, "r+");
    if (x->pFile == nullptr && status == INI_OK) {
        status = INI_ERR_REOPEN;
    }
    return status;
}

std::uint32_t write(KW_INI_INTERNAL *x) noexcept {
    if (!is_open(x)) {
        return INI_ERR_HANDLE;
    }
    if (x->mode != KW_INI_READWRITE) {
        return INI_ERR_MODE;
    }
    if (x->pBuf != nullptr) {
        return INI_ERR_NO_FILE;
    }
    if (x->pFile == nullptr) {
        return INI_ERR_REOPEN;  // an earlier reopen failed
    }
    plat::HeldFile held{};
    if (!plat::inspect(x->pFile, &held)) {
        return INI_ERR_REOPEN;
    }
    if (held.regular && !held.named) {
        return INI_ERR_REOPEN;  // removed since the open: writing it would reach no one
    }
    char path[kPathCap];
    const std::size_t len = plat::held_path(x->pFile, path, sizeof path - kSuffixRoom);
    // A file made read only since the open is left alone, although the held
    // stream could still write it and replacing it needs only the folder's
    // permission.
    if (!plat::may_write(x->pFile, len > 0 ? path : nullptr)) {
        return INI_ERR_REOPEN;
    }
    if (!held.regular || held.linked || len == 0) {
        return rewrite_in_place(x, held.regular);
    }
    return replace(x, path);
}

}  // namespace
}  // namespace kw::ini

extern "C" KW_API uint32_t KW_ini_write(KW_INI_STRUC *pIni) {
    return kw::ini::write(kw::ini::view(pIni));
}
