#include "ini_ops.h"

#include "io.h"

namespace kwtool::ini_ops {

namespace {

constexpr std::size_t kMaxLine = KW_INI_MAX_LINE;

[[noreturn]] void engine_failed(const std::string &path, unsigned long line, std::error_code ec) {
    switch (ec.value()) {
    case INI_ERR_OPEN:
        fail(kExitBadInput, located(path, 0, "cannot open or read the file"));
    case INI_ERR_LEADING_SPACE:
        fail(kExitBadInput, located(path, line, "a line begins with a space"));
    case INI_ERR_LINE:
        fail(kExitBadInput,
             located(path, line, "malformed line: a section header without its closing bracket, or text without '='"));
    case INI_ERR_TEXT_FULL:
        fail(kExitBadInput, located(path, line,
                                    "too large for the INI engine (at most 57,344 bytes of text, one zero per line "
                                    "counted, and 4,095 lines)"));
    default:
        fail(kExitBadInput, located(path, line, ec.message()));
    }
}

std::string without_eol(std::string text) {
    if (!text.empty() && text.back() == '\n') {
        text.pop_back();
    }
    return text;
}

std::string eol_of(const std::string &line) {
    if (line.size() >= 2 && line.compare(line.size() - 2, 2, "\r\n") == 0) {
        return "\r\n";
    }
    if (!line.empty() && line.back() == '\n') {
        return "\n";
    }
    return "";
}

void rewind(kw::ini_file &f) {
    // A file without lines has no line 1; its only position is the end.
    static_cast<void>(f.go_to(1));
}

kw::result<bool> find(kw::ini_file &f, const std::string &path, const std::string &section, const std::string &key) {
    rewind(f);
    auto r = f.find(section, key);
    if (r.error) {
        engine_failed(path, 0, r.error);
    }
    return r;
}

[[noreturn]] void not_found(kw::ini_file &f, const std::string &path, const std::string &section,
                            const std::string &key) {
    rewind(f);
    const auto r = f.find(section, std::nullopt);
    if (r.value) {
        fail(kExitNotFound, located(path, 0, "no key matching '" + key + "' in section " + without_eol(f.line()) +
                                                 " (line " + std::to_string(f.line_number()) + ")"));
    }
    fail(kExitNotFound, located(path, 0, "no section matching '" + section + "'"));
}

void check(const std::string &path, const kw::ini_file &f, std::error_code ec) {
    if (ec) {
        engine_failed(path, f.line_number(), ec);
    }
}

void check_length(const std::string &path, const std::string &line) {
    if (line.size() > kMaxLine) {
        fail(kExitBadInput, located(path, 0, "the new line would be " + std::to_string(line.size()) +
                                                 " bytes; the INI engine takes at most 255"));
    }
}

// A name that the engine will store as what it is meant to be.
void check_new_name(const std::string &path, const std::string &name, bool section) {
    const char *what = section ? "section" : "key";
    if (name.find_first_of("*?") != std::string::npos) {
        fail(kExitBadInput, located(path, 0, std::string("cannot create a ") + what + " from the pattern '" + name +
                                                 "': it holds a wildcard"));
    }
    if (name.find_first_of("\r\n") != std::string::npos) {
        fail(kExitBadInput, located(path, 0, std::string("a ") + what + " name cannot hold a line end"));
    }
    if (section && name.find(']') != std::string::npos) {
        fail(kExitBadInput, located(path, 0, "a section name cannot hold ']'"));
    }
    if (!section && (name.find('=') != std::string::npos ||
                     (!name.empty() && (name[0] == ';' || name[0] == '[' || name[0] == '<' || name[0] == ' ')))) {
        fail(kExitBadInput, located(path, 0, "a key name cannot hold '=' or begin with ';', '[', '<' or a space"));
    }
}

// The line to insert behind must end its line, or the new one would run
// into it in the written file.
void ensure_line_end(kw::ini_file &f, const std::string &path) {
    const std::string line = f.line();
    if (eol_of(line).empty()) {
        check_length(path, line + "\n");
        check(path, f, f.replace(line + "\n"));
    }
}

}  // namespace

kw::ini_file open_for_reading(const std::string &path) {
    kw::ini_file f;
    auto ec = f.open(path, kw::ini_mode::read_write);
    if (ec == kw::errc::ini_open) {
        ec = f.open(path, kw::ini_mode::read);
    }
    if (ec) {
        engine_failed(path, f.failed_line(), ec);
    }
    return f;
}

kw::ini_file open_for_editing(const std::string &path) {
    kw::ini_file f;
    if (const auto ec = f.open(path, kw::ini_mode::read_write)) {
        if (ec == kw::errc::ini_open) {
            fail(kExitBadInput, located(path, 0, "cannot open the file for reading and writing"));
        }
        engine_failed(path, f.failed_line(), ec);
    }
    return f;
}

std::string get(kw::ini_file &f, const std::string &path, const std::string &section, const std::string &key) {
    if (!find(f, path, section, key).value) {
        not_found(f, path, section, key);
    }
    return f.value().value_or(std::string());
}

std::vector<std::string> tokens(kw::ini_file &f, const std::string &path, const std::string &section,
                                const std::string &key) {
    if (!find(f, path, section, key).value) {
        not_found(f, path, section, key);
    }
    auto r = f.tokens();
    check(path, f, r.error);
    return r.value;
}

std::vector<listed_line> list(kw::ini_file &f) {
    std::vector<listed_line> out;
    rewind(f);
    while (f.type() != kw::line_type::none) {
        const char *type = f.type() == kw::line_type::section ? "section"
                           : f.type() == kw::line_type::key   ? "key"
                                                              : "comment";
        out.push_back({f.line_number(), type, without_eol(f.line())});
        if (f.next()) {
            break;
        }
    }
    return out;
}

set_effect set(kw::ini_file &f, const std::string &path, const std::string &section, const std::string &key,
               const std::string &value) {
    if (value.find_first_of("\r\n") != std::string::npos) {
        fail(kExitBadInput, located(path, 0, "a value cannot hold a line end"));
    }
    if (find(f, path, section, key).value) {
        // Keep the key as the file spells it and the line's own line end.
        const std::string old = f.line();
        const std::string line = old.substr(0, old.find('=')) + "=" + value + eol_of(old);
        check_length(path, line);
        check(path, f, f.replace(line));
        return set_effect::replaced;
    }
    check_new_name(path, key, false);
    std::string line = key + "=" + value;

    rewind(f);
    const auto in_section = f.find(section, std::nullopt);
    check(path, f, in_section.error);
    if (in_section.value) {
        // Behind the section's last key line, or right behind its header:
        // comments and empty lines before the next header stay below.
        std::uint16_t anchor = f.line_number();
        check(path, f, f.next());
        while (f.type() != kw::line_type::none && f.type() != kw::line_type::section) {
            if (f.type() == kw::line_type::key) {
                anchor = f.line_number();
            }
            check(path, f, f.next());
        }
        check(path, f, f.go_to(anchor));
        ensure_line_end(f, path);
        line += eol_of(f.line());
        check_length(path, line);
        check(path, f, f.insert(line, kw::where::after));
        return set_effect::inserted;
    }

    check_new_name(path, section, true);
    const std::uint16_t lines = static_cast<std::uint16_t>(f.line_number() - 1);  // the search ended at the end
    const std::string header = "[" + section + "]";
    if (lines == 0) {
        check_length(path, header + "\n");
        check_length(path, line + "\n");
        check(path, f, f.insert(header + "\n", kw::where::before));
        check(path, f, f.insert(line + "\n", kw::where::after));
        return set_effect::appended_section;
    }
    check(path, f, f.go_to(lines));
    ensure_line_end(f, path);
    const std::string eol = eol_of(f.line());
    check_length(path, header + eol);
    check_length(path, line + eol);
    // An empty line between sections, as most files have; an empty line
    // must be a bare line feed to be one for the engine.
    if (eol == "\n" && f.line() != "\n") {
        check(path, f, f.insert("\n", kw::where::after));
    }
    check(path, f, f.insert(header + eol, kw::where::after));
    check(path, f, f.insert(line + eol, kw::where::after));
    return set_effect::appended_section;
}

std::uint16_t del(kw::ini_file &f, const std::string &path, const std::string &section, const std::string &key) {
    if (!find(f, path, section, key).value) {
        not_found(f, path, section, key);
    }
    const std::uint16_t n = f.line_number();
    check(path, f, f.remove());
    return n;
}

void write_back(kw::ini_file &f, const std::string &path) {
    if (const auto ec = f.write()) {
        fail(kExitBadInput, located(path, 0, "cannot write the file back: " + ec.message()));
    }
}

}  // namespace kwtool::ini_ops
