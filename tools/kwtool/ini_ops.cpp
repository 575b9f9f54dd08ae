// The INI operations of kwtool. Every answer comes from the engine (search,
// value, tokens, edits, write); this file adds what a command line needs
// around it: the file's own line numbers, every occurrence of a key counted
// before anything is edited, and new lines written in the style of the file.
//
// Line numbers. A file read for an answer is loaded here and opened from a
// caller's buffer in mode 2, so no line is dropped; a file opened for an
// edit is loaded here as well before the engine opens it, and the engine's
// lines must then be ours. Either way stored line n is piece n of the split
// below, and each piece knows its file line: in the strict dialect a line
// longer than 255 bytes is read, and so stored, as several pieces.
//
// Edits change whole file lines only. In the strict dialect a piece of a
// long line is classified by itself (the tail of a long comment can look
// like a key); editing it alone would rewrite part of a line, so such an
// edit is refused rather than made.
#include "ini_ops.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

#include "file_io.h"
#include "kwutil.hpp"

namespace kwtool::ini_ops {

namespace {

constexpr std::size_t kPiece = KW_INI_MAX_LINE;  // bytes of one strict read
// Room for CR LF files read on Windows; the engine's own limits are checked
// on the text itself.
constexpr std::size_t kReadLimit = 2u * 65536u;

bool is_blank(char c) { return c == ' ' || c == '\t'; }

const unsigned char *bytes(const std::string &s) { return reinterpret_cast<const unsigned char *>(s.c_str()); }

std::string eol_of(const std::string &line) {
    if (line.size() >= 2 && line.compare(line.size() - 2, 2, "\r\n") == 0) {
        return "\r\n";
    }
    if (!line.empty() && line.back() == '\n') {
        return "\n";
    }
    return "";
}

std::string without_eol(const std::string &line) { return line.substr(0, line.size() - eol_of(line).size()); }

bool all_blank(const std::string &text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return is_blank(c); });
}

std::string number_list(const std::vector<unsigned long> &lines) {
    std::string out;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        out += (i == 0 ? "" : i + 1 == lines.size() ? " and " : ", ") + std::to_string(lines[i]);
    }
    return out;
}

// The bytes as the engine's text-mode read delivers them.
std::string load_text(const std::string &path) {
    std::string bytes = read_small_file(path, kReadLimit);
#if defined(_WIN32)
    std::string text;
    text.reserve(bytes.size());
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == '\x1a') {
            break;  // Ctrl+Z ends a text file
        }
        if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') {
            continue;
        }
        text += bytes[i];
    }
    return text;
#else
    return bytes;
#endif
}

struct piece {
    std::size_t begin;
    std::size_t size;
};

// The stored lines [first, end) of one section; header 0 stands for the
// lines before the first header.
struct section_range {
    std::uint16_t header;
    std::uint16_t first;
    std::uint16_t end;
};

// ---- reading the handle ----------------------------------------------

void go(document &f, std::uint16_t n) { static_cast<void>(KW_ini_goto(f.record(), n)); }

std::string stored(document &f, std::uint16_t n) {
    go(f, n);
    return reinterpret_cast<const char *>(f.record()->pLine);
}

std::uint8_t type_at(document &f, std::uint16_t n) {
    go(f, n);
    return f.record()->linetype;
}

// The current key line's value: where it begins in the line and its length.
std::pair<std::size_t, std::size_t> value_span(document &f) {
    KW_INI_STRUC *r = f.record();
    const unsigned char *p = nullptr;
    std::uint16_t len = 0;
    if (const std::uint32_t st = KW_ini_value(r, &p, &len); st != 0 || p == nullptr) {
        fail(kExitBadInput, located(f.name(), 0, "the INI engine gives no value: " + kw::status_code(st).message()));
    }
    // The strict dialect leaves the CR of a CR LF in the value; it belongs
    // to the line end.
    if (len > 0 && p[len - 1] == '\r' && p[len] == '\n') {
        --len;
    }
    return {static_cast<std::size_t>(p - r->pLine), len};
}

// The end position's number: one past the last line.
std::uint16_t past_end(document &f) { return static_cast<std::uint16_t>(f.lines() + 1u); }

