// Workloads for the utilities' benchmarks: English text, a program binary and
// low-entropy records, built the same way on every run.
//
// There is no text corpus in the tree, so the English text is made from the
// licence texts a Debian system carries: /usr/share/common-licenses/* and
// /usr/share/doc/*/copyright, in sorted path order, each distinct file once,
// repeated as needed.
#ifndef KW_BENCH_MISC_CORPUS_H
#define KW_BENCH_MISC_CORPUS_H

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

namespace kwbench {

using Bytes = std::vector<unsigned char>;

inline Bytes read_all(const std::filesystem::path &p) {
    std::ifstream in(p, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// At least n bytes of English-like text (exactly n).
inline Bytes english_text(std::size_t n) {
    namespace fs = std::filesystem;
    std::vector<fs::path> files;
    std::error_code ec;
    for (const auto &e : fs::directory_iterator("/usr/share/common-licenses", ec)) {
        if (e.is_regular_file(ec)) {
            files.push_back(e.path());
        }
    }
    for (const auto &e : fs::directory_iterator("/usr/share/doc", ec)) {
        const fs::path c = e.path() / "copyright";
        if (fs::is_regular_file(c, ec)) {
            files.push_back(c);
        }
    }
    std::sort(files.begin(), files.end());
    Bytes text;
    std::set<std::string> seen;
    for (const auto &f : files) {
        Bytes b = read_all(f);
        if (b.empty() || !seen.insert(std::string(b.begin(), b.end())).second) {
            continue;
        }
        text.insert(text.end(), b.begin(), b.end());
    }
    if (text.empty()) {
        std::fprintf(stderr, "no licence texts found under /usr/share\n");
        std::exit(1);
    }
    Bytes out;
    out.reserve(n);
    while (out.size() < n) {
        out.insert(out.end(), text.begin(), text.begin() + static_cast<long>(std::min(text.size(), n - out.size())));
    }
    return out;
}

inline Bytes program_binary(std::size_t n) {
    Bytes b = read_all("/usr/bin/bash");
    if (b.empty()) {
        std::fprintf(stderr, "/usr/bin/bash not readable\n");
        std::exit(1);
    }
    Bytes out;
    while (out.size() < n) {
        out.insert(out.end(), b.begin(), b.begin() + static_cast<long>(std::min(b.size(), n - out.size())));
    }
    return out;
}

// Fixed-width records as a batch job writes them: zero-padded numbers,
// space-padded names from a short list, a few status words.
inline Bytes records(std::size_t n) {
    static const char *const names[] = {"ANDERSEN", "BAKER", "CHAN", "DUBOIS", "EVANS", "FISCHER", "GARCIA", "HILL"};
    static const char *const status[] = {"OK", "OK", "OK", "HELD", "OK", "RETRY"};
    Bytes out;
    unsigned long id = 100000;
    unsigned long x = 12345;
    char line[160];
    while (out.size() < n) {
        x = x * 1103515245ul + 12345ul;
        const unsigned long r = (x >> 16) & 0x7FFF;
        const int len = std::snprintf(line, sizeof line, "%08lu|%-20s|%06lu|%-6s|%010lu|        |0000000000|\r\n", id++,
                                      names[r % 8], r % 500, status[r % 6], (r * 7) % 100000);
        out.insert(out.end(), line, line + len);
    }
    out.resize(n);
    return out;
}

}  // namespace kwbench

#endif
