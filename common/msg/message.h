// Turning a message number into formatted text: the key, the lookup with its
// not-found fallback, the arguments in position order and the formatter.
// Shared by the variable-list and the packed-list entry points, which differ
// only in how an argument value is fetched.
//
// Arguments are taken in ascending position order: the scan records the
// first nine specifiers and sorts them by their first characters. When those
// already ascend in the text, as in nearly every message, the text is read
// once into a small table (literal runs, specifiers as the formatter reads
// them, the scan's records), the arguments are fetched in text order, and the
// output is written from the table. Otherwise, or when the text is irregular
// (a specifier whose extent the scan and the formatter judge differently, or
// more pieces than the table holds), the plain process runs: scan, sort,
// fetch, format. Both give the same text, and no argument is fetched before
// the order is known.
#ifndef KW_MSG_MESSAGE_H
#define KW_MSG_MESSAGE_H

#include <climits>
#include <cstdint>

#include "msg/catalog.h"
#include "msg/format_core.h"
#include "msg/specifiers.h"
#include "platform/text.h"

namespace kw::msg {

// The key's application ID in the catalog's encoding. With an appID (in the
// platform's encoding, already upper case) its first two characters are
// translated into the catalog's encoding; a character past the end of a
// shorter appID is 0. Without one, the catalog's own: the first two bytes of
// its text area. The catalog holds at least one message.
struct AppId {
    unsigned char c0;
    unsigned char c1;
};
AppId app_id(const Catalog &cat, const char *appID) noexcept;

struct Found {
    const unsigned char *text;
    bool entry0;  // the not-found entry, or message 0 of the array itself
};

// Find message msgnum under the application ID id; entry 0 when it is not in
// the catalog. The catalog holds at least one message.
Found find_message(const Catalog &cat, AppId id, std::uint16_t msgnum) noexcept;

// A text read once into a table: the literal runs, the specifiers as the
// formatter reads them, and the scan's records in text order.
struct Piece {
    enum class Kind : std::uint8_t { specifier, percent, end };
    const unsigned char *run;  // literal characters before the piece
    std::size_t run_len;
    Kind kind;                 // what follows the run: a specifier, "%%", or the end of the output
    Parsed spec;               // for a specifier
};

inline constexpr std::size_t kMaxPieces = 16;

struct TextTable {
    Piece pieces[kMaxPieces];
    std::uint32_t num_pieces = 0;
    KW_ARG_ args[kMaxArgs];  // the scan's records, in text order
    std::uint32_t num_args = 0;
};

// Read the text into t. Returns false when the table cannot stand for the
// text: a record's first character sorts before an earlier one's (the
// arguments would not come in text order), a specifier's extent is judged
// differently by the scan and the formatter, or the text has more pieces
// than the table holds. Reads nothing at or past limit.
inline bool read_text(const unsigned char *text, const unsigned char *limit, const Literals &lit,
                      const unsigned char *pTbIn, TextTable &t) noexcept {
    int last_first = INT_MIN;
    const auto in_order = [&last_first](const KW_ARG_ &a) {
        const int first = static_cast<signed char>(a.specifier[0]);
        if (first < last_first) {
            return false;
        }
        last_first = first;
        return true;
    };
    // The counts are kept in locals and stored when done: byte stores into
    // the table could alias them.
    std::uint32_t num_pieces = 0;
    std::uint32_t num_args = 0;
    const auto done = [&t, &num_pieces, &num_args](bool result) {
        t.num_pieces = num_pieces;
        t.num_args = num_args;
        return result;
    };
    const unsigned char *p = text;
    for (;;) {
        if (num_pieces == kMaxPieces) {
            return done(false);
        }
        Piece &piece = t.pieces[num_pieces++];
        const unsigned char *stop = find_byte_or_zero(p, limit, lit.percent);
        piece.run = p;
        piece.run_len = static_cast<std::size_t>(stop - p);
        if (*stop == 0) {
            piece.kind = Piece::Kind::end;
            return done(true);
        }
        const unsigned char *q = stop + 1;
        if (*q == lit.percent) {
            piece.kind = Piece::Kind::percent;
            p = q + 1;
            continue;
        }
        KW_ARG_ scratch;
        const bool record = num_args < kMaxArgs;
        KW_ARG_ &a = record ? t.args[num_args] : scratch;
        const unsigned char *scan_resume = collect_specifier(q, lit, pTbIn, a);
        if (record) {
            if (!in_order(a)) {
                return done(false);
            }
            ++num_args;
        }
        if (!parse_specifier(q, lit, piece.spec)) {
            // The output ends here, but the scan goes on: its later records
            // still take their arguments, and one that sorts earlier would
            // change which argument goes where.
            piece.kind = Piece::Kind::end;
            KW_ARG_ rest[kMaxArgs];
            const std::uint32_t n = scan_specifiers(scan_resume, limit, lit, pTbIn, rest);
            for (std::uint32_t i = 0; i < n && num_args < kMaxArgs; ++i) {
                if (!in_order(rest[i])) {
                    return done(false);
                }
                t.args[num_args++] = rest[i];
            }
            return done(true);
        }
        if (piece.spec.resume != scan_resume) {
            return done(false);
        }
        piece.kind = Piece::Kind::specifier;
        p = piece.spec.resume;
    }
}

// Write a text from its table: what format_core writes for it.
template <class Out>
void write_table(Out &out, const Literals &lit, const TextTable &t, const ARG_UNION *argums,
                 const ArgKind *kinds) noexcept {
    for (std::uint32_t i = 0; i < t.num_pieces; ++i) {
        const Piece &piece = t.pieces[i];
        out.put(piece.run, piece.run_len);
        switch (piece.kind) {
            case Piece::Kind::percent:
                out.put(&lit.percent, 1);
                break;
            case Piece::Kind::specifier:
                emit(out, lit, piece.spec, argums[piece.spec.position - 1], kinds[piece.spec.position - 1]);
                break;
            case Piece::Kind::end:
                return;
        }
    }
}

// Format message msgnum into buf as Sink(buf, cap, skip) stores it and
// return the length of the whole text. fetch(const KW_ARG_ &, ArgKind,
// index, ARG_UNION &) supplies the value of the index-th specifier in
// position order. Entry 0 takes no arguments: its position 1 is msgnum.
template <class Fetch>
std::uint64_t format_message(const Catalog &cat, char *buf, std::uint64_t cap, std::uint32_t skip, AppId id,
                             std::uint16_t msgnum, Fetch &fetch) noexcept {
    const Found m = find_message(cat, id, msgnum);
    const unsigned char *const limit = cat.pTxt + cat.txtsize;  // the text area ends with a zero
    const Literals &lit = literals_for(cat.encoding);
    ARG_UNION argums[kMaxArgs];
    ArgKind kinds[kMaxArgs] = {};  // an element is read only as the kind recorded for it
    if (m.entry0) {
        argums[0]._long = static_cast<std::int32_t>(msgnum);
        kinds[0] = ArgKind::number;
        return ascii_ebcdic_sprintf(cat.encoding, buf, cap, skip, m.text, limit, argums, kinds);
    }
    const unsigned char *pTbIn = cat.encoding == kEncodingEbcdic ? KW_xlate_EBC_ASC : KW_xlate_dummy;
    TextTable table;
    const bool in_text_order = read_text(m.text, limit, lit, pTbIn, table);
    if (!in_text_order) {
        table.num_args = scan_specifiers(m.text, limit, lit, pTbIn, table.args);
        sort_args(table.args, table.num_args);
    }
    for (std::uint32_t i = 0; i < table.num_args; ++i) {
        const ArgKind kind = classify(table.args[i]);
        if (kind != ArgKind::none) {
            fetch(table.args[i], kind, i, argums[i]);
            kinds[i] = kind;
        }
    }
    if (in_text_order) {
        return run_output(buf, cap, skip, [&](auto &out) { write_table(out, lit, table, argums, kinds); });
    }
    return ascii_ebcdic_sprintf(cat.encoding, buf, cap, skip, m.text, limit, argums, kinds);
}

// Upper-case the caller's application ID in place (the runtime's _strupr).
inline void upper_case(char *appID) noexcept {
    plat::strupr(appID);
}

// Characters that flags bit 0 drops from the front of a message.
inline constexpr std::uint32_t kStripLen = 11;

inline std::uint32_t skip_for(unsigned char flags) noexcept {
    return (flags & KW_MSG_STRIP_KEY) != 0 ? kStripLen : 0;
}

// A length as the int32 result of the formatting calls.
inline std::int32_t as_result(std::uint64_t len) noexcept {
    return len > static_cast<std::uint64_t>(INT32_MAX) ? INT32_MAX : static_cast<std::int32_t>(len);
}

}  // namespace kw::msg

#endif
