// KW_ini_next, KW_ini_goto and KW_ini_find: moving the current line.
//
// The search compares names where they lie in the text buffer, folding case
// byte by byte, so neither patterns nor lines are copied or cut to a fixed
// length.
//
// It runs in two phases. While the section is sought only headers matter, so
// a tight loop runs over the line types to the next header. Inside the
// section, key lines are compared up to the next header. A pattern without
// '*' matches only names of its own length, so such a pattern (the usual
// case) rejects most names by one byte: for a key line its table entry's key
// length, for a header the byte where the name would have to end. Names of
// the right length are compared eight bytes at a time against an upper-cased
// copy of the pattern, the last eight first, as names that differ tend to
// share their beginnings. Both shortcuts rest on what the classification
// guarantees for every stored line (a header holds its closing bracket, a key
// length below 255 is where the first '=' stands); the general matcher
// decides everything else.
#include <bit>
#include <cstddef>
#include <cstring>

#include "ini/ini_internal.h"
#include "misc/wildcard.h"
#include "platform/bytes.h"
#include "platform/compiler.h"
#include "platform/text.h"

// The name comparisons run some thirty times a search; a call each would cost
// about as much as the comparison itself, so the helpers are KW_FORCE_INLINE.

namespace kw::ini {
namespace {

bool name_matches(const unsigned char *name, std::size_t len, const unsigned char *pattern, std::size_t plen) noexcept {
    return misc::wildcard_match(name, len, pattern, plen, plat::fold);
}

std::size_t line_length(const LINE_STRUC *ref, std::uint16_t i) noexcept {
    return static_cast<std::size_t>(ref[i + 1].offs - ref[i].offs - 1);
}

enum class Step { pass, found, not_found };

// Longest pattern kept upper-cased for comparing eight bytes at a time.
constexpr std::size_t kFoldedMax = 64;

// A search pattern, measured once per search.
struct Pattern {
    const unsigned char *text;
    std::size_t len;
    bool star;   // holds a '*': the general matcher decides
    bool plain;  // neither '*' nor '?', and folded holds it upper-cased
    bool edges;  // first and last bytes are neither blank nor '?'
    unsigned char folded[kFoldedMax];
};

// One pass over the pattern: patterns are short, and a call each for its
// length, its '*' and its '?' costs more than the pass.
void measure(const unsigned char *p, Pattern *pat) noexcept {
    bool wild = false;
    std::size_t len = 0;
    for (; p[len] != 0; ++len) {
        const unsigned char c = p[len];
        pat->star = pat->star || c == '*';
        wild = wild || c == '?';
        if (len < kFoldedMax) {
            pat->folded[len] = plat::fold(c);
        }
    }
    pat->text = p;
    pat->len = len;
    pat->plain = !pat->star && !wild && len <= kFoldedMax;
    pat->edges = len > 0 && !is_blank(p[0]) && p[0] != '?' && !is_blank(p[len - 1]) && p[len - 1] != '?';
}

// plat::fold on each of eight bytes: a..z lose their 0x20 bit. Byte by byte,
// without carries between bytes, so the byte order does not matter.
KW_FORCE_INLINE std::uint64_t fold8(std::uint64_t w) noexcept {
    constexpr std::uint64_t ones = 0x0101010101010101u;
    const std::uint64_t low7 = w & (ones * 0x7F);
    const std::uint64_t from_a = low7 + ones * (0x80 - 'a');      // high bit: byte >= 'a'
    const std::uint64_t past_z = low7 + ones * (0x80 - 'z' - 1);  // high bit: byte > 'z'
    const std::uint64_t letter = from_a & ~past_z & ~w & (ones * 0x80);
    return w ^ (letter >> 2);
}

// A plain pattern against the pattern's length in bytes of name. Eight bytes
// a step, the last eight first.
KW_FORCE_INLINE bool same_plain(const unsigned char *name, const Pattern &pat) noexcept {
    const std::size_t len = pat.len;
    if (len < 8) {
        for (std::size_t i = 0; i < len; ++i) {
            if (plat::fold(name[i]) != pat.folded[i]) {
                return false;
            }
        }
        return true;
    }
    if (fold8(plat::load64(name + len - 8)) != plat::load64(pat.folded + len - 8)) {
        return false;
    }
    for (std::size_t i = 0; i + 8 < len; i += 8) {
        if (fold8(plat::load64(name + i)) != plat::load64(pat.folded + i)) {
            return false;
        }
    }
    return true;
}

// The pattern's length in bytes of name, against a pattern without '*':
// what the general matcher does for a name of exactly that length, from the
// last byte back.
KW_FORCE_INLINE bool same_bytes(const unsigned char *name, const Pattern &pat) noexcept {
    if (pat.plain) {
        return same_plain(name, pat);
    }
    for (std::size_t i = pat.len; i-- > 0;) {
        const unsigned char want = pat.text[i];
        if (want != '?' && plat::fold(name[i]) != plat::fold(want)) {
            return false;
        }
    }
    return true;
}

// A "[section]" or "<section>" line met while looking for the section. The
// name runs from the byte after the opening bracket to the first closing one.
Step section_line(const unsigned char *line, std::size_t len, const Pattern &sect, bool key_given,
                  bool *foundsect) noexcept {
    const unsigned char close = line[0] == '[' ? ']' : '>';
    bool match = false;
    if (!sect.star) {
        // A name of the pattern's length ends right after it.
        match = len >= sect.len + 2 && line[sect.len + 1] == close && same_bytes(line + 1, sect) &&
                std::memchr(line + 1, close, sect.len) == nullptr;
    } else {
        const void *cut = std::memchr(line, close, len);
        if (cut == nullptr) {
            return Step::not_found;  // cannot be classified so; stop where it stands
        }
        const auto cutpos = static_cast<std::size_t>(static_cast<const unsigned char *>(cut) - line);
        const std::size_t namelen = cutpos > 0 ? cutpos - 1 : 0;
        match = name_matches(line + 1, namelen, sect.text, sect.len);
    }
    if (!match) {
        return Step::pass;
    }
    *foundsect = true;
    return key_given ? Step::pass : Step::found;
}

// The common dialect's header line, from its bracket on: blanks (and on
// line 1 a byte-order mark) may stand before it. A header holds its bracket,
// so the skip never reaches the zero.
KW_FORCE_INLINE std::size_t header_indent(const unsigned char *line, std::size_t len, bool text_start) noexcept {
    std::size_t b = mark_at(line, len, text_start);
    while (b < len && is_blank(line[b])) {
        ++b;
    }
    return b;
}

// The common dialect's key: the bytes before the first '=', without the
// blanks around them (and on line 1 without a byte-order mark).
KW_FORCE_INLINE Step key_line_common(const unsigned char *line, std::size_t len, std::uint8_t keylen, bool text_start,
                                   const Pattern &key) noexcept {
    if (!key.star && keylen < 255) {
        // The trimmed name is never longer than the bytes before the '='.
        if (keylen < key.len) {
            return Step::pass;
        }
        // Of the same length it can only be all of them: a pattern whose ends
        // are neither blank nor '?' then fails on any blank there by itself.
        if (keylen == key.len && key.edges && !text_start) {
            return same_bytes(line, key) ? Step::found : Step::pass;
        }
    }
    const unsigned char *eq = line + keylen;
    if (keylen == 255) {
        eq = static_cast<const unsigned char *>(std::memchr(line, '=', len));
        if (eq == nullptr) {
            return Step::not_found;
        }
    }
    const unsigned char *name = line + mark_at(line, len, text_start);
    while (name < eq && is_blank(*name)) {
        ++name;
    }
    const unsigned char *end = eq;
    while (end > name && is_blank(end[-1])) {
        --end;
    }
    const auto namelen = static_cast<std::size_t>(end - name);
    if (!key.star) {
        return namelen == key.len && same_bytes(name, key) ? Step::found : Step::pass;
    }
    return name_matches(name, namelen, key.text, key.len) ? Step::found : Step::pass;
}

// A "key=value" line inside the wanted section; the key is everything before
// the first '='.
Step key_line(const unsigned char *line, std::size_t len, std::uint8_t keylen, const Pattern &key) noexcept {
    if (!key.star && keylen < 255) {
        return keylen == key.len && same_bytes(line, key) ? Step::found : Step::pass;
    }
    const void *eq = std::memchr(line, '=', len);
    if (eq == nullptr) {
        return Step::not_found;
    }
    const auto namelen = static_cast<std::size_t>(static_cast<const unsigned char *>(eq) - line);
    return name_matches(line, namelen, key.text, key.len) ? Step::found : Step::pass;
}

// The first header at or after line i, or n when there is none: the loop a
// search spends most of its time in. Where the compiler has vector types,
// sixteen entries go a step, four at a time in 16-byte vectors, with one
// branch for the sixteen; elsewhere eight entries go a step, with one branch
// for the eight.
#if KW_VECTOR_EXT
// The number of the first nonzero byte of the 16 in v, in memory order, or
// 16 when all are zero.
template <class V>
unsigned first_nonzero_byte(const V &v) noexcept {
    std::uint64_t half[2];
    std::memcpy(half, &v, sizeof half);
    for (unsigned h = 0; h < 2; ++h) {
        if (half[h] != 0) {
            const int bit = std::endian::native == std::endian::little ? std::countr_zero(half[h])
                                                                       : std::countl_zero(half[h]);
            return h * 8 + static_cast<unsigned>(bit) / 8;
        }
    }
    return 16;
}

std::uint16_t next_header(const LINE_STRUC *ref, std::uint16_t i, std::uint16_t n) noexcept {
    using Bytes16 = KW_VECTOR(unsigned char, 16);
    static_assert(sizeof(LINE_STRUC) == 4 && offsetof(LINE_STRUC, type) == 2);
    // Masked, the four entries keep only their type bytes; compared with
    // `header`, only a type byte can be equal (the others are 0 against 0xFF).
    constexpr unsigned char h = INI_LINE_SECTION;
    const Bytes16 type_byte = {0, 0, 0xFF, 0, 0, 0, 0xFF, 0, 0, 0, 0xFF, 0, 0, 0, 0xFF, 0};
    const Bytes16 header = {0xFF, 0xFF, h, 0xFF, 0xFF, 0xFF, h, 0xFF, 0xFF, 0xFF, h, 0xFF, 0xFF, 0xFF, h, 0xFF};
    const LINE_STRUC *p = ref + i;
    const LINE_STRUC *const end = ref + n;
    for (; end - p >= 16; p += 16) {
        Bytes16 v[4];
        std::memcpy(v, p, sizeof v);
        const auto h0 = (v[0] & type_byte) == header;
        const auto h1 = (v[1] & type_byte) == header;
        const auto h2 = (v[2] & type_byte) == header;
        const auto h3 = (v[3] & type_byte) == header;
        const auto hit = (h0 | h1) | (h2 | h3);
        std::uint64_t any[2];
        std::memcpy(any, &hit, sizeof any);
        if ((any[0] | any[1]) != 0) {
            unsigned at = first_nonzero_byte(h0);
            at = at < 16 ? at : 16 + first_nonzero_byte(h1);
            at = at < 32 ? at : 32 + first_nonzero_byte(h2);
            at = at < 48 ? at : 48 + first_nonzero_byte(h3);
            return static_cast<std::uint16_t>(static_cast<std::size_t>(p - ref) + at / 4);
        }
    }
    while (p < end && p->type != h) {
        ++p;
    }
    return static_cast<std::uint16_t>(p - ref);
}
#else
std::uint16_t next_header(const LINE_STRUC *ref, std::uint16_t i, std::uint16_t n) noexcept {
    constexpr std::uint8_t h = INI_LINE_SECTION;
    for (; n - i >= 8; i = static_cast<std::uint16_t>(i + 8)) {
        const LINE_STRUC *e = ref + i;
        const bool any = (e[0].type == h) | (e[1].type == h) | (e[2].type == h) | (e[3].type == h) |
                         (e[4].type == h) | (e[5].type == h) | (e[6].type == h) | (e[7].type == h);
        if (any) {
            break;
        }
    }
    while (i < n && ref[i].type != h) {
        ++i;
    }
    return i;
}
#endif

struct Stop {
    std::uint16_t ix;  // where the search stopped
    bool found;
};

// The search from line `from`. sect is null when no section is sought (the
// keys of the current section), key null when the header is the target.
// Common selects the common dialect's names.
template <bool Common>
Stop search(const KW_INI_INTERNAL *x, std::uint16_t from, const Pattern *sect, const Pattern *key) noexcept {
    const LINE_STRUC *const ref = x->pRef;
    const unsigned char *const txt = x->pTxt;
    const std::uint16_t n = x->numlines;
    std::uint16_t i = from;
    if (sect != nullptr) {
        bool foundsect = false;
        while (!foundsect) {
            i = next_header(ref, i, n);  // until the section is found, only a header counts
            if (i == n) {
                return Stop{i, false};
            }
            const unsigned char *line = txt + ref[i].offs;
            std::size_t len = line_length(ref, i);
            if (Common && line[0] != '[' && line[0] != '<') {
                const std::size_t b = header_indent(line, len, ref[i].offs == 0);
                line += b;
                len -= b;
            }
            const Step step = section_line(line, len, *sect, key != nullptr, &foundsect);
            if (step != Step::pass) {
                return Stop{i, step == Step::found};
            }
            ++i;
        }
    }
    // Inside the section: its key lines, up to the next header.
    for (; i < n; ++i) {
        const LINE_STRUC &e = ref[i];
        if (e.type == INI_LINE_SECTION) {
            break;
        }
        if (e.type == INI_LINE_KEY) {
            const Step step = Common ? key_line_common(txt + e.offs, line_length(ref, i), e.keylen, e.offs == 0, *key)
                                     : key_line(txt + e.offs, line_length(ref, i), e.keylen, *key);
            if (step != Step::pass) {
                return Stop{i, step == Step::found};
            }
        }
    }
    return Stop{i, false};
}

}  // namespace
}  // namespace kw::ini

