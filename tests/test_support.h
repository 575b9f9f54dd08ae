// Shared test fixtures: a temporary folder of real files, and memory
// callbacks that record every block and can fail on the Nth request.
#ifndef KW_TEST_SUPPORT_H
#define KW_TEST_SUPPORT_H

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "kwutil.h"
#include "support/alloc_ledger.h"

namespace kwtest {

// A fresh folder under the system's temporary folder, removed with its
// contents when the object goes.
class TempDir {
public:
    TempDir() {
        std::string tmpl = (std::filesystem::temp_directory_path() / "kwutil-XXXXXX").string();
        std::vector<char> buf(tmpl.begin(), tmpl.end());
        buf.push_back('\0');
#if defined(_WIN32)
        // No mkdtemp: draw names until one can be created.
        for (int attempt = 0;; ++attempt) {
            std::vector<char> name = buf;
            if (attempt == 100 || _mktemp_s(name.data(), name.size()) != 0) {
                std::abort();
            }
            std::error_code ec;
            if (std::filesystem::create_directory(name.data(), ec)) {
                path_ = name.data();
                break;
            }
            buf[buf.size() - 8] = static_cast<char>('a' + attempt % 26);  // vary the stem for _mktemp_s
        }
#else
        char *made = ::mkdtemp(buf.data());
        if (made == nullptr) {
            std::abort();
        }
        path_ = made;
#endif
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;

    const std::filesystem::path &path() const { return path_; }
    std::string file(const std::string &name) const { return (path_ / name).string(); }

    // Write bytes to name (binary) and return its full path.
    std::string write(const std::string &name, const std::string &bytes) const {
        std::string p = file(name);
        std::ofstream(p, std::ios::binary) << bytes;
        return p;
    }

private:
    std::filesystem::path path_;
};

// The line end that a text-mode write puts on disk for 0x0A: the host's own
// (CR LF on Windows), which a text-mode read turns back into 0x0A.
#if defined(_WIN32)
inline constexpr const char *kEol = "\r\n";
#else
inline constexpr const char *kEol = "\n";
#endif

// A text as a text-mode write leaves it on disk: every 0x0A as kEol.
inline std::string eol(const std::string &text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        if (c == '\n') {
            out += kEol;
        } else {
            out += c;
        }
    }
    return out;
}

// The whole file as bytes (empty when it cannot be read).
inline std::string read_file(const std::string &path) {
    std::string bytes;
    if (std::FILE *f = std::fopen(path.c_str(), "rb")) {
        char chunk[8192];
        std::size_t n;
        while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) {
            bytes.append(chunk, n);
        }
        std::fclose(f);
    }
    return bytes;
}

// Memory callbacks with a ledger (support/alloc_ledger.h, shared with the
// fuzz targets); a refused request returns 7 unless reset() says otherwise.
using Ledger = kwsupport::BasicLedger<7>;

// Install the ledger's callbacks in an INI record.
inline void use_ledger(KW_INI_STRUC &ini) {
    ini.alloc_mem = &Ledger::alloc;
    ini.free_mem = &Ledger::release;
}

}  // namespace kwtest

#endif
