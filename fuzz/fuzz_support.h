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

#include <stdlib.h>  // mkdtemp

#include "kwutil.h"

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

// Memory callbacks with a ledger: every live block and its size. Request
// number fail_at (0-based) is refused with status 77.
struct Ledger {
    std::map<unsigned char *, std::uint16_t> live;
    long requests = 0;
    long fail_at = -1;
    bool bad_release = false;

    static Ledger &get() {
        static Ledger l;
        return l;
    }
    static void reset(long fail_at = -1) {
        Ledger &l = get();
        for (auto &kv : l.live) {
            std::free(kv.first);
        }
        l.live.clear();
        l.requests = 0;
        l.fail_at = fail_at;
        l.bad_release = false;
    }
    static std::uint32_t alloc(std::uint16_t size, unsigned char **pp) {
        Ledger &l = get();
        if (l.requests++ == l.fail_at) {
            return 77;
        }
        auto *p = static_cast<unsigned char *>(std::malloc(size == 0 ? 1 : size));
        if (p == nullptr) {
            return 1;
        }
        l.live[p] = size;
        *pp = p;
        return 0;
    }
    static std::uint32_t release(std::uint16_t size, unsigned char *p) {
        Ledger &l = get();
        auto it = l.live.find(p);
        if (it == l.live.end() || it->second != size) {
            l.bad_release = true;
            return 0;
        }
        l.live.erase(it);
        std::free(p);
        return 0;
    }
    // Everything given back, each block with its own size.
    static bool clean() { return get().live.empty() && !get().bad_release; }
};

inline const unsigned char *u(const std::string &s) { return reinterpret_cast<const unsigned char *>(s.c_str()); }

// A file path in a folder of our own, made once per process (the folder is
// left behind for the system's temporary-file cleaning; it holds one file).
inline std::string scratch_file(const char *name) {
    static const std::string dir = [] {
        const char *tmp = std::getenv("TMPDIR");
        std::string tmpl = std::string(tmp != nullptr && *tmp != 0 ? tmp : "/tmp") + "/kwfuzz-XXXXXX";
        if (::mkdtemp(tmpl.data()) == nullptr) {
            std::abort();
        }
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
