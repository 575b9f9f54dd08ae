// Driver of scripts/realworld-ini: reads file names (one a line) on standard
// input and, for each, reports what the engine makes of it in the common
// dialect, one record a line, fields hex-encoded (so any byte survives):
//
//   F <path>                       a file begins
//   O <mode> <status>              KW_ini_open's status in mode 1 and mode 2
//   K <section> <key> <value>      every key line (mode 1), in file order;
//                                  section "-" before the first header
//   E <text>                       an inconsistency the driver found itself:
//                                  the modes disagree, KW_ini_find does not
//                                  land on the first key of that name in its
//                                  section, or the round trip changed a byte
//   R ok | R bad                   mode 2 open + KW_ini_write on a copy
//
// Names are cut from the lines by the dialect's rules (blanks trimmed, a
// byte-order mark passed over on line 1); values come from KW_ini_value.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "kwutil.h"

namespace {

std::string hex(const std::string &s) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : s) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out.empty() ? "-" : out;
}

bool blank(char c) { return c == ' ' || c == '\t'; }

std::string trim(const std::string &s) {
    std::size_t a = 0;
    std::size_t b = s.size();
    while (a < b && blank(s[a])) {
        ++a;
    }
    while (b > a && blank(s[b - 1])) {
        --b;
    }
    return s.substr(a, b - a);
}

std::string upper(std::string s) {
    for (char &c : s) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    return s;
}

struct KeyLine {
    std::uint16_t line;
    std::string section;  // as between its brackets; "-" for none
    std::uint16_t header;  // the header's line, 0 for none
    std::string key;
    std::string value;
};

// Every key line of an open handle, walking from line 1.
std::vector<KeyLine> walk(KW_INI_STRUC &ini) {
    std::vector<KeyLine> keys;
    std::string section = "-";
    std::uint16_t header = 0;
    for (std::uint16_t i = 1; KW_ini_goto(&ini, i) == 0; ++i) {
        std::string line(reinterpret_cast<const char *>(ini.pLine));
        if (i == 1 && line.rfind("\xEF\xBB\xBF", 0) == 0) {
            line.erase(0, 3);
        }
        if (ini.linetype == INI_LINE_SECTION) {
            std::size_t b = 0;
            while (blank(line[b])) {
                ++b;
            }
            const char close = line[b] == '[' ? ']' : '>';
            section = line.substr(b + 1, line.find(close, b + 1) - b - 1);
            header = i;
        } else if (ini.linetype == INI_LINE_KEY) {
            const unsigned char *v = nullptr;
            std::uint16_t len = 0;
            if (KW_ini_value(&ini, &v, &len) != 0) {
                std::abort();
            }
            keys.push_back({i, section, header, trim(line.substr(0, line.find('='))),
                            std::string(reinterpret_cast<const char *>(v), len)});
        }
    }
    return keys;
}

bool wild(const std::string &s) { return s.find_first_of("*?") != std::string::npos; }

// KW_ini_find from the key's header (or line 1) must land on the first key
// of that name (case-blind) in that section.
void check_find(KW_INI_STRUC &ini, const std::vector<KeyLine> &keys) {
    std::map<std::pair<std::uint16_t, std::string>, std::uint16_t> first;
    for (const KeyLine &k : keys) {
        first.emplace(std::make_pair(k.header, upper(k.key)), k.line);
    }
    for (const KeyLine &k : keys) {
        if (wild(k.key) || wild(k.section)) {
            continue;  // a pattern would match more than its own name
        }
        KW_ini_goto(&ini, k.header == 0 ? 1 : k.header);
        unsigned char found = 0;
        const auto *sect = reinterpret_cast<const unsigned char *>(k.section.c_str());
        KW_ini_find(&ini, k.header == 0 ? nullptr : sect, reinterpret_cast<const unsigned char *>(k.key.c_str()),
                    &found);
        const std::uint16_t want = first[{k.header, upper(k.key)}];
        if (found != 1 || ini.linenum != want) {
            std::printf("E %s\n", hex("find " + k.section + "/" + k.key + " gave line " +
                                      std::to_string(found ? ini.linenum : 0) + ", not " + std::to_string(want))
                                      .c_str());
        }
    }
}

std::string slurp(const std::filesystem::path &p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void one_file(const std::string &path, const std::filesystem::path &tmp) {
    std::printf("F %s\n", hex(path).c_str());
    KW_INI_STRUC ini;
    std::memset(&ini, 0, sizeof ini);
    std::uint32_t st = KW_ini_open(&ini, path.c_str(), KW_INI_READ | KW_INI_COMMON, KW_INI_8BIT);
    std::printf("O 1 %u\n", st);
    if (st != 0) {
        return;
    }
    const std::vector<KeyLine> keys = walk(ini);
    for (const KeyLine &k : keys) {
        std::printf("K %s %s %s\n", hex(k.section).c_str(), hex(k.key).c_str(), hex(k.value).c_str());
    }
    check_find(ini, keys);
    KW_ini_close(&ini);

    // Mode 2 on a copy: the same keys, and the write gives the bytes back.
    const std::string bytes = slurp(path);
    const std::filesystem::path copy = tmp / "copy.ini";
    {
        std::ofstream out(copy, std::ios::binary | std::ios::trunc);
        out << bytes;
    }
    std::memset(&ini, 0, sizeof ini);
    st = KW_ini_open(&ini, copy.string().c_str(), KW_INI_READWRITE | KW_INI_COMMON, KW_INI_8BIT);
    std::printf("O 2 %u\n", st);
    if (st != 0) {
        return;
    }
    const std::vector<KeyLine> keys2 = walk(ini);
    bool same = keys.size() == keys2.size();
    for (std::size_t i = 0; same && i < keys.size(); ++i) {
        same = keys[i].section == keys2[i].section && keys[i].key == keys2[i].key && keys[i].value == keys2[i].value;
    }
    if (!same) {
        std::printf("E %s\n", hex("mode 1 and mode 2 read different keys").c_str());
    }
    st = KW_ini_write(&ini);
    KW_ini_close(&ini);
    std::printf("R %s\n", st == 0 && slurp(copy) == bytes ? "ok" : "bad");
}

}  // namespace

int main(int argc, char **argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s TMPDIR < list-of-files\n", argv[0]);
        return 2;
    }
    const std::filesystem::path tmp = argv[1];
    std::string path;
    while (std::getline(std::cin, path)) {
        one_file(path, tmp);
        std::fflush(stdout);
    }
    return 0;
}
