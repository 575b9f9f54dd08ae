// KW_strcmp_wildcards: positional '?' and a '*' that ends the comparison.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "kwutil.h"

namespace {

struct Case {
    const char *target;
    const char *pattern;
    int expected;
};

void PrintTo(const Case &c, std::ostream *os) { *os << "'" << c.target << "' ~ '" << c.pattern << "'"; }

class Wildcard : public ::testing::TestWithParam<Case> {};

TEST_P(Wildcard, Matches) {
    const Case &c = GetParam();
    EXPECT_EQ(KW_strcmp_wildcards(reinterpret_cast<const unsigned char *>(c.target),
                                  reinterpret_cast<const unsigned char *>(c.pattern)),
              c.expected)
        << "target '" << c.target << "' pattern '" << c.pattern << "'";
}

INSTANTIATE_TEST_SUITE_P(Rules, Wildcard,
                         ::testing::Values(
                             // empty pattern and lone star
                             Case{"", "", 1}, Case{"A", "", 0}, Case{"", "*", 1}, Case{"anything", "*", 1},
                             // '?' is exactly one character without a star
                             Case{"KEY", "K?Y", 1}, Case{"K?Y", "K?Y", 1}, Case{"KY", "K?Y", 0},
                             Case{"KEYS", "K?Y", 0}, Case{"x", "?", 1}, Case{"", "?", 0}, Case{"xy", "?", 0},
                             // a star stands for any remainder and ends the comparison
                             Case{"NET", "NET*", 1}, Case{"NETWORK", "NET*", 1}, Case{"ANET", "NET*", 0},
                             Case{"net", "NET*", 0}, Case{"NETWORK", "NET*XY", 1}, Case{"NET", "NET*XY", 1},
                             // past the target's end '?' passes and other bytes fail
                             Case{"NE", "NE?*", 1}, Case{"NE", "NET*", 0}, Case{"", "??*", 1},
                             // case-sensitive, exact bytes, high bytes included
                             Case{"key", "KEY", 0}, Case{"\xC1\xFF", "\xC1?", 1}, Case{"\xC1", "\xE1", 0}));

// The target is read no further than its terminator, however long the
// pattern: the target here lives in a block of exactly its own size.
TEST(WildcardBounds, ShortTargetLongPattern) {
    std::vector<unsigned char> target = {'A', 'B', 0};
    const auto *pattern = reinterpret_cast<const unsigned char *>("AB??????????????????????????*");
    EXPECT_EQ(KW_strcmp_wildcards(target.data(), pattern), 1);
    const auto *fixed = reinterpret_cast<const unsigned char *>("ABCDEFGHIJKLMNOPQRSTUVWXYZ");
    EXPECT_EQ(KW_strcmp_wildcards(target.data(), fixed), 0);
}

TEST(WildcardBounds, LongTargetIsNotScannedPastThePattern) {
    std::vector<unsigned char> target(100000, 'A');
    target.back() = 0;
    EXPECT_EQ(KW_strcmp_wildcards(target.data(), reinterpret_cast<const unsigned char *>("AAA")), 0);
    EXPECT_EQ(KW_strcmp_wildcards(target.data(), reinterpret_cast<const unsigned char *>("A?A*")), 1);
}

}  // namespace