std::uint16_t next_header(document &f, std::uint16_t from) {
    for (std::uint16_t n = from; n <= f.lines(); ++n) {
        if (type_at(f, n) == INI_LINE_SECTION) {
            return n;
        }
    }
    return past_end(f);
}

// Every section whose header matches, in file order; for "" the one range
// before the first header.
std::vector<section_range> sections(document &f, const std::string &pattern) {
    std::vector<section_range> out;
    if (pattern.empty()) {
        out.push_back({0, 1, next_header(f, 1)});
        return out;
    }
    std::uint16_t from = 1;
    while (from <= f.lines()) {
        go(f, from);
        unsigned char found = 0;
        static_cast<void>(KW_ini_find(f.record(), bytes(pattern), nullptr, &found));
        if (found == 0) {
            break;
        }
        const std::uint16_t h = f.record()->linenum;
        const std::uint16_t end = next_header(f, static_cast<std::uint16_t>(h + 1u));
        out.push_back({h, static_cast<std::uint16_t>(h + 1u), end});
        from = end;  // that header may match too
    }
    return out;
}

// The key lines of the section that the engine matches with the pattern.
std::vector<std::uint16_t> key_matches(document &f, const section_range &s, const std::string &key) {
    std::vector<std::uint16_t> out;
    std::uint16_t from = s.first;
    while (from < s.end) {
        go(f, from);
        unsigned char found = 0;
        static_cast<void>(KW_ini_find(f.record(), nullptr, bytes(key), &found));
        const std::uint16_t n = f.record()->linenum;
        if (found == 0 || n >= s.end) {
            break;
        }
        out.push_back(n);
        from = static_cast<std::uint16_t>(n + 1u);
    }
    return out;
}

std::string where_text(document &f, const section_range &s) {
    if (s.header == 0) {
        return "before the first section header";
    }
    return "in section " + without_eol(stored(f, s.header)) + " (line " + std::to_string(f.where(s.header).line) +
           ")";
}

std::vector<unsigned long> file_lines(document &f, const std::vector<std::uint16_t> &stored_lines) {
    std::vector<unsigned long> out;
    for (const std::uint16_t n : stored_lines) {
        out.push_back(f.where(n).line);
    }
    return out;
}

[[noreturn]] void no_section(document &f, const std::string &section) {
    fail(kExitNotFound, located(f.name(), 0, "no section matching '" + section + "'"));
}

// The first key line that matches in the first matching section, and every
// other one.
std::vector<std::uint16_t> occurrences(document &f, const std::string &section, const std::string &key,
                                       section_range *in = nullptr) {
    const auto secs = sections(f, section);
    if (secs.empty()) {
        no_section(f, section);
    }
    auto m = key_matches(f, secs.front(), key);
    if (m.empty()) {
        fail(kExitNotFound, located(f.name(), 0, "no key matching '" + key + "' " + where_text(f, secs.front())));
    }
    if (in != nullptr) {
        *in = secs.front();
    }
    return m;
}

std::string long_line_text(document &f, std::uint16_t n) {
    const origin &o = f.where(n);
    return "this line is " + std::to_string(o.length) + " bytes long, which the strict dialect reads as " +
           std::to_string(o.pieces) + " lines of at most 255 bytes";
}

// "bytes 256 to 271": the piece that stored line n is, in its file line.
std::string piece_text(document &f, std::uint16_t n) {
    const origin &o = f.where(n);
    const std::size_t last = std::min(o.offset + kPiece, o.length);
    return "bytes " + std::to_string(o.offset + 1) + " to " + std::to_string(last);
}

// ---- checks before an edit -------------------------------------------

// An edit of stored line n must be an edit of its whole file line.
void check_whole(document &f, std::uint16_t n, const char *what) {
    const origin &o = f.where(n);
    if (o.pieces > 1) {
        fail(kExitBadInput, located(f.name(), o.line,
                                    long_line_text(f, n) + ", and " + what + " is in its " + piece_text(f, n) +
                                        " alone: editing them would rewrite a piece of the line, so nothing was "
                                        "changed (without --strict the line is read whole)"));
    }
}

