// The INI operations behind kwtool ini and the demo. Each one works on an
// open document and throws kwtool::failure (status 1 for "not found", 2 for
// bad input and refused edits) with a message that names the file and, where
// there is one, the file's own line.
#ifndef KWTOOL_INI_OPS_H
#define KWTOOL_INI_OPS_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "kwutil.h"

namespace kwtool::ini_ops {

// common: the dialect real files are written in (KW_INI_COMMON): ';' and
// '#' comments, blanks around names, '=' and values, lines of any length.
// strict: the engine's own dialect, where nothing is trimmed and a line is
// read in pieces of 255 bytes.
enum class dialect { common, strict };

// Where one stored line of the engine stands in the file: a line longer
// than 255 bytes is several stored pieces in the strict dialect.
struct origin {
    unsigned long line = 0;     // the file's own line number, from 1
    std::size_t offset = 0;     // where the piece begins in that line
    std::uint16_t pieces = 1;   // how many stored pieces the line has
    std::size_t length = 0;     // the whole line's bytes, its line end included
};

// One open text: the engine's handle plus the map from its stored lines to
// the file's lines. Movable, not copyable; the handle is closed with it.
class document {
public:
    document(const document &) = delete;
    document &operator=(const document &) = delete;
    document(document &&) noexcept;
    document &operator=(document &&) noexcept;
    ~document();

    KW_INI_STRUC *record() noexcept { return rec_.get(); }
    const std::string &name() const noexcept { return name_; }
    dialect kind() const noexcept { return dialect_; }
    bool editable() const noexcept { return editable_; }
    // The place in the file of stored line number n (from 1).
    const origin &where(std::uint16_t n) const { return map_[n - 1u]; }
    std::uint16_t lines() const noexcept { return static_cast<std::uint16_t>(map_.size()); }
    // The file's own line end: the first one in it, else a line feed.
    const std::string &line_end() const noexcept { return eol_; }
    // Follow the edits made since: the map from the lines as they are now
    // (a stored line without a line end continues in the next one).
    void remap();

private:
    friend document open_document(const std::string &, dialect, bool);
    document() = default;

    std::unique_ptr<KW_INI_STRUC> rec_;
    std::vector<unsigned char> text_;  // the caller's buffer of a read-only open
    std::vector<origin> map_;
    std::string name_;
    std::string eol_ = "\n";
    dialect dialect_ = dialect::common;
    bool editable_ = false;
};

// For reading: the file (or standard input, "-") is read whole and handed
// to the engine as a caller's buffer, so every line is kept and counted,
// whatever the file's permissions.
document open_for_reading(const std::string &path, dialect d = dialect::strict);
// For editing: the file through the engine in mode 2, so that KW_ini_write
// rewrites it and keeps what the file is.
document open_for_editing(const std::string &path, dialect d = dialect::strict);

// The first key line that matches in the first matching section; SECTION ""
// stands for the keys before the first header. When the key is set more
// than once in the section, *warning (if given) says on which other lines;
// in the strict dialect it also says when the key is a piece of a longer
// line. The value is printed without its line end (and, in the common
// dialect, without the blanks around it).
std::string get(document &f, const std::string &path, const std::string &section, const std::string &key,
                std::string *warning = nullptr);
std::vector<std::string> tokens(document &f, const std::string &path, const std::string &section,
                                const std::string &key, std::string *warning = nullptr);

struct listed_line {
    unsigned long number;  // the file's line (pieces of one long line share it)
    std::string type;      // "comment", "section", "key"
    std::string text;      // without its line end
};
std::vector<listed_line> list(document &f);

// What set did, for the demo's report.
enum class set_effect { replaced, inserted, appended_section };
// all: set every occurrence of a key that is set more than once, which is
// otherwise refused.
set_effect set(document &f, const std::string &path, const std::string &section, const std::string &key,
               const std::string &value, bool all = false);
// The file line of the (first) line deleted.
unsigned long del(document &f, const std::string &path, const std::string &section, const std::string &key,
                  bool all = false);
// A whole section: its header and every line up to the next header (for
// SECTION "", the lines before the first header). all: every section that
// matches, which is otherwise refused when there are several.
unsigned long del_section(document &f, const std::string &path, const std::string &section, bool all = false);
void write_back(document &f, const std::string &path);

}  // namespace kwtool::ini_ops

#endif
