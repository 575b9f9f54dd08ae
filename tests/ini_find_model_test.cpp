// The search against a plain model of its rule: random texts, random
// patterns with and without wildcards, random starting lines. The model
// upper-cases copies and cuts them, as the rule is stated, and compares with
// the exported wildcard matcher; the engine's shortcuts must agree with it
// on every stop line and every found flag.
#include <gtest/gtest.h>

#include <optional>
#include <random>
#include <string>
#include <vector>

#include "ini_test_util.h"
#include "kwutil.h"

namespace {

using kwtest::fresh_record;

std::string upper(std::string s) {
    for (char &c : s) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    return s;
}

bool wild(const std::string &name, const std::string &pattern) {
    return KW_strcmp_wildcards(reinterpret_cast<const unsigned char *>(name.c_str()),
                               reinterpret_cast<const unsigned char *>(pattern.c_str())) == 1;
}

struct Stop {
    std::size_t line;  // 0-based; lines.size() is the end position
    bool found;
};

// The rule, step by step, over the stored lines.
Stop model_find(const std::vector<std::string> &lines, std::size_t from, const std::optional<std::string> &section,
                const std::optional<std::string> &key) {
    const std::string xsect = section ? upper(*section) : "";
    const std::string xkey = key ? upper(*key) : "";
    bool foundsect = !section;
    for (std::size_t i = from; i < lines.size(); ++i) {
        const std::string line = upper(lines[i]);
        if (line[0] == '[' || line[0] == '<') {
            if (foundsect) {
                return {i, false};
            }
            const char close = line[0] == '[' ? ']' : '>';
            const std::string name = line.substr(1, line.find(close) - 1);
            if (wild(name, xsect)) {
                foundsect = true;
                if (!key) {
                    return {i, true};
                }
            }
        } else if (line[0] != ';' && line[0] != '\n' && key && foundsect) {
            if (wild(line.substr(0, line.find('=')), xkey)) {
                return {i, true};
            }
        }
    }
    return {lines.size(), false};
}

class Gen {
public:
    explicit Gen(std::uint32_t seed) : rng_(seed) {}