// A line may go in, or a range end, before stored line n only where a file
// line begins.
void check_boundary(document &f, std::uint16_t n, const char *what) {
    if (n <= f.lines() && f.where(n).offset != 0) {
        fail(kExitBadInput, located(f.name(), f.where(n).line,
                                    long_line_text(f, n) + ", and " + what + " begins at its byte " +
                                        std::to_string(f.where(n).offset + 1) +
                                        ": the edit would split the line, so nothing was changed"));
    }
}

void check_length(document &f, const std::string &line, unsigned long at) {
    if (f.kind() == dialect::strict && line.size() > KW_INI_MAX_LINE) {
        fail(kExitBadInput, located(f.name(), at,
                                    "the new line would be " + std::to_string(line.size()) +
                                        " bytes; the strict dialect takes at most 255 (without --strict a line may "
                                        "be longer)"));
    }
}

void check_value(document &f, const std::string &value) {
    if (value.find_first_of("\r\n") != std::string::npos) {
        fail(kExitBadInput, located(f.name(), 0, "a value cannot hold a line end"));
    }
    if (f.kind() == dialect::common && !value.empty() && (is_blank(value.front()) || is_blank(value.back()))) {
        fail(kExitBadInput, located(f.name(), 0,
                                    "blanks at the ends of a value are not read back (they belong to the "
                                    "separator); --strict keeps them"));
    }
}

// A name that the engine will read back as what it is meant to be.
void check_new_name(document &f, const std::string &name, bool section) {
    const char *what = section ? "section" : "key";
    if (name.find_first_of("*?") != std::string::npos) {
        fail(kExitBadInput, located(f.name(), 0, std::string("cannot create a ") + what + " from the pattern '" +
                                                     name + "': it holds a wildcard"));
    }
    if (name.find_first_of("\r\n") != std::string::npos) {
        fail(kExitBadInput, located(f.name(), 0, std::string("a ") + what + " name cannot hold a line end"));
    }
    if (section) {
        if (name.find(']') != std::string::npos) {
            fail(kExitBadInput, located(f.name(), 0, "a section name cannot hold ']'"));
        }
        return;
    }
    const bool common = f.kind() == dialect::common;
    const char *starts = common ? ";#[<" : ";[< ";
    if (name.empty() || name.find('=') != std::string::npos || std::strchr(starts, name.front()) != nullptr) {
        fail(kExitBadInput, located(f.name(), 0,
                                    std::string("a key name cannot be empty, hold '=' or begin with ") +
                                        (common ? "';', '#', '[' or '<'" : "';', '[', '<' or a space")));
    }
    if (common && (is_blank(name.front()) || is_blank(name.back()))) {
        fail(kExitBadInput, located(f.name(), 0, "a key name cannot begin or end with a blank: it would be trimmed"));
    }
}

void edited(document &f, std::uint32_t st, unsigned long at) {
    if (st == 0) {
        return;
    }
    if (st == INI_ERR_TEXT_FULL) {
        fail(kExitBadInput, located(f.name(), at,
                                    "the edited text would not fit the INI engine (at most 4,095 lines and "
                                    "57,344 bytes, one zero a line counted); nothing was written"));
    }
    fail(kExitBadInput, located(f.name(), at, "the INI engine refused the edit: " + kw::status_code(st).message()));
}

// ---- the style of new lines ------------------------------------------

// How the file writes a key line: its indentation and the separator with
// the blanks around '='. The strict dialect trims nothing, so there a new
// line is always KEY=VALUE.
struct key_style {
    std::string indent;
    std::string sep = "=";
};

key_style style_of(document &f, std::uint16_t n) {
    key_style s;
    if (n == 0 || f.kind() == dialect::strict) {
        return s;
    }
    const std::string line = without_eol(stored(f, n));
    const std::size_t value_at = std::min(value_span(f).first, line.size());
    const std::size_t eq = line.find('=');
    std::size_t lead = 0;
    while (lead < line.size() && is_blank(line[lead])) {
        ++lead;
    }
    if (eq == std::string::npos || eq < lead || value_at <= eq) {
        return s;
    }
    std::size_t name_end = eq;
    while (name_end > lead && is_blank(line[name_end - 1])) {
        --name_end;
    }
    s.indent = line.substr(0, lead);
    s.sep = line.substr(name_end, value_at - name_end);
    return s;
}

