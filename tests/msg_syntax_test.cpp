// The one reading of the specifier syntax: what the formatter takes from a
// specifier, and which canonical rule the catalog compiler holds it to. The
// lenient and the strict walk must agree on every field, and a specifier in
// canonical form must always be one that the formatter formats.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "kwutil.h"
#include "msg/specifier_syntax.h"

namespace {

using kw::msg::read_specifier;
using kw::msg::SpecFault;
using kw::msg::Specifier;

const unsigned char *bytes(const std::string &s) { return reinterpret_cast<const unsigned char *>(s.c_str()); }

struct Case {
    const char *text;  // from just after the '%'
    bool usable;       // the formatter formats it
    SpecFault fault;   // the first canonical rule broken
    std::size_t fault_at;
    std::size_t length;  // characters read (for a usable one, where the text goes on)
};

// The fields that say how an argument is formatted, in both readings. The
// conversion and the fill are compared by the caller: they stay in the
// text's encoding.
void expect_same_format(const Specifier &a, const Specifier &b) {
    EXPECT_EQ(a.position, b.position);
    EXPECT_EQ(a.width, b.width);
    EXPECT_EQ(a.precision, b.precision);
    EXPECT_EQ(a.left, b.left);
    EXPECT_EQ(a.long_size, b.long_size);
}

const Case kCases[] = {
    {"1!d! rest", true, SpecFault::none, 0, 4},
    {"9!-08.3lX!", true, SpecFault::none, 0, 10},
    {"2!s!", true, SpecFault::none, 0, 4},
    {"1!-0000000000000005d!", true, SpecFault::too_long, 0, 21},   // 21 characters through its '!'
    {"1!-000000000000005d!", true, SpecFault::none, 0, 20},        // exactly 20
    {"0!d!", false, SpecFault::position, 0, 1},
    {"x!d!", false, SpecFault::position, 0, 1},
    {" 1!d!", true, SpecFault::position, 0, 5},      // the formatter skips blanks before the position
    {"+3!d!", true, SpecFault::position, 0, 5},
    {"10!d!", false, SpecFault::position_mark, 1, 2},  // position 10: outside 1 to 9
    {"1x!d!", true, SpecFault::position_mark, 1, 5},   // passed over up to the '!'
    {"1", false, SpecFault::position_mark, 1, 1},
    {"1!.d!", true, SpecFault::precision_digits, 3, 5},
    {"1!d", true, SpecFault::closing_mark, 3, 3},    // the terminator is never passed over
    {"1!dx", true, SpecFault::closing_mark, 3, 4},   // any closing character is passed over
    {"1!f!", false, SpecFault::conversion, 2, 2},
    {"1!i!", false, SpecFault::conversion, 2, 2},
    {"1!5", false, SpecFault::cut_short, 3, 3},
    {"1!l", false, SpecFault::cut_short, 3, 3},
};

TEST(MsgSyntax, StrictAndLenientReadingsAgree) {
    for (const Case &c : kCases) {
        SCOPED_TRACE(c.text);
        const std::string text = c.text;
        Specifier lenient{};
        Specifier strict{};
        const bool usable = read_specifier(bytes(text), kw::msg::kAsciiLiterals, lenient);
        EXPECT_EQ(read_specifier<true>(bytes(text), kw::msg::kAsciiLiterals, strict), usable);
        EXPECT_EQ(usable, c.usable);
        EXPECT_EQ(strict.fault, c.fault);
        EXPECT_EQ(strict.fault_at, c.fault_at);
        EXPECT_EQ(lenient.length, c.length);
        EXPECT_EQ(strict.length, c.length);
        if (strict.fault == SpecFault::none) {
            EXPECT_TRUE(usable) << "a canonical specifier is always formatted";
        }
        if (usable) {
            expect_same_format(strict, lenient);
            EXPECT_EQ(strict.fill, lenient.fill);
            EXPECT_EQ(strict.conversion, lenient.conversion);
        }
    }
}

TEST(MsgSyntax, FieldsOfAFullSpecifier) {
    const std::string text = "9!-08.3lX!";
    Specifier s{};
    ASSERT_TRUE(read_specifier<true>(bytes(text), kw::msg::kAsciiLiterals, s));
    EXPECT_EQ(s.position, 9u);
    EXPECT_TRUE(s.left);
    EXPECT_EQ(s.fill, '0');
    EXPECT_EQ(s.width, 8u);
    EXPECT_EQ(s.precision, 3u);
    EXPECT_TRUE(s.long_size);
    EXPECT_EQ(s.conversion, 'X');
}

// The same specifiers written in EBCDIC read the same, field for field.
TEST(MsgSyntax, EbcdicReadsAsAscii) {
    for (const Case &c : kCases) {
        SCOPED_TRACE(c.text);
        std::string ascii = c.text;
        std::string ebcdic = ascii;
        KW_strxlt(reinterpret_cast<unsigned char *>(ebcdic.data()), KW_xlate_ASC_EBC);
        Specifier a{};
        Specifier e{};
        const bool ok = read_specifier<true>(bytes(ascii), kw::msg::kAsciiLiterals, a);
        EXPECT_EQ(read_specifier<true>(bytes(ebcdic), kw::msg::kEbcdicLiterals, e), ok);
        EXPECT_EQ(e.fault, a.fault);
        EXPECT_EQ(e.fault_at, a.fault_at);
        EXPECT_EQ(e.length, a.length);
        if (ok) {
            expect_same_format(e, a);
            EXPECT_EQ(KW_xlate_EBC_ASC[e.conversion], a.conversion);
        }
    }
}

}  // namespace
