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
//
// In the common dialect a line's type depends on the key line above it, so
// after an edit the lines below are classified again, up to the first header
// or key line whose entry stays as it was (ini_common.cpp).
#include <algorithm>
#include <cstdint>
#include <cstring>

#include "ini/ini_internal.h"

namespace kw::ini {
namespace {

// A line checked and, where it must be, kept track of. A caller may pass a
// line that lies in the text buffer itself (pLine, say), which the edit is
// about to move or give back. A classic line (at most 255 bytes) is copied
// to the stack. A longer line of the common dialect is never copied into a
// block of its own, since the engine asks its callbacks only for the line
// table and the text buffer: one that lies in the used text is remembered by
// its offset, which a growth keeps, and store_line() moves it into place
// without a second buffer.
class NewLine {
public:
    explicit NewLine(KW_INI_INTERNAL *x) noexcept : x_(x) {}

    // Measure, classify as line k and copy Textline. Classic dialect: a line
    // of more than 255 bytes gives 30 and is read no further than its 256th
    // byte. Common dialect: any length up to the text limit.
    std::uint32_t prepare(const unsigned char *Textline, std::uint16_t k) noexcept {
        const bool common = common_dialect(x_);
        const std::size_t most = common ? KW_INI_MAX_TEXT - 1 : KW_INI_MAX_LINE;
        std::size_t len = 0;
        while (Textline[len] != 0) {
            if (len == most) {
                return INI_ERR_TEXT_FULL;
            }
            ++len;
        }
        type = INI_LINE_NONE;
        keylen = 0;  // analyze_line sets it for key lines only
        if (common) {
            reach = reach_before(x_, k);
            analyze_common(x_, Textline, len, k == 0, &reach, &type, &keylen);
        } else if (std::uint32_t status = analyze_line(x_, Textline, len, &type, &keylen); status != 0) {
            return status;
        }
        size = static_cast<std::uint16_t>(len + 1);
        if (size <= sizeof stack_) {
            std::memcpy(stack_, Textline, size);
            text_ = stack_;
            return INI_OK;
        }
        const auto at = reinterpret_cast<std::uintptr_t>(Textline) - reinterpret_cast<std::uintptr_t>(x_->pTxt);
        if (at < used(x_)) {
            in_text = true;
            offs = static_cast<std::uint16_t>(at);
        } else {
            text_ = Textline;  // outside the used text: no edit moves it
        }
        return INI_OK;
    }

    // Where the line's bytes are now.
    const unsigned char *source() const noexcept { return in_text ? x_->pTxt + offs : text_; }
    bool copied() const noexcept { return text_ == stack_; }