std::string key_line(const key_style &s, const std::string &key, const std::string &value) {
    std::string sep = s.sep;
    if (value.empty()) {
        while (!sep.empty() && is_blank(sep.back())) {
            sep.pop_back();  // no trailing blanks after an empty value
        }
    }
    return s.indent + key + sep + value;
}

std::uint16_t last_key_line(document &f, std::uint16_t first, std::uint16_t end) {
    std::uint16_t last = 0;
    for (std::uint16_t n = first; n < end; ++n) {
        if (type_at(f, n) == INI_LINE_KEY) {
            last = n;
        }
    }
    return last;
}

// The last line of key line n's value as other readers see it: in the
// common dialect the lines indented deeper than the key that follow it
// (the engine keeps them as comment lines) continue its value, with the
// comments and empty lines among them. A new key goes below them, and a
// key that goes or gets a new value takes them along.
std::uint16_t value_end(document &f, std::uint16_t n, std::uint16_t end) {
    if (f.kind() != dialect::common) {
        return n;
    }
    const auto indent = [](const std::string &line) { return line.find_first_not_of(" \t"); };
    const std::size_t key_indent = indent(stored(f, n));
    std::uint16_t last = n;
    for (std::uint16_t i = static_cast<std::uint16_t>(n + 1u); i < end && type_at(f, i) == INI_LINE_COMMENT; ++i) {
        const std::string line = without_eol(stored(f, i));
        const std::size_t text = indent(line);
        if (text == std::string::npos || line[text] == ';' || line[text] == '#') {
            continue;  // empty and comment lines do not end the value
        }
        if (text <= key_indent) {
            break;
        }
        last = i;
    }
    return last;
}

// The line to insert behind must end its line, or the new one would run
// into it in the written file.
void ensure_line_end(document &f, std::uint16_t n) {
    const std::string line = stored(f, n);
    if (!eol_of(line).empty()) {
        return;
    }
    check_whole(f, n, "the last line");
    const std::string ended = line + f.line_end();
    check_length(f, ended, f.where(n).line);
    go(f, n);
    edited(f, KW_ini_replace(f.record(), bytes(ended)), f.where(n).line);
}

// at: the file line that messages name (the map describes the lines as
// they were read, not as edited).
void insert_after(document &f, std::uint16_t n, const std::string &line, unsigned long at) {
    check_length(f, line, at);
    go(f, n);
    edited(f, KW_ini_insert(f.record(), bytes(line), 1), at);
}

[[noreturn]] void refuse_several(document &f, const std::string &what, const std::vector<std::uint16_t> &m,
                                 const char *verb) {
    const auto lines = file_lines(f, m);
    fail(kExitBadInput, located(f.name(), lines.front(),
                                what + " on lines " + number_list(lines) + "; give --all to " + verb +
                                    " every one, nothing was changed"));
}

}  // namespace

// ---- opening -----------------------------------------------------------

