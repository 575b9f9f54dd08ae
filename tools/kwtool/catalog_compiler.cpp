// The compiler refuses every message the library could not format soundly:
// the library checks nothing at run time (it trusts the catalog), so this is
// the one place where a bad specifier, a gap in the positions or a missing
// not-found entry can be caught. The scan below holds every specifier to
// the canonical form through the library's own reader of the syntax
// (msg/specifier_syntax.h), within the 20 characters and 9 specifiers that
// the argument tables hold.
#include "catalog_compiler.h"

#include <algorithm>
#include <cstdio>
#include <map>

#include "file_io.h"
#include "kwutil.h"

namespace kwtool::catalog {

namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_appid_char(char c) { return (c >= 'A' && c <= 'Z') || is_digit(c); }

std::uint16_t get_be16(std::string_view b, std::size_t at) {
    return static_cast<std::uint16_t>((static_cast<unsigned char>(b[at]) << 8) | static_cast<unsigned char>(b[at + 1]));
}

void put_be16(std::string &out, std::size_t at, std::size_t v) {
    out[at] = static_cast<char>((v >> 8) & 0xFF);
    out[at + 1] = static_cast<char>(v & 0xFF);
}

std::string hex_byte(unsigned char b) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "0x%02X", b);
    return buf;
}

// One source line after its escapes are resolved; raw_at[i] is where
// byte i of the result stood in the line, and on a refusal fault_at is
// the offending byte's place.
std::optional<std::string> unescape(std::string_view line, std::string &why, std::vector<std::size_t> &raw_at,
                                    std::size_t &fault_at) {
    std::string out;
    out.reserve(line.size());
    raw_at.clear();
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        fault_at = i;
        if (c == '\0') {
            why = "zero byte in a message";
            return std::nullopt;
        }
        raw_at.push_back(i);
        if (c != '\\') {
            out.push_back(c);
            continue;
        }
        if (i + 1 == line.size()) {
            why = "backslash at the end of the line (write \\\\ for a backslash)";
            return std::nullopt;
        }
        const char e = line[++i];
        switch (e) {
        case 'n': out.push_back('\n'); break;
        case 't': out.push_back('\t'); break;
        case '\\': out.push_back('\\'); break;
        default:
            why = std::string("unknown escape \\") + e + " (known: \\n \\t \\\\)";
            return std::nullopt;
        }
    }
    return out;
}

std::string escape(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
        case '\n': out += "\\n"; break;
        case '\t': out += "\\t"; break;
        case '\\': out += "\\\\"; break;
        default: out.push_back(c); break;
        }
    }
    return out;
}

bool valid_key(std::string_view text) {
    if (text.size() < kKeyLength) {
        return false;
    }
    return is_appid_char(text[0]) && is_appid_char(text[1]) &&
           std::all_of(text.begin() + 2, text.begin() + kKeyLength, is_digit);
}

std::string positions_list(const std::vector<specifier> &specs) {
    std::string s;
    for (const auto &sp : specs) {
        if (!s.empty()) {
            s += ", ";
        }
        s += std::to_string(sp.position);
    }
    return s;
}

struct source_message {
    std::string text;
    unsigned long line = 0;
};

}  // namespace

bool numeric_conversion(char c) {
    const auto u = static_cast<unsigned char>(c);
    return u != kw::msg::kAsciiLiterals.lower_s && kw::msg::is_conversion(u, kw::msg::kAsciiLiterals);
}

