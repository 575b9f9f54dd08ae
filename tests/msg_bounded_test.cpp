// The bounded twins KW_MsgSnprintf, KW_MsgVSnprintf and KW_MsgRSnprintf:
// never a byte past the buffer, always terminated, the full length returned,
// the same text as the unbounded calls, and the packed list's length obeyed.
#include <gtest/gtest.h>

#include <cstdarg>
#include <memory>
#include <string>
#include <vector>

#include "msg_test_util.h"

namespace {

using kwtest::BuiltIn;
using kwtest::kDisk;
using kwtest::kNotFound;

constexpr unsigned char kGuard = 0xA5;

// num is unsigned, not uint16_t, so that va_start gets a promoted type.
std::int32_t vsn(PKW_MSG_CATALOG cat, unsigned char flags, char *buf, std::uint32_t size, char *app, unsigned num,
                 ...) {
    va_list ap;
    va_start(ap, num);
    const std::int32_t r = KW_MsgVSnprintf(cat, flags, buf, size, app, static_cast<std::uint16_t>(num), ap);
    va_end(ap);
    return r;
}

class MsgBounded : public ::testing::Test {
protected:
    BuiltIn cat{{kNotFound, kDisk}};
    std::vector<unsigned char> area = std::vector<unsigned char>(128, kGuard);
    char app[3] = "ab";

    char *buf() { return reinterpret_cast<char *>(area.data()); }
    // Every byte from `size` on is still the guard.
    bool nothing_past(std::size_t size) const {
        for (std::size_t i = size; i < area.size(); ++i) {
            if (area[i] != kGuard) {
                return false;
            }
        }
        return true;
    }
};

TEST_F(MsgBounded, EverySizeGivesTheFullLengthAndATerminatedPrefix) {
    const std::string full = "AB00042E - Disk C: has 17 blocks free.";
    const std::string stripped = "Disk C: has 17 blocks free.";
    for (std::uint32_t size = 0; size <= 45; ++size) {
        for (const unsigned char flags : {std::uint8_t{0}, std::uint8_t{KW_MSG_STRIP_KEY}}) {
            SCOPED_TRACE(testing::Message() << "size " << size << " flags " << int{flags});
            const std::string &want = flags != 0 ? stripped : full;
            std::fill(area.begin(), area.end(), kGuard);
            EXPECT_EQ(KW_MsgSnprintf(&cat.handle, flags, size == 0 ? nullptr : buf(), size, app, 42, "C:", 17),
                      static_cast<std::int32_t>(want.size()));
            EXPECT_TRUE(nothing_past(size));
            if (size > 0) {
                EXPECT_EQ(std::string(buf()), want.substr(0, size - 1));
            }
        }
    }
}

TEST_F(MsgBounded, VariableListTwinAgreesWithTheUnboundedCall) {
    char whole[64];
    const std::int32_t n = KW_MsgSprintf(&cat.handle, 0, whole, app, 42, "C:", 17);
    EXPECT_EQ(vsn(&cat.handle, 0, buf(), 64, app, 42, "C:", 17), n);
    EXPECT_STREQ(buf(), whole);
    EXPECT_EQ(vsn(&cat.handle, 0, buf(), 5, app, 123), 35);
    EXPECT_STREQ(buf(), "AB00");
}

TEST_F(MsgBounded, PackedTwinAgreesWithTheUnboundedCall) {
    const std::string list = std::string("HDR\x02" "C:\x04", 7) + std::string("\x11\0\0\0", 4);
    const auto *l = reinterpret_cast<const unsigned char *>(list.data());
    char whole[64];
    const std::int32_t n = KW_MsgRSprintf(&cat.handle, 0, whole, app, 42, l);
    EXPECT_EQ(KW_MsgRSnprintf(&cat.handle, 0, buf(), 64, app, 42, l, static_cast<std::uint32_t>(list.size())), n);
    EXPECT_STREQ(buf(), whole);
    std::fill(area.begin(), area.end(), kGuard);
    EXPECT_EQ(KW_MsgRSnprintf(&cat.handle, KW_MSG_STRIP_KEY, buf(), 10, app, 42, l, 11), 27);
    EXPECT_STREQ(buf(), "Disk C: h");
    EXPECT_TRUE(nothing_past(10));
}

TEST_F(MsgBounded, PackedListIsNeverReadPastItsLength) {
    // Copied into a block of exactly the list's size, so that a reading past
    // it is caught by the address sanitizer.
    struct {
        std::string list;
        const char *want;
    } cases[] = {
        {std::string("HDR\x02" "C:\x04\x11\0\0\0", 11), "Disk C: has 17 blocks free."},
        {std::string("HDR\x02" "C:\x04\x11\0", 9), "Disk C: has 0 blocks free."},
        {std::string("HDR\x02" "C:\x04", 7), "Disk C: has 0 blocks free."},
        {std::string("HDR\x02" "C:", 6), "Disk C: has 0 blocks free."},
        {std::string("HDR\x05" "C:", 6), "Disk  has 0 blocks free."},
        {std::string("HDR\x02", 4), "Disk  has 0 blocks free."},
        {std::string("HDR", 3), "Disk  has 0 blocks free."},
        {std::string("HD", 2), "Disk  has 0 blocks free."},
        {std::string(), "Disk  has 0 blocks free."},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.want);
        std::unique_ptr<unsigned char[]> exact(new unsigned char[c.list.size() + 1]);
        std::memcpy(exact.get(), c.list.data(), c.list.size());
        const auto size = static_cast<std::uint32_t>(c.list.size());
        EXPECT_EQ(KW_MsgRSnprintf(&cat.handle, KW_MSG_STRIP_KEY, buf(), 64, app, 42, exact.get(), size),
                  static_cast<std::int32_t>(std::strlen(c.want)));
        EXPECT_STREQ(buf(), c.want);
    }
}

