// Arguments go to their positions whatever the order of the specifiers in the
// text, and the text written does not depend on where it goes.
//
// Random texts are formatted from packed lists and compared with the text
// built here specifier by specifier with snprintf; random texts of regular
// and irregular pieces check that the bounded twin and the stripped form
// give exactly what the unbounded call gives, cut or shifted.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "msg_test_util.h"

namespace {

using kwtest::BuiltIn;
using kwtest::kAscii;
using kwtest::kEbcdic;
using kwtest::kNotFound;

// One packed field per argument, argument 1 first.
struct Field {
    bool text;
    std::string value;  // a text's bytes
    std::int32_t number;
};

std::string packed_list(const std::vector<Field> &fields, std::uint8_t encoding) {
    std::string list = "HDR";
    for (const Field &f : fields) {
        if (f.text) {
            const std::string v = encoding == kEbcdic ? kwtest::to_ebcdic(f.value) : f.value;
            list.push_back(static_cast<char>(v.size()));
            list += v;
        } else {
            char b[4];
            std::memcpy(b, &f.number, 4);
            list.push_back(4);
            list.append(b, 4);
        }
    }
    return list;
}

struct Conversion {
    const char *spec;  // between position and closing mark
    bool text;
    std::string (*model)(const Field &);  // what snprintf writes for it
};

// The formats stay literals, so that snprintf's arguments are checked.
#define KW_PRINTED(spec, text, format, value)                     \
    {                                                             \
        spec, text, [](const Field &f) {                          \
            char piece[64];                                       \
            std::snprintf(piece, sizeof piece, format, value);    \
            return std::string(piece);                            \
        }                                                         \
    }
#define KW_SIGNED(spec, format) KW_PRINTED(spec, false, format, f.number)
#define KW_UNSIGNED(spec, format) KW_PRINTED(spec, false, format, static_cast<unsigned>(f.number))
#define KW_TEXT(spec, format) KW_PRINTED(spec, true, format, f.value.c_str())
const Conversion kConversions[] = {
    KW_SIGNED("d", "%d"),     KW_SIGNED("5d", "%5d"),     KW_SIGNED("-6d", "%-6d"), KW_SIGNED("05ld", "%05d"),
    KW_UNSIGNED("x", "%X"),   KW_UNSIGNED("04X", "%04X"), KW_UNSIGNED("u", "%u"),   KW_UNSIGNED("o", "%o"),
    KW_TEXT("s", "%s"),       KW_TEXT("8s", "%8s"),       KW_TEXT("-7s", "%-7s"),   KW_TEXT(".3s", "%.3s"),
};
#undef KW_TEXT
#undef KW_UNSIGNED
#undef KW_SIGNED
#undef KW_PRINTED

TEST(MsgOrder, EachPositionTakesItsOwnArgumentInAnyOrderOfTheText) {
    std::mt19937 rng(2718);
    for (int round = 0; round < 600; ++round) {
        const std::uint8_t encoding = round % 3 == 0 ? kEbcdic : kAscii;
        const std::uint32_t n = 1 + static_cast<std::uint32_t>(rng() % 9);
        std::vector<std::uint32_t> order(n);
        for (std::uint32_t i = 0; i < n; ++i) {
            order[i] = i + 1;
        }
        std::shuffle(order.begin(), order.end(), rng);
        std::vector<Field> fields(n);
        std::vector<const Conversion *> conv(n);
        for (std::uint32_t k = 0; k < n; ++k) {
            conv[k] = &kConversions[rng() % (sizeof kConversions / sizeof kConversions[0])];
            fields[k].text = conv[k]->text;
            fields[k].value = "v" + std::to_string(rng() % 100000);
            fields[k].number = static_cast<std::int32_t>(rng() % 2000000) - 1000000;
            if (conv[k]->spec[0] == '0') {
                // A zero fill goes before the minus sign (00-42), where
                // snprintf puts it after: the model takes no negative here.
                fields[k].number = std::abs(fields[k].number);
            }
        }
        std::string body;
        std::string want;
        for (std::uint32_t pos : order) {
            const std::string lead = rng() % 4 == 0 ? " 100%% " : " - ";
            body += lead + "%" + std::to_string(pos) + "!" + conv[pos - 1]->spec + "!";
            want += lead == " - " ? lead : " 100% ";
            want += conv[pos - 1]->model(fields[pos - 1]);
        }
        BuiltIn cat({kNotFound, "AB00007 -- " + body}, encoding);
        ASSERT_EQ(cat.status, 0u);
        const std::string list = packed_list(fields, encoding);
        const auto *plist = reinterpret_cast<const unsigned char *>(list.data());
        char app[3] = "ab";
        char buf[1024];
        const std::int32_t len =
            KW_MsgRSnprintf(&cat.handle, KW_MSG_STRIP_KEY, buf, sizeof buf, app, 7, plist,
                            static_cast<std::uint32_t>(list.size()));
        const std::string got = encoding == kEbcdic ? kwtest::to_ascii(buf) : std::string(buf);
        ASSERT_EQ(got, want) << "body [" << body << "]";
        ASSERT_EQ(len, static_cast<std::int32_t>(want.size()));
        // The unbounded call reads the same fields.
        std::memcpy(app, "ab", 3);
        char raw[1024];
        ASSERT_EQ(KW_MsgRSprintf(&cat.handle, KW_MSG_STRIP_KEY, raw, app, 7, plist), len);
        ASSERT_STREQ(raw, buf);
    }
}

std::string random_body(std::mt19937 &rng) {
    static const char *const pieces[] = {
        "ab", " ", "%%", "x!y", ".",
        // regular specifiers
        "%1!d!", "%2!s!", "%3!-5x!", "%4!05ld!", "%5!.2s!", "%6!c!", "%7!u!", "%8!o!", "%9!X!", "%1!s!", "%2!d!",
        // irregular: unknown conversions, bad or missing positions, odd extents
        "%1!f!", "%0!d!", "%10!d!", "%!d!", "% 3!d!", "%+2!d!", "%-1!d!", "%1!i!", "%2!dX", "%3!d%4!s!",
        "%1!0000000000000000005d!", "%2!!", "%1!l!", "%2!40d!",
    };
    static const char *const endings[] = {"", "", "", "%", "%1", "%1!", "%1!d", "%2!5"};
    std::string body;
    const int count = static_cast<int>(rng() % 14);
    for (int i = 0; i < count; ++i) {
        body += pieces[rng() % (sizeof pieces / sizeof pieces[0])];
    }
    return body + endings[rng() % (sizeof endings / sizeof endings[0])];
}

// Nine fields of four bytes: a number's value, or a four-character text.
const std::string kNineFields = [] {
    std::string list = "HDR";
    for (int k = 0; k < 9; ++k) {
        list += "\x04";
        list += "w" + std::to_string(100 + k);
    }
    return list;
}();

TEST(MsgOrder, BoundedAndStrippedTextsAreCutsOfTheWholeText) {
    std::mt19937 rng(4242);
    const auto *plist = reinterpret_cast<const unsigned char *>(kNineFields.data());
    const auto listsize = static_cast<std::uint32_t>(kNineFields.size());
    for (int round = 0; round < 1500; ++round) {
        const std::uint8_t encoding = round % 5 == 0 ? kEbcdic : kAscii;
        const std::string body = random_body(rng);
        BuiltIn cat({kNotFound, "AB00001 -- " + body}, encoding);
        ASSERT_EQ(cat.status, 0u);
        char app[3] = "ab";
        char whole[1024];
        const std::int32_t len = KW_MsgRSprintf(&cat.handle, 0, whole, app, 1, plist);
        ASSERT_EQ(len, static_cast<std::int32_t>(std::strlen(whole))) << "body [" << body << "]";
        for (const std::uint32_t size : {0u, 1u, 5u, 12u, 25u, 40u, 1024u}) {
            std::memcpy(app, "ab", 3);
            char buf[1024];
            std::memset(buf, '#', sizeof buf);
            const std::int32_t n = KW_MsgRSnprintf(&cat.handle, 0, size == 0 ? nullptr : buf, size, app, 1, plist,
                                                   listsize);
            ASSERT_EQ(n, len) << "body [" << body << "] size " << size;
            if (size != 0) {
                const std::size_t kept = std::min<std::size_t>(size - 1, static_cast<std::size_t>(len));
                ASSERT_EQ(std::string(buf), std::string(whole, kept)) << "body [" << body << "] size " << size;
            }
        }
        std::memcpy(app, "ab", 3);
        char stripped[1024];
        const std::int32_t s = KW_MsgRSprintf(&cat.handle, KW_MSG_STRIP_KEY, stripped, app, 1, plist);
        const std::size_t dropped = std::min<std::size_t>(11, static_cast<std::size_t>(len));
        ASSERT_EQ(std::string(stripped), std::string(whole + dropped)) << "body [" << body << "]";
        ASSERT_EQ(s, len - static_cast<std::int32_t>(dropped));
    }
}

}  // namespace
