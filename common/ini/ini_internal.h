// The INI engine's private view of the caller's KW_INI_STRUC, the line table
// entry, and the helpers that every INI operation shares.
//
// KW_INI_INTERNAL overlays the record: its fields up to the reserved array
// fill the 80 private bytes, and from alloc_mem on it is the public view. The
// layout is fixed per pointer width (static_asserts below): with 4-byte
// pointers the fields take 56 bytes, with 8-byte pointers 72; the reserved
// tail after them is unused.
#ifndef KW_INI_INTERNAL_H
#define KW_INI_INTERNAL_H

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "kwutil.h"

namespace kw::ini {

inline constexpr std::uint32_t kSignature = 0x05050505u;
// The line table: an entry for each line and the end entry, 4 bytes each.
inline constexpr std::uint16_t kTableBytes = (KW_INI_MAX_LINES + 1) * 4;
static_assert(kTableBytes == 16384);
inline constexpr std::uint16_t kTextStep = 8192;      // first size and growth step
inline constexpr std::uint16_t kLineBuf = 256;        // a file line: 255 bytes + zero

// Bits of KW_INI_INTERNAL::owned.
inline constexpr std::uint8_t kOwnsText = 0x01;       // pTxt came from alloc_mem
inline constexpr std::uint8_t kCommonDialect = 0x02;  // opened with KW_INI_COMMON

}  // namespace kw::ini

struct LINE_STRUC {
    std::uint16_t offs;   // offset of the line's first byte in the text buffer
    std::uint8_t type;    // INI_LINE_*
    std::uint8_t keylen;  // key line: bytes before the first '='; 255 means "255 or more"
};
static_assert(sizeof(LINE_STRUC) == 4);

struct KW_INI_INTERNAL {
    std::uint32_t signature;         // kSignature while open
    std::uint8_t unicode_flag;       // 0: 8-bit characters, else 16-bit
    std::uint8_t unicode_high_low;   // 16-bit order: nonzero = high byte first
    std::uint16_t numlines;          // lines in the table
    std::FILE *pFile;                // the file held open in mode 2
    unsigned char *pTxt;             // the text buffer
    LINE_STRUC *pRef;                // the line table
    std::uint16_t ix;                // current line; numlines = the end position
    std::uint16_t txtsize;           // size of the text buffer
    std::uint16_t remain;            // free bytes after the used text
    std::uint8_t mode;               // 1 read only, 2 read and write
    std::uint8_t owned;              // kOwnsText
    const unsigned char *pTb;        // tokenizer translation table
    std::uint16_t endline;           // the twelve character codes, ASCII values
    std::uint16_t space;
    std::uint16_t semicolon;
    std::uint16_t equal;
    std::uint16_t star;
    std::uint16_t question_mark;
    std::uint16_t open_square_bracket;
    std::uint16_t close_square_bracket;
    std::uint16_t open_angle_bracket;
    std::uint16_t close_angle_bracket;
    std::uint16_t comma;
    std::uint16_t double_quote;
    unsigned char ___[40 - 4 * sizeof(void *)];  // reserved tail of the private area
    // --- identical to the public view from here on ---
    KW_ALLOC_MEM alloc_mem;
    KW_FREE_MEM free_mem;
    unsigned char *pBuf;
    std::uint16_t bufsize;
    std::uint16_t usesize;
    std::uint16_t linenum;
    std::uint8_t linetype;
    std::uint8_t __;
    unsigned char *pLine;
    unsigned char *pValue;
};

