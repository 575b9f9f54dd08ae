// Formatting from a packed argument list: the field rules, the application
// check with its fixed text, and lists that run short.
#include <gtest/gtest.h>

#include <string>

#include "msg_test_util.h"

namespace {

using kwtest::BuiltIn;
using kwtest::kDisk;
using kwtest::kNotFound;

// A packed list: 3 header bytes, then one field (length byte, value) each.
class Packed {
public:
    Packed() : bytes_("HDR") {}
    Packed &text(const std::string &v) {
        bytes_.push_back(static_cast<char>(v.size()));
        bytes_ += v;
        return *this;
    }
    Packed &raw(std::initializer_list<unsigned char> v) {
        bytes_.push_back(static_cast<char>(v.size()));
        for (unsigned char b : v) {
            bytes_.push_back(static_cast<char>(b));
        }
        return *this;
    }
    template <class T>
    Packed &number(T v) {
        unsigned char b[sizeof v];
        std::memcpy(b, &v, sizeof v);  // the machine's byte order
        bytes_.push_back(static_cast<char>(sizeof v));
        bytes_.append(reinterpret_cast<const char *>(b), sizeof v);
        return *this;
    }
    const unsigned char *data() const { return reinterpret_cast<const unsigned char *>(bytes_.data()); }
    std::uint32_t size() const { return static_cast<std::uint32_t>(bytes_.size()); }

private:
    std::string bytes_;
};

class MsgRSprintf : public ::testing::Test {
protected:
    BuiltIn cat{{kNotFound, kDisk, "AB00043E - Disk %1!s! has %2!ld! blocks free.", "AB00044I - %2!s!%1!s!",
                 "AB00045I - [%1!d!] [%2!ld!] [%3!x!]", "AB00046I - [%1!s!] [%2!c!]"}};
    char buf[1024];
    char app[3] = "ab";
    void SetUp() override {
        ASSERT_EQ(cat.status, 0u);
        std::memset(buf, '#', sizeof buf);
    }
    std::int32_t rs(std::uint16_t num, const Packed &list, unsigned char flags = KW_MSG_STRIP_KEY) {
        return KW_MsgRSprintf(&cat.handle, flags, buf, app, num, list.data());
    }
};

TEST_F(MsgRSprintf, WorkedExampleList) {
    const Packed list = Packed().raw({'C', ':'}).raw({0x11, 0x00, 0x00, 0x00});
    EXPECT_EQ(rs(42, list, 0), 38);
    EXPECT_STREQ(buf, "AB00042E - Disk C: has 17 blocks free.");
    EXPECT_STREQ(app, "AB");
    EXPECT_EQ(rs(42, list), 27);
    EXPECT_STREQ(buf, "Disk C: has 17 blocks free.");
}

TEST_F(MsgRSprintf, TwoByteNumbersAreSignExtendedWithoutTheLengthLetterAndZeroExtendedWithIt) {
    const Packed list = Packed().text("C:").raw({0xFF, 0xFF});
    EXPECT_EQ(rs(42, list), 27);
    EXPECT_STREQ(buf, "Disk C: has -1 blocks free.");
    EXPECT_EQ(rs(43, list), 30);
    EXPECT_STREQ(buf, "Disk C: has 65535 blocks free.");
}

TEST_F(MsgRSprintf, NumericFieldRulesByLength) {
    struct {
        const char *what;
        Packed list;
        const char *want;
    } cases[] = {
        {"4-byte values", Packed().number<std::int32_t>(-5).number<std::uint32_t>(70000).number<std::int32_t>(255),
         "[-5] [70000] [FF]"},
        {"2-byte values", Packed().number<std::int16_t>(-5).number<std::int16_t>(-1).number<std::int16_t>(-1),
         "[-5] [65535] [FFFFFFFF]"},
        {"other lengths give 0", Packed().raw({1}).raw({1, 2, 3}).raw({}), "[0] [0] [0]"},
        {"8 bytes give 0", Packed().raw({1, 0, 0, 0, 0, 0, 0, 0}).raw({7}).raw({1, 2, 3, 4, 5}), "[0] [0] [0]"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        rs(45, c.list);
        EXPECT_STREQ(buf, c.want);
    }
}

TEST_F(MsgRSprintf, TextFieldsAreCopiedWithATerminatorEmptyAndFullLengthIncluded) {
    EXPECT_EQ(rs(46, Packed().text("").number<std::int32_t>('Q')), 6);
    EXPECT_STREQ(buf, "[] [Q]");
    const std::string longest(255, 'z');
    EXPECT_EQ(rs(46, Packed().text(longest).number<std::int16_t>('R')), 255 + 6);
    EXPECT_EQ(std::string(buf), "[" + longest + "] [R]");
}

TEST_F(MsgRSprintf, FieldsFollowPositionsNotTheOrderInTheText) {
    EXPECT_EQ(rs(44, Packed().text("one").text("two")), 6);
    EXPECT_STREQ(buf, "twoone");
}

TEST_F(MsgRSprintf, NullApplicationIdUsesTheCatalogsOwn) {
    const Packed list = Packed().text("C:").number<std::int32_t>(17);
    EXPECT_EQ(KW_MsgRSprintf(&cat.handle, 0, buf, nullptr, 42, list.data()), 38);
    EXPECT_STREQ(buf, "AB00042E - Disk C: has 17 blocks free.");
}

TEST_F(MsgRSprintf, ForeignApplicationGetsTheFixedTextAndZero) {
    char xy[] = "xy";
    EXPECT_EQ(KW_MsgRSprintf(&cat.handle, KW_MSG_STRIP_KEY, buf, xy, 42, Packed().text("C:").data()), 0);
    EXPECT_STREQ(buf, "\r\nInvalid message table for application XY who generate error 42 ");
    char longer[] = "abc";  // only the first two characters are compared
    EXPECT_EQ(KW_MsgRSprintf(&cat.handle, 0, buf, longer, 9, Packed().data()), 35);
    EXPECT_STREQ(buf, "AB00000E - Message 00009 not found.");
    char one[] = "a";
    EXPECT_EQ(KW_MsgRSprintf(&cat.handle, 0, buf, one, 65535, Packed().data()), 0);
    EXPECT_STREQ(buf, "\r\nInvalid message table for application A who generate error 65535 ");
}

TEST_F(MsgRSprintf, NotFoundEntryReadsNoField) {
    EXPECT_EQ(rs(123, Packed()), 24);
    EXPECT_STREQ(buf, "Message 00123 not found.");
    EXPECT_EQ(KW_MsgRSprintf(&cat.handle, 0, buf, app, 7, nullptr), 35) << "nor does a missing list matter";
}

TEST_F(MsgRSprintf, HandleWithoutSignatureTouchesNeitherBufferNorApplicationId) {
    KW_MSG_CATALOG broken = cat.handle;
    broken._[0] = 0;
    std::strcpy(buf, "as before");
    char lower[] = "ab";
    EXPECT_EQ(KW_MsgRSprintf(&broken, 0, buf, lower, 42, Packed().data()), 0);
    EXPECT_STREQ(buf, "as before");
    EXPECT_STREQ(lower, "ab");
}

TEST_F(MsgRSprintf, CatalogWithoutMessagesGivesTheEmptyText) {
    BuiltIn empty(std::vector<std::string>{});
    EXPECT_EQ(KW_MsgRSprintf(&empty.handle, 0, buf, app, 1, Packed().data()), 0);
    EXPECT_STREQ(buf, "");
    EXPECT_EQ(KW_MsgRSprintf(&empty.handle, 0, buf, nullptr, 1, Packed().data()), 0);
    EXPECT_STREQ(buf, "");
}

TEST_F(MsgRSprintf, MissingListReadsAsZerosAndEmptyTexts) {
    EXPECT_EQ(KW_MsgRSprintf(&cat.handle, KW_MSG_STRIP_KEY, buf, app, 42, nullptr), 24);
    EXPECT_STREQ(buf, "Disk  has 0 blocks free.");
}

}  // namespace
