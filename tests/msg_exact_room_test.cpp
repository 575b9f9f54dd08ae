// The unbounded formatting calls need room for the text they return and its
// zero, nothing more: a buffer of exactly result + 1 bytes must do, with or
// without flags bit 0. (Found by fuzzing: an output path that formatted the
// whole text, key included, and then moved it left wrote 11 bytes past such
// a buffer.) Each buffer here is followed by guard bytes that must survive.
#include <gtest/gtest.h>

#include <cstdarg>
#include <cstring>
#include <string>
#include <vector>

#include "msg_test_util.h"

namespace {

using kwtest::BuiltIn;

constexpr unsigned char kGuard = 0xA5;
constexpr std::size_t kGuardBytes = 32;

const std::vector<std::string> kTexts = {
    kwtest::kNotFound,
    kwtest::kDisk,
    "AB00100I - Copied %1!-12s! %2!8u! bytes, checksum %3!08X!.",
    "AB00101I - %1!s!",
    "AB00102I -",  // shorter than the 11 characters that bit 0 drops
};

struct Case {
    const char *name;
    std::uint16_t msgnum;
    const char *s;           // argument 1, a text
    std::uint32_t n;         // argument 2; argument 3 is 0
    const char *stripped;    // the text with flags bit 0
};

const Case kCases[] = {
    {"worked example", 42, "C:", 17, "Disk C: has 17 blocks free."},
    {"not found", 123, nullptr, 0, "Message 00123 not found."},
    {"widths", 100, "data.bin", 4096, "Copied data.bin         4096 bytes, checksum 00000000."},
    {"long argument", 101, "a text of some length that the buffer must take whole", 0,
     "a text of some length that the buffer must take whole"},
    {"short text", 102, nullptr, 0, ""},
};

// The packed list of a case: the text, the number and a zero.
std::vector<unsigned char> packed(const Case &c) {
    std::vector<unsigned char> list(3, 0);
    const std::string s = c.s != nullptr ? c.s : "";
    list.push_back(static_cast<unsigned char>(s.size()));
    list.insert(list.end(), s.begin(), s.end());
    list.push_back(4);
    const auto *n = reinterpret_cast<const unsigned char *>(&c.n);
    list.insert(list.end(), n, n + 4);
    list.push_back(4);
    list.insert(list.end(), 4, 0);
    return list;
}

std::int32_t via_va_list(PKW_MSG_CATALOG cat, unsigned char flags, char *buf, char *app, std::uint16_t num, ...) {
    va_list ap;
    va_start(ap, num);
    const std::int32_t r = KW_MsgVSprintf(cat, flags, buf, app, num, ap);
    va_end(ap);
    return r;
}

TEST(MsgExactRoom, UnboundedCallsWriteNothingPastTheTextAndItsZero) {
    BuiltIn cat(kTexts);
    ASSERT_EQ(cat.status, 0u);
    using Call = std::int32_t (*)(BuiltIn &, unsigned char, char *, const Case &);
    const struct {
        const char *name;
        Call call;
    } calls[] = {
        {"KW_MsgSprintf",
         [](BuiltIn &k, unsigned char f, char *b, const Case &c) {
             char app[3] = "ab";
             return KW_MsgSprintf(&k.handle, f, b, app, c.msgnum, c.s != nullptr ? c.s : "", c.n, 0u);
         }},
        {"KW_MsgVSprintf",
         [](BuiltIn &k, unsigned char f, char *b, const Case &c) {
             char app[3] = "ab";
             return via_va_list(&k.handle, f, b, app, c.msgnum, c.s != nullptr ? c.s : "", c.n, 0u);
         }},
        {"KW_MsgRSprintf",
         [](BuiltIn &k, unsigned char f, char *b, const Case &c) {
             char app[3] = "ab";
             const std::vector<unsigned char> list = packed(c);
             return KW_MsgRSprintf(&k.handle, f, b, app, c.msgnum, list.data());
         }},
    };
    for (const auto &call : calls) {
        for (const Case &c : kCases) {
            for (const int f : {0, KW_MSG_STRIP_KEY}) {
                const auto flags = static_cast<unsigned char>(f);
                SCOPED_TRACE(std::string(call.name) + ", " + c.name + ", flags " + std::to_string(flags));
                // Learn the length from the bounded twin, then give exactly that.
                char app[3] = "ab";
                const std::vector<unsigned char> list = packed(c);
                const std::int32_t len =
                    KW_MsgRSnprintf(&cat.handle, flags, nullptr, 0, app, c.msgnum, list.data(),
                                    static_cast<std::uint32_t>(list.size()));
                ASSERT_GE(len, 0);
                if (flags != 0) {
                    EXPECT_EQ(len, static_cast<std::int32_t>(std::strlen(c.stripped)));
                }
                const std::size_t room = static_cast<std::size_t>(len) + 1;
                std::vector<unsigned char> block(room + kGuardBytes, kGuard);
                char *buf = reinterpret_cast<char *>(block.data());
                EXPECT_EQ(call.call(cat, flags, buf, c), len);
                EXPECT_EQ(buf[len], '\0');
                if (flags != 0) {
                    EXPECT_STREQ(buf, c.stripped);
                }
                for (std::size_t i = room; i < block.size(); ++i) {
                    ASSERT_EQ(block[i], kGuard) << "byte " << i - room << " past the room was written";
                }
            }
        }
    }
}

}  // namespace
