// Tokenizing: tokens and counts in 8-bit and 16-bit units, both byte orders,
// the translation table, refusals that write nothing, and 16-bit text that
// is never read past its line's zero.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "ini/ini_internal.h"
#include "ini_test_util.h"
#include "test_support.h"

namespace {

using kwtest::CallerText;
using kwtest::fresh_record;
using kwtest::TempDir;
using kwtest::text;
using kwtest::u;

using Bytes = std::vector<unsigned char>;

KW_INI_INTERNAL *priv(KW_INI_STRUC &ini) { return kw::ini::view(&ini); }

constexpr unsigned char kUnwritten = 0xCC;

// Widen 8-bit units to 16-bit ones in the given order.
Bytes widen(const Bytes &narrow, bool zero_first) {
    Bytes out;
    for (unsigned char b : narrow) {
        out.push_back(zero_first ? 0 : b);
        out.push_back(zero_first ? b : 0);
    }
    return out;
}

Bytes bytes(const std::string &s) { return Bytes(s.begin(), s.end()); }

struct Result {
    std::uint32_t status;
    Bytes out;  // the bytes written: everything before the first unwritten byte
    std::uint16_t tokens;
    std::uint16_t units;
    bool overran;  // a byte past the counted units was written
};

// Tokenize the current line into a buffer of sentinels and read back what
// was written.
Result tokenize(KW_INI_STRUC &ini, unsigned char flags) {
    Bytes buf(600, kUnwritten);
    Result r{0, {}, 0xBEEF, 0xBEEF, false};
    r.status = KW_ini_tokenize(&ini, buf.data(), flags, &r.tokens, &r.units);
    const std::size_t width = (flags & 1) != 0 ? 2 : 1;
    const std::size_t n = r.status == INI_OK ? r.units * width : 0;
    r.out.assign(buf.begin(), buf.begin() + static_cast<long>(n));
    for (std::size_t i = n; i < buf.size(); ++i) {
        r.overran = r.overran || buf[i] != kUnwritten;
    }
    return r;
}

struct Case {
    std::string line;  // the key line
    std::string narrow;  // the 8-bit output, zeros included
    std::uint16_t tokens;
};

const Case kCases[] = {
    {"k=a,b,,c\n", std::string("a\0b\0\0c\0", 7), 4},
    {"k=abc\n", std::string("abc\0", 4), 1},
    {"k=\n", std::string("\0", 1), 1},
    {"k=", std::string("\0", 1), 1},                          // last line, no line end
    {"k=a, b", std::string("a\0 b\0", 5), 2},                  // spaces stay
    {"k=\"a,b\"\n", std::string("\"a\0b\"\0", 6), 2},          // quotes protect nothing
    {"k=x=y,z\n", std::string("x=y\0z\0", 6), 2},              // only the first '=' counts
    {"k=a,\n", std::string("a\0\0", 3), 2},                    // a trailing comma: an empty last token
    {"k=,", std::string("\0\0", 2), 2},
    {"Key = v\n", std::string(" v\0", 3), 1},
    {"=lone\n", std::string("lone\0", 5), 1},
};

class IniTokenize : public ::testing::Test {
protected:
    void TearDown() override { KW_ini_close(&ini); }
    void open_line(const std::string &line, std::int32_t mode = KW_INI_READWRITE) {
        KW_ini_close(&ini);
        ini = fresh_record();
        t = CallerText({"[S]", line});
        ASSERT_EQ(t.open(ini, mode), INI_OK) << line;
        ASSERT_EQ(KW_ini_goto(&ini, 2), INI_OK);
    }
    KW_INI_STRUC ini = fresh_record();
    CallerText t{std::initializer_list<std::string>{}};
};

TEST_F(IniTokenize, EightBitUnits) {
    for (const Case &c : kCases) {
        open_line(c.line);
        const Result r = tokenize(ini, 0);
        ASSERT_EQ(r.status, INI_OK) << c.line;
        EXPECT_EQ(r.out, bytes(c.narrow)) << c.line;
        EXPECT_EQ(r.tokens, c.tokens) << c.line;
        EXPECT_EQ(r.units, c.narrow.size()) << c.line;
        EXPECT_FALSE(r.overran) << c.line;
    }
}

// Sixteen-bit units carry the character in one byte and zero in the other;
// the handle's byte order says which comes first. The counts stay in units.
TEST_F(IniTokenize, SixteenBitUnitsInBothOrders) {
    for (bool zero_first : {false, true}) {
        for (const Case &c : kCases) {
            open_line(c.line);
            priv(ini)->unicode_high_low = zero_first ? 1 : 0;
            const Result r = tokenize(ini, 1);
            ASSERT_EQ(r.status, INI_OK) << c.line;
            EXPECT_EQ(r.out, widen(bytes(c.narrow), zero_first)) << c.line << " zero first " << zero_first;
            EXPECT_EQ(r.tokens, c.tokens) << c.line;
            EXPECT_EQ(r.units, c.narrow.size()) << c.line;
            EXPECT_FALSE(r.overran) << c.line;
        }
    }
}

TEST_F(IniTokenize, OnlyBitZeroOfTheFlagsCounts) {
    open_line("k=a,b\n");
    const Result narrow = tokenize(ini, 0xFE);
    EXPECT_EQ(narrow.out, bytes(std::string("a\0b\0", 4)));
    const Result wide = tokenize(ini, 0xFF);
    EXPECT_EQ(wide.out, widen(bytes(std::string("a\0b\0", 4)), false));
}

TEST_F(IniTokenize, EveryCharacterButTheCommaGoesThroughTheTable) {
    open_line("k=Ab,c9\n");
    priv(ini)->pTb = KW_xlate_ASC_EBC;
    const Result r = tokenize(ini, 0);
    const Bytes expected = {KW_xlate_ASC_EBC['A'], KW_xlate_ASC_EBC['b'], 0, KW_xlate_ASC_EBC['c'],
                            KW_xlate_ASC_EBC['9'], 0};
    EXPECT_EQ(r.out, expected);
    EXPECT_EQ(r.tokens, 2);
}

TEST_F(IniTokenize, RefusalsWriteNothing) {
    struct Refusal {
        const char *name;
        std::uint16_t line;  // 0: the end position
        std::uint32_t status;
    } refusals[] = {
        {"section header", 1, INI_ERR_NOT_KEY},
        {"comment", 2, INI_ERR_NOT_KEY},
        {"empty line", 3, INI_ERR_NOT_KEY},
        {"end position", 0, INI_ERR_LINE},
    };
    KW_ini_close(&ini);
    ini = fresh_record();
    t = CallerText({"[S]", "; c", "\n", "k=v"});
    ASSERT_EQ(t.open(ini), INI_OK);
    for (const Refusal &f : refusals) {
        if (f.line == 0) {
            ASSERT_EQ(KW_ini_goto(&ini, 4), INI_OK);
            ASSERT_EQ(KW_ini_next(&ini), INI_OK);
        } else {
            ASSERT_EQ(KW_ini_goto(&ini, f.line), INI_OK);
        }
        const Result r = tokenize(ini, 1);
        EXPECT_EQ(r.status, f.status) << f.name;
        EXPECT_FALSE(r.overran) << f.name << ": the buffer was written";
        EXPECT_EQ(r.tokens, 0xBEEF) << f.name;
        EXPECT_EQ(r.units, 0xBEEF) << f.name;
    }
    ASSERT_EQ(KW_ini_close(&ini), INI_OK);
    EXPECT_EQ(tokenize(ini, 0).status, INI_ERR_HANDLE);
    EXPECT_FALSE(tokenize(ini, 0).overran);
    KW_INI_STRUC never = fresh_record();
    EXPECT_EQ(tokenize(never, 0).status, INI_ERR_HANDLE);
}

TEST_F(IniTokenize, WorksOnAReadOnlyFileAndMovesNothing) {
    TempDir dir;
    KW_ini_close(&ini);
    ini = fresh_record();
    ASSERT_EQ(KW_ini_open(&ini, dir.write("t.ini", "[Net]\nHosts=a,b\n").c_str(), KW_INI_READ, 0), INI_OK);
    unsigned char found = 0;
    ASSERT_EQ(KW_ini_find(&ini, u("net"), u("hosts"), &found), INI_OK);
    ASSERT_EQ(found, 1);
    KW_INI_STRUC before;
    std::memcpy(&before, &ini, sizeof ini);
    const Result r = tokenize(ini, 0);
    EXPECT_EQ(r.out, bytes(std::string("a\0b\0", 4)));
    EXPECT_EQ(std::memcmp(&before, &ini, sizeof ini), 0) << "the handle must not change";
}

TEST_F(IniTokenize, AKeyOf255BytesOrMoreStillFindsItsValue) {
    open_line(std::string(300, 'K') + "=x,y");
    const Result r = tokenize(ini, 0);
    EXPECT_EQ(r.out, bytes(std::string("x\0y\0", 4)));
}

// ---------------------------------------------------------------------------
// Sixteen-bit text
//
// Lines are cut at zero bytes, so a 16-bit line can hold only characters
// without a zero byte, and its '=' is the byte 0x3D inside some character.
// The value is read two bytes at a time from the byte after it; a character
// may take the line's zero as its second byte, never a byte past it.

// A caller's text of exactly these bytes, each line followed by its zero,
// in a block of exactly that size, so that a read past the last zero is a
// read past the block.
struct ExactText {
    std::unique_ptr<unsigned char[]> block;
    std::uint16_t size = 0;
    explicit ExactText(const std::vector<Bytes> &lines) {
        Bytes all;
        for (const Bytes &l : lines) {
            all.insert(all.end(), l.begin(), l.end());
            all.push_back(0);
        }
        size = static_cast<std::uint16_t>(all.size());
        block.reset(new unsigned char[size]);
        std::memcpy(block.get(), all.data(), size);
    }
    std::uint32_t open(KW_INI_STRUC &ini, std::uint8_t unicode) {
        ini.pBuf = block.get();
        ini.bufsize = ini.usesize = size;
        return KW_ini_open(&ini, nullptr, KW_INI_READ, unicode);
    }
};

// Cyrillic letters in UTF-16 (no zero bytes), low byte first: "ключ".
const Bytes kKeyLE = {0x3A, 0x04, 0x3B, 0x04, 0x4E, 0x04, 0x47, 0x04};
const Bytes kKeyBE = {0x04, 0x3A, 0x04, 0x3B, 0x04, 0x4E, 0x04, 0x47};

Bytes cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes &p : parts) {
        out.insert(out.end(), p.begin(), p.end());
    }
    return out;
}