// The split, the limits and the engine's open, for both ways of opening.
document open_document(const std::string &path, dialect d, bool edit) {
    document doc;
    doc.name_ = display_name(path, false);
    doc.dialect_ = d;
    doc.editable_ = edit;
    if (edit && is_std_stream(path)) {
        fail(kExitBadInput, "cannot edit standard input: name the file");
    }
    const std::string text = load_text(path);

    std::vector<piece> pieces;
    std::size_t stored_bytes = 0;  // of the text buffer, one zero a stored line
    unsigned long number = 1;
    for (std::size_t pos = 0; pos < text.size(); ++number) {
        const std::size_t lf = text.find('\n', pos);
        const std::size_t stop = lf == std::string::npos ? text.size() : lf + 1;
        const std::size_t length = stop - pos;
        if (const void *zero = std::memchr(text.data() + pos, 0, length)) {
            const auto at = static_cast<std::size_t>(static_cast<const char *>(zero) - (text.data() + pos)) + 1;
            fail(kExitBadInput, located(doc.name_, number,
                                        "a zero byte at byte " + std::to_string(at) +
                                            " of the line: the INI engine would cut the line there"));
        }
        const std::size_t step = d == dialect::strict ? kPiece : length;
        const auto count = static_cast<std::uint16_t>(d == dialect::strict ? (length + kPiece - 1) / kPiece : 1);
        for (std::size_t at = 0; at < length; at += step) {
            const std::size_t size = std::min(step, length - at);
            pieces.push_back({pos + at, size});
            doc.map_.push_back({number, at, count, length});
            stored_bytes += size + 1;
        }
        pos = stop;
    }
    if (const std::size_t lf = text.find('\n'); lf != std::string::npos && lf > 0 && text[lf - 1] == '\r') {
        doc.eol_ = "\r\n";
    }
    if (pieces.size() > KW_INI_MAX_LINES || stored_bytes > KW_INI_MAX_TEXT) {
        fail(kExitBadInput,
             located(doc.name_, 0,
                     "too large for the INI engine: " + std::to_string(pieces.size()) + " lines in " +
                         std::to_string(stored_bytes) +
                         " bytes, one zero a line counted (at most 4,095 lines and 57,344 bytes" +
                         (d == dialect::strict ? "; the strict dialect counts every 255 bytes of a line as one)"
                                               : ")")));
    }

    doc.rec_ = std::make_unique<KW_INI_STRUC>();
    KW_INI_STRUC *r = doc.rec_.get();
    const std::int32_t mode = KW_INI_READWRITE | (d == dialect::common ? KW_INI_COMMON : 0);
    std::uint32_t st = 0;
    if (edit) {
        st = KW_ini_open(r, path.c_str(), mode, KW_INI_8BIT);
        if (st == INI_ERR_OPEN) {
            // The engine tells only that it could not; the system says why.
            std::string why = "the INI engine could not read it";
            if (std::FILE *probe = std::fopen(path.c_str(), "r+")) {
                std::fclose(probe);
            } else {
                why = std::strerror(errno);
            }
            doc.rec_.reset();
            fail(kExitBadInput, located(doc.name_, 0, "cannot open the file for reading and writing: " + why));
        }
    } else {
        doc.text_.reserve(stored_bytes + 1);
        for (const piece &p : pieces) {
            const auto from = text.begin() + static_cast<std::ptrdiff_t>(p.begin);
            doc.text_.insert(doc.text_.end(), from, from + static_cast<std::ptrdiff_t>(p.size));
            doc.text_.push_back(0);
        }
        const auto used = static_cast<std::uint16_t>(doc.text_.size());
        doc.text_.push_back(0);  // never an empty block, not even for an empty text
        r->pBuf = doc.text_.data();
        r->bufsize = static_cast<std::uint16_t>(doc.text_.size());
        r->usesize = used;
        st = KW_ini_open(r, nullptr, mode, KW_INI_8BIT);
    }
    if (st == INI_ERR_LEADING_SPACE || st == INI_ERR_LINE) {
        const std::uint16_t bad = r->linenum;
        doc.rec_.reset();
        std::string why = st == INI_ERR_LEADING_SPACE
                              ? "a line begins with a space"
                              : "malformed line: a section header without its closing bracket, or text without '='";
        if (bad < 1 || bad > doc.map_.size()) {
            fail(kExitBadInput, located(doc.name_, 0, why));
        }
        const origin &o = doc.map_[bad - 1u];
        if (o.pieces > 1) {
            why += " (in the part from byte " + std::to_string(o.offset + 1) + " of this " +
                   std::to_string(o.length) + "-byte line, which the strict dialect reads as " +
                   std::to_string(o.pieces) + " lines of at most 255 bytes)";
        }
        fail(kExitBadInput, located(doc.name_, o.line, why));
    }
    if (st != 0) {
        doc.rec_.reset();
        fail(kExitBadInput, located(doc.name_, 0, "cannot open: " + kw::status_code(st).message()));
    }

    // The engine's lines against ours: they differ only when the file
    // changed between the two reads.
    if (edit) {
        bool same = true;
        for (std::size_t i = 0; same && i < pieces.size(); ++i) {
            same = KW_ini_goto(r, static_cast<std::uint16_t>(i + 1)) == 0 &&
                   text.compare(pieces[i].begin, pieces[i].size, reinterpret_cast<const char *>(r->pLine)) == 0;
        }
        if (same) {
            same = pieces.empty() ? r->linetype == INI_LINE_NONE
                                  : KW_ini_goto(r, static_cast<std::uint16_t>(pieces.size() + 1)) != 0;
        }
        if (!same) {
            doc.rec_.reset();
            fail(kExitBadInput, located(doc.name_, 0, "the file changed while it was read; nothing was written"));
        }
    }
    return doc;
}

