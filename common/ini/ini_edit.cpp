// KW_ini_insert, KW_ini_delete and KW_ini_replace: changing the lines of a
// handle opened for writing.
//
// The lines lie back to back in the text buffer, each with its zero, and
// the line table holds one entry per line plus the end entry. An edit moves
// the text behind the edited line in one overlapping move and shifts the
// table entries behind it by one place, correcting their offsets by the
// edited line's size. Every check that can refuse an edit runs before the
// first byte changes, so a refused edit leaves the handle exactly as it was.
//
// A text that lives in the caller's buffer is edited there while it fits.
// When it must grow it moves, once and for good, into a block of our own;
// the caller's buffer is then left as it stood and never touched again.
#include <cstring>

#include "ini/ini_internal.h"

namespace kw::ini {
namespace {

// A line checked and copied, ready to be stored. The copy lets a caller pass
// a line that lies in the text buffer itself (pLine, say), which the edit is
// about to move or give back.
struct NewLine {
    unsigned char text[kLineBuf];
    std::uint16_t size;  // with its zero
    std::uint8_t type;
    std::uint8_t keylen;
};

std::uint32_t check_editable(const KW_INI_INTERNAL *x) noexcept {
    if (!is_open(x)) {
        return INI_ERR_HANDLE;
    }
    return x->mode == KW_INI_READWRITE ? INI_OK : INI_ERR_MODE;
}

// Measure, classify and copy Textline. A line of more than 255 bytes gives
// 30 and is read no further than its 256th byte.
std::uint32_t prepare(const KW_INI_INTERNAL *x, const unsigned char *Textline, NewLine *line) noexcept {
    std::size_t len = 0;
    while (Textline[len] != 0) {
        if (len == KW_INI_MAX_LINE) {
            return INI_ERR_TEXT_FULL;
        }
        ++len;
    }
    line->type = INI_LINE_NONE;
    line->keylen = 0;  // analyze_line sets it for key lines only
    if (std::uint32_t status = analyze_line(x, Textline, len, &line->type, &line->keylen); status != 0) {
        return status;
    }
    std::memcpy(line->text, Textline, len + 1);
    line->size = static_cast<std::uint16_t>(len + 1);
    return INI_OK;
}

// Store line as line k, in front of the line that held that number (or at
// the end). The room and the table entry must be there.
void store_line(KW_INI_INTERNAL *x, std::uint16_t k, const NewLine &line) noexcept {
    const std::uint16_t at = x->pRef[k].offs;
    const std::uint16_t usedbytes = used(x);
    std::memmove(x->pTxt + at + line.size, x->pTxt + at, static_cast<std::size_t>(usedbytes - at));
    std::memcpy(x->pTxt + at, line.text, line.size);
    x->remain = static_cast<std::uint16_t>(x->remain - line.size);
    ++x->numlines;
    for (std::uint16_t j = x->numlines; j > k; --j) {
        x->pRef[j] = x->pRef[j - 1];
        x->pRef[j].offs = static_cast<std::uint16_t>(x->pRef[j].offs + line.size);
    }
    x->pRef[k] = LINE_STRUC{at, line.type, line.keylen};
}

// Take line k out; the bytes it leaves free at the end are cleared.
void drop_line(KW_INI_INTERNAL *x, std::uint16_t k) noexcept {
    const std::uint16_t at = x->pRef[k].offs;
    const auto size = static_cast<std::uint16_t>(x->pRef[k + 1].offs - at);
    const std::uint16_t usedbytes = used(x);
    std::memmove(x->pTxt + at, x->pTxt + at + size, static_cast<std::size_t>(usedbytes - at - size));
    std::memset(x->pTxt + usedbytes - size, 0, size);
    x->remain = static_cast<std::uint16_t>(x->remain + size);
    --x->numlines;
    for (std::uint16_t j = k; j <= x->numlines; ++j) {
        x->pRef[j] = x->pRef[j + 1];
        x->pRef[j].offs = static_cast<std::uint16_t>(x->pRef[j].offs - size);
    }
    x->pRef[x->numlines + 1] = LINE_STRUC{0, 0, 0};
}

std::uint32_t insert(KW_INI_INTERNAL *x, const unsigned char *Textline, unsigned char WhereFlag) noexcept {
    if (std::uint32_t status = check_editable(x); status != 0) {
        return status;
    }
    if (WhereFlag > 1) {
        return INI_ERR_WHERE;
    }
    if (WhereFlag == 1 && x->ix == x->numlines) {
        return INI_ERR_LINE;  // nothing can follow the end position
    }
    NewLine line;
    if (std::uint32_t status = prepare(x, Textline, &line); status != 0) {
        return status;
    }
    if (x->numlines == KW_INI_MAX_LINES) {
        return INI_ERR_TEXT_FULL;
    }
    if (line.size > x->remain) {
        // One step always makes room: a line needs at most 256 bytes.
        if (std::uint32_t status = grow_text(x); status != 0) {
            return status;
        }
    }
    const auto k = static_cast<std::uint16_t>(x->ix + WhereFlag);
    store_line(x, k, line);
    x->ix = k;
    set_current(x);
    return INI_OK;
}

std::uint32_t remove_current(KW_INI_INTERNAL *x) noexcept {
    if (std::uint32_t status = check_editable(x); status != 0) {
        return status;
    }
    if (x->ix == x->numlines) {
        return INI_ERR_LINE;
    }
    drop_line(x, x->ix);
    set_current(x);
    return INI_OK;
}

// Everything that could refuse the new line is settled before the old one
// goes, so a refused replace keeps the old line.
std::uint32_t replace(KW_INI_INTERNAL *x, const unsigned char *Textline) noexcept {
    if (std::uint32_t status = check_editable(x); status != 0) {
        return status;
    }
    if (x->ix == x->numlines) {
        return INI_ERR_LINE;
    }
    NewLine line;
    if (std::uint32_t status = prepare(x, Textline, &line); status != 0) {
        return status;
    }
    // The old line's bytes count as free: a new line that fits in them and
    // the free space needs no growth.
    const auto oldsize = static_cast<std::uint32_t>(x->pRef[x->ix + 1].offs - x->pRef[x->ix].offs);
    if (line.size > x->remain + oldsize) {
        if (std::uint32_t status = grow_text(x); status != 0) {
            return status;
        }
    }
    drop_line(x, x->ix);
    store_line(x, x->ix, line);
    set_current(x);
    return INI_OK;
}

}  // namespace
}  // namespace kw::ini

using namespace kw::ini;

extern "C" KW_API uint32_t KW_ini_insert(KW_INI_STRUC *pIni, const unsigned char *Textline, unsigned char WhereFlag) {
    return insert(view(pIni), Textline, WhereFlag);
}

extern "C" KW_API uint32_t KW_ini_delete(KW_INI_STRUC *pIni) {
    return remove_current(view(pIni));
}

extern "C" KW_API uint32_t KW_ini_replace(KW_INI_STRUC *pIni, const unsigned char *Textline) {
    return replace(view(pIni), Textline);
}
