// INI engine benchmarks.
//
// 1. Lookups: a configuration text of about 50 KB (50 sections of 20 keys,
//    a comment above each section) is opened from memory, and each of its
//    1,000 keys is looked up from line 1 (goto 1, then find section + key),
//    in a shuffled order, in the classic dialect and in the common one. The peer parses the same text with libinih into an
//    unordered_map and looks the same keys up there. Both contenders include
//    their whole setup, open or parse, in every call.
// 2. Edits: 1,000 lines inserted at positions spread over the text, then
//    deleted again (in both dialects), beside the same edits on a vector of
//    strings.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#ifdef KW_BENCH_HAS_INIH
#include <ini.h>
#endif

#include "harness.h"
#include "kwutil.h"

namespace {

struct Text {
    std::string file;                  // the text as a file holds it
    std::vector<unsigned char> lines;  // the same lines, each zero-terminated
    std::vector<std::string> line_list;
    std::vector<std::pair<std::string, std::string>> lookups;  // section, key
};

Text make_text() {
    Text t;
    for (int s = 0; s < 50; ++s) {
        const std::string section = "section_" + std::to_string(s);
        t.line_list.push_back("; settings of " + section + ", written by the installer\n");
        t.line_list.push_back("[" + section + "]\n");
        for (int k = 0; k < 20; ++k) {
            const std::string key = "key_" + std::to_string(s * 20 + k) + "_name";
            t.line_list.push_back(key + "=value " + std::to_string(s * 20 + k) + " for key, some text,more\n");
            t.lookups.emplace_back(section, key);
        }
    }
    for (const auto &l : t.line_list) {
        t.file += l;
        t.lines.insert(t.lines.end(), l.begin(), l.end());
        t.lines.push_back(0);
    }
    std::mt19937 rng(7);
    std::shuffle(t.lookups.begin(), t.lookups.end(), rng);
    return t;
}

const unsigned char *u(const std::string &s) { return reinterpret_cast<const unsigned char *>(s.c_str()); }

// Open, look every key up from line 1, close. Returns how many were found.
int kw_lookups(const Text &t, std::vector<unsigned char> &buf, std::int32_t dialect) {
    KW_INI_STRUC ini;
    std::memset(&ini, 0, sizeof ini);
    ini.pBuf = buf.data();
    ini.bufsize = ini.usesize = static_cast<std::uint16_t>(t.lines.size());
    if (KW_ini_open(&ini, nullptr, KW_INI_READ | dialect, 0) != INI_OK) {
        std::abort();
    }
    int found_count = 0;
    for (const auto &[section, key] : t.lookups) {
        unsigned char found = 0;
        KW_ini_goto(&ini, 1);
        KW_ini_find(&ini, u(section), u(key), &found);
        found_count += found;
        kwbench::keep(ini.pValue);
    }
    KW_ini_close(&ini);
    return found_count;
}

#ifdef KW_BENCH_HAS_INIH
using Map = std::unordered_map<std::string, std::string>;

int on_pair(void *user, const char *section, const char *name, const char *value) {
    std::string key(section);
    key += '\x1f';
    key += name;
    static_cast<Map *>(user)->emplace(std::move(key), value);
    return 1;
}

int inih_lookups(const Text &t, const std::vector<std::string> &keys) {
    Map map;
    if (ini_parse_string(t.file.c_str(), on_pair, &map) != 0) {
        std::abort();
    }
    int found_count = 0;
    for (const auto &k : keys) {
        auto it = map.find(k);
        found_count += it != map.end();
        kwbench::keep(it);
    }
    return found_count;
}
#endif

// Positions (0-based line indexes of the original text) to insert before.
std::vector<std::uint16_t> spread(std::size_t lines, int count) {
    std::vector<std::uint16_t> at;
    for (int i = 0; i < count; ++i) {
        at.push_back(static_cast<std::uint16_t>(static_cast<std::size_t>(i) * lines / static_cast<std::size_t>(count)));
    }
    return at;
}

// Insert before each original line in `at` (ascending), then delete them
// all again, last first: the text ends as it began.
void kw_edits(std::vector<unsigned char> &buf, std::uint16_t used, const std::vector<std::uint16_t> &at,
              std::int32_t dialect) {
    KW_INI_STRUC ini;
    std::memset(&ini, 0, sizeof ini);
    ini.pBuf = buf.data();
    ini.bufsize = static_cast<std::uint16_t>(buf.size());
    ini.usesize = used;
    if (KW_ini_open(&ini, nullptr, KW_INI_READWRITE | dialect, 0) != INI_OK) {
        std::abort();
    }
    const unsigned char line[] = "added=1\n";
    for (std::size_t i = 0; i < at.size(); ++i) {
        KW_ini_goto(&ini, static_cast<std::uint16_t>(at[i] + i + 1));
        if (KW_ini_insert(&ini, line, 0) != INI_OK) {
            std::abort();
        }
    }
    for (std::size_t i = at.size(); i-- > 0;) {
        KW_ini_goto(&ini, static_cast<std::uint16_t>(at[i] + i + 1));
        KW_ini_delete(&ini);
    }
    KW_ini_close(&ini);
}

void vector_edits(std::vector<std::string> &lines, const std::vector<std::uint16_t> &at) {
    for (std::size_t i = 0; i < at.size(); ++i) {
        lines.insert(lines.begin() + static_cast<long>(at[i] + i), "added=1\n");
    }
    for (std::size_t i = at.size(); i-- > 0;) {
        lines.erase(lines.begin() + static_cast<long>(at[i] + i));
    }
}

}  // namespace

