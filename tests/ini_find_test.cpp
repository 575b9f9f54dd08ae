// Navigation and search: next, goto and every stop case of find.
#include <gtest/gtest.h>

#include <string>

#include "ini_test_util.h"
#include "test_support.h"

namespace {

using kwtest::CallerText;
using kwtest::fresh_record;
using kwtest::text;
using kwtest::u;

// Line numbers:        1         2         3        4          5         6
//                      7          8         9        10        11         12
const std::initializer_list<std::string> kSample = {
    "top=0\n",   "[Main]\n", "Name=x\n", "; c\n",   "[ Net ]\n", "Port = 5\n",
    "<Main>\n",  "Other=1\n", "[Main]\n", "Late=2\n", "[]\n",      "=empty\n"};

class IniFind : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(t.open(ini), INI_OK); }
    void TearDown() override { KW_ini_close(&ini); }

    // Search from line `from`; returns the found byte, the line stopped on is in ini.
    int find(std::uint16_t from, const char *section, const char *key) {
        EXPECT_EQ(KW_ini_goto(&ini, from), INI_OK);
        unsigned char found = 0xAA;
        EXPECT_EQ(KW_ini_find(&ini, section ? u(section) : nullptr, key ? u(key) : nullptr, &found), INI_OK);
        EXPECT_TRUE(found == 0 || found == 1);
        return found;
    }

    KW_INI_STRUC ini = fresh_record();
    CallerText t{kSample};
};

struct FindCase {
    std::uint16_t from;
    const char *section;
    const char *key;
    int found;
    std::uint16_t stop;  // line number afterwards (13 = the end position)
};

TEST_F(IniFind, StopCases) {
    const FindCase cases[] = {
        {1, "main", "NAME", 1, 3},     // key found, case-blind on both sides
        {1, "MAIN", nullptr, 1, 2},    // section found: the header is current
        {1, "main", "LATE", 0, 5},     // key only in a later section of that name
        {3, "Main", nullptr, 1, 7},    // a repeat from inside finds the next header
        {1, "M*", "OTHER", 0, 5},      // only the first matching section is searched
        {6, "M*", "OTHER", 1, 8},      // '<Main>' is a section too
        {1, "nope", nullptr, 0, 13},   // no matching header: the end position
        {1, nullptr, "TOP", 1, 1},     // keys before the first section: null section
        {2, nullptr, "NAME", 0, 2},    // null section on a header: stays there
        {3, nullptr, "NAME", 1, 3},    // a repeat with null section finds the same line
        {3, nullptr, "PORT", 0, 5},    // null section: keys up to the next header
        {1, " NET ", "PORT*", 1, 6},   // names are not trimmed...
        {1, "NET", nullptr, 0, 13},    // ...so 'NET' misses '[ Net ]'
        {6, nullptr, "PORT", 0, 7},    // 'Port = 5' has the key "PORT "
        {6, nullptr, "PORT ", 1, 6},
        {6, nullptr, "P?RT?", 1, 6},
        {1, "", nullptr, 1, 11},       // an empty section name matches '[]' only
        {11, "", "", 1, 12},           // an empty key matches a line beginning with '='
        {1, "*", "NAME", 1, 3},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string("from ") + std::to_string(c.from) + " section " +
                     (c.section ? c.section : "<null>") + " key " + (c.key ? c.key : "<null>"));
        EXPECT_EQ(find(c.from, c.section, c.key), c.found);
        EXPECT_EQ(ini.linenum, c.stop);
        if (c.stop == 13) {
            EXPECT_EQ(ini.linetype, INI_LINE_NONE);
            EXPECT_EQ(ini.pValue, nullptr);
        }
    }
}

TEST_F(IniFind, FoundKeyPublishesItsValue) {
    ASSERT_EQ(find(1, "main", "name"), 1);
    EXPECT_EQ(ini.linetype, INI_LINE_KEY);
    EXPECT_EQ(text(ini.pValue), "x\n");
    ASSERT_EQ(find(1, "main", nullptr), 1);
    EXPECT_EQ(ini.linetype, INI_LINE_SECTION);
    EXPECT_EQ(ini.pValue, nullptr);
}

TEST_F(IniFind, RefusalsWriteNothingAndDoNotMove) {
    KW_ini_goto(&ini, 4);
    unsigned char found = 0xAA;
    EXPECT_EQ(KW_ini_find(&ini, nullptr, nullptr, &found), INI_ERR_NO_NAME);
    EXPECT_EQ(found, 0xAA);
    EXPECT_EQ(ini.linenum, 4);

    KW_INI_STRUC closed = fresh_record();
    EXPECT_EQ(KW_ini_find(&closed, u("A"), nullptr, &found), INI_ERR_HANDLE);
    EXPECT_EQ(found, 0xAA);
    EXPECT_EQ(KW_ini_goto(&closed, 1), INI_ERR_HANDLE);
}

TEST_F(IniFind, NextAndGoto) {
    EXPECT_EQ(KW_ini_goto(&ini, 12), INI_OK);
    EXPECT_EQ(KW_ini_next(&ini), INI_OK);
    EXPECT_EQ(ini.linenum, 13);
    EXPECT_EQ(ini.linetype, INI_LINE_NONE);
    EXPECT_EQ(KW_ini_next(&ini), INI_OK);
    EXPECT_EQ(ini.linenum, 13) << "the end position does not move";

    EXPECT_EQ(KW_ini_goto(&ini, 5), INI_OK);
    for (std::uint16_t bad : {std::uint16_t{0}, std::uint16_t{13}, std::uint16_t{65535}}) {
        EXPECT_EQ(KW_ini_goto(&ini, bad), INI_ERR_LINE);
        EXPECT_EQ(ini.linenum, 5);
    }
    EXPECT_EQ(text(ini.pLine), "[ Net ]\n");
}

TEST(IniFindLimits, PatternsAndNamesLongerThan255Bytes) {
    const std::string section(400, 's');
    const std::string key(300, 'k');
    CallerText t({"[" + section + "]", key + "=v", "[short]", "k=w"});
    KW_INI_STRUC ini = fresh_record();
    ASSERT_EQ(t.open(ini), INI_OK);
    unsigned char found = 0;
    const std::string upper_section(400, 'S');
    EXPECT_EQ(KW_ini_find(&ini, u(upper_section.c_str()), u(key.c_str()), &found), INI_OK);
    EXPECT_EQ(found, 1);
    EXPECT_EQ(text(ini.pValue), "v");
    // One byte shorter does not match without a star.
    KW_ini_goto(&ini, 1);
    EXPECT_EQ(KW_ini_find(&ini, u(upper_section.substr(1).c_str()), nullptr, &found), INI_OK);
    EXPECT_EQ(found, 0);
    KW_ini_close(&ini);
}

TEST(IniFindLimits, OnlyAsciiLettersFold) {
    CallerText t({"[\xE4pfel]", "k=v"});
    KW_INI_STRUC ini = fresh_record();
    ASSERT_EQ(t.open(ini), INI_OK);
    unsigned char found = 0;
    EXPECT_EQ(KW_ini_find(&ini, u("\xC4PFEL"), nullptr, &found), INI_OK);
    EXPECT_EQ(found, 0) << "bytes above 0x7F compare exactly";
    KW_ini_goto(&ini, 1);
    EXPECT_EQ(KW_ini_find(&ini, u("\xE4PFEL"), nullptr, &found), INI_OK);
    EXPECT_EQ(found, 1);
    KW_ini_close(&ini);
}

}  // namespace
