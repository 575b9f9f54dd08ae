// KW_strxlt and KW_memxlt through the public interface: the documented
// examples, the end test of KW_strxlt, exact lengths of KW_memxlt, every
// byte value through every table, and buffers that overlap their table.
#include <gtest/gtest.h>

#include <cstdint>
#include <numeric>
#include <random>
#include <vector>

#include "kwutil.h"

namespace {

using Bytes = std::vector<unsigned char>;

constexpr unsigned char kCanary = 0xA5;

struct NamedTable {
    const char *name;
    const unsigned char *table;
};
const NamedTable kTables[] = {
    {"ASC_EBC", KW_xlate_ASC_EBC},
    {"EBC_ASC", KW_xlate_EBC_ASC},
    {"dummy", KW_xlate_dummy},
};

// A table unlike the exported ones, from a fixed seed.
std::vector<unsigned char> random_table(std::uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<unsigned char> t(256);
    for (auto &b : t) {
        b = static_cast<unsigned char>(rng());
    }
    return t;
}

Bytes random_bytes(std::size_t n, std::uint32_t seed) {
    std::mt19937 rng(seed);
    Bytes v(n);
    for (auto &b : v) {
        b = static_cast<unsigned char>(rng());
    }
    return v;
}

// The meaning of a translation, written out independently of the library.
Bytes translated(Bytes v, const unsigned char *table) {
    for (auto &b : v) {
        b = table[b];
    }
    return v;
}

}  // namespace

// ---------------------------------------------------------------- KW_strxlt

TEST(XlatStrxlt, EmptyStringIsLeftAlone) {
    Bytes buf = {0x00, 0x41, 0x42, 0x00};
    const Bytes before = buf;
    KW_strxlt(buf.data(), KW_xlate_ASC_EBC);
    EXPECT_EQ(buf, before);
}

TEST(XlatStrxlt, A1BracketToEbcdicAndBack) {
    Bytes buf = {0x41, 0x31, 0x5B, 0x00, kCanary};
    KW_strxlt(buf.data(), KW_xlate_ASC_EBC);
    EXPECT_EQ(buf, (Bytes{0xC1, 0xF1, 0xAD, 0x00, kCanary}));
    KW_strxlt(buf.data(), KW_xlate_EBC_ASC);
    EXPECT_EQ(buf, (Bytes{0x41, 0x31, 0x5B, 0x00, kCanary}));
}

TEST(XlatStrxlt, TerminatorIsNeitherTranslatedNorPassed) {
    // Entry 0 of this table is not 0: the terminator must still stay 0, and
    // nothing after it may change.
    Bytes table(256);
    std::iota(table.begin(), table.end(), 0);
    table[0] = 'X';
    Bytes buf = {'a', 'b', 0x00, 'c', 0x00};
    KW_strxlt(buf.data(), table.data());
    EXPECT_EQ(buf, (Bytes{'a', 'b', 0x00, 'c', 0x00}));
}

TEST(XlatStrxlt, ByteMappedToZeroDoesNotEndThisPass) {
    // The end test reads each byte before it is translated, so a table that
    // maps 'b' to 0 shortens the string only for later readers.
    Bytes table(256);
    for (unsigned i = 0; i < 256; ++i) {
        table[i] = static_cast<unsigned char>(i == 'b' ? 0 : i + 1);
    }
    Bytes buf = {'a', 'b', 'c', 'b', 'd', 0x00, 'e', 0x00};
    KW_strxlt(buf.data(), table.data());
    EXPECT_EQ(buf, (Bytes{'b', 0x00, 'd', 0x00, 'e', 0x00, 'e', 0x00}));
}