document::document(document &&other) noexcept = default;

document &document::operator=(document &&other) noexcept {
    if (this != &other) {
        if (rec_) {
            static_cast<void>(KW_ini_close(rec_.get()));
        }
        rec_ = std::move(other.rec_);
        text_ = std::move(other.text_);
        map_ = std::move(other.map_);
        name_ = std::move(other.name_);
        eol_ = std::move(other.eol_);
        dialect_ = other.dialect_;
        editable_ = other.editable_;
    }
    return *this;
}

document::~document() {
    if (rec_) {
        static_cast<void>(KW_ini_close(rec_.get()));
    }
}

void document::remap() {
    std::vector<origin> m;
    KW_INI_STRUC *r = rec_.get();
    unsigned long line = 1;
    std::size_t offset = 0;
    std::size_t group = 0;  // the first piece of the current file line
    const auto close_line = [&] {
        for (std::size_t i = group; i < m.size(); ++i) {
            m[i].pieces = static_cast<std::uint16_t>(m.size() - group);
            m[i].length = offset;
        }
        ++line;
        offset = 0;
        group = m.size();
    };
    for (std::uint16_t n = 1; r != nullptr && KW_ini_goto(r, n) == 0; ++n) {
        const std::size_t len = std::strlen(reinterpret_cast<const char *>(r->pLine));
        m.push_back({line, offset, 1, 0});
        offset += len;
        if (len > 0 && r->pLine[len - 1] == '\n') {
            close_line();
        }
    }
    if (group < m.size()) {
        close_line();
    }
    map_ = std::move(m);
}

document open_for_reading(const std::string &path, dialect d) { return open_document(path, d, false); }
document open_for_editing(const std::string &path, dialect d) { return open_document(path, d, true); }

// ---- reading -----------------------------------------------------------

namespace {

// The line that get and tokens answer from, with what the caller should
// know about it.
std::uint16_t lookup(document &f, const std::string &section, const std::string &key, std::string *warning) {
    section_range s{};
    const auto m = occurrences(f, section, key, &s);
    if (warning != nullptr) {
        std::string w;
        if (m.size() > 1) {
            const auto lines = file_lines(f, m);
            w = "'" + key + "' matches " + std::to_string(m.size()) + " key lines " + where_text(f, s) +
                ": lines " + number_list(lines) + "; the first one answers";
        }
        if (f.where(m.front()).pieces > 1) {
            w += (w.empty() ? "" : "; ") + long_line_text(f, m.front()) + ", and the key is in its " +
                 piece_text(f, m.front()) + " alone";
        }
        *warning = w.empty() ? std::string() : located(f.name(), f.where(m.front()).line, w);
    }
    go(f, m.front());
    return m.front();
}

}  // namespace

std::string get(document &f, const std::string &path, const std::string &section, const std::string &key,
                std::string *warning) {
    static_cast<void>(path);  // f names its file
    lookup(f, section, key, warning);
    const auto [at, len] = value_span(f);
    return std::string(reinterpret_cast<const char *>(f.record()->pLine) + at, len);
}