int main() {
    const Text t = make_text();
    std::vector<unsigned char> lookup_buf = t.lines;
    std::printf("text: %zu bytes, %zu lines, %zu lookups\n", t.file.size(), t.line_list.size(), t.lookups.size());

    for (std::int32_t dialect : {0, KW_INI_COMMON}) {
        if (kw_lookups(t, lookup_buf, dialect) != static_cast<int>(t.lookups.size())) {
            std::fprintf(stderr, "KW_ini_find missed keys\n");
            return 1;
        }
    }
    kwbench::Suite lookups("open + 1,000 lookups from line 1 (~50 KB text)", static_cast<double>(t.file.size()));
    lookups.add("KW_ini_open + goto/find", [&] { kwbench::keep(kw_lookups(t, lookup_buf, 0)); });
    lookups.add("the same, KW_INI_COMMON", [&] { kwbench::keep(kw_lookups(t, lookup_buf, KW_INI_COMMON)); });
#ifdef KW_BENCH_HAS_INIH
    std::vector<std::string> keys;
    for (const auto &[section, key] : t.lookups) {
        keys.push_back(section + '\x1f' + key);
    }
    if (inih_lookups(t, keys) != static_cast<int>(keys.size())) {
        std::fprintf(stderr, "libinih missed keys\n");
        return 1;
    }
    lookups.add("libinih parse + unordered_map find", [&] { kwbench::keep(inih_lookups(t, keys)); });
#endif
    lookups.run();
#ifdef KW_BENCH_HAS_INIH
    std::printf("  time ratio KW / libinih: %.3f (below 1.0: KW is faster)\n", lookups.median(0) / lookups.median(2));
    std::printf("  time ratio KW common / libinih: %.3f\n", lookups.median(1) / lookups.median(2));
#endif
    std::printf("  time ratio KW common / KW classic: %.3f (goal: at most 1.10)\n", lookups.median(1) / lookups.median(0));

    const std::vector<std::uint16_t> at = spread(t.line_list.size(), 1000);
    std::vector<unsigned char> edit_buf(65535, 0);
    std::copy(t.lines.begin(), t.lines.end(), edit_buf.begin());
    const auto used = static_cast<std::uint16_t>(t.lines.size());
    for (std::int32_t dialect : {0, KW_INI_COMMON}) {
        kw_edits(edit_buf, used, at, dialect);
        if (!std::equal(t.lines.begin(), t.lines.end(), edit_buf.begin())) {
            std::fprintf(stderr, "the edits did not restore the text\n");
            return 1;
        }
    }
    std::vector<std::string> vec = t.line_list;
    kwbench::Suite edits("1,000 inserts then 1,000 deletes, spread over the text", 0);
    edits.add("KW_ini_insert / KW_ini_delete", [&] { kw_edits(edit_buf, used, at, 0); });
    edits.add("the same, KW_INI_COMMON", [&] { kw_edits(edit_buf, used, at, KW_INI_COMMON); });
    edits.add("vector<string> insert / erase", [&] { vector_edits(vec, at); });
    edits.run();
    return 0;
}