TEST_F(IniTokenize, SixteenBitTextLowByteFirst) {
    // "ключ" U+3D20 "де" then a line end whose high byte is the line's zero.
    ExactText t16({cat({kKeyLE, {0x20, 0x3D}, {0x34, 0x04, 0x35, 0x04}, {0x0A}})});
    KW_ini_close(&ini);
    ini = fresh_record();
    ASSERT_EQ(t16.open(ini, KW_INI_UTF16_LE), INI_OK);
    ASSERT_EQ(ini.linetype, INI_LINE_KEY);
    EXPECT_EQ(ini.pValue, t16.block.get() + 10);
    // Each character gives its low byte, through the table.
    const Result narrow = tokenize(ini, 0);
    EXPECT_EQ(narrow.out, (Bytes{0x34, 0x35, 0}));
    EXPECT_EQ(narrow.tokens, 1);
    const Result wide = tokenize(ini, 1);
    EXPECT_EQ(wide.out, (Bytes{0x34, 0, 0x35, 0, 0, 0}));
    EXPECT_EQ(wide.units, 3);
}

TEST_F(IniTokenize, SixteenBitTextHighByteFirst) {
    // "ключ" U+203D "де", ending at the line's zero; 16-bit output then puts
    // the zero byte first as well.
    ExactText t16({cat({kKeyBE, {0x20, 0x3D}, {0x04, 0x34, 0x04, 0x35}})});
    KW_ini_close(&ini);
    ini = fresh_record();
    ASSERT_EQ(t16.open(ini, KW_INI_UTF16_BE), INI_OK);
    ASSERT_EQ(ini.linetype, INI_LINE_KEY);
    EXPECT_EQ(tokenize(ini, 0).out, (Bytes{0x34, 0x35, 0}));
    EXPECT_EQ(tokenize(ini, 1).out, (Bytes{0, 0x34, 0, 0x35, 0, 0}));
}