std::vector<std::string> tokens(document &f, const std::string &path, const std::string &section,
                                const std::string &key, std::string *warning) {
    static_cast<void>(path);
    lookup(f, section, key, warning);
    KW_INI_STRUC *r = f.record();
    // Room for the value and one terminator, whatever the value holds.
    const std::size_t room = std::strlen(reinterpret_cast<const char *>(r->pLine)) + 1;
    std::vector<unsigned char> buf(std::max<std::size_t>(room, 256));
    std::uint16_t count = 0;
    std::uint16_t units = 0;
    if (const std::uint32_t st = KW_ini_tokenize(r, buf.data(), 0, &count, &units); st != 0) {
        fail(kExitBadInput, located(f.name(), f.where(r->linenum).line,
                                    "cannot split the value: " + kw::status_code(st).message()));
    }
    std::vector<std::string> out;
    const auto *p = reinterpret_cast<const char *>(buf.data());
    for (std::uint16_t i = 0; i < count; ++i) {
        out.emplace_back(p);
        p += out.back().size() + 1;
    }
    return out;
}

std::vector<listed_line> list(document &f) {
    std::vector<listed_line> out;
    for (std::uint16_t n = 1; n <= f.lines(); ++n) {
        const std::uint8_t t = type_at(f, n);
        const char *type = t == INI_LINE_SECTION ? "section" : t == INI_LINE_KEY ? "key" : "comment";
        out.push_back({f.where(n).line, type, without_eol(stored(f, n))});
    }
    return out;
}

// ---- editing -----------------------------------------------------------

set_effect set(document &f, const std::string &path, const std::string &section, const std::string &key,
               const std::string &value, bool all) {
    static_cast<void>(path);
    check_value(f, value);
    const auto secs = sections(f, section);
    if (!secs.empty()) {
        const section_range &s = secs.front();
        const auto m = key_matches(f, s, key);
        for (const std::uint16_t n : m) {
            check_whole(f, n, "the key");
        }
        if (m.size() > 1 && !all) {
            refuse_several(f, "'" + key + "' matches " + std::to_string(m.size()) + " key lines " + where_text(f, s),
                           m, "set");
        }
        if (!m.empty()) {
            // Only the value changes: the key as the file spells it, the
            // blanks around '=' and after the value, and the line end stay.
            std::vector<std::string> lines;
            for (const std::uint16_t n : m) {
                const std::string old = stored(f, n);
                const auto [at, len] = value_span(f);
                lines.push_back(old.substr(0, at) + value + old.substr(std::min(at + len, old.size())));
                check_length(f, lines.back(), f.where(n).line);
            }
            for (std::size_t i = m.size(); i-- > 0;) {
                const std::uint16_t n = m[i];
                const std::uint16_t last = value_end(f, n, s.end);
                go(f, n);
                edited(f, KW_ini_replace(f.record(), bytes(lines[i])), f.where(n).line);
                for (std::uint16_t k = n; k < last; ++k) {
                    go(f, static_cast<std::uint16_t>(n + 1u));
                    edited(f, KW_ini_delete(f.record()), f.where(n).line);
                }
            }
            f.remap();
            return set_effect::replaced;
        }

        check_new_name(f, key, false);
        const std::uint16_t last_key = last_key_line(f, s.first, s.end);
        const key_style style = style_of(f, last_key != 0 ? last_key : last_key_line(f, 1, past_end(f)));
        const std::string line = key_line(style, key, value);
        std::uint16_t anchor = last_key != 0 ? last_key : s.header;
        if (anchor == 0) {
            // Keys before the first header, and none there yet: right above
            // the header, or below the last line of a file without one.
            if (s.end <= f.lines()) {
                check_boundary(f, s.end, "the first section header");
                check_length(f, line + f.line_end(), f.where(s.end).line);
                go(f, s.end);
                edited(f, KW_ini_insert(f.record(), bytes(line + f.line_end()), 0), f.where(s.end).line);
                f.remap();
                return set_effect::inserted;
            }
            if (f.lines() == 0) {
                check_length(f, line + f.line_end(), 1);
                edited(f, KW_ini_insert(f.record(), bytes(line + f.line_end()), 0), 1);
                f.remap();
                return set_effect::inserted;
            }
            anchor = f.lines();
        }
        if (anchor == last_key) {
            anchor = value_end(f, anchor, s.end);
        }
        // Behind the whole file line, whatever pieces it was read in.
        while (anchor < f.lines() && f.where(static_cast<std::uint16_t>(anchor + 1u)).line == f.where(anchor).line) {
            ++anchor;
        }
        ensure_line_end(f, anchor);
        insert_after(f, anchor, line + eol_of(stored(f, anchor)), f.where(anchor).line);
        f.remap();
        return set_effect::inserted;
    }

    check_new_name(f, section, true);
    check_new_name(f, key, false);
    const key_style style = style_of(f, last_key_line(f, 1, past_end(f)));
    const std::string header = "[" + section + "]";
    const std::string line = key_line(style, key, value);
    if (f.lines() == 0) {
        const std::string &eol = f.line_end();
        check_length(f, header + eol, 1);
        check_length(f, line + eol, 1);
        edited(f, KW_ini_insert(f.record(), bytes(header + eol), 0), 1);
        edited(f, KW_ini_insert(f.record(), bytes(line + eol), 1), 1);
        f.remap();
        return set_effect::appended_section;
    }
    const std::uint16_t last = f.lines();
    ensure_line_end(f, last);
    const std::string last_text = stored(f, last);
    const std::string eol = eol_of(last_text);
    check_length(f, header + eol, f.where(last).line);
    check_length(f, line + eol, f.where(last).line);
    // An empty line between sections, as most files have. In the strict
    // dialect only a bare line feed is an empty line.
    const bool empty_ok = f.kind() == dialect::common || eol == "\n";
    const bool after_empty = f.kind() == dialect::common ? all_blank(without_eol(last_text)) : last_text == "\n";
    const unsigned long file_line = f.where(last).line;
    std::uint16_t at = last;
    if (empty_ok && !after_empty) {
        insert_after(f, at++, eol, file_line);
    }
    insert_after(f, at++, header + eol, file_line);
    insert_after(f, at, line + eol, file_line);
    f.remap();
    return set_effect::appended_section;
}