TEST(XlatStrxlt, EveryNonZeroByteThroughEveryTable) {
    const Bytes rnd = random_table(7);
    std::vector<NamedTable> tables(std::begin(kTables), std::end(kTables));
    tables.push_back({"random", rnd.data()});
    for (const NamedTable &t : tables) {
        SCOPED_TRACE(t.name);
        Bytes buf(257);
        std::iota(buf.begin(), buf.end() - 2, 1);  // 1 .. 255
        buf[255] = 0x00;
        buf[256] = 0x01;  // after the terminator: must stay
        KW_strxlt(buf.data(), t.table);
        for (unsigned b = 1; b < 256; ++b) {
            EXPECT_EQ(buf[b - 1], t.table[b]) << "byte 0x" << std::hex << b;
        }
        EXPECT_EQ(buf[255], 0x00);
        EXPECT_EQ(buf[256], 0x01);
    }
}

// ---------------------------------------------------------------- KW_memxlt

TEST(XlatMemxlt, ZeroAndAToEbcdic) {
    Bytes buf = {0x00, 0x41, kCanary};
    KW_memxlt(buf.data(), KW_xlate_ASC_EBC, 2);
    EXPECT_EQ(buf, (Bytes{0x00, 0xC1, kCanary}));
}

TEST(XlatMemxlt, LengthZeroTouchesNothing) {
    Bytes buf = {0x41, 0x00, 0x5B};
    KW_memxlt(buf.data(), KW_xlate_ASC_EBC, 0);
    EXPECT_EQ(buf, (Bytes{0x41, 0x00, 0x5B}));
}

TEST(XlatMemxlt, ZeroBytesBecomeEntryZero) {
    Bytes table(256, 0x11);
    table[0] = 0x99;
    for (std::uint32_t len : {1u, 10u, 63u, 64u, 65u, 200u}) {
        Bytes buf(len + 1, 0x00);
        buf[len] = kCanary;
        KW_memxlt(buf.data(), table.data(), len);
        Bytes want(len, 0x99);
        want.push_back(kCanary);
        EXPECT_EQ(buf, want) << "len " << len;
    }
}

TEST(XlatMemxlt, TranslatesExactlyLenBytes) {
    // Canaries before and after, at lengths on both sides of every block
    // size the implementation may use.
    const Bytes data = random_bytes(600, 11);
    for (std::uint32_t len = 0; len <= 520; ++len) {
        Bytes buf(len + 64, kCanary);
        std::copy(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(len), buf.begin() + 32);
        KW_memxlt(buf.data() + 32, KW_xlate_ASC_EBC, len);
        Bytes want(len + 64, kCanary);
        const Bytes t = translated(Bytes(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(len)), KW_xlate_ASC_EBC);
        std::copy(t.begin(), t.end(), want.begin() + 32);
        ASSERT_EQ(buf, want) << "len " << len;
    }
}

TEST(XlatMemxlt, EveryByteThroughEveryTable) {
    const Bytes rnd = random_table(3);
    std::vector<NamedTable> tables(std::begin(kTables), std::end(kTables));
    tables.push_back({"random", rnd.data()});
    for (const NamedTable &t : tables) {
        SCOPED_TRACE(t.name);
        // Four rounds of all 256 values, so long buffers see every one too.
        Bytes buf(1024);
        for (std::size_t i = 0; i < buf.size(); ++i) {
            buf[i] = static_cast<unsigned char>(i * 97 + i / 256);
        }
        const Bytes want = translated(buf, t.table);
        KW_memxlt(buf.data(), t.table, static_cast<std::uint32_t>(buf.size()));
        EXPECT_EQ(buf, want);
    }
}

TEST(XlatMemxlt, DummyLeavesAnyBufferUnchanged) {
    for (std::size_t n : {std::size_t{1}, std::size_t{256}, std::size_t{4099}, std::size_t{1} << 20}) {
        Bytes buf = random_bytes(n, static_cast<std::uint32_t>(n));
        const Bytes before = buf;
        KW_memxlt(buf.data(), KW_xlate_dummy, static_cast<std::uint32_t>(n));
        EXPECT_EQ(buf, before) << "n " << n;
    }
}

