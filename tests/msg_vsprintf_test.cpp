// Formatting from a variable argument list: the worked examples, the lookup
// with its not-found entry, flags bit 0, the application ID, the signature,
// and catalogs at the edges (no messages, short texts, many messages).
#include <gtest/gtest.h>

#include <cstdarg>
#include <string>

#include "msg_test_util.h"

namespace {

using kwtest::BuiltIn;
using kwtest::kDisk;
using kwtest::kNotFound;

// num is unsigned, not uint16_t, so that va_start gets a promoted type.
std::int32_t via_va_list(PKW_MSG_CATALOG cat, unsigned char flags, char *buf, char *app, unsigned num, ...) {
    va_list ap;
    va_start(ap, num);
    const std::int32_t r = KW_MsgVSprintf(cat, flags, buf, app, static_cast<std::uint16_t>(num), ap);
    va_end(ap);
    return r;
}

class MsgVSprintf : public ::testing::Test {
protected:
    BuiltIn cat{{kNotFound, kDisk, "AB00007E - %2!s!:%1!d!", "AB00009I - Plain text.", "AB00011I - 100%% complete",
                 "AB00012I - %1!ld! %2!s!"}};
    char buf[256];
    char app[3] = "ab";
    void SetUp() override {
        ASSERT_EQ(cat.status, 0u);
        std::memset(buf, '#', sizeof buf);
    }
};

TEST_F(MsgVSprintf, WorkedExampleWithAndWithoutTheKey) {
    EXPECT_EQ(KW_MsgSprintf(&cat.handle, 0, buf, app, 42, "C:", 17), 38);
    EXPECT_STREQ(buf, "AB00042E - Disk C: has 17 blocks free.");
    EXPECT_STREQ(app, "AB") << "appID is upper-cased in place";
    EXPECT_EQ(KW_MsgSprintf(&cat.handle, KW_MSG_STRIP_KEY, buf, app, 42, "C:", 17), 27);
    EXPECT_STREQ(buf, "Disk C: has 17 blocks free.");
}

TEST_F(MsgVSprintf, VariableListFormIsTheSame) {
    EXPECT_EQ(via_va_list(&cat.handle, 0, buf, app, 42, "C:", 17), 38);
    EXPECT_STREQ(buf, "AB00042E - Disk C: has 17 blocks free.");
}

TEST_F(MsgVSprintf, OnlyBitZeroOfTheFlagsCounts) {
    EXPECT_EQ(KW_MsgSprintf(&cat.handle, 0xFE, buf, app, 42, "C:", 17), 38);
    EXPECT_EQ(KW_MsgSprintf(&cat.handle, 0xFF, buf, app, 42, "C:", 17), 27);
}

TEST_F(MsgVSprintf, MissingNumberGivesTheNotFoundEntryWithTheNumber) {
    EXPECT_EQ(KW_MsgSprintf(&cat.handle, 0, buf, app, 123, "ignored", 5), 35);
    EXPECT_STREQ(buf, "AB00000E - Message 00123 not found.");
    EXPECT_EQ(KW_MsgSprintf(&cat.handle, 0, buf, app, 65535), 35);
    EXPECT_STREQ(buf, "AB00000E - Message 65535 not found.");
}

TEST_F(MsgVSprintf, AskingForTheNotFoundEntryItselfGivesItItsOwnNumber) {
    EXPECT_EQ(KW_MsgSprintf(&cat.handle, 0, buf, app, 0), 35);
    EXPECT_STREQ(buf, "AB00000E - Message 00000 not found.");
    BuiltIn other({"AB00005E - No message %1!d!.", kDisk});
    EXPECT_EQ(KW_MsgSprintf(&other.handle, KW_MSG_STRIP_KEY, buf, app, 5), 13);
    EXPECT_STREQ(buf, "No message 5.");
}

TEST_F(MsgVSprintf, ArgumentsComeInPositionOrderWhateverTheTextOrder) {
    EXPECT_EQ(KW_MsgSprintf(&cat.handle, KW_MSG_STRIP_KEY, buf, app, 7, 5, "disk"), 6);
    EXPECT_STREQ(buf, "disk:5");
}

TEST_F(MsgVSprintf, RepeatedPositionsTakeArgumentsInTheScansSortedOrder) {
    // The scan sorts 1d, 1d, 2s: the arguments come as a number, a number, a
    // text; position 2 then holds the second number, which an s never reads.
    BuiltIn repeated({kNotFound, "AB00001 -- %1!d! [%2!s!] %1!d!"});
    EXPECT_EQ(KW_MsgSprintf(&repeated.handle, KW_MSG_STRIP_KEY, buf, app, 1, 5, 6, "x"), 6);
    EXPECT_STREQ(buf, "5 [] 5");
}

TEST_F(MsgVSprintf, TextsWithoutSpecifiersIgnoreTheArguments) {
    EXPECT_EQ(KW_MsgSprintf(&cat.handle, KW_MSG_STRIP_KEY, buf, app, 9, 1, 2, 3), 11);
    EXPECT_STREQ(buf, "Plain text.");
    EXPECT_EQ(KW_MsgSprintf(&cat.handle, KW_MSG_STRIP_KEY, buf, app, 11), 13);
    EXPECT_STREQ(buf, "100% complete");
}

TEST_F(MsgVSprintf, LengthLetterTakesA32BitValueThenAPointer) {
    EXPECT_EQ(KW_MsgSprintf(&cat.handle, KW_MSG_STRIP_KEY, buf, app, 12, static_cast<std::int32_t>(-3), "x"), 4);
    EXPECT_STREQ(buf, "-3 x");
}

TEST_F(MsgVSprintf, OtherApplicationIdFindsOnlyTheNotFoundEntry) {
    char xy[] = "xy";
    EXPECT_EQ(KW_MsgSprintf(&cat.handle, 0, buf, xy, 42, "C:", 17), 35);
    EXPECT_STREQ(buf, "AB00000E - Message 00042 not found.");
    EXPECT_STREQ(xy, "XY");
}

TEST_F(MsgVSprintf, ShortOrMissingApplicationIds) {
    char one[] = "a";
    char none[] = "";
    EXPECT_EQ(KW_MsgSprintf(&cat.handle, 0, buf, one, 42, "C:", 17), 35);
    EXPECT_STREQ(buf, "AB00000E - Message 00042 not found.");
    EXPECT_EQ(KW_MsgSprintf(&cat.handle, 0, buf, none, 42, "C:", 17), 35);
    // No application ID at all: the catalog's own.
    EXPECT_EQ(KW_MsgSprintf(&cat.handle, 0, buf, nullptr, 42, "C:", 17), 38);
    EXPECT_STREQ(buf, "AB00042E - Disk C: has 17 blocks free.");
}

TEST_F(MsgVSprintf, HandleWithoutSignatureGivesZeroAndLeavesTheBufferAlone) {
    KW_MSG_CATALOG broken = cat.handle;
    broken._[2] = 0x98;
    std::strcpy(buf, "as before");
    EXPECT_EQ(KW_MsgSprintf(&broken, 0, buf, app, 42, "C:", 17), 0);
    EXPECT_STREQ(buf, "as before");
    EXPECT_STREQ(app, "AB") << "upper-cased even so";
    EXPECT_EQ(KW_MsgSprintf(nullptr, 0, buf, app, 42, "C:", 17), 0);
}

TEST_F(MsgVSprintf, StrippingMoreThanTheTextLeavesTheEmptyText) {
    BuiltIn shortish({"AB00000 %1!d!", "AB00001", "AB00002 456", "AB00003 456789"});
    const struct {
        std::uint16_t num;
        const char *want;
    } cases[] = {{0, ""}, {1, ""}, {2, ""}, {3, "789"}};
    for (const auto &c : cases) {
        std::memset(buf, '#', sizeof buf);
        EXPECT_EQ(KW_MsgSprintf(&shortish.handle, KW_MSG_STRIP_KEY, buf, app, c.num),
                  static_cast<std::int32_t>(std::strlen(c.want)));
        EXPECT_STREQ(buf, c.want) << c.num;
    }
}

TEST_F(MsgVSprintf, CatalogWithoutMessagesGivesTheEmptyText) {
    BuiltIn empty(std::vector<std::string>{});
    ASSERT_EQ(empty.status, 0u);
    EXPECT_EQ(KW_MsgSprintf(&empty.handle, 0, buf, app, 42, "C:", 17), 0);
    EXPECT_STREQ(buf, "");
}

TEST_F(MsgVSprintf, EveryMessageOfALargeCatalogIsFound) {
    std::vector<std::string> texts = {kNotFound};
    for (int n = 1; n <= 300; ++n) {
        char t[64];
        std::snprintf(t, sizeof t, "AB%05dI - message %d says %%1!d!", n * 7, n * 7);
        texts.emplace_back(t);
    }
    BuiltIn big(texts);
    ASSERT_EQ(big.status, 0u);
    for (int n = 0; n <= 301; ++n) {
        const auto num = static_cast<std::uint16_t>(n * 7);
        char want[64];
        if (n >= 1 && n <= 300) {
            std::snprintf(want, sizeof want, "message %d says %d", n * 7, n);
        } else {
            std::snprintf(want, sizeof want, "Message %05d not found.", n * 7);
        }
        EXPECT_EQ(KW_MsgSprintf(&big.handle, KW_MSG_STRIP_KEY, buf, app, num, n),
                  static_cast<std::int32_t>(std::strlen(want)));
        EXPECT_STREQ(buf, want);
        const auto between = static_cast<std::uint16_t>(n * 7 + 3);
        KW_MsgSprintf(&big.handle, 0, buf, app, between, n);
        EXPECT_EQ(std::string(buf).substr(0, 7), "AB00000") << between;
    }
}

}  // namespace
