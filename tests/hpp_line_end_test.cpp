// kw::ini_file::line() at the end position. There pLine points just past the
// text; when the text fills its block exactly, that is the first byte after
// the block, so line() must not read it. The blocks here are followed by
// bytes that are not zero: a read past the block shows as text (and under
// AddressSanitizer as an overflow).
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <string>

#include "kwutil.hpp"
#include "test_support.h"

namespace {

constexpr std::size_t kTail = 16;  // bytes after each block: 'G' ..., then a zero

std::map<unsigned char *, std::uint16_t> &live() {
    static std::map<unsigned char *, std::uint16_t> blocks;
    return blocks;
}

std::uint32_t guarded_alloc(std::uint16_t size, unsigned char **pp) {
    auto *p = static_cast<unsigned char *>(std::malloc(size + kTail));
    if (p == nullptr) {
        return 1;
    }
    std::memset(p + size, 'G', kTail - 1);
    p[size + kTail - 1] = 0;
    live()[p] = size;
    *pp = p;
    return 0;
}

std::uint32_t guarded_free(std::uint16_t size, unsigned char *p) {
    auto it = live().find(p);
    if (it != live().end() && it->second == size) {
        live().erase(it);
        std::free(p);
    }
    return 0;
}

TEST(HppLineEnd, EndPositionOfAFullBlockShowsAnEmptyLine) {
    // 64 lines of 127 bytes and their zeros fill the first 8,192-byte block.
    const std::string line = "k=" + std::string(124, 'v') + "\n";
    std::string body;
    for (int i = 0; i < 64; ++i) {
        body += line;
    }
    kwtest::TempDir dir;
    const std::string path = dir.write("full.ini", body);
    {
        kw::ini_file ini(&guarded_alloc, &guarded_free);
        ASSERT_FALSE(ini.open(path));
        EXPECT_EQ(ini.line(), line);
        while (ini.type() != kw::line_type::none) {
            ASSERT_FALSE(ini.next());
        }
        EXPECT_EQ(ini.line_number(), 65);
        EXPECT_EQ(ini.line(), "") << "the end position has no text";
        EXPECT_EQ(ini.value(), std::nullopt);
    }
    EXPECT_TRUE(live().empty()) << "every block given back";
}

}  // namespace
