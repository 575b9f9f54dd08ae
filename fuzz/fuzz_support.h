// What the fuzz targets share: a reader that takes the input apart byte by
// byte (running dry gives zeros, never a fault), memory callbacks that keep
// a ledger of live blocks and can refuse one request, and a check macro that
// stops the run with a message libFuzzer records as a finding.
#ifndef KW_FUZZ_SUPPORT_H
#define KW_FUZZ_SUPPORT_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>

#if defined(_WIN32)
#include <direct.h>  // _mkdir
#include <io.h>      // _mktemp_s
#else
#include <stdlib.h>  // mkdtemp
#endif

#include "kwutil.h"
#include "support/alloc_ledger.h"

#define FUZZ_CHECK(cond)                                                                  \
    do {                                                                                  \
        if (!(cond)) {                                                                    \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
            std::abort();                                                                 \
        }                                                                                 \
    } while (0)

namespace kwfuzz {

class Reader {
public:
    Reader(const std::uint8_t *data, std::size_t size) : p_(data), end_(data + size) {}

    bool empty() const { return p_ == end_; }
    std::size_t left() const { return static_cast<std::size_t>(end_ - p_); }

    std::uint8_t byte() { return p_ == end_ ? 0 : *p_++; }
    std::uint16_t u16() {
        const std::uint8_t lo = byte();
        return static_cast<std::uint16_t>(lo | byte() << 8);
    }
    // Up to n bytes (fewer when the input runs out).
    std::string bytes(std::size_t n) {
        n = n < left() ? n : left();
        std::string s(reinterpret_cast<const char *>(p_), n);
        p_ += n;
        return s;
    }
    std::string rest() { return bytes(left()); }

private:
    const std::uint8_t *p_;
    const std::uint8_t *end_;
};

// Memory callbacks with a ledger (support/alloc_ledger.h, shared with the
// tests); a refused request returns 77 unless reset() says otherwise.
using Ledger = kwsupport::BasicLedger<77>;

inline const unsigned char *u(const std::string &s) { return reinterpret_cast<const unsigned char *>(s.c_str()); }

// A file path in a folder of our own, made once per process (the folder is
// left behind for the system's temporary-file cleaning; it holds one file).
inline std::string scratch_file(const char *name) {
    static const std::string dir = [] {
#if defined(_WIN32)
        // No mkdtemp: a name from _mktemp_s, made by _mkdir (which refuses
        // one that exists).
        const char *tmp = std::getenv("TEMP");
        std::string tmpl = std::string(tmp != nullptr && *tmp != 0 ? tmp : ".") + "\\kwfuzz-XXXXXX";
        if (_mktemp_s(tmpl.data(), tmpl.size() + 1) != 0 || _mkdir(tmpl.c_str()) != 0) {
            std::abort();
        }
#else
        const char *tmp = std::getenv("TMPDIR");
        std::string tmpl = std::string(tmp != nullptr && *tmp != 0 ? tmp : "/tmp") + "/kwfuzz-XXXXXX";
        if (::mkdtemp(tmpl.data()) == nullptr) {
            std::abort();
        }
#endif
        return tmpl;
    }();
    return dir + "/" + name;
}

inline void write_file(const std::string &path, const std::string &bytes) {
    std::FILE *f = std::fopen(path.c_str(), "wb");
    FUZZ_CHECK(f != nullptr);
    FUZZ_CHECK(std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size());
    FUZZ_CHECK(std::fclose(f) == 0);
}

inline std::string read_file(const std::string &path) {
    std::string out;
    std::FILE *f = std::fopen(path.c_str(), "rb");
    FUZZ_CHECK(f != nullptr);
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) {
        out.append(buf, n);
    }
    std::fclose(f);
    return out;
}

}  // namespace kwfuzz

#endif