// Every offset, for both pointer widths: 4-byte pointers first, then 8.
#define KW_INI_AT(field, at32, at64) \
    static_assert(offsetof(KW_INI_INTERNAL, field) == (sizeof(void *) == 4 ? (at32) : (at64)), #field)
KW_INI_AT(signature, 0, 0);
KW_INI_AT(unicode_flag, 4, 4);
KW_INI_AT(unicode_high_low, 5, 5);
KW_INI_AT(numlines, 6, 6);
KW_INI_AT(pFile, 8, 8);
KW_INI_AT(pTxt, 12, 16);
KW_INI_AT(pRef, 16, 24);
KW_INI_AT(ix, 20, 32);
KW_INI_AT(txtsize, 22, 34);
KW_INI_AT(remain, 24, 36);
KW_INI_AT(mode, 26, 38);
KW_INI_AT(owned, 27, 39);
KW_INI_AT(pTb, 28, 40);
KW_INI_AT(endline, 32, 48);
KW_INI_AT(space, 34, 50);
KW_INI_AT(semicolon, 36, 52);
KW_INI_AT(equal, 38, 54);
KW_INI_AT(star, 40, 56);
KW_INI_AT(question_mark, 42, 58);
KW_INI_AT(open_square_bracket, 44, 60);
KW_INI_AT(close_square_bracket, 46, 62);
KW_INI_AT(open_angle_bracket, 48, 64);
KW_INI_AT(close_angle_bracket, 50, 66);
KW_INI_AT(comma, 52, 68);
KW_INI_AT(double_quote, 54, 70);
KW_INI_AT(___, 56, 72);  // the reserved tail: 24 bytes with 4-byte pointers, 8 with 8
KW_INI_AT(alloc_mem, 80, 80);
KW_INI_AT(free_mem, 84, 88);
KW_INI_AT(pBuf, 88, 96);
KW_INI_AT(bufsize, 92, 104);
KW_INI_AT(usesize, 94, 106);
KW_INI_AT(linenum, 96, 108);
KW_INI_AT(linetype, 98, 110);
KW_INI_AT(__, 99, 111);
KW_INI_AT(pLine, 100, 112);
KW_INI_AT(pValue, 104, 120);
#undef KW_INI_AT
static_assert(sizeof(KW_INI_INTERNAL::___) == (sizeof(void *) == 4 ? 24 : 8), "the reserved tail");
static_assert(sizeof(KW_INI_INTERNAL) == (sizeof(void *) == 4 ? 108 : 128));

// The public view names the same bytes.
static_assert(sizeof(KW_INI_INTERNAL) == sizeof(KW_INI_STRUC));
static_assert(offsetof(KW_INI_INTERNAL, alloc_mem) == offsetof(KW_INI_STRUC, alloc_mem));
static_assert(offsetof(KW_INI_INTERNAL, free_mem) == offsetof(KW_INI_STRUC, free_mem));
static_assert(offsetof(KW_INI_INTERNAL, pBuf) == offsetof(KW_INI_STRUC, pBuf));
static_assert(offsetof(KW_INI_INTERNAL, bufsize) == offsetof(KW_INI_STRUC, bufsize));
static_assert(offsetof(KW_INI_INTERNAL, usesize) == offsetof(KW_INI_STRUC, usesize));
static_assert(offsetof(KW_INI_INTERNAL, linenum) == offsetof(KW_INI_STRUC, linenum));
static_assert(offsetof(KW_INI_INTERNAL, linetype) == offsetof(KW_INI_STRUC, linetype));
static_assert(offsetof(KW_INI_INTERNAL, __) == offsetof(KW_INI_STRUC, __));
static_assert(offsetof(KW_INI_INTERNAL, pLine) == offsetof(KW_INI_STRUC, pLine));
static_assert(offsetof(KW_INI_INTERNAL, pValue) == offsetof(KW_INI_STRUC, pValue));

namespace kw::ini {

// The private view of a caller's record.
inline KW_INI_INTERNAL *view(KW_INI_STRUC *p) noexcept {
    return reinterpret_cast<KW_INI_INTERNAL *>(p);
}

inline bool is_open(const KW_INI_INTERNAL *x) noexcept { return x->signature == kSignature; }

// Used bytes of the text buffer; equal to the end entry's offset.
inline std::uint16_t used(const KW_INI_INTERNAL *x) noexcept {
    return static_cast<std::uint16_t>(x->txtsize - x->remain);
}

// Read the character at p by the handle's rule: one byte, or a 16-bit value
// from p[0] and p[1] in the handle's byte order.
inline std::uint16_t char_at(const KW_INI_INTERNAL *x, const unsigned char *p) noexcept {
    if (x->unicode_flag == 0) {
        return p[0];
    }
    return x->unicode_high_low != 0 ? static_cast<std::uint16_t>(p[0] << 8 | p[1])
                                    : static_cast<std::uint16_t>(p[1] << 8 | p[0]);
}

// A key length as an entry keeps it: 255 stands for 255 or more, whose '='
// is then found again where it is needed.
inline std::uint8_t saturated_keylen(std::size_t keylen) noexcept {
    return keylen < 255 ? static_cast<std::uint8_t>(keylen) : std::uint8_t{255};
}

// The byte that a character code stands for in a line's bytes: the byte
// searches look for the low 8 bits of a 16-bit code.
inline unsigned char code_byte(std::uint16_t code) noexcept { return static_cast<unsigned char>(code & 0xFF); }

// Classify the zero-terminated line at pTxtline (of length len). On success
// writes the type and, when pKeylen is not null, the key length (saturated at
// 255), and returns 0; on failure returns INI_ERR_LEADING_SPACE or
// INI_ERR_LINE and writes nothing. A zero-length line is refused with 27
// without reading a second byte of it.
std::uint32_t analyze_line(const KW_INI_INTERNAL *pX, const unsigned char *pTxtline, std::size_t len,
                           std::uint8_t *pLinetype, std::uint8_t *pKeylen) noexcept;

// Publish the line at ix through linenum, linetype, __, pLine and pValue.
void set_current(KW_INI_INTERNAL *pX) noexcept;

// The default memory callbacks (malloc / free).
std::uint32_t alloc__mem(std::uint16_t Size, unsigned char **ppBuf);
std::uint32_t free__mem(std::uint16_t Size, unsigned char *pBuf);

// Obtain a block of size bytes through the handle's alloc_mem. Returns 0 and
// the block, or the callback's failing status (1 when it reported success
// but stored no block).
std::uint32_t obtain(KW_INI_INTERNAL *pX, std::uint16_t size, unsigned char **block) noexcept;

// Give a block back through the handle's free_mem with the size it was
// obtained with.
void give_back(KW_INI_INTERNAL *pX, std::uint16_t size, void *block) noexcept;

// Grow the text buffer by one step of 8,192 bytes, into a block of the
// engine's own (a caller's buffer is left to the caller; ours is given
// back). Returns 0, 30 when the grown size would pass 65,535 bytes, or the
// allocator's status; on failure nothing has changed.
std::uint32_t grow_text(KW_INI_INTERNAL *pX) noexcept;

// Give back every block the handle holds and close its file; leaves the
// record not open with no pointers into freed memory.
void release_all(KW_INI_INTERNAL *pX) noexcept;

// --- the common dialect (ini_common.cpp) ---

inline bool common_dialect(const KW_INI_INTERNAL *x) noexcept { return (x->owned & kCommonDialect) != 0; }

inline bool is_blank(unsigned char c) noexcept { return c == ' ' || c == '\t'; }

// Where a key line's reach ends for continuation lines: the indentation of
// the last key line, or kNoReach after a header or at the top.
inline constexpr std::size_t kNoReach = static_cast<std::size_t>(-1);

// Bytes of a byte-order mark at the start of line (3 or 0); only the line at
// the start of the text can carry one.
inline std::size_t mark_at(const unsigned char *line, std::size_t len, bool text_start) noexcept {
    return text_start && len >= 3 && line[0] == 0xEF && line[1] == 0xBB && line[2] == 0xBF ? 3 : 0;
}

// Classify line (len bytes before its zero) by the common rules, given the
// reach of the key line above it; never fails. Writes the type, the key
// length (0 for other lines) and updates *reach for the next line. The
// handle gives the character codes, as it does for analyze_line.
void analyze_common(const KW_INI_INTERNAL *x, const unsigned char *line, std::size_t len, bool text_start, std::size_t *reach,
                    std::uint8_t *pLinetype, std::uint8_t *pKeylen) noexcept;

// The reach in force at line k: from the last header or key line above it.
std::size_t reach_before(const KW_INI_INTERNAL *x, std::uint16_t k) noexcept;

// Classify lines from `from` on, starting with reach, until a header or key
// line whose entry is unchanged (all lines when every_line is set).
void classify_common(KW_INI_INTERNAL *x, std::uint16_t from, std::size_t reach, bool every_line) noexcept;

// Read the rest of the open file pFile into the text buffer as whole lines
// and set the end entry; mode 1 drops comment and empty lines. Returns 0, 30,
// 32 on a read error, or the allocator's status.
std::uint32_t read_whole_lines(KW_INI_INTERNAL *x) noexcept;

// The first byte of key line i's value: after its first '=' and, in the
// common dialect, after the blanks that follow it.
const unsigned char *value_start(const KW_INI_INTERNAL *x, std::uint16_t i) noexcept;

// The end of key line i's value (one past its last byte): before the line
// end and, in the common dialect, before CR LF and trailing blanks; never
// before value_start.
const unsigned char *value_end(const KW_INI_INTERNAL *x, std::uint16_t i, const unsigned char *start) noexcept;

}  // namespace kw::ini

#endif