std::optional<std::vector<specifier>> scan_specifiers(std::string_view view, std::string &why, std::size_t *fault_at) {
    using kw::msg::SpecFault;
    // The reader walks a zero-terminated text; a message holds no zero byte.
    const std::string text(view);
    const auto *const bytes = reinterpret_cast<const unsigned char *>(text.c_str());
    std::vector<specifier> specs;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            continue;
        }
        if (i + 1 < text.size() && text[i + 1] == '%') {
            ++i;  // an escaped percent sign
            continue;
        }
        kw::msg::Specifier read{};
        kw::msg::read_specifier<true>(bytes + i + 1, kw::msg::kAsciiLiterals, read);
        const std::size_t j = i + 1 + read.fault_at;  // the offending character
        const auto at = [fault_at](std::size_t where) {
            if (fault_at != nullptr) {
                *fault_at = where;
            }
        };
        const auto bad = [&](const std::string &reason) {
            at(i);
            const std::size_t end = std::min(text.size(), text.find('!', std::min(j, text.size())));
            why = "malformed specifier '" + text.substr(i, std::min(end + 1, text.size()) - i) + "' at column " +
                  std::to_string(i + 1) + ": " + reason;
            return std::nullopt;
        };
        switch (read.fault) {
        case SpecFault::none: break;
        case SpecFault::position:
            return bad("a position from 1 to 9 must follow '%' (write %% for a percent sign)");
        case SpecFault::position_mark: return bad("'!' must follow the one-digit position");
        case SpecFault::precision_digits: return bad("digits must follow the precision's '.'");
        case SpecFault::cut_short: return bad("the text ends inside the specifier");
        case SpecFault::conversion:
            at(j);
            why = "unknown conversion character '" + std::string(1, text[j]) + "' at column " + std::to_string(j + 1) +
                  " (known: c s d o u x X)";
            return std::nullopt;
        case SpecFault::closing_mark:
            return bad("'!' must close the specifier after its conversion character");
        case SpecFault::too_long:
            at(i);
            why = "specifier '" + text.substr(i, 1 + read.length) + "' at column " + std::to_string(i + 1) +
                  " is longer than " + std::to_string(kw::msg::kSpecifierChars) + " characters";
            return std::nullopt;
        }
        specifier sp;
        sp.position = static_cast<int>(read.position);
        sp.conversion = static_cast<char>(read.conversion);
        sp.long_size = read.long_size;
        sp.column = i;
        sp.text = text.substr(i, 1 + read.length);
        specs.push_back(sp);
        i += read.length;
    }
    return specs;
}

