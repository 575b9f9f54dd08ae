// KW_ini_open and KW_ini_close: building the line table from a file or from
// the caller's buffer, and giving everything back.
#include <cstring>

#include "ini/ini_internal.h"
#include "platform/stream.h"

namespace kw::ini {
namespace {

void reset(KW_INI_INTERNAL *x, std::uint8_t unicode_flag) noexcept {
    x->signature = 0;
    x->pFile = nullptr;
    x->numlines = 0;
    x->linenum = 0;
    x->pValue = nullptr;
    x->pLine = nullptr;
    x->pTxt = nullptr;
    x->pRef = nullptr;
    x->owned = 0;
    x->ix = 0;
    x->txtsize = 0;
    x->remain = 0;
    x->unicode_flag = unicode_flag;
    // The caller picks the byte order of 16-bit text with the flag itself.
    x->unicode_high_low = unicode_flag == KW_INI_UTF16_BE ? 1 : 0;
}

void set_character_codes(KW_INI_INTERNAL *x) noexcept {
    x->pTb = KW_xlate_dummy;
    x->endline = 0x0A;
    x->space = 0x20;
    x->semicolon = 0x3B;
    x->equal = 0x3D;
    x->star = 0x2A;
    x->question_mark = 0x3F;
    x->open_square_bracket = 0x5B;
    x->close_square_bracket = 0x5D;
    x->open_angle_bracket = 0x3C;
    x->close_angle_bracket = 0x3E;
    x->comma = 0x2C;
    x->double_quote = 0x22;
}

std::uint32_t load_file(KW_INI_INTERNAL *x, const char *Filename) noexcept {
    x->pBuf = nullptr;
    if (std::uint32_t status = obtain(x, kTextStep, &x->pTxt); status != 0) {
        return status;
    }
    x->owned |= kOwnsText;
    std::memset(x->pTxt, 0, kTextStep);
    x->txtsize = x->remain = kTextStep;

    x->pFile = plat::open_file(Filename, x->mode == KW_INI_READ ? "r" : "r+");
    if (x->pFile == nullptr) {
        return INI_ERR_OPEN;
    }
    // No name is kept for the write: it asks the held stream which file it is.

    if (common_dialect(x)) {
        const std::uint32_t status = read_whole_lines(x);  // ini_common.cpp
        if (status == INI_OK && x->mode == KW_INI_READ) {
            std::fclose(x->pFile);
            x->pFile = nullptr;
        }
        return status;
    }

    char line[kLineBuf];
    std::uint16_t offset = 0;
    for (;;) {
        const plat::ReadLine got = plat::read_line(x->pFile, line, sizeof line);
        if (got == plat::ReadLine::end) {
            break;
        }
        if (got == plat::ReadLine::error) {
            return INI_ERR_OPEN;  // never present a half text as whole
        }
        if (x->mode == KW_INI_READ && (line[0] == ';' || line[0] == '\n')) {
            continue;  // read only: comment and empty lines are dropped
        }
        if (x->numlines == KW_INI_MAX_LINES) {
            return INI_ERR_TEXT_FULL;
        }
        const std::size_t size = std::strlen(line) + 1;  // a zero inside ends the line
        if (size > x->remain) {
            if (std::uint32_t status = grow_text(x); status != 0) {
                return status;
            }
        }
        std::memcpy(x->pTxt + offset, line, size);
        x->pRef[x->ix].offs = offset;
        ++x->ix;
        ++x->numlines;
        offset = static_cast<std::uint16_t>(offset + size);
        x->remain = static_cast<std::uint16_t>(x->remain - size);
    }
    x->pRef[x->numlines].offs = offset;

    if (x->mode == KW_INI_READ) {
        std::fclose(x->pFile);
        x->pFile = nullptr;
    }
    return INI_OK;
}

// The caller's text: zero-terminated lines back to back in usesize bytes.
// Nothing past usesize is read. A line that lacks its zero within usesize is
// refused with 27 and made current, like a line that fails classification.
std::uint32_t adopt_buffer(KW_INI_INTERNAL *x) noexcept {
    if (x->pBuf == nullptr) {
        return INI_ERR_OPEN;
    }
    if (x->usesize > x->bufsize) {
        return INI_ERR_TEXT_FULL;
    }
    x->pTxt = x->pBuf;
    x->txtsize = x->bufsize;
    x->remain = static_cast<std::uint16_t>(x->bufsize - x->usesize);
    std::uint16_t offset = 0;
    while (offset < x->usesize) {
        if (x->numlines == KW_INI_MAX_LINES) {
            return INI_ERR_TEXT_FULL;
        }
        x->pRef[x->ix].offs = offset;
        const void *zero = std::memchr(x->pTxt + offset, 0, x->usesize - offset);
        if (zero == nullptr) {
            ++x->numlines;
            x->pRef[x->numlines].offs = x->usesize;
            set_current(x);
            return INI_ERR_LINE;
        }
        ++x->ix;
        ++x->numlines;
        offset = static_cast<std::uint16_t>(static_cast<const unsigned char *>(zero) - x->pTxt + 1);
    }
    x->pRef[x->numlines].offs = offset;
    return INI_OK;
}

std::uint32_t classify_all(KW_INI_INTERNAL *x) noexcept {
    if (common_dialect(x)) {
        classify_common(x, 0, kNoReach, true);  // never refuses a line
        return INI_OK;
    }
    for (std::uint16_t i = 0; i < x->numlines; ++i) {
        LINE_STRUC &e = x->pRef[i];
        const auto len = static_cast<std::size_t>(x->pRef[i + 1].offs - e.offs - 1);
        if (std::uint32_t status = analyze_line(x, x->pTxt + e.offs, len, &e.type, &e.keylen); status != 0) {
            x->ix = i;
            set_current(x);
            return status;
        }
    }
    return INI_OK;
}

std::uint32_t open(KW_INI_INTERNAL *x, const char *Filename, std::int32_t mode, std::uint8_t UnicodeFlag) noexcept {
    reset(x, UnicodeFlag);
    const std::int32_t access = mode & ~std::int32_t{KW_INI_COMMON};
    if (access != KW_INI_READ && access != KW_INI_READWRITE) {
        return INI_ERR_MODE;
    }
    x->mode = static_cast<std::uint8_t>(access);
    if ((mode & KW_INI_COMMON) != 0) {
        x->owned = kCommonDialect;
    }
    if (x->alloc_mem == nullptr) {
        x->alloc_mem = alloc__mem;
        x->free_mem = free__mem;
    }
    unsigned char *table = nullptr;
    if (std::uint32_t status = obtain(x, kTableBytes, &table); status != 0) {
        return status;
    }
    std::memset(table, 0, kTableBytes);
    x->pRef = reinterpret_cast<LINE_STRUC *>(table);
    set_character_codes(x);

    std::uint32_t status = Filename != nullptr ? load_file(x, Filename) : adopt_buffer(x);
    if (status == INI_OK) {
        status = classify_all(x);
    }
    if (status != INI_OK) {
        const bool keep_position = status == INI_ERR_LEADING_SPACE || status == INI_ERR_LINE;
        const bool from_file = (x->owned & kOwnsText) != 0;
        release_all(x);
        if (!keep_position) {
            x->linenum = 0;
            x->pLine = nullptr;
        } else if (from_file) {
            x->pLine = nullptr;  // the line was in the buffer just given back
        }
        x->pValue = nullptr;
        return status;
    }
    x->ix = 0;
    set_current(x);
    x->signature = kSignature;
    return INI_OK;
}

}  // namespace

void release_all(KW_INI_INTERNAL *x) noexcept {
    if (x->pFile != nullptr) {
        std::fclose(x->pFile);
        x->pFile = nullptr;
    }
    if ((x->owned & kOwnsText) != 0) {
        give_back(x, x->txtsize, x->pTxt);
    }
    x->pTxt = nullptr;
    x->owned = 0;
    if (x->pRef != nullptr) {
        give_back(x, kTableBytes, x->pRef);
        x->pRef = nullptr;
    }
    x->signature = 0;
}

}  // namespace kw::ini

using namespace kw::ini;

extern "C" KW_API uint32_t KW_ini_open(KW_INI_STRUC *pIni, const char *Filename, int32_t mode, uint8_t UnicodeFlag) {
    return open(view(pIni), Filename, mode, UnicodeFlag);
}

extern "C" KW_API uint32_t KW_ini_close(KW_INI_STRUC *pIni) {
    KW_INI_INTERNAL *x = view(pIni);
    if (!is_open(x)) {
        return INI_ERR_HANDLE;
    }
    release_all(x);
    x->pLine = nullptr;
    x->pValue = nullptr;
    return INI_OK;
}
