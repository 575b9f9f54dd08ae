// KW_FastTextFind: counts with overlaps, the sentinel slots, byte values above
// 127 (the sentinel values included), and every kernel against a naive count.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "kwutil.h"
#include "misc/textfind.h"
#include "platform/cpu.h"

namespace {

using Bytes = std::vector<unsigned char>;

// A counted buffer with the reserved slot at index 0, exactly sized.
Bytes with_slot(const std::string &s) {
    Bytes b(s.size() + 1, 0x11);
    std::memcpy(b.data() + 1, s.data(), s.size());
    return b;
}

int32_t find(const std::string &text, const std::string &pattern) {
    Bytes t = with_slot(text);
    Bytes p = with_slot(pattern);
    return KW_FastTextFind(static_cast<int32_t>(text.size()), t.data(), static_cast<int32_t>(pattern.size()),
                           p.data());
}

int32_t naive(const unsigned char *t, std::size_t n, const unsigned char *p, std::size_t m) {
    int32_t count = 0;
    for (std::size_t s = 0; s + m <= n; ++s) {
        if (std::memcmp(t + s, p, m) == 0) {
            ++count;
        }
    }
    return count;
}

struct Case {
    const char *what;
    std::string text;
    std::string pattern;
    int32_t count;
};

TEST(FastTextFind, WorkedExamples) {
    const Case cases[] = {
        {"two letters in four, overlapping", "aaaa", "aa", 3},
        {"abab in abababab, overlapping", "abababab", "abab", 3},
        {"case-sensitive", "Hello hello", "hello", 1},
        {"pattern longer than the text", "abc", "abcd", 0},
        {"pattern equal to the text", "abcd", "abcd", 1},
        {"one character counts every occurrence", "banana", "a", 3},
        {"no occurrence", "banana", "x", 0},
        {"at both ends", "xabcx", "x", 2},
        {"last character repeated in the pattern", "aabaabaab", "aab", 3},
        {"empty text", "", "a", 0},
        {"bytes above 127", "\xC3\xA9t\xC3\xA9", "\xC3\xA9", 2},
        {"text bytes equal to the pattern sentinel", "\xFE\xFE\xFE", "\xFE", 3},
        {"text bytes equal to the text sentinel", "\xFF\xFF\xFF\xFF", "\xFF\xFF", 3},
        {"sentinel values mixed", "\xFE\xFF\xFE\xFF\xFE", "\xFE\xFF\xFE", 2},
        {"text starting with 0xFE before a near match", "\xFE" "abc", "\xFE" "abd", 0},
        {"pattern ending in 0xFE", "a\xFE" "a\xFE", "a\xFE", 2},
        {"zero bytes", std::string("\0a\0a\0", 5), std::string("\0a\0", 3), 2},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(find(c.text, c.pattern), c.count) << c.what;
    }
}

TEST(FastTextFind, SentinelsAreStoredAfterEveryCall) {
    struct Lengths {
        int32_t txtlen;
        int32_t patlen;
        int32_t count;
    };
    const Lengths cases[] = {
        {4, 2, 3},   // an ordinary search
        {1, 2, 0},   // pattern longer than the text
        {-5, 1, 0},  // negative text length
        {4, 0, 0},   // empty pattern: outside the contract, 0, sentinels stored
        {4, -1, 0},  // negative pattern length: the same
        {0, 1, 0},   // empty text
    };
    for (const Lengths &c : cases) {
        Bytes t = with_slot("aaaa");
        Bytes p = with_slot("aa");
        EXPECT_EQ(KW_FastTextFind(c.txtlen, t.data(), c.patlen, p.data()), c.count)
            << c.txtlen << " " << c.patlen;
        EXPECT_EQ(t[0], 0xFF);
        EXPECT_EQ(p[0], 0xFE);
        EXPECT_EQ(std::string(t.begin() + 1, t.end()), "aaaa") << "the text is not changed";
        EXPECT_EQ(std::string(p.begin() + 1, p.end()), "aa") << "the pattern is not changed";
    }
}

// The bytes in the sentinel slots before the call play no part.
TEST(FastTextFind, OldSlotContentsDoNotMatter) {
    for (unsigned v = 0; v < 256; ++v) {
        Bytes t = with_slot("bab");
        Bytes p = with_slot("ab");
        t[0] = static_cast<unsigned char>(v);
        p[0] = static_cast<unsigned char>(v);
        ASSERT_EQ(KW_FastTextFind(3, t.data(), 2, p.data()), 1) << v;
    }
}

// ---------------------------------------------------------------------------
// Every kernel against the naive count.

using Kernel = int32_t (*)(const unsigned char *, int32_t, const unsigned char *, int32_t);

struct NamedKernel {
    const char *name;
    Kernel fn;
};

std::vector<NamedKernel> kernels() {
    std::vector<NamedKernel> v;
    v.push_back({"KW_FastTextFind", nullptr});
    v.push_back({"scalar Horspool", &kw::misc::count_horspool});
#if KW_X86_INTRINSICS
    const unsigned cpu = kw::plat::cpu_features();
    if ((cpu & kw::plat::kCpuSse2) != 0) {
        v.push_back({"SSE2", &kw::misc::count_sse2});
    }
    if ((cpu & kw::plat::kCpuAvx2) != 0) {
        v.push_back({"AVX2", &kw::misc::count_avx2});
    }
#endif
    return v;
}

// Count through one kernel, with text and pattern in exactly sized blocks.
int32_t count_with(const NamedKernel &k, const Bytes &text, const Bytes &pattern) {
    Bytes t(text.size() + 1);
    Bytes p(pattern.size() + 1);
    std::copy(text.begin(), text.end(), t.begin() + 1);
    std::copy(pattern.begin(), pattern.end(), p.begin() + 1);
    const auto n = static_cast<int32_t>(text.size());
    const auto m = static_cast<int32_t>(pattern.size());
    if (k.fn == nullptr) {
        return KW_FastTextFind(n, t.data(), m, p.data());
    }
    return k.fn(t.data() + 1, n, p.data() + 1, m);
}

struct Alphabet {
    const char *name;
    Bytes symbols;
};

const Alphabet kAlphabets[] = {
    {"a b", {'a', 'b'}},
    {"a b c", {'a', 'b', 'c'}},
    {"the sentinel values", {0xFE, 0xFF}},
    {"zero, 0x7F, 0x80, 0xFE", {0x00, 0x7F, 0x80, 0xFE}},
    {"eight letters", {'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h'}},
};

Bytes draw(std::mt19937 &rng, const Bytes &symbols, std::size_t n) {
    std::uniform_int_distribution<std::size_t> d(0, symbols.size() - 1);
    Bytes b(n);
    for (auto &c : b) {
        c = symbols[d(rng)];
    }
    return b;
}

TEST(FastTextFindKernels, AgreeWithANaiveCountOnRandomInputs) {
    std::mt19937 rng(4711);
    std::uniform_int_distribution<std::size_t> short_len(0, 300);
    std::uniform_int_distribution<std::size_t> pat_len(1, 40);
    for (const NamedKernel &k : kernels()) {
        for (const Alphabet &a : kAlphabets) {
            for (int i = 0; i < 400; ++i) {
                const std::size_t n = i % 10 == 0 ? 3000 + short_len(rng) : short_len(rng);
                const std::size_t m = i % 3 == 0 ? 1 + (pat_len(rng) % 4) : pat_len(rng);
                const Bytes text = draw(rng, a.symbols, n);
                // Half the patterns are cut from the text, so that they occur.
                Bytes pattern = draw(rng, a.symbols, m);
                if (i % 2 == 0 && n >= m) {
                    const std::size_t at = std::uniform_int_distribution<std::size_t>(0, n - m)(rng);
                    pattern.assign(text.begin() + static_cast<long>(at), text.begin() + static_cast<long>(at + m));
                }
                ASSERT_EQ(count_with(k, text, pattern), naive(text.data(), n, pattern.data(), m))
                    << k.name << ", alphabet " << a.name << ", text " << n << ", pattern " << m;
            }
        }
    }
}

// Occurrences at the very start and end of texts whose lengths fall on and
// around the vector widths, for patterns of every length up to 70.
TEST(FastTextFindKernels, OccurrencesAtTheEdgesOfEveryLength) {
    for (const NamedKernel &k : kernels()) {
        for (std::size_t m = 1; m <= 70; ++m) {
            Bytes pattern(m);
            for (std::size_t i = 0; i < m; ++i) {
                pattern[i] = static_cast<unsigned char>(0xF0 + i % 16);
            }
            for (std::size_t n = m; n <= m + 130; ++n) {
                Bytes text(n, 0x20);
                std::copy(pattern.begin(), pattern.end(), text.begin());
                std::copy(pattern.begin(), pattern.end(), text.end() - static_cast<long>(m));
                ASSERT_EQ(count_with(k, text, pattern), naive(text.data(), n, pattern.data(), m))
                    << k.name << ", text " << n << ", pattern " << m;
            }
        }
    }
}

TEST(FastTextFindKernels, LongRunsOfOneByte) {
    const Bytes text(5000, 0xFF);
    for (const NamedKernel &k : kernels()) {
        for (std::size_t m : {1u, 2u, 3u, 16u, 31u, 32u, 33u, 64u, 65u, 200u}) {
            EXPECT_EQ(count_with(k, text, Bytes(m, 0xFF)), static_cast<int32_t>(5000 - m + 1)) << k.name << " " << m;
            Bytes almost(m, 0xFF);
            almost.back() = 0xFE;
            EXPECT_EQ(count_with(k, text, almost), 0) << k.name << " " << m;
        }
    }
}

}  // namespace
