// KW_crbrk and KW_dcprc: the key table's properties and its generator, the
// scrambler against a plain model of its key schedule, the special bytes 0
// and 39, and round trips.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

#include "kwutil.h"
#include "misc/scramble_keys.h"

namespace {

using Bytes = std::vector<unsigned char>;
using kw::misc::kKeyCount;
using kw::misc::kLongMask;
using kw::misc::kShortMask;
using kw::misc::kStartMask;
using kw::misc::xk_offset;
using kw::misc::xk_pool;

Bytes key_string(unsigned i) {
    return Bytes(xk_pool + xk_offset[i], xk_pool + xk_offset[i + 1] - 1);  // without the terminator
}

// ---------------------------------------------------------------------------
// The key table.

TEST(ScrambleKeys, TableHasTheRequiredShape) {
    ASSERT_EQ(kKeyCount, 64u);
    EXPECT_EQ(xk_offset[0], 0);
    EXPECT_EQ(xk_offset[kKeyCount], sizeof xk_pool);
    std::size_t key_bytes = 0;
    std::size_t high_entries = 0;
    std::size_t printable = 0;
    for (unsigned i = 0; i < kKeyCount; ++i) {
        SCOPED_TRACE(i);
        const Bytes k = key_string(i);
        EXPECT_GE(k.size(), 28u);
        EXPECT_LE(k.size(), 65u);
        EXPECT_EQ(xk_pool[xk_offset[i + 1] - 1], 0) << "terminator";
        EXPECT_TRUE(std::all_of(k.begin(), k.end(), [](unsigned char c) { return c >= 0x20; }));
        key_bytes += k.size();
        high_entries += std::any_of(k.begin(), k.end(), [](unsigned char c) { return c >= 0x80; }) ? 1u : 0u;
        printable += static_cast<std::size_t>(
            std::count_if(k.begin(), k.end(), [](unsigned char c) { return c >= 0x20 && c <= 0x7E; }));
    }
    EXPECT_EQ(key_bytes, 3609u) << "key bytes, terminators not counted";
    EXPECT_EQ(sizeof xk_pool, 3609u + 64u) << "with the 64 terminators";
    EXPECT_GT(high_entries, 0u) << "some entries hold bytes of 0x80 and above";
    EXPECT_LT(high_entries, kKeyCount) << "not all of them";
    EXPECT_GT(printable * 10, key_bytes * 9) << "mostly printable ASCII";
}

TEST(ScrambleKeys, MasksAreDistinctAndNotZero) {
    EXPECT_NE(kShortMask, kLongMask);
    EXPECT_NE(kShortMask, 0);
    EXPECT_NE(kLongMask, 0);
    EXPECT_NE(kStartMask, 0);
}

// The table is exactly what the generator described beside it produces.
TEST(ScrambleKeys, TableIsReproducibleFromItsGenerator) {
    std::uint64_t state = 0x4B57554B45595331ull;
    const auto next = [&state]() {
        state += 0x9E3779B97F4A7C15ull;
        std::uint64_t z = state;
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    };
    const auto below = [&next](unsigned n) { return static_cast<unsigned>(next() % n); };

    std::vector<unsigned> length(64);
    unsigned sum = 0;
    for (auto &l : length) {
        l = 28 + below(38);
        sum += l;
    }
    while (sum != 3609) {
        const unsigned j = below(64);
        if (sum < 3609 && length[j] < 65) {
            ++length[j];
            ++sum;
        } else if (sum > 3609 && length[j] > 28) {
            --length[j];
            --sum;
        }
    }
    std::vector<bool> high(64);
    for (unsigned i = 0; i < 64; ++i) {
        high[i] = below(4) == 0;
    }
    for (unsigned i = 0; i < 64; ++i) {
        Bytes k;
        for (unsigned b = 0; b < length[i]; ++b) {
            if (high[i] && below(8) == 0) {
                k.push_back(static_cast<unsigned char>(0x80 + below(128)));
            } else {
                k.push_back(static_cast<unsigned char>(0x20 + below(95)));
            }
        }
        ASSERT_EQ(key_string(i), k) << "entry " << i;
    }
}

// ---------------------------------------------------------------------------
// The model: the key schedule written out plainly.

void model_crpt(Bytes &buf, unsigned char keymask, Bytes key, std::uint32_t ptr) {
    const auto len = static_cast<std::uint32_t>(key.size());
    for (std::size_t i = 0; i < buf.size(); ++i) {
        if (i == 0 || i == 39) {
            buf[i] = static_cast<unsigned char>(buf[i] ^ keymask);
        } else {
            const auto product = static_cast<std::uint32_t>(key[0]) * ptr;
            buf[i] = static_cast<unsigned char>(buf[i] ^ key[ptr] ^ (product & 0xFF));
        }
        const unsigned next = ptr == len - 1 ? key[0] : key[ptr + 1];
        const unsigned sum = (key[ptr] + next) % 256;
        key[ptr] = static_cast<unsigned char>(sum == 0 ? 1 : sum);
        ptr = (ptr + 1) % len;
    }
}

Bytes model_crbrk(Bytes buf) {
    if (buf.empty()) {
        return buf;
    }
    const bool is_short = buf.size() < 40;
    const unsigned char keymask = is_short ? kShortMask : kLongMask;
    const Bytes key = key_string((buf[is_short ? 0 : 39] ^ keymask) % 64u);
    const auto ptr = static_cast<std::uint32_t>((buf[0] ^ kStartMask) % key.size());
    model_crpt(buf, keymask, key, ptr);
    return buf;
}

Bytes model_dcprc(Bytes buf) {
    if (buf.empty()) {
        return buf;
    }
    const bool is_short = buf.size() < 40;
    const unsigned char keymask = is_short ? kShortMask : kLongMask;
    const Bytes key = key_string(buf[is_short ? 0 : 39] % 64u);
    const auto ptr = static_cast<std::uint32_t>((buf[0] ^ keymask ^ kStartMask) % key.size());
    model_crpt(buf, keymask, key, ptr);
    return buf;
}

Bytes crbrk(Bytes b) {
    KW_crbrk(b.data(), static_cast<uint32_t>(b.size()));
    return b;
}

Bytes dcprc(Bytes b) {
    KW_dcprc(b.data(), static_cast<uint32_t>(b.size()));
    return b;
}

Bytes random_bytes(std::mt19937 &rng, std::size_t n) {
    Bytes b(n);
    for (auto &c : b) {
        c = static_cast<unsigned char>(rng());
    }
    return b;
}

std::vector<std::size_t> sizes() {
    std::vector<std::size_t> v;
    for (std::size_t n = 0; n <= 140; ++n) {
        v.push_back(n);
    }
    for (std::size_t n : {255u, 256u, 1000u, 4099u, 65535u, 65536u, 100000u}) {
        v.push_back(n);
    }
    return v;
}

TEST(Scramble, AgreesWithTheModel) {
    std::mt19937 rng(17);
    for (std::size_t n : sizes()) {
        for (int rep = 0; rep < 3; ++rep) {
            const Bytes plain = rep == 0 ? Bytes(n, 0) : random_bytes(rng, n);
            SCOPED_TRACE(testing::Message() << "size " << n << " rep " << rep);
            ASSERT_EQ(crbrk(plain), model_crbrk(plain));
            ASSERT_EQ(dcprc(plain), model_dcprc(plain));
        }
    }
}

// Every selector byte value, at the sizes where the selector moves.
TEST(Scramble, EverySelectorValueAtTheBoundary) {
    std::mt19937 rng(5);
    for (std::size_t n : {1u, 38u, 39u, 40u, 41u}) {
        const std::size_t selector = n < 40 ? 0 : 39;
        Bytes plain = random_bytes(rng, n);
        for (unsigned v = 0; v < 256; ++v) {
            plain[selector] = static_cast<unsigned char>(v);
            SCOPED_TRACE(testing::Message() << "size " << n << " selector value " << v);
            const Bytes scrambled = crbrk(plain);
            ASSERT_EQ(scrambled, model_crbrk(plain));
            ASSERT_EQ(dcprc(scrambled), plain);
        }
    }
}

// ---------------------------------------------------------------------------
// Bytes 0 and 39.

TEST(Scramble, OneByteIsOnlyXoredWithTheShortMask) {
    for (unsigned v = 0; v < 256; ++v) {
        const Bytes one{static_cast<unsigned char>(v)};
        const Bytes once = crbrk(one);
        ASSERT_EQ(once[0], v ^ kShortMask);
        ASSERT_EQ(crbrk(once), one) << "scrambling a single byte twice restores it";
        ASSERT_EQ(dcprc(one)[0], v ^ kShortMask);
        ASSERT_EQ(dcprc(dcprc(one)), one);
    }
}

TEST(Scramble, BytesZeroAndThirtyNine) {
    std::mt19937 rng(23);
    for (std::size_t n : {2u, 38u, 39u, 40u, 41u, 100u, 5000u}) {
        for (int rep = 0; rep < 20; ++rep) {
            const Bytes plain = rep == 0 ? Bytes(n, 0) : random_bytes(rng, n);
            const Bytes s = crbrk(plain);
            SCOPED_TRACE(testing::Message() << "size " << n << " rep " << rep);
            if (n < 40) {
                ASSERT_EQ(s[0], plain[0] ^ kShortMask);
            } else {
                ASSERT_EQ(s[0], plain[0] ^ kLongMask);
                ASSERT_EQ(s[39], plain[39] ^ kLongMask);
            }
        }
    }
    // Under 40 bytes, byte 39 does not exist and every byte but 0 takes the
    // keystream: an all-zero buffer comes out with keystream bytes, which are
    // never all equal to the mask.
    const Bytes zeros(39, 0);
    const Bytes s = crbrk(zeros);
    EXPECT_FALSE(std::all_of(s.begin() + 1, s.end(), [](unsigned char c) { return c == kShortMask; }));
}

// ---------------------------------------------------------------------------
// Round trips.

TEST(Scramble, RoundTrips) {
    std::mt19937 rng(99);
    for (std::size_t n : sizes()) {
        for (int rep = 0; rep < 4; ++rep) {
            const Bytes plain = rep == 0 ? Bytes(n, 0) : rep == 1 ? Bytes(n, 0xFF) : random_bytes(rng, n);
            SCOPED_TRACE(testing::Message() << "size " << n << " rep " << rep);
            ASSERT_EQ(dcprc(crbrk(plain)), plain);
            ASSERT_EQ(crbrk(dcprc(plain)), plain);
        }
    }
}

TEST(Scramble, ChangesLongerBuffersAndTwiceIsNotARestore) {
    std::mt19937 rng(7);
    int restored_by_second_crbrk = 0;
    for (int rep = 0; rep < 50; ++rep) {
        const Bytes plain = random_bytes(rng, 100);
        const Bytes once = crbrk(plain);
        EXPECT_NE(once, plain);
        restored_by_second_crbrk += crbrk(once) == plain ? 1 : 0;
    }
    EXPECT_LT(restored_by_second_crbrk, 50);
}

TEST(Scramble, EmptyBufferIsNeitherReadNorWritten) {
    KW_crbrk(nullptr, 0);
    KW_dcprc(nullptr, 0);
    unsigned char b[1] = {0x42};
    KW_crbrk(b, 0);
    KW_dcprc(b, 0);
    EXPECT_EQ(b[0], 0x42);
}

}  // namespace
