// The formatter: every conversion, width, fill, precision and justification,
// positions, and what incomplete or unusable specifiers yield. Each case is
// the body of message 1 of a small catalog, formatted with flags bit 0 so
// that the 11-character prefix "AB00001 -- " is dropped.
#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "msg_test_util.h"

namespace {

using kwtest::BuiltIn;
using kwtest::kNotFound;

struct Out {
    std::string text;
    std::int32_t result;
};

template <class... Args>
Out format(const std::string &body, Args... args) {
    BuiltIn cat({kNotFound, "AB00001 -- " + body});
    EXPECT_EQ(cat.status, 0u);
    char buf[512];
    std::memset(buf, '#', sizeof buf);
    char app[] = "AB";
    const std::int32_t r = KW_MsgSprintf(&cat.handle, KW_MSG_STRIP_KEY, buf, app, 1, args...);
    return {buf, r};
}

void expect_format(const Out &got, const std::string &want) {
    EXPECT_EQ(got.text, want);
    EXPECT_EQ(got.result, static_cast<std::int32_t>(want.size())) << "the count is the text's length";
}

TEST(MsgFormatter, NumbersWithWidthFillPrecisionAndJustification) {
    struct {
        const char *body;
        std::int32_t value;
        const char *want;
    } cases[] = {
        {"%1!d!", 42, "42"},
        {"%1!5d!", 42, "   42"},
        {"%1!05d!", 42, "00042"},
        {"%1!-5d!", 42, "42   "},
        {"%1!-05d!", 42, "42000"},
        {"%1!05d!", -42, "00-42"},
        {"%1!1d!", 12345, "12345"},
        {"%1!.2d!", 12345, "12"},
        {"%1!.0d!", 12345, "12345"},
        {"%1!10.3d!", 123456, "       123"},
        {"%1!ld!", 7, "7"},
        {"%1!d!", INT_MIN, "-2147483648"},
        {"%1!d!", INT_MAX, "2147483647"},
        {"%1!d!", 0, "0"},
        {"%1!x!", -1, "FFFFFFFF"},
        {"%1!X!", -1, "FFFFFFFF"},
        {"%1!x!", 0xBEEF, "BEEF"},
        {"%1!08lx!", 0xBEEF, "0000BEEF"},
        {"%1!u!", -1, "4294967295"},
        {"%1!o!", -1, "37777777777"},
        {"%1!o!", 8, "10"},
        {"%1!c!", 'A', "A"},
        {"%1!-3c!|", 'A', "A  |"},
        {"%1!3c!|", 0, "   |"},
        {"[%1!d!]", 5, "[5]"},
        {"%1!d!%%", 5, "5%"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.body);
        expect_format(format(c.body, c.value), c.want);
    }
}

TEST(MsgFormatter, TextsAreUsedWhereTheyLieAndCutByPrecision) {
    struct {
        const char *body;
        const char *value;
        const char *want;
    } cases[] = {
        {"%1!s!", "abcdef", "abcdef"},
        {"%1!.3s!", "abcdef", "abc"},
        {"%1!8.3s!", "abcdef", "     abc"},
        {"%1!-8s!|", "ab", "ab      |"},
        {"%1!08s!", "ab", "000000ab"},
        {"<%1!s!>", "", "<>"},
        {"%1!s!", "%1!d! stays as it is", "%1!d! stays as it is"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.body);
        expect_format(format(c.body, c.value), c.want);
    }
}

TEST(MsgFormatter, DoubledPercentIsOnePercentAndTakesNoArgument) {
    expect_format(format("100%% done"), "100% done");
    expect_format(format("%%%1!d!%%", 3), "%3%");
}

TEST(MsgFormatter, PositionsSelectArgumentsWhateverTheirOrderInTheText) {
    expect_format(format("%2!s! %1!d!", 7, "x"), "x 7");
    expect_format(format("%1!d!-%1!d!", 4), "4-4");
}

TEST(MsgFormatter, UnknownConversionEndsTheOutputThere) {
    expect_format(format("ab%1!f!cd", 1), "ab");
    expect_format(format("ab%1! d!cd", 1), "ab");
    // i takes an argument in the scan but is no conversion of the formatter.
    expect_format(format("%2!d!|%1!i!|", 5, 6), "6|");
}

// Texts that end inside a specifier, and positions outside 1 to 9: the
// output ends where the specifier starts, nothing past the text is read.
TEST(MsgFormatter, IncompleteSpecifiersAndBadPositionsEndTheOutput) {
    struct {
        const char *body;
        const char *want;
    } cases[] = {
        {"ab%", "ab"},
        {"ab%x", "ab"},
        {"ab%1", "ab"},
        {"ab%1!", "ab"},
        {"ab%1!5", "ab"},
        {"ab%1!-05.3l", "ab"},
        {"ab%0!d!cd", "ab"},
        {"ab%10!d!cd", "ab"},
        {"ab%!d!cd", "ab"},
        {"ab%-1!d!cd", "ab"},
        {"ab%99999999999999!d!cd", "ab"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.body);
        expect_format(format(c.body, 42), c.want);
    }
}

TEST(MsgFormatter, SpecifierMissingOnlyItsClosingMarkAtTheEndIsConverted) {
    expect_format(format("ab%1!d", 42), "ab42");
    expect_format(format("ab%1!4s", "x"), "ab   x");
}

TEST(MsgFormatter, ArgumentsNotSuppliedReadAsZeroOrTheEmptyText) {
    // One specifier takes one argument, into position 1's place: position 2 has none.
    expect_format(format("[%2!d!]", 5), "[0]");
    expect_format(format("[%2!s!]", "x"), "[]");
    // Two specifiers of one position: the second value goes to position 2's
    // place, and the text conversion of position 1 never follows a number.
    expect_format(format("%1!d! [%1!s!]", 5, "x"), "5 []");
    expect_format(format("%1!s! [%1!x!]", "x", 5), "x [0]");
}

TEST(MsgFormatter, NineSpecifiersAtMostTakeArguments) {
    expect_format(format("%1!d!%2!d!%3!d!%4!d!%5!d!%6!d!%7!d!%8!d!%9!d!%1!d!%2!d!", 1, 2, 3, 4, 5, 6, 7, 8, 9),
                  "12345678912");
}

TEST(MsgFormatter, SpecifierLongerThanTwentyCharactersIsJudgedByItsTwentiethCharacter) {
    // 1!0000000000000000005d! is cut to 1%000...0: conversion 0, no argument.
    expect_format(format("%1!0000000000000000005d!", 42), "00000");
}

TEST(MsgFormatter, HugeWidthsSaturateAndAreCountedWithoutBeingStored) {
    BuiltIn cat({kNotFound, "AB00001 -- %1!2000000000d!", "AB00002 -- %1!99999999999d!"});
    char buf[8];
    char app[] = "AB";
    EXPECT_EQ(KW_MsgSnprintf(&cat.handle, KW_MSG_STRIP_KEY, buf, sizeof buf, app, 1, 7), 2000000000);
    EXPECT_STREQ(buf, "       ");
    EXPECT_EQ(KW_MsgSnprintf(&cat.handle, KW_MSG_STRIP_KEY, buf, sizeof buf, app, 2, 7), INT32_MAX);
}

}  // namespace