unsigned long del(document &f, const std::string &path, const std::string &section, const std::string &key,
                  bool all) {
    static_cast<void>(path);
    section_range s{};
    const auto m = occurrences(f, section, key, &s);
    for (const std::uint16_t n : m) {
        check_whole(f, n, "the key");
    }
    if (m.size() > 1 && !all) {
        refuse_several(f, "'" + key + "' matches " + std::to_string(m.size()) + " key lines " + where_text(f, s), m,
                       "delete");
    }
    const unsigned long first = f.where(m.front()).line;
    for (auto it = m.rbegin(); it != m.rend(); ++it) {
        const std::uint16_t last = value_end(f, *it, s.end);
        for (std::uint16_t k = *it; k <= last; ++k) {
            go(f, *it);
            edited(f, KW_ini_delete(f.record()), f.where(*it).line);
        }
    }
    f.remap();
    return first;
}

unsigned long del_section(document &f, const std::string &path, const std::string &section, bool all) {
    static_cast<void>(path);
    const auto secs = sections(f, section);
    if (secs.empty()) {
        no_section(f, section);
    }
    if (section.empty() && secs.front().end == 1) {
        fail(kExitNotFound, located(f.name(), 0, "no lines before the first section header"));
    }
    if (secs.size() > 1 && !all) {
        std::vector<std::uint16_t> headers;
        for (const auto &s : secs) {
            headers.push_back(s.header);
        }
        refuse_several(f, std::to_string(secs.size()) + " sections match '" + section + "'", headers, "delete");
    }
    for (const auto &s : secs) {
        const std::uint16_t from = s.header != 0 ? s.header : 1;
        check_boundary(f, from, "the section header");
        check_boundary(f, s.end, "the next section header");
    }
    const unsigned long first = f.where(secs.front().header != 0 ? secs.front().header : 1).line;
    for (auto it = secs.rbegin(); it != secs.rend(); ++it) {
        const std::uint16_t from = it->header != 0 ? it->header : 1;
        for (std::uint16_t n = from; n < it->end; ++n) {
            go(f, from);
            edited(f, KW_ini_delete(f.record()), f.where(from).line);
        }
    }
    f.remap();
    return first;
}

void write_back(document &f, const std::string &path) {
    static_cast<void>(path);
    if (const std::uint32_t st = KW_ini_write(f.record()); st != 0) {
        fail(kExitBadInput, located(f.name(), 0, "cannot write the file back: " + kw::status_code(st).message()));
    }
}

}  // namespace kwtool::ini_ops
