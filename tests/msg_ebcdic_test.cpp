// EBCDIC catalogs: keys and texts stored in EBCDIC, the application ID given
// in the platform's encoding, output generated in EBCDIC, and the same text
// as the ASCII catalog once translated.
#include <gtest/gtest.h>

#include <string>

#include "msg_test_util.h"

namespace {

using kwtest::BuiltIn;
using kwtest::kDisk;
using kwtest::kEbcdic;
using kwtest::kNotFound;
using kwtest::to_ascii;
using kwtest::to_ebcdic;

std::string bytes(std::initializer_list<unsigned char> b) { return std::string(b.begin(), b.end()); }

class MsgEbcdic : public ::testing::Test {
protected:
    BuiltIn asc{{kNotFound, kDisk}};
    BuiltIn ebc{{kNotFound, kDisk}, kEbcdic};
    char a[128];
    char e[128];
    char app[3] = "ab";
    void SetUp() override {
        ASSERT_EQ(asc.status, 0u);
        ASSERT_EQ(ebc.status, 0u);
    }
};

TEST_F(MsgEbcdic, KeysAreStoredInTheCatalogsEncoding) {
    const unsigned char *txt = ebc.image() + 32 + 4;
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(txt), 7), bytes({0xC1, 0xC2, 0xF0, 0xF0, 0xF0, 0xF0, 0xF0}));
}

TEST_F(MsgEbcdic, WorkedExampleGivesTheAsciiTextOnceTranslated) {
    const std::string drive = to_ebcdic("C:");  // s values are copied as they are
    for (const unsigned char flags : {std::uint8_t{0}, std::uint8_t{KW_MSG_STRIP_KEY}}) {
        const std::int32_t na = KW_MsgSprintf(&asc.handle, flags, a, app, 42, "C:", 17);
        const std::int32_t ne = KW_MsgSprintf(&ebc.handle, flags, e, app, 42, drive.c_str(), 17);
        EXPECT_EQ(ne, na);
        EXPECT_EQ(to_ascii(e), a);
    }
    EXPECT_EQ(KW_MsgSprintf(&ebc.handle, 0, e, app, 42, drive.c_str(), 17), 38);
    EXPECT_EQ(std::string(e, 7), bytes({0xC1, 0xC2, 0xF0, 0xF0, 0xF0, 0xF4, 0xF2}));
}

TEST_F(MsgEbcdic, NotFoundEntryGetsEbcdicDigits) {
    EXPECT_EQ(KW_MsgSprintf(&ebc.handle, KW_MSG_STRIP_KEY, e, app, 123), 24);
    EXPECT_EQ(std::string(e).substr(8, 5), bytes({0xF0, 0xF0, 0xF1, 0xF2, 0xF3}));
    EXPECT_EQ(to_ascii(e), "Message 00123 not found.");
}

TEST_F(MsgEbcdic, GeneratedCharactersUseTheEbcdicCodes) {
    BuiltIn cat({kNotFound, "AB00001 -- %1!05d!|%1!-4d!|%1!x!|%%|%1!c!"}, kEbcdic);
    EXPECT_EQ(KW_MsgSprintf(&cat.handle, KW_MSG_STRIP_KEY, e, app, 1, -42), 5 + 1 + 4 + 1 + 8 + 1 + 1 + 1 + 1);
    const std::string out = e;
    EXPECT_EQ(out.substr(0, 5), bytes({0xF0, 0xF0, 0x60, 0xF4, 0xF2}));
    EXPECT_EQ(out.substr(6, 4), bytes({0x60, 0xF4, 0xF2, 0x40}));
    EXPECT_EQ(out.substr(11, 8), bytes({0xC6, 0xC6, 0xC6, 0xC6, 0xC6, 0xC6, 0xC4, 0xF6}));  // FFFFFFD6
    EXPECT_EQ(out.substr(20, 1), bytes({0x6C}));
    EXPECT_EQ(out.substr(22, 1), bytes({0xD6})) << "the low byte of -42 is copied as it is";
}

TEST_F(MsgEbcdic, AsciiPunctuationInAnEbcdicTextIsAnOrdinaryCharacter) {
    // 0x25 is the ASCII percent sign; in EBCDIC text it is just a byte.
    std::string image = kwtest::catalog_bytes({kNotFound, "AB00001 -- ?1!d! and %1!d!"}, kEbcdic, true);
    const std::size_t at = image.find(static_cast<char>(KW_xlate_ASC_EBC[static_cast<unsigned char>('?')]));
    ASSERT_NE(at, std::string::npos);
    image[at] = '\x25';
    BuiltIn cat(image, 1);
    ASSERT_EQ(cat.status, 0u);
    EXPECT_EQ(KW_MsgSprintf(&cat.handle, KW_MSG_STRIP_KEY, e, app, 1, 42), 12);
    EXPECT_EQ(std::string(e), "\x25" + to_ebcdic("1!d! and 42"));
}

TEST_F(MsgEbcdic, PackedListFormsCheckTheApplicationInTheCatalogsEncoding) {
    const std::string list = std::string("HDR\x02", 4) + to_ebcdic("C:") + std::string("\x04\x11\0\0\0", 5);
    const auto *l = reinterpret_cast<const unsigned char *>(list.data());
    EXPECT_EQ(KW_MsgRSprintf(&ebc.handle, 0, e, app, 42, l), 38);
    EXPECT_EQ(to_ascii(e), "AB00042E - Disk C: has 17 blocks free.");
    EXPECT_EQ(KW_MsgRSprintf(&ebc.handle, KW_MSG_STRIP_KEY, e, nullptr, 42, l), 27);
    EXPECT_EQ(to_ascii(e), "Disk C: has 17 blocks free.");
    char xy[] = "xy";
    EXPECT_EQ(KW_MsgRSprintf(&ebc.handle, 0, e, xy, 42, l), 0);
    EXPECT_STREQ(e, "\r\nInvalid message table for application XY who generate error 42 ");
}

}  // namespace
