// kwtool pack -1 ... -9, end to end: every compressed block is exactly the
// stream KW_RdcCompressLevel writes for that block at that level, a block
// whose start, middle and end do not shrink is stored without a full parse,
// and every level unpacks to the input.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "kwtool_test_util.h"
#include "kwutil.h"

namespace {

constexpr std::size_t kBlock = 65535;

std::string noise(std::size_t n, std::mt19937 &rng) {
    std::string s(n, '\0');
    for (auto &c : s) {
        c = static_cast<char>(rng() & 0xFF);
    }
    return s;
}

std::string prose(std::size_t n, std::mt19937 &rng) {
    const char *const words[] = {"level ", "block ", "stream ", "the ", "copy ", "run ", "\n", "of "};
    std::string s;
    while (s.size() < n) {
        s += words[rng() % 8];
    }
    s.resize(n);
    return s;
}

struct Block {
    unsigned char kind;
    std::string content;  // the input bytes it stands for
    std::string data;     // the bytes after its header
};

// The blocks of a packed file, matched with the content they came from.
std::vector<Block> blocks_of(const std::string &packed, const std::string &content) {
    std::vector<Block> v;
    std::size_t at = 8;
    std::size_t from = 0;
    while (at + 9 <= packed.size() && packed[at] != '\0') {
        const auto u = [&](std::size_t i) { return std::size_t{static_cast<unsigned char>(packed[at + i])}; };
        const std::size_t size = u(1) << 8 | u(2);
        const std::size_t stored = u(3) << 8 | u(4);
        v.push_back({static_cast<unsigned char>(packed[at]), content.substr(from, size), packed.substr(at + 9, stored)});
        at += 9 + stored;
        from += size;
    }
    return v;
}

class KwtoolPackLevel : public kwtest::KwtoolTest {
protected:
    kwtest::TempDir dir;
};

TEST_F(KwtoolPackLevel, BlocksAreTheLibrarysStreamsAtThatLevel) {
    std::mt19937 rng(31);
    // Block by block: text (compressed); noise (stored); text with noise in
    // the three sampled slices of 4,096 bytes at the start, the middle and
    // the end (stored, though it would shrink: the price of not parsing it
    // whole); text with noise at the start and the end only (compressed);
    // a short text.
    const std::size_t slices[] = {0, (kBlock - 4096) / 2, kBlock - 4096};
    std::string in = prose(kBlock, rng);
    in += noise(kBlock, rng);
    for (const std::size_t sampled : {3u, 2u}) {
        std::string b = prose(kBlock, rng);
        for (std::size_t i = 0; i < 3; ++i) {
            if (sampled == 3 || i != 1) {
                b.replace(slices[i], 4096, noise(4096, rng));
            }
        }
        in += b;
    }
    in += prose(1000, rng);  // a short last block: always parsed
    dir.write("in.bin", in);

    std::vector<void *> work(4096);
    for (const int level : {1, 2, 5, 8, 9}) {
        SCOPED_TRACE(level);
        const std::string flag = "-" + std::to_string(level);
        auto r = kwtest::run_kwtool(dir, {"pack", "-f", flag, "in.bin", "in.kwp"});
        ASSERT_EQ(r.status, 0) << r.err;
        const std::string packed = kwtest::slurp(dir.file("in.kwp"));
        const std::vector<Block> blocks = blocks_of(packed, in);
        ASSERT_EQ(blocks.size(), 5u);
        for (std::size_t k = 0; k < blocks.size(); ++k) {
            SCOPED_TRACE(k);
            const Block &b = blocks[k];
            const auto n = static_cast<uint16_t>(b.content.size());
            std::string lib(n, '\0');
            lib.resize(KW_RdcCompressLevel(reinterpret_cast<const unsigned char *>(b.content.data()), n,
                                           reinterpret_cast<unsigned char *>(lib.data()), work.data(), level));
            if (k == 1 || k == 2) {
                EXPECT_EQ(b.kind, 1) << "stored: no sampled slice shrinks";
                EXPECT_TRUE(b.data == b.content);
                if (k == 2) {
                    EXPECT_LT(lib.size(), b.content.size()) << "the whole block would have shrunk";
                }
            } else {
                ASSERT_EQ(b.kind, 2) << "compressed";
                EXPECT_TRUE(b.data == lib) << "the library's own stream";
            }
        }
        r = kwtest::run_kwtool(dir, {"unpack", "-f", "in.kwp", "out.bin"});
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_TRUE(kwtest::slurp(dir.file("out.bin")) == in);
    }
}

TEST_F(KwtoolPackLevel, HigherLevelsWriteSmallerFiles) {
    std::mt19937 rng(5);
    dir.write("in.bin", prose(3 * kBlock, rng));
    std::size_t last = 0;
    for (const int level : {9, 5, 1}) {
        const auto r = kwtest::run_kwtool(dir, {"pack", "-f", "-" + std::to_string(level), "in.bin", "in.kwp"});
        ASSERT_EQ(r.status, 0) << r.err;
        const std::size_t size = kwtest::slurp(dir.file("in.kwp")).size();
        EXPECT_GT(size, last) << "level " << level;
        last = size;
    }
}

}  // namespace