// A 16-bit comma (0x002C) can stand only last, its high byte being the
// line's zero; it splits like an 8-bit one.
TEST_F(IniTokenize, SixteenBitCommaAtTheLineEnd) {
    ExactText t16({cat({kKeyLE, {0x20, 0x3D}, {0x34, 0x04}, {0x2C}})});
    KW_ini_close(&ini);
    ini = fresh_record();
    ASSERT_EQ(t16.open(ini, KW_INI_UTF16_LE), INI_OK);
    const Result r = tokenize(ini, 0);
    EXPECT_EQ(r.out, (Bytes{0x34, 0, 0}));
    EXPECT_EQ(r.tokens, 2);
    EXPECT_EQ(r.units, 3);
}

// Values of odd and even byte length at the very end of the caller's block:
// the scan stops at the line's zero and reads nothing after it (a sanitizer
// build would catch a read past the block).
TEST_F(IniTokenize, SixteenBitScanNeverPassesTheLinesZero) {
    struct OddCase {
        Bytes value;
        std::uint8_t unicode;
        Bytes expected;
    } cases[] = {
        {{0x34, 0x04, 0x41}, KW_INI_UTF16_LE, {0x34, 0x41, 0}},  // 'A' takes the zero as its high byte
        {{0x34, 0x04}, KW_INI_UTF16_LE, {0x34, 0}},
        {{0x41}, KW_INI_UTF16_LE, {0x41, 0}},
        {{}, KW_INI_UTF16_LE, {0}},
        {{0x04, 0x34, 0x41}, KW_INI_UTF16_BE, {0x34, 0x00, 0}},  // 0x4100: low byte 0, as the table has it
        {{0x04, 0x34}, KW_INI_UTF16_BE, {0x34, 0}},
    };
    for (const OddCase &c : cases) {
        const Bytes &key = c.unicode == KW_INI_UTF16_LE ? kKeyLE : kKeyBE;
        ExactText t16({cat({key, {0x20, 0x3D}, c.value})});
        KW_ini_close(&ini);
        ini = fresh_record();
        ASSERT_EQ(t16.open(ini, c.unicode), INI_OK);
        const Result r = tokenize(ini, 0);
        EXPECT_EQ(r.out, c.expected) << "value of " << c.value.size() << " bytes, flag " << int{c.unicode};
        EXPECT_EQ(r.tokens, 1);
    }
}

}  // namespace