TEST_F(MsgBounded, BadHandleGivesMinusOneAndTheEmptyText) {
    KW_MSG_CATALOG broken = cat.handle;
    broken._[1] = 0;
    EXPECT_EQ(KW_MsgSnprintf(&broken, 0, buf(), 8, app, 42, "C:", 17), KW_MSG_BAD_HANDLE);
    EXPECT_STREQ(buf(), "");
    EXPECT_TRUE(nothing_past(1));
    EXPECT_EQ(KW_MsgRSnprintf(&broken, 0, buf(), 8, app, 42, nullptr, 0), KW_MSG_BAD_HANDLE);
    EXPECT_EQ(KW_MsgSnprintf(&broken, 0, nullptr, 0, app, 42), KW_MSG_BAD_HANDLE);
}

TEST_F(MsgBounded, ForeignApplicationGivesMinusTwoAndAsMuchOfTheFixedTextAsFits) {
    char xy[] = "xy";
    EXPECT_EQ(KW_MsgRSnprintf(&cat.handle, 0, buf(), 12, xy, 42, nullptr, 0), KW_MSG_WRONG_APP);
    EXPECT_STREQ(buf(), "\r\nInvalid m");
    EXPECT_TRUE(nothing_past(12));
    EXPECT_EQ(KW_MsgRSnprintf(&cat.handle, 0, buf(), 128, xy, 42, nullptr, 0), KW_MSG_WRONG_APP);
    EXPECT_STREQ(buf(), "\r\nInvalid message table for application XY who generate error 42 ");
}

TEST_F(MsgBounded, EmptyCatalogGivesZeroAndTheEmptyText) {
    BuiltIn empty(std::vector<std::string>{});
    EXPECT_EQ(KW_MsgSnprintf(&empty.handle, 0, buf(), 8, app, 1), 0);
    EXPECT_STREQ(buf(), "");
    EXPECT_EQ(KW_MsgRSnprintf(&empty.handle, 0, buf(), 8, app, 1, nullptr, 0), 0);
}

TEST_F(MsgBounded, HostileCatalogTextsStayInsideTheBuffer) {
    BuiltIn hostile({kNotFound, "AB00001 %1!-200s!%1!0300d!%%%%%9!s!%2!c!%3!.1s!", "AB00002 %1!500x!"});
    for (std::uint32_t size : {0u, 1u, 7u, 64u}) {
        SCOPED_TRACE(size);
        char *b = size == 0 ? nullptr : buf();
        std::fill(area.begin(), area.end(), kGuard);
        // Arguments in position order: s, d, c, s, s.
        EXPECT_EQ(KW_MsgSnprintf(&hostile.handle, 0, b, size, app, 1, "text", 5, 'c', "also", "more"),
                  8 + 200 + 300 + 2 + 1);
        EXPECT_TRUE(nothing_past(size));
        EXPECT_EQ(KW_MsgSnprintf(&hostile.handle, 0, b, size, app, 2, 5), 8 + 500);
        EXPECT_TRUE(nothing_past(size));
        EXPECT_EQ(KW_MsgSnprintf(&hostile.handle, KW_MSG_STRIP_KEY, b, size, app, 3), 24);
        EXPECT_TRUE(nothing_past(size));
    }
}

}  // namespace
