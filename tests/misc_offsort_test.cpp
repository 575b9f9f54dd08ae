// Offset-array sort and binary search. The sort must give exactly the
// permutation of the exchange passes (equal keys included), so it is checked
// against a deliberately literal rendering of those passes.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "kwutil.h"

namespace {

// The passes exactly as defined: halving gaps, and for each gap exchange
// passes over i = 0 .. numdata - 1 - skip until one exchanges nothing.
void reference_sort(std::uint16_t *offs, std::uint32_t numdata, std::uint32_t cmplen, const unsigned char *pData) {
    if (numdata == 0) {
        return;
    }
    std::uint32_t skip = numdata;
    while (skip > 1) {
        skip = skip / 2;
        bool inorder;
        do {
            inorder = true;
            for (std::uint32_t i = 0; i + skip <= numdata - 1; ++i) {
                const std::uint32_t j = i + skip;
                if (std::memcmp(pData + offs[j], pData + offs[i], cmplen) < 0) {
                    std::swap(offs[i], offs[j]);
                    inorder = false;
                }
            }
        } while (!inorder);
    }
}

// The probe sequence of the search, written out plainly.
std::int32_t reference_search(const unsigned char *key, const std::uint16_t *offs, std::uint32_t numdata,
                              std::uint32_t cmplen, const unsigned char *pData) {
    std::int64_t low = 0;
    std::int64_t high = static_cast<std::int64_t>(numdata) - 1;
    while (low <= high) {
        const std::int64_t median = (low + high) / 2;
        const int c = std::memcmp(key, pData + offs[median], cmplen);
        if (c == 0) {
            return static_cast<std::int32_t>(median);
        }
        if (c < 0) {
            high = median - 1;
        } else {
            low = median + 1;
        }
    }
    return -1;
}

// A data block of exactly `size` bytes on the heap, so that the address
// sanitizer catches a key read past its end.
struct Block {
    explicit Block(std::size_t n) : size(n), bytes(new unsigned char[n == 0 ? 1 : n]) {}
    std::size_t size;
    std::unique_ptr<unsigned char[]> bytes;
    unsigned char *data() { return bytes.get(); }
};

const unsigned char *u(const char *s) { return reinterpret_cast<const unsigned char *>(s); }

// A random number below n.
struct Random {
    explicit Random(std::uint32_t seed) : rng(seed) {}
    std::uint32_t below(std::uint32_t n) { return static_cast<std::uint32_t>(rng() % n); }
    std::mt19937 rng;
};

TEST(SortOffs, SameReorderingAsTheExchangePassesOnRandomInputsWithManyEqualKeys) {
    Random rnd(20240517);
    for (int round = 0; round < 600; ++round) {
        const std::uint32_t cmplen = static_cast<std::uint32_t>(round % 12);
        const std::uint32_t numdata = round % 50 == 0 ? 1500 + rnd.below(1500) : rnd.below(140);
        const std::uint32_t alphabet = 1 + rnd.below(3);  // few symbols: many equal keys
        Block block(64 + rnd.below(400));
        for (std::size_t i = 0; i < block.size; ++i) {
            block.data()[i] = static_cast<unsigned char>(rnd.below(alphabet) * 0x61);  // 0x00, 0x61, 0xC2
        }
        std::vector<std::uint16_t> offs(numdata);
        for (auto &o : offs) {
            // Keys may end at the very last byte of the block.
            o = static_cast<std::uint16_t>(rnd.below(static_cast<std::uint32_t>(block.size - cmplen + 1)));
        }
        std::vector<std::uint16_t> want = offs;
        reference_sort(want.data(), numdata, cmplen, block.data());
        KW_shellsort_offs(offs.data(), numdata, cmplen, block.data());
        ASSERT_EQ(offs, want) << "round " << round << " cmplen " << cmplen << " numdata " << numdata;
    }
}

TEST(SortOffs, DescendingKeysComeOutAscending) {
    const char *data = "9876543210";
    std::vector<std::uint16_t> offs(10);
    std::iota(offs.begin(), offs.end(), 0);
    KW_shellsort_offs(offs.data(), 10, 1, u(data));
    EXPECT_EQ(offs, (std::vector<std::uint16_t>{9, 8, 7, 6, 5, 4, 3, 2, 1, 0}));
}

TEST(SortOffs, NothingToSortChangesNothing) {
    std::vector<std::uint16_t> offs = {3, 1, 2};
    KW_shellsort_offs(offs.data(), 0, 1, u("cab"));
    KW_shellsort_offs(offs.data(), 1, 1, u("cab"));
    KW_shellsort_offs(offs.data(), 3, 0, u("cab"));  // cmplen 0: every key equal
    EXPECT_EQ(offs, (std::vector<std::uint16_t>{3, 1, 2}));
    KW_shellsort_offs(nullptr, 0, 7, nullptr);
}

TEST(SortOffs, KeysAreExactlyCmplenUnsignedBytes) {
    // Records: abd at 0, abc at 4, abcy at 8, abcx at 13, a 0 c at 18, then 0xC1 0x41 0x41.
    const unsigned char data[] = {'a', 'b', 'd', 0, 'a', 'b', 'c', 0, 'a', 'b', 'c', 'y', 0,
                                  'a', 'b', 'c', 'x', 0, 'a', 0, 'c', 0, 0xC1, 0x41, 0x41};
    struct {
        std::vector<std::uint16_t> in;
        std::uint32_t cmplen;
        std::vector<std::uint16_t> want;
    } cases[] = {
        {{0, 4}, 3, {4, 0}},          // abd after abc
        {{8, 13}, 3, {8, 13}},        // abcy and abcx are equal over 3 bytes: not exchanged
        {{8, 13}, 4, {13, 8}},        // ...but not over 4
        {{4, 18}, 3, {18, 4}},        // a 0 c before a b c: zero is a byte like any other
        {{22, 23}, 1, {23, 22}},      // 0xC1 after 0x41
        {{22, 23, 24}, 1, {23, 24, 22}},
        {{22, 23}, 2, {23, 22}},
    };
    for (auto &c : cases) {
        KW_shellsort_offs(c.in.data(), static_cast<std::uint32_t>(c.in.size()), c.cmplen, data);
        EXPECT_EQ(c.in, c.want);
    }
}

TEST(BsearchOffs, FindsEveryKeyAndMissesEveryGap) {
    const char *data = "b d f h j l n ";
    const std::vector<std::uint16_t> offs = {0, 2, 4, 6, 8, 10, 12};
    const auto n = static_cast<std::uint32_t>(offs.size());
    const char *present = "bdfhjln";
    for (std::int32_t i = 0; i < 7; ++i) {
        EXPECT_EQ(KW_bsearch_offs(u(present + i), offs.data(), n, 1, u(data)), i);
    }
    for (const char *missing : {"a", "c", "e", "g", "i", "k", "m", "o", "\xFF"}) {
        EXPECT_EQ(KW_bsearch_offs(u(missing), offs.data(), n, 1, u(data)), -1) << missing;
    }
}

TEST(BsearchOffs, SingleEntryAndNoEntries) {
    const std::uint16_t offs[] = {0};
    EXPECT_EQ(KW_bsearch_offs(u("key"), offs, 1, 3, u("key")), 0);
    EXPECT_EQ(KW_bsearch_offs(u("kex"), offs, 1, 3, u("key")), -1);
    EXPECT_EQ(KW_bsearch_offs(u("kez"), offs, 1, 3, u("key")), -1);
    EXPECT_EQ(KW_bsearch_offs(u("key"), offs, 0, 3, u("key")), -1);
}

TEST(BsearchOffs, ZeroLengthKeysMatchAtTheFirstProbe) {
    const std::uint16_t offs[7] = {};
    for (std::uint32_t n = 1; n <= 7; ++n) {
        EXPECT_EQ(KW_bsearch_offs(u(""), offs, n, 0, u("")), static_cast<std::int32_t>((n - 1) / 2));
    }
}

TEST(BsearchOffs, FollowsTheProbeSequenceOnSortedRandomArrays) {
    Random rnd(7);
    for (int round = 0; round < 400; ++round) {
        const std::uint32_t cmplen = 1 + static_cast<std::uint32_t>(round % 10);
        Block block(32 + rnd.below(200));
        for (std::size_t i = 0; i < block.size; ++i) {
            block.data()[i] = static_cast<unsigned char>('a' + rnd.below(2));
        }
        std::vector<std::uint16_t> offs(1 + rnd.below(60));
        for (auto &o : offs) {
            o = static_cast<std::uint16_t>(rnd.below(static_cast<std::uint32_t>(block.size - cmplen + 1)));
        }
        const auto n = static_cast<std::uint32_t>(offs.size());
        KW_shellsort_offs(offs.data(), n, cmplen, block.data());
        for (int probe = 0; probe < 20; ++probe) {
            unsigned char key[16];
            for (std::uint32_t i = 0; i < cmplen; ++i) {
                key[i] = static_cast<unsigned char>('a' + rnd.below(3));
            }
            ASSERT_EQ(KW_bsearch_offs(key, offs.data(), n, cmplen, block.data()),
                      reference_search(key, offs.data(), n, cmplen, block.data()));
        }
    }
}

}  // namespace