std::optional<std::string> compile(std::string_view source, const std::string &name, bool ebcdic,
                                   std::vector<diagnostic> &errors) {
    const auto refuse = [&](unsigned long line, std::size_t column, const std::string &why) {
        errors.push_back({line, column + 1, why});
    };

    if (source.substr(0, 3) == "\xEF\xBB\xBF") {
        source.remove_prefix(3);
    }
    std::vector<source_message> msgs;
    std::map<std::string, unsigned long> key_lines;
    std::size_t total = kHeaderSize;
    bool too_large = false;  // reported once, at the line that crossed the limit
    unsigned long line_no = 0;
    std::size_t pos = 0;
    std::vector<std::size_t> raw_at;
    // Each line is checked on its own: a fault ends the checks of its line,
    // then the next line is read, so one run reports every faulty line.
    while (pos < source.size()) {
        std::size_t end = source.find('\n', pos);
        if (end == std::string_view::npos) {
            end = source.size();
        }
        std::string_view raw = source.substr(pos, end - pos);
        pos = end + 1;
        ++line_no;
        if (!raw.empty() && raw.back() == '\r') {
            raw.remove_suffix(1);
        }
        if (raw.empty() || raw.front() == '#' ||
            raw.find_first_not_of(" \t") == std::string_view::npos) {
            continue;
        }
        std::string why;
        std::size_t fault = 0;
        auto text = unescape(raw, why, raw_at, fault);
        if (!text) {
            refuse(line_no, fault, why);
            continue;
        }
        const auto column_of = [&](std::size_t i) { return i < raw_at.size() ? raw_at[i] : raw.size(); };
        if (!valid_key(*text)) {
            refuse(line_no, 0, "malformed key '" + std::string(raw.substr(0, kKeyLength)) +
                                   "': a message begins with two upper-case letters or digits and five decimal digits");
            continue;
        }
        const std::string key = text->substr(0, kKeyLength);
        if (const unsigned long number = std::stoul(key.substr(2)); number > 65535) {
            refuse(line_no, 2, "key " + key + ": the number " + std::to_string(number) +
                                   " is above 65,535, which no call can ask for");
            continue;
        }
        if (auto it = key_lines.find(key); it != key_lines.end()) {
            refuse(line_no, 0, "duplicate key " + key + " (first on line " + std::to_string(it->second) + ")");
            continue;
        }
        if (!msgs.empty() && msgs.front().text.compare(0, 2, *text, 0, 2) != 0) {
            refuse(line_no, 0, "application ID " + text->substr(0, 2) + " differs from " + msgs.front().text.substr(0, 2) +
                                   " (line " + std::to_string(msgs.front().line) + "): a catalog holds one application");
            continue;
        }
        bool bad_byte = false;
        if (ebcdic) {
            for (std::size_t i = 0; i < text->size() && !bad_byte; ++i) {
                const auto c = static_cast<unsigned char>((*text)[i]);
                if (c >= 0x80) {
                    refuse(line_no, column_of(i),
                           "byte " + hex_byte(c) + " has no EBCDIC counterpart (an EBCDIC catalog takes 7-bit ASCII)");
                    bad_byte = true;
                }
            }
        }
        if (bad_byte) {
            continue;
        }
        auto specs = scan_specifiers(*text, why, &fault);
        if (!specs) {
            refuse(line_no, column_of(fault), "message " + key + ": " + why);
            continue;
        }
        if (specs->size() > static_cast<std::size_t>(kMaxSpecifiers)) {
            refuse(line_no, column_of((*specs)[kMaxSpecifiers].column),
                   "message " + key + " has " + std::to_string(specs->size()) + " specifiers, at most 9");
            continue;
        }
        std::vector<specifier> sorted = *specs;
        std::stable_sort(sorted.begin(), sorted.end(),
                         [](const specifier &a, const specifier &b) { return a.position < b.position; });
        bool gap = false;
        for (std::size_t k = 0; k < sorted.size() && !gap; ++k) {
            if (sorted[k].position != static_cast<int>(k + 1)) {
                refuse(line_no, column_of(sorted[k].column),
                       "message " + key + ": specifier positions must run 1, 2, ... without gaps or repeats (found " +
                           positions_list(sorted) + ")");
                gap = true;
            }
        }
        if (gap) {
            continue;
        }
        total += 2 + text->size() + 1;
        if (total > kMaxCatalog && !too_large) {
            too_large = true;
            refuse(line_no, 0, "the catalog would exceed 65,535 bytes (" + std::to_string(total) + " with this message)");
        }
        key_lines.emplace(key, line_no);
        msgs.push_back({std::move(*text), line_no});
    }
    if (msgs.empty() && errors.empty()) {
        fail(kExitBadInput, located(name, 0, "no messages: a catalog needs at least its not-found entry"));
    }

    // The smallest key is the not-found entry: the library formats it with
    // the missing number as argument 1 and no other argument.
    if (!msgs.empty()) {
        const auto smallest = std::min_element(msgs.begin(), msgs.end(), [](const source_message &a, const source_message &b) {
            return a.text.compare(0, kKeyLength, b.text, 0, kKeyLength) < 0;
        });
        std::string why;
        const auto specs = scan_specifiers(smallest->text, why);
        const bool ok = specs && specs->size() == 1 && numeric_conversion(specs->front().conversion);
        if (!ok) {
            refuse(smallest->line, 0, "the smallest key, " + smallest->text.substr(0, kKeyLength) +
                                          ", is the not-found entry: it must take the number as %1! with a numeric "
                                          "conversion and no other argument");
        }
    }
    if (!errors.empty()) {
        std::stable_sort(errors.begin(), errors.end(),
                         [](const diagnostic &a, const diagnostic &b) { return a.line < b.line; });
        return std::nullopt;
    }

    // Texts in source order; the offset array sorted by key as the lookup
    // expects, through the library's own sort.
    const std::size_t n = msgs.size();
    std::string area;
    std::vector<std::uint16_t> offs;
    offs.reserve(n);
    for (const auto &m : msgs) {
        offs.push_back(static_cast<std::uint16_t>(area.size()));
        area += m.text;
        area.push_back('\0');
    }
    if (ebcdic) {
        KW_memxlt(reinterpret_cast<unsigned char *>(area.data()), KW_xlate_ASC_EBC, static_cast<std::uint32_t>(area.size()));
        // The zeros stay zeros: the table maps 0x00 to 0x00.
    }
    KW_shellsort_offs(offs.data(), static_cast<std::uint32_t>(n), kKeyLength,
                      reinterpret_cast<const unsigned char *>(area.data()));

    std::string out(kHeaderSize + 2 * n, '\0');
    out[0] = out[1] = out[2] = out[3] = static_cast<char>(0x99);
    out[4] = static_cast<char>(ebcdic ? kEncodingEbcdic : kEncodingAscii);
    put_be16(out, 8, n);
    put_be16(out, 10, 2 * n);
    put_be16(out, 12, area.size());
    for (std::size_t k = 0; k < n; ++k) {
        put_be16(out, kHeaderSize + 2 * k, offs[k]);
    }
    out += area;
    return out;
}