TEST(XlatMemxlt, LargeAsciiTextRoundTrips) {
    Bytes text = random_bytes((std::size_t{1} << 20) + 13, 5);
    for (auto &b : text) {
        b &= 0x7F;
    }
    Bytes buf = text;
    const auto n = static_cast<std::uint32_t>(buf.size());
    KW_memxlt(buf.data(), KW_xlate_ASC_EBC, n);
    EXPECT_EQ(buf, translated(text, KW_xlate_ASC_EBC));
    KW_memxlt(buf.data(), KW_xlate_EBC_ASC, n);
    EXPECT_EQ(buf, text);
}

// -------------------------------------------------------- both functions

TEST(XlatBoth, DocumentedSingleBytes) {
    const struct {
        unsigned char in;
        const unsigned char *table;
        unsigned char out;
    } cases[] = {
        {0x0A, KW_xlate_ASC_EBC, 0x15},  // line feed to EBCDIC
        {0x15, KW_xlate_EBC_ASC, 0x0A},  // and back
        {0x25, KW_xlate_EBC_ASC, 0x25},  // EBCDIC 0x25 stays 0x25
        {0xE9, KW_xlate_ASC_EBC, 0xE9},  // high ASCII passes through
        {0xE9, KW_xlate_EBC_ASC, 'Z'},   // and returns as 'Z'
    };
    for (const auto &c : cases) {
        Bytes s = {c.in, 0x00};
        KW_strxlt(s.data(), c.table);
        EXPECT_EQ(s, (Bytes{c.out, 0x00})) << "strxlt 0x" << std::hex << int(c.in);
        Bytes m = {c.in, kCanary};
        KW_memxlt(m.data(), c.table, 1);
        EXPECT_EQ(m, (Bytes{c.out, kCanary})) << "memxlt 0x" << std::hex << int(c.in);
    }
}

TEST(XlatBoth, LineFeedRoundTripsAndHighByteComesBackAsZ) {
    Bytes buf = {'a', 0x0A, 0xE9, 'b', 0x00};
    KW_strxlt(buf.data(), KW_xlate_ASC_EBC);
    EXPECT_EQ(buf, (Bytes{0x81, 0x15, 0xE9, 0x82, 0x00}));
    KW_memxlt(buf.data(), KW_xlate_EBC_ASC, 4);
    EXPECT_EQ(buf, (Bytes{'a', 0x0A, 'Z', 'b', 0x00}));
}

// ------------------------------------------- a buffer overlapping its table

namespace {

// Byte by byte, each byte read after the previous one was written: the
// order that makes a translation of a table through itself meaningful.
void sequential(unsigned char *s, const unsigned char *t, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
        s[i] = t[s[i]];
    }
}

}  // namespace

TEST(XlatMemxlt, TableTranslatedThroughItselfIsSequential) {
    // The writes change table entries that later bytes look up.
    Bytes t = random_table(21);
    Bytes want = t;
    sequential(want.data(), want.data(), want.size());
    KW_memxlt(t.data(), t.data(), 256);
    EXPECT_EQ(t, want);
}

TEST(XlatMemxlt, BufferPartlyOverlappingTableIsSequential) {
    const Bytes base = random_bytes(2048, 23);
    const std::size_t table_at = 600;
    // The table is bytes 600-855: starts that reach into it by one byte,
    // miss it by one byte, cover it, or begin inside it.
    for (std::size_t start : {0u, 400u, 536u, 537u, 700u, 855u, 856u}) {
        for (std::uint32_t len : {64u, 300u, 1000u}) {
            Bytes got = base;
            Bytes want = base;
            sequential(want.data() + start, want.data() + table_at, len);
            KW_memxlt(got.data() + start, got.data() + table_at, len);
            EXPECT_EQ(got, want) << "start " << start << " len " << len;
        }
    }
}