    // A name from a small alphabet, so that names collide, differ only in
    // case, or hold the bytes that the search treats specially.
    std::string name(std::size_t max) {
        static const char alphabet[] = "aAbBcC_?*] =>";
        std::string s;
        const std::size_t len = rng_() % (max + 1);
        for (std::size_t i = 0; i < len; ++i) {
            s += alphabet[rng_() % (rng_() % 4 == 0 ? sizeof alphabet - 1 : 6)];
        }
        return s;
    }
    std::string plain_name(std::size_t max) {
        std::string s;
        const std::size_t len = 1 + rng_() % max;
        // Letters, the bytes beside a..z and A..Z, and bytes above 0x7F,
        // which are never folded.
        static const char alphabet[] = "aAbBcC_zZ`{@^\xE1\xC1";
        for (std::size_t i = 0; i < len; ++i) {
            s += alphabet[rng_() % (rng_() % 3 == 0 ? sizeof alphabet - 1 : 7)];
        }
        return s;
    }
    std::string line() {
        const std::string end = rng_() % 5 != 0 ? "\n" : "";
        switch (rng_() % 7) {
        case 0: return "; note" + end;
        case 1: return "[" + strip(name(6), "]") + "]" + (rng_() % 4 == 0 ? " tail" : "") + end;
        case 2: return "<" + strip(name(6), ">") + ">" + end;
        case 6: return "[" + plain_name(4) + "]" + plain_name(3) + "]" + end;  // the name ends at the first ']'
        case 3: return plain_name(rng_() % 10 == 0 ? 300 : (rng_() % 3 == 0 ? 70 : 6)) + "=v" + end;  // long keys too
        default: return strip(name(8), "=;[< \n") + "=" + name(4) + end;
        }
    }
    std::optional<std::string> pattern(std::size_t max) {
        if (rng_() % 5 == 0) {
            return std::nullopt;
        }
        return rng_() % 2 == 0 ? plain_name(max) : name(max);
    }
    // Mostly a name taken from the text, with its case changed, a '?' put in
    // or its end replaced by '*', so that many searches find something.
    std::optional<std::string> pattern_from(const std::vector<std::string> &names, std::size_t max) {
        if (names.empty() || rng_() % 4 == 0) {
            return pattern(max);
        }
        std::string p = names[rng_() % names.size()];
        for (char &c : p) {
            if (rng_() % 3 == 0) {
                c = c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : (c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c);
            }
        }
        if (!p.empty() && rng_() % 4 == 0) {
            p[rng_() % p.size()] = '?';
        }
        if (!p.empty() && rng_() % 4 == 0) {
            p[rng_() % p.size()] = 'x';  // a near miss, anywhere in a long name
        }
        if (rng_() % 4 == 0) {
            p = p.substr(0, rng_() % (p.size() + 1)) + "*";
        }
        return p;
    }
    std::uint32_t next() { return static_cast<std::uint32_t>(rng_()); }

private:
    static std::string strip(std::string s, const char *drop) {
        std::string out;
        for (char c : s) {
            if (std::string(drop).find(c) == std::string::npos) {
                out += c;
            }
        }
        return out.empty() || out[0] == ' ' ? "k" + out : out;
    }
    std::mt19937 rng_;
};

TEST(IniFindModel, RandomTextsAndPatternsAgreeWithTheRule) {
    Gen gen(4711);
    int found_any = 0;
    for (int text_no = 0; text_no < 300; ++text_no) {
        std::vector<std::string> lines;
        const std::size_t count = 1 + gen.next() % 60;
        for (std::size_t i = 0; i < count; ++i) {
            lines.push_back(gen.line());
        }
        std::vector<std::string> sections;
        std::vector<std::string> keys;
        for (const auto &l : lines) {
            if (l[0] == '[' || l[0] == '<') {
                const char close = l[0] == '[' ? ']' : '>';
                sections.push_back(l.substr(1, l.find(close) - 1));
                sections.push_back(l.substr(1, l.rfind(close) - 1));  // too long: must not match
            } else if (l[0] != ';' && l[0] != '\n') {
                keys.push_back(l.substr(0, l.find('=')));
            }
        }
        kwtest::CallerText t{std::initializer_list<std::string>{}};
        t.bytes.clear();
        for (const auto &l : lines) {
            t.bytes.insert(t.bytes.end(), l.begin(), l.end());
            t.bytes.push_back(0);
        }
        t.used = t.bytes.size();
        KW_INI_STRUC ini = fresh_record();
        ASSERT_EQ(t.open(ini, KW_INI_READ), INI_OK) << "text " << text_no;
        for (int q = 0; q < 40; ++q) {
            std::optional<std::string> section = gen.pattern_from(sections, 8);
            std::optional<std::string> key = gen.pattern_from(keys, q % 8 == 0 ? 80 : 8);
            std::size_t from = gen.next() % lines.size();
            if (q % 2 == 0) {
                // Aim at a key line: its own section's name (or none before
                // the first header) and its own key, both then changed a bit.
                const std::size_t target = gen.next() % lines.size();
                std::size_t header = target;
                while (header > 0 && lines[header][0] != '[' && lines[header][0] != '<') {
                    --header;
                }
                const std::string &h = lines[header];
                const bool has_header = h[0] == '[' || h[0] == '<';
                const std::vector<std::string> own_section = {h.substr(1, h.find(h[0] == '[' ? ']' : '>') - 1)};
                const std::vector<std::string> own_key = {lines[target].substr(0, lines[target].find('='))};
                section = has_header ? gen.pattern_from(own_section, 8) : std::nullopt;
                key = gen.pattern_from(own_key, 8);
                from = has_header ? gen.next() % (header + 1) : gen.next() % (target + 1);
            }
            if (!section && !key) {
                key = "a";
            }
            const Stop want = model_find(lines, from, section, key);
            ASSERT_EQ(KW_ini_goto(&ini, static_cast<std::uint16_t>(from + 1)), INI_OK);
            unsigned char found = 0xAA;
            ASSERT_EQ(KW_ini_find(&ini, section ? kwtest::u(section->c_str()) : nullptr,
                                  key ? kwtest::u(key->c_str()) : nullptr, &found),
                      INI_OK);
            ASSERT_EQ(found, want.found ? 1 : 0) << "text " << text_no << " from " << from + 1 << " section '"
                                                  << section.value_or("<null>") << "' key '"
                                                  << key.value_or("<null>") << "'";
            ASSERT_EQ(ini.linenum, want.line + 1) << "text " << text_no << " from " << from + 1 << " section '"
                                                  << section.value_or("<null>") << "' key '"
                                                  << key.value_or("<null>") << "'";
            found_any += found;
        }
        KW_ini_close(&ini);
    }
    EXPECT_GT(found_any, 500) << "too few searches find anything to tell much";
}

}  // namespace