    std::uint16_t size = 0;  // with its zero
    std::uint8_t type = 0;
    std::uint8_t keylen = 0;
    std::size_t reach = kNoReach;  // common dialect: the reach for the line after it
    bool in_text = false;          // the line lies in the used text, at offs
    std::uint16_t offs = 0;

private:
    KW_INI_INTERNAL *x_;
    const unsigned char *text_ = nullptr;
    unsigned char stack_[kLineBuf];
};

std::uint32_t check_editable(const KW_INI_INTERNAL *x) noexcept {
    if (!is_open(x)) {
        return INI_ERR_HANDLE;
    }
    return x->mode == KW_INI_READWRITE ? INI_OK : INI_ERR_MODE;
}

// Make at least `free` bytes free after the used text, in steps of 8,192.
// Whether the steps can reach it is settled before the first one, so a 30
// changes nothing; an allocator failure part way leaves a larger buffer
// with the same text.
std::uint32_t make_room(KW_INI_INTERNAL *x, std::size_t free) noexcept {
    if (free <= x->remain) {
        return INI_OK;
    }
    const std::size_t steps = (free - x->remain + kTextStep - 1) / kTextStep;
    if (x->txtsize + steps * kTextStep > 0xFFFF) {
        return INI_ERR_TEXT_FULL;
    }
    while (x->remain < free) {
        if (std::uint32_t status = grow_text(x); status != 0) {
            return status;
        }
    }
    return INI_OK;
}

// Store line as line k, in front of the line that held that number (or at
// the end). The room and the table entry must be there. A line that was not
// copied may lie anywhere, even in the text that moves: it is first put in
// the free room after the text, then rotated into place.
void store_line(KW_INI_INTERNAL *x, std::uint16_t k, const NewLine &line) noexcept {
    const std::uint16_t at = x->pRef[k].offs;
    const std::uint16_t usedbytes = used(x);
    if (line.copied()) {
        std::memmove(x->pTxt + at + line.size, x->pTxt + at, static_cast<std::size_t>(usedbytes - at));
        std::memcpy(x->pTxt + at, line.source(), line.size);
    } else {
        std::memmove(x->pTxt + usedbytes, line.source(), line.size);
        std::rotate(x->pTxt + at, x->pTxt + usedbytes, x->pTxt + usedbytes + line.size);
    }
    x->remain = static_cast<std::uint16_t>(x->remain - line.size);
    ++x->numlines;
    for (std::uint16_t j = x->numlines; j > k; --j) {
        x->pRef[j] = x->pRef[j - 1];
        x->pRef[j].offs = static_cast<std::uint16_t>(x->pRef[j].offs + line.size);
    }
    x->pRef[k] = LINE_STRUC{at, line.type, line.keylen};
}

// Line k becomes its own tail, from offset from on: the bytes before it go.
void keep_tail(KW_INI_INTERNAL *x, std::uint16_t k, std::uint16_t from, const NewLine &line) noexcept {
    const std::uint16_t at = x->pRef[k].offs;
    const auto cut = static_cast<std::uint16_t>(from - at);
    const std::uint16_t usedbytes = used(x);
    std::memmove(x->pTxt + at, x->pTxt + from, static_cast<std::size_t>(usedbytes - from));
    std::memset(x->pTxt + usedbytes - cut, 0, cut);
    x->remain = static_cast<std::uint16_t>(x->remain + cut);
    for (std::uint16_t j = static_cast<std::uint16_t>(k + 1); j <= x->numlines; ++j) {
        x->pRef[j].offs = static_cast<std::uint16_t>(x->pRef[j].offs - cut);
    }
    x->pRef[k].type = line.type;
    x->pRef[k].keylen = line.keylen;
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
    const auto k = static_cast<std::uint16_t>(x->ix + WhereFlag);
    NewLine line(x);
    if (std::uint32_t status = line.prepare(Textline, k); status != 0) {
        return status;
    }
    if (x->numlines == KW_INI_MAX_LINES) {
        return INI_ERR_TEXT_FULL;
    }
    if (std::uint32_t status = make_room(x, line.size); status != 0) {
        return status;
    }
    store_line(x, k, line);
    if (common_dialect(x)) {
        classify_common(x, static_cast<std::uint16_t>(k + 1), line.reach, false);
    }
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
    if (common_dialect(x)) {
        classify_common(x, x->ix, reach_before(x, x->ix), false);
    }
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
    NewLine line(x);
    if (std::uint32_t status = line.prepare(Textline, x->ix); status != 0) {
        return status;
    }
    // The old line's bytes count as free: a new line that fits in them and
    // the free space needs no growth.
    const auto oldsize = static_cast<std::size_t>(x->pRef[x->ix + 1].offs - x->pRef[x->ix].offs);
    if (std::uint32_t status = make_room(x, line.size > oldsize ? line.size - oldsize : 0); status != 0) {
        return status;
    }
    const std::uint16_t at = x->pRef[x->ix].offs;
    if (line.in_text && line.offs >= at && line.offs < at + oldsize) {
        keep_tail(x, x->ix, line.offs, line);  // a tail of the line itself
    } else {
        if (line.in_text && line.offs >= at + oldsize) {
            line.offs = static_cast<std::uint16_t>(line.offs - oldsize);  // drop_line moves it down
        }
        drop_line(x, x->ix);
        store_line(x, x->ix, line);
    }
    if (common_dialect(x)) {
        classify_common(x, static_cast<std::uint16_t>(x->ix + 1), line.reach, false);
    }
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
