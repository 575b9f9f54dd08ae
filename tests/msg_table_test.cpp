// The table path against the plain process: a message whose specifiers come
// in position order is read once into a table and written from it; that
// must give exactly what scanning, sorting, fetching and then formatting
// gives, and the arguments must be asked for in the same order and kinds.
// Both are driven here directly, on random texts built from regular and
// irregular specifier pieces.
//
// The library's internals are compiled into this test (they are not
// exported), so that the two ways can be compared step by step.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "msg/formatter.cpp"
#include "msg/message.cpp"
#include "msg/specifiers.cpp"
#include "msg_test_util.h"

namespace {

using namespace kw::msg;

// Arguments in the order they are asked for, like a va_list: the k-th
// number asked for is 1000 + k, the k-th text "t<k>". The kinds asked for
// are kept, in order.
class Sequence {
public:
    void operator()(const KW_ARG_ &, ArgKind kind, std::uint32_t, ARG_UNION &value) {
        kinds.push_back(kind);
        if (kind == ArgKind::number) {
            value._long = 1000 + static_cast<std::int32_t>(taken_++);
        } else {
            texts_[taken_ % kMaxArgs] = "t" + std::to_string(taken_);
            value._ptr = reinterpret_cast<const unsigned char *>(texts_[taken_ % kMaxArgs].c_str());
            ++taken_;
        }
    }
    std::vector<ArgKind> kinds;

private:
    std::uint32_t taken_ = 0;
    std::string texts_[kMaxArgs];
};

// The plain process: scan, sort, fetch, format.
std::string two_pass(const Catalog &cat, const unsigned char *text, std::uint64_t cap, std::uint32_t skip,
                     std::uint64_t &len, Sequence &fetch) {
    const unsigned char *pTbIn = cat.encoding == kEncodingEbcdic ? KW_xlate_EBC_ASC : KW_xlate_dummy;
    KW_ARG_ args[kMaxArgs];
    const std::uint32_t n = scan_specifiers(text, cat.pTxt + cat.txtsize, literals_for(cat.encoding), pTbIn, args);
    sort_args(args, n);
    ARG_UNION argums[kMaxArgs];
    ArgKind kinds[kMaxArgs] = {};
    for (std::uint32_t i = 0; i < n; ++i) {
        const ArgKind kind = classify(args[i]);
        if (kind != ArgKind::none) {
            fetch(args[i], kind, i, argums[i]);
            kinds[i] = kind;
        }
    }
    char buf[4096];
    len = ascii_ebcdic_sprintf(cat.encoding, buf, cap, skip, text,
                               cat.pTxt + cat.txtsize, argums, kinds);
    return buf;
}

std::string random_body(std::mt19937 &rng) {
    static const char *const pieces[] = {
        "ab", " ", "%%", "x!y", ".",
        // regular specifiers
        "%1!d!", "%2!s!", "%3!-5x!", "%4!05ld!", "%5!.2s!", "%6!c!", "%7!u!", "%8!o!", "%9!X!", "%1!s!", "%2!d!",
        // irregular: unknown conversions, bad or missing positions, odd extents
        "%1!f!", "%0!d!", "%10!d!", "%!d!", "% 3!d!", "%+2!d!", "%-1!d!", "%1!i!", "%2!dX", "%3!d%4!s!",
        "%1!0000000000000000005d!", "%2!!", "%1!l!",
    };
    static const char *const endings[] = {"", "", "", "%", "%1", "%1!", "%1!d", "%2!5"};
    std::string body;
    const int count = static_cast<int>(rng() % 14);
    for (int i = 0; i < count; ++i) {
        body += pieces[rng() % (sizeof pieces / sizeof pieces[0])];
    }
    return body + endings[rng() % (sizeof endings / sizeof endings[0])];
}

TEST(MsgTablePath, GivesWhatScanSortFetchAndFormatGive) {
    std::mt19937 rng(4242);
    int by_table = 0;
    int plain = 0;
    for (int round = 0; round < 3000; ++round) {
        const std::uint8_t encoding = round % 5 == 0 ? kwtest::kEbcdic : kwtest::kAscii;
        const std::string body = random_body(rng);
        kwtest::BuiltIn built({kwtest::kNotFound, "AB00001 -- " + body}, encoding);
        ASSERT_EQ(built.status, 0u);
        Catalog cat;
        ASSERT_TRUE(read_handle(&built.handle, cat));
        const AppId id = app_id(cat, "AB");
        const Found m = find_message(cat, id, 1);
        ASSERT_FALSE(m.entry0);
        TextTable table;
        const unsigned char *pTbIn = encoding == kwtest::kEbcdic ? KW_xlate_EBC_ASC : KW_xlate_dummy;
        (read_text(m.text, cat.pTxt + cat.txtsize, literals_for(encoding), pTbIn, table) ? by_table : plain) += 1;
        for (const std::uint64_t cap : {Sink::kUnbounded, std::uint64_t{12}, std::uint64_t{40}}) {
            for (const std::uint32_t skip : {0u, 11u}) {
                std::uint64_t want_len = 0;
                Sequence want_fetch;
                const std::string want = two_pass(cat, m.text, cap, skip, want_len, want_fetch);
                Sequence fetch;
                char buf[4096];
                const std::uint64_t len = format_message(cat, buf, cap, skip, id, 1, fetch);
                ASSERT_EQ(std::string(buf), want) << "body [" << body << "] cap " << cap << " skip " << skip;
                ASSERT_EQ(len, want_len) << "body [" << body << "]";
                ASSERT_EQ(fetch.kinds, want_fetch.kinds) << "body [" << body << "]";
            }
        }
    }
    // Both ways were exercised.
    EXPECT_GT(by_table, 500);
    EXPECT_GT(plain, 500);
}

}  // namespace