catalog_file read(std::string_view b, const std::string &name) {
    const auto refuse = [&](const std::string &why) { fail(kExitBadInput, located(name, 0, why)); };
    catalog_file cat;
    cat.file_size = b.size();
    if (b.size() < kHeaderSize) {
        refuse("not a message catalog: " + std::to_string(b.size()) + " bytes, shorter than the 32-byte header");
    }
    if (b.size() > kMaxCatalog) {
        refuse("not a message catalog: longer than 65,535 bytes");
    }
    if (b.substr(0, 4) != "\x99\x99\x99\x99") {
        refuse("not a message catalog: no 99 99 99 99 signature");
    }
    cat.encoding = static_cast<unsigned char>(b[4]);
    cat.unicode_high_low = static_cast<unsigned char>(b[5]);
    cat.is_c_file = static_cast<unsigned char>(b[6]);
    cat.flags = static_cast<unsigned char>(b[7]);
    if (cat.encoding != kEncodingAscii && cat.encoding != kEncodingEbcdic) {
        refuse("unknown encoding " + std::to_string(cat.encoding) + " (1 is ASCII, 2 EBCDIC)");
    }
    const std::uint16_t num = get_be16(b, 8);
    cat.arraysize = get_be16(b, 10);
    cat.txtsize = get_be16(b, 12);
    if (cat.arraysize != 2u * num) {
        refuse("damaged header: arraysize " + std::to_string(cat.arraysize) + " for " + std::to_string(num) + " messages");
    }
    if (kHeaderSize + cat.arraysize + cat.txtsize != b.size()) {
        refuse("damaged header: header, offsets and texts make " +
               std::to_string(kHeaderSize + cat.arraysize + cat.txtsize) + " bytes, the file has " +
               std::to_string(b.size()));
    }
    if (num == 0) {
        refuse("no messages: the catalog has no not-found entry");
    }
    const std::string_view area = b.substr(kHeaderSize + cat.arraysize);
    for (std::size_t k = 0; k < num; ++k) {
        const std::uint16_t off = get_be16(b, kHeaderSize + 2 * k);
        const std::size_t end = off < area.size() ? area.find('\0', off) : std::string_view::npos;
        if (end == std::string_view::npos) {
            refuse("damaged offset array: entry " + std::to_string(k) + " points outside the texts");
        }
        message m;
        m.offset = off;
        m.text = std::string(area.substr(off, end - off));
        if (cat.encoding == kEncodingEbcdic) {
            KW_memxlt(reinterpret_cast<unsigned char *>(m.text.data()), KW_xlate_EBC_ASC,
                      static_cast<std::uint32_t>(m.text.size()));
        }
        if (!cat.by_key.empty() && area.compare(off, kKeyLength, area, cat.by_key.back().offset, kKeyLength) < 0) {
            refuse("damaged offset array: entry " + std::to_string(k) + " is out of key order");
        }
        cat.by_key.push_back(std::move(m));
    }
    return cat;
}

std::string dump(const catalog_file &cat) {
    std::string out;
    out += "# kwutil message catalog: " + std::to_string(cat.by_key.size()) + " messages, " +
           (cat.encoding == kEncodingEbcdic ? "EBCDIC" : "ASCII") + ", " + std::to_string(cat.file_size) + " bytes\n";
    out += "# header: encoding " + std::to_string(cat.encoding) + ", unicode_high_low " +
           std::to_string(cat.unicode_high_low) + ", IsCFileGenerate " + std::to_string(cat.is_c_file) + ", flags " +
           std::to_string(cat.flags) + ", num_msgs " + std::to_string(cat.by_key.size()) + ", arraysize " +
           std::to_string(cat.arraysize) + ", txtsize " + std::to_string(cat.txtsize) + "\n";
    out += "# not-found entry: " + cat.by_key.front().text.substr(0, kKeyLength) + "\n";
    out += std::string("# compile with: kwtool msg compile SOURCE -o CATALOG") +
           (cat.encoding == kEncodingEbcdic ? " --to ebcdic" : "") + "\n";
    std::vector<const message *> by_offset;
    for (const auto &m : cat.by_key) {
        by_offset.push_back(&m);
    }
    std::sort(by_offset.begin(), by_offset.end(), [](const message *a, const message *b) { return a->offset < b->offset; });
    for (const auto *m : by_offset) {
        out += escape(m->text);
        out.push_back('\n');
    }
    return out;
}

const message *find(const catalog_file &cat, std::string_view key) {
    for (const auto &m : cat.by_key) {
        if (std::string_view(m.text).substr(0, kKeyLength) == key) {
            return &m;
        }
    }
    return nullptr;
}

std::string make_key(std::string_view appid, unsigned number) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%c%c%05u", appid.size() > 0 ? appid[0] : ' ', appid.size() > 1 ? appid[1] : ' ',
                  number);
    return buf;
}

}  // namespace kwtool::catalog