using namespace kw::ini;

extern "C" KW_API uint32_t KW_ini_next(KW_INI_STRUC *pIni) {
    KW_INI_INTERNAL *x = view(pIni);
    if (!is_open(x)) {
        return INI_ERR_HANDLE;
    }
    if (x->ix < x->numlines) {
        ++x->ix;
        set_current(x);
    }
    return INI_OK;
}

extern "C" KW_API uint32_t KW_ini_goto(KW_INI_STRUC *pIni, uint16_t nth_line) {
    KW_INI_INTERNAL *x = view(pIni);
    if (!is_open(x)) {
        return INI_ERR_HANDLE;
    }
    if (nth_line == 0 || nth_line > x->numlines) {
        return INI_ERR_LINE;
    }
    x->ix = static_cast<std::uint16_t>(nth_line - 1);
    set_current(x);
    return INI_OK;
}

extern "C" KW_API uint32_t KW_ini_find(KW_INI_STRUC *pIni, const unsigned char *Section, const unsigned char *Key,
                                       unsigned char *pFound) {
    KW_INI_INTERNAL *x = view(pIni);
    if (!is_open(x)) {
        return INI_ERR_HANDLE;
    }
    if (Section == nullptr && Key == nullptr) {
        return INI_ERR_NO_NAME;
    }
    *pFound = 0;
    Pattern sect{};
    Pattern key{};
    if (Section != nullptr) {
        measure(Section, &sect);
    }
    if (Key != nullptr) {
        measure(Key, &key);
    }
    const Pattern *const s = Section != nullptr ? &sect : nullptr;
    const Pattern *const k = Key != nullptr ? &key : nullptr;
    const Stop stop = common_dialect(x) ? search<true>(x, x->ix, s, k) : search<false>(x, x->ix, s, k);
    if (stop.found) {
        *pFound = 1;
    }
    x->ix = stop.ix;
    set_current(x);
    return INI_OK;
}
