// Small helpers for the INI tests: opening a caller's buffer built from a
// list of lines, and reading the current line without its line end.
#ifndef KW_INI_TEST_UTIL_H
#define KW_INI_TEST_UTIL_H

#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "kwutil.h"

namespace kwtest {

// A caller's text: lines back to back, each with its zero, in a block of
// exactly the used size plus `spare` bytes.
struct CallerText {
    std::vector<unsigned char> bytes;
    CallerText(std::initializer_list<std::string> lines, std::size_t spare = 0) {
        for (const auto &l : lines) {
            bytes.insert(bytes.end(), l.begin(), l.end());
            bytes.push_back(0);
        }
        used = bytes.size();
        bytes.resize(used + spare);
    }
    std::size_t used = 0;

    std::uint32_t open(KW_INI_STRUC &ini, std::int32_t mode = KW_INI_READWRITE, std::uint8_t unicode = 0) {
        ini.pBuf = bytes.data();
        ini.bufsize = static_cast<std::uint16_t>(bytes.size());
        ini.usesize = static_cast<std::uint16_t>(used);
        return KW_ini_open(&ini, nullptr, mode, unicode);
    }
};

inline KW_INI_STRUC fresh_record() {
    KW_INI_STRUC ini;
    std::memset(&ini, 0, sizeof ini);
    return ini;
}

inline std::string text(const unsigned char *p) {
    return p == nullptr ? std::string("<null>") : std::string(reinterpret_cast<const char *>(p));
}

inline const unsigned char *u(const char *s) { return reinterpret_cast<const unsigned char *>(s); }

}  // namespace kwtest

#endif
