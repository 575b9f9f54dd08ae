// KW_ini_write: putting the lines back into the file they were loaded from.
//
// The lines go to a new file beside the old one, which is made durable and
// then put in the old one's place in one step. Until that step the old file
// is whole, so no failure and no crash on the way leaves the configuration
// empty or half written. Only a folder that refuses a new file makes us
// rewrite the file where it stands, as a last resort.
#include "ini/ini_internal.h"
#include "platform/fs.h"
#include "platform/stream.h"

namespace kw::ini {
namespace {

// The longest path the open keeps, and room for the temporary name's suffix.
constexpr std::size_t kPathCap = 4096 + 32;

bool write_lines(const KW_INI_INTERNAL *x, std::FILE *f) noexcept {
    for (std::uint16_t i = 0; i < x->numlines; ++i) {
        if (!plat::put_text(f, reinterpret_cast<const char *>(x->pTxt + x->pRef[i].offs))) {
            return false;
        }
    }
    return true;
}

// The file is empty from the reopen with "w" until its lines are written;
// a failure on the way leaves it so, with the "w" stream held for a retry.
std::uint32_t write_in_place(KW_INI_INTERNAL *x) noexcept {
    x->pFile = plat::reopen_file(x->pFile, x->pName, "w");
    if (x->pFile == nullptr) {
        return INI_ERR_REOPEN;
    }
    if (!write_lines(x, x->pFile) || !plat::sync_file(x->pFile)) {
        return INI_ERR_WRITE;
    }
    x->pFile = plat::reopen_file(x->pFile, x->pName, "r+");
    return x->pFile == nullptr ? INI_ERR_REOPEN : INI_OK;
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
    if (x->pFile == nullptr || x->pName == nullptr) {
        return INI_ERR_REOPEN;  // an earlier reopen failed
    }
    // A file made read only since the open is left alone, as a rewrite in
    // place would have to: replacing it needs only the folder's permission.
    if (!plat::may_write(x->pName)) {
        return INI_ERR_REOPEN;
    }

    char temp[kPathCap];
    std::FILE *out = nullptr;
    switch (plat::create_temp_beside(x->pName, temp, sizeof temp, &out)) {
    case plat::TempFile::ok:
        break;
    case plat::TempFile::denied:
        return write_in_place(x);
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
    if (!plat::replace_file(temp, x->pName)) {
        plat::remove_file(temp);
        status = INI_ERR_WRITE;
    }
    x->pFile = plat::open_file(x->pName, "r+");
    if (x->pFile == nullptr && status == INI_OK) {
        status = INI_ERR_REOPEN;
    }
    return status;
}

}  // namespace
}  // namespace kw::ini

extern "C" KW_API uint32_t KW_ini_write(KW_INI_STRUC *pIni) {
    return kw::ini::write(kw::ini::view(pIni));
}
