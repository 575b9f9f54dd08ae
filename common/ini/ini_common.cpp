// The common dialect: classifying lines as real files are written, and
// reading a file's lines whole.
//
// Classification depends on one piece of context, the reach of the last key
// line: a line indented deeper than it continues that key in other dialects,
// and is kept here as a comment line. A header ends the reach; comment and
// other kept lines pass it on unchanged. So after a header or key line the
// context depends on that line alone, which is what lets an edit stop
// reclassifying at the first such line that keeps its entry.
//
// The characters that decide a line's type are the handle's codes, as in
// the classic classifier: the line end, ';', '=' and the four brackets. What
// the handle holds no code for ('#', tab, CR, the byte-order mark) is fixed,
// and so are the blanks of indentation and trimming, which the search trims
// alike and which, like the search and the dropping of comment lines while
// reading, work on the ASCII values.
//
// A line longer than the 256-byte line buffer arrives in pieces; the pieces
// of one line are appended until one of them holds the line end, so the line
// is stored and classified once, whole.
#include <cstring>

#include "ini/ini_internal.h"
#include "platform/stream.h"

namespace kw::ini {
namespace {

// Whether the line's text after its mark and blanks says "comment or empty".
enum class Drop { undecided, keep, drop };

Drop comment_or_empty(const unsigned char *line, std::size_t len, bool text_start, bool complete) noexcept {
    std::size_t b = mark_at(line, len, text_start);
    while (b < len && is_blank(line[b])) {
        ++b;
    }
    if (b < len && line[b] != '\r') {
        const unsigned char c = line[b];
        return c == ';' || c == '#' || c == '\n' ? Drop::drop : Drop::keep;
    }
    if (!complete) {
        return Drop::undecided;  // blanks so far, or a CR whose LF may follow
    }
    const bool crlf = len - b == 2 && line[b] == '\r' && line[b + 1] == '\n';
    return b == len || crlf ? Drop::drop : Drop::keep;
}

std::uint32_t make_room(KW_INI_INTERNAL *x, std::size_t size) noexcept {
    while (x->remain < size) {
        if (std::uint32_t status = grow_text(x); status != 0) {
            return status;
        }
    }
    return INI_OK;
}

}  // namespace

void analyze_common(const KW_INI_INTERNAL *x, const unsigned char *line, std::size_t len, bool text_start,
                    std::size_t *reach, std::uint8_t *pLinetype, std::uint8_t *pKeylen) noexcept {
    const unsigned char endline = code_byte(x->endline);
    const unsigned char open_square = code_byte(x->open_square_bracket);
    *pKeylen = 0;
    *pLinetype = INI_LINE_COMMENT;
    const std::size_t from = mark_at(line, len, text_start);
    std::size_t b = from;
    while (b < len && is_blank(line[b])) {
        ++b;
    }
    const std::size_t indent = b - from;
    const unsigned char *rest = line + b;
    const std::size_t restlen = len - b;
    // A comment, or an empty line (blanks and the line end, or nothing).
    if (restlen == 0 || rest[0] == code_byte(x->semicolon) || rest[0] == '#' || (restlen == 1 && rest[0] == endline) ||
        (restlen == 2 && rest[0] == '\r' && rest[1] == endline)) {
        return;
    }
    // A continuation of the key line above: kept, never a key.
    if (*reach != kNoReach && indent > *reach) {
        return;
    }
    if (rest[0] == open_square || rest[0] == code_byte(x->open_angle_bracket)) {
        const unsigned char close =
            code_byte(rest[0] == open_square ? x->close_square_bracket : x->close_angle_bracket);
        if (std::memchr(rest + 1, close, restlen - 1) != nullptr) {
            *pLinetype = INI_LINE_SECTION;
            *reach = kNoReach;
        }
        // No closing bracket: not a header, and a bracket line is never a key.
        return;
    }
    const void *eq = std::memchr(rest, code_byte(x->equal), restlen);
    if (eq == nullptr) {
        return;  // neither comment, header nor key: kept as it stands
    }
    *pKeylen = saturated_keylen(static_cast<std::size_t>(static_cast<const unsigned char *>(eq) - line));
    *pLinetype = INI_LINE_KEY;
    *reach = indent;
}

std::size_t reach_before(const KW_INI_INTERNAL *x, std::uint16_t k) noexcept {
    for (std::uint16_t j = k; j-- > 0;) {
        const LINE_STRUC &e = x->pRef[j];
        if (e.type == INI_LINE_SECTION) {
            return kNoReach;
        }
        if (e.type == INI_LINE_KEY) {
            const unsigned char *line = x->pTxt + e.offs;
            const auto len = static_cast<std::size_t>(x->pRef[j + 1].offs - e.offs - 1);
            const std::size_t from = mark_at(line, len, j == 0);
            std::size_t b = from;
            while (b < len && is_blank(line[b])) {
                ++b;
            }
            return b - from;
        }
    }
    return kNoReach;
}

void classify_common(KW_INI_INTERNAL *x, std::uint16_t from, std::size_t reach, bool every_line) noexcept {
    for (std::uint16_t i = from; i < x->numlines; ++i) {
        LINE_STRUC &e = x->pRef[i];
        const auto len = static_cast<std::size_t>(x->pRef[i + 1].offs - e.offs - 1);
        std::uint8_t type = 0;
        std::uint8_t keylen = 0;
        analyze_common(x, x->pTxt + e.offs, len, i == 0, &reach, &type, &keylen);
        const bool same = type == e.type && keylen == e.keylen;
        e.type = type;
        e.keylen = keylen;
        // The first line may have moved to or from the start of the text, so
        // its own reach may differ even where its entry does not.
        if (!every_line && same && type != INI_LINE_COMMENT && i != from) {
            return;
        }
    }
}

std::uint32_t read_whole_lines(KW_INI_INTERNAL *x) noexcept {
    char piece[kLineBuf];
    bool text_start = true;
    for (;;) {
        const std::uint16_t start = used(x);
        bool any = false;    // a piece of this line was read
        bool ended = false;  // its line end was read
        bool lost = false;   // the rest of the line is read and not stored
        Drop drop = x->mode == KW_INI_READ ? Drop::undecided : Drop::keep;
        while (!ended) {
            // fgets ends what it read with a zero; past it the filler stays, so
            // the last zero in the piece is that terminator.
            std::memset(piece, 1, sizeof piece);
            const plat::ReadLine got = plat::read_line(x->pFile, piece, sizeof piece);
            if (got == plat::ReadLine::end) {
                break;
            }
            if (got == plat::ReadLine::error) {
                return INI_ERR_OPEN;  // never present a half text as whole
            }
            any = true;
            std::size_t got_len = sizeof piece - 1;
            while (got_len > 0 && piece[got_len] != 0) {
                --got_len;
            }
            ended = got_len > 0 && piece[got_len - 1] == '\n';
            if (lost) {
                continue;
            }
            const std::size_t n = std::strlen(piece);
            lost = n < got_len;  // a zero byte ends the stored line there
            if (std::uint32_t status = make_room(x, n + 1); status != 0) {
                return status;
            }
            std::memcpy(x->pTxt + used(x), piece, n);
            x->remain = static_cast<std::uint16_t>(x->remain - n);
            if (drop == Drop::undecided) {
                drop = comment_or_empty(x->pTxt + start, used(x) - start, text_start, ended || lost);
                if (drop == Drop::drop) {
                    lost = true;  // read only: a comment is not kept, however long
                }
            }
        }
        if (!any) {
            break;
        }
        if (drop == Drop::undecided) {
            drop = comment_or_empty(x->pTxt + start, used(x) - start, text_start, true);
        }
        text_start = false;
        if (drop == Drop::drop) {
            const auto size = static_cast<std::uint16_t>(used(x) - start);
            std::memset(x->pTxt + start, 0, size);
            x->remain = static_cast<std::uint16_t>(x->remain + size);
            continue;
        }
        if (x->numlines == KW_INI_MAX_LINES) {
            return INI_ERR_TEXT_FULL;
        }
        // make_room left a byte for the zero, which is already there.
        x->remain = static_cast<std::uint16_t>(x->remain - 1);
        x->pRef[x->numlines].offs = start;
        ++x->numlines;
        ++x->ix;
    }
    x->pRef[x->numlines].offs = used(x);
    return INI_OK;
}

}  // namespace kw::ini
