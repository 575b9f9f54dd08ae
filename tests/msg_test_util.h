// Helpers for the message-catalog tests: catalog images built from a list of
// texts exactly as the catalog format lays them out, and a built-in catalog
// opened into a handle.
#ifndef KW_MSG_TEST_UTIL_H
#define KW_MSG_TEST_UTIL_H

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <numeric>
#include <string>
#include <vector>

#include "kwutil.h"

namespace kwtest {

constexpr std::uint8_t kAscii = 1;
constexpr std::uint8_t kEbcdic = 2;

inline std::string to_ebcdic(std::string s) {
    for (char &c : s) {
        c = static_cast<char>(KW_xlate_ASC_EBC[static_cast<unsigned char>(c)]);
    }
    return s;
}

inline std::string to_ascii(std::string s) {
    for (char &c : s) {
        c = static_cast<char>(KW_xlate_EBC_ASC[static_cast<unsigned char>(c)]);
    }
    return s;
}

// A catalog image: header, offset array (big-endian, ordered by the texts'
// first 7 bytes) and the texts, each with its zero, in the order given.
// Texts are written in ASCII and stored in the catalog's encoding.
inline std::string catalog_bytes(const std::vector<std::string> &texts, std::uint8_t encoding = kAscii,
                                 bool builtin = false) {
    std::string area;
    std::vector<std::uint16_t> offs;
    for (const auto &t : texts) {
        offs.push_back(static_cast<std::uint16_t>(area.size()));
        area += encoding == kEbcdic ? to_ebcdic(t) : t;
        area.push_back('\0');
    }
    std::stable_sort(offs.begin(), offs.end(), [&](std::uint16_t a, std::uint16_t b) {
        return std::memcmp(area.data() + a, area.data() + b, 7) < 0;
    });
    const auto be = [](std::string &s, std::size_t v) {
        s.push_back(static_cast<char>((v >> 8) & 0xFF));
        s.push_back(static_cast<char>(v & 0xFF));
    };
    std::string img(4, '\x99');
    img.push_back(static_cast<char>(encoding));
    img.push_back('\0');
    img.push_back(builtin ? '\1' : '\0');
    img.push_back('\0');
    be(img, offs.size());
    be(img, offs.size() * 2);
    be(img, area.size());
    img.append(18, '\0');
    for (std::uint16_t o : offs) {
        be(img, o);
    }
    return img + area;
}

// The not-found entry and the disk message of the worked examples.
inline const std::string kNotFound = "AB00000E - Message %1!05d! not found.";
inline const std::string kDisk = "AB00042E - Disk %1!s! has %2!d! blocks free.";

// A built-in catalog, writable as the loader needs it, opened into a handle.
// The image can be placed at an odd address to show that nothing relies on
// its alignment.
class BuiltIn {
public:
    explicit BuiltIn(const std::vector<std::string> &texts, std::uint8_t encoding = kAscii, std::size_t misalign = 1)
        : BuiltIn(catalog_bytes(texts, encoding, true), misalign) {}

    BuiltIn(const std::string &image, std::size_t misalign) : store_(image.size() + 8), at_(misalign) {
        std::memcpy(store_.data() + at_, image.data(), image.size());
        std::memset(&handle, 0, sizeof handle);
        status = KW_MsgOpen(nullptr, image_ptr(), nullptr, nullptr, &handle);
    }

    BuiltIn(const BuiltIn &) = delete;
    BuiltIn &operator=(const BuiltIn &) = delete;

    PKW_MSG_CATALOG image_ptr() { return reinterpret_cast<PKW_MSG_CATALOG>(store_.data() + at_); }
    const unsigned char *image() const { return store_.data() + at_; }

    KW_MSG_CATALOG handle;
    std::uint32_t status = 0;

private:
    std::vector<unsigned char> store_;
    std::size_t at_;
};

inline std::string str(const char *s) { return std::string(s); }

}  // namespace kwtest

#endif
