// The common dialect: how lines are classified, named and valued, how files
// shaped like real ones read and write back, and how edits keep the
// classification a fresh open would give.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "ini_test_util.h"
#include "test_support.h"

namespace {

using kwtest::CallerText;
using kwtest::fresh_record;
using kwtest::u;

constexpr std::int32_t kRead = KW_INI_READ | KW_INI_COMMON;
constexpr std::int32_t kReadWrite = KW_INI_READWRITE | KW_INI_COMMON;

// What a text-mode write gives back for a file of these bytes: itself on
// POSIX hosts; on Windows every line end, LF or CR LF, becomes CR LF.
std::string written_back(const std::string &bytes) {
#if defined(_WIN32)
    std::string lf;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (!(bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n')) {
            lf += bytes[i];
        }
    }
    return kwtest::eol(lf);
#else
    return bytes;
#endif
}

// The current line's value by KW_ini_value, or "<status N>".
std::string value_of(KW_INI_STRUC &ini) {
    const unsigned char *v = nullptr;
    std::uint16_t len = 0;
    const std::uint32_t st = KW_ini_value(&ini, &v, &len);
    if (st != 0) {
        return "<status " + std::to_string(st) + ">";
    }
    return std::string(reinterpret_cast<const char *>(v), len);
}

// Find from line 1; returns the line found, or 0.
unsigned find_line(KW_INI_STRUC &ini, const char *section, const char *key) {
    if (KW_ini_goto(&ini, 1) != 0) {
        return 0;
    }
    unsigned char found = 0;
    const std::uint32_t st = KW_ini_find(&ini, section == nullptr ? nullptr : u(section),
                                         key == nullptr ? nullptr : u(key), &found);
    return st == 0 && found == 1 ? ini.linenum : 0;
}

// Find key from the line after the last header above line n (or from line
// 1); returns the line found, or 0.
unsigned find_in_section(KW_INI_STRUC &ini, std::uint16_t n, const char *key) {
    std::uint16_t start = 1;
    for (std::uint16_t i = n; i-- > 1;) {
        KW_ini_goto(&ini, i);
        if (ini.linetype == INI_LINE_SECTION) {
            start = static_cast<std::uint16_t>(i + 1);
            break;
        }
    }
    KW_ini_goto(&ini, start);
    unsigned char found = 0;
    const std::uint32_t st = KW_ini_find(&ini, nullptr, u(key), &found);
    return st == 0 && found == 1 ? ini.linenum : 0;
}

std::vector<unsigned> types(KW_INI_STRUC &ini) {
    std::vector<unsigned> t;
    for (std::uint16_t i = 1; KW_ini_goto(&ini, i) == 0; ++i) {
        t.push_back(ini.linetype);
    }
    return t;
}

// One line in its context: the lines before it, the line, what it is.
struct LineCase {
    const char *what;
    std::vector<std::string> before;
    std::string line;
    unsigned type;
    const char *name;   // key lines: the name KW_ini_find takes; headers: the section name
    const char *value;  // key lines: KW_ini_value
};

std::string show(const std::string &s) {
    std::string out;
    for (char ch : s) {
        const auto c = static_cast<unsigned char>(ch);
        if (c >= 0x20 && c < 0x7F) {
            out += static_cast<char>(c);
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        }
    }
    return out;
}

const std::string kLong300(300, 'x');
const std::string kName300(300, 'k');

const std::vector<LineCase> kLineCases = {
    {"hash comment", {}, "# note\n", INI_LINE_COMMENT, nullptr, nullptr},
    {"semicolon comment", {}, "; note\n", INI_LINE_COMMENT, nullptr, nullptr},
    {"indented hash comment holding =", {}, "   # a=b\n", INI_LINE_COMMENT, nullptr, nullptr},
    {"tab-indented semicolon comment", {}, "\t; a=b\n", INI_LINE_COMMENT, nullptr, nullptr},
    {"empty LF", {}, "\n", INI_LINE_COMMENT, nullptr, nullptr},
    {"empty CR LF", {}, "\r\n", INI_LINE_COMMENT, nullptr, nullptr},
    {"blanks and CR LF", {}, " \t \r\n", INI_LINE_COMMENT, nullptr, nullptr},
    {"blanks without line end", {}, "   ", INI_LINE_COMMENT, nullptr, nullptr},
    {"zero-length line", {}, "", INI_LINE_COMMENT, nullptr, nullptr},
    {"words without =", {}, "just words\n", INI_LINE_COMMENT, nullptr, nullptr},
    {"lone CR", {}, "\r", INI_LINE_COMMENT, nullptr, nullptr},
    {"bracket without its close holding =", {}, "[a=b\n", INI_LINE_COMMENT, nullptr, nullptr},
    {"angle without its close holding =", {}, "<a=b\n", INI_LINE_COMMENT, nullptr, nullptr},
    {"header", {}, "[Unit]\n", INI_LINE_SECTION, "unit", nullptr},
    {"indented header", {}, "  [Net]\r\n", INI_LINE_SECTION, "NET", nullptr},
    {"header name keeps its inner blanks", {}, "[ Net ]\n", INI_LINE_SECTION, " net ", nullptr},
    {"quoted header name", {}, "[remote \"origin\"]\n", INI_LINE_SECTION, "REMOTE \"ORIGIN\"", nullptr},
    {"angle header", {}, "<Main>\n", INI_LINE_SECTION, "main", nullptr},
    {"header with trailing text", {}, "[a] b = c\n", INI_LINE_SECTION, "a", nullptr},
    {"key", {}, "Key=Value\n", INI_LINE_KEY, "key", "Value"},
    {"blanks around both", {}, "Key = Value \r\n", INI_LINE_KEY, "KEY", "Value"},
    {"tabs around both", {}, "\tkey\t=\tvalue\t\n", INI_LINE_KEY, "key", "value"},
    {"inner blanks stay", {}, "  two words  =  a  b  \n", INI_LINE_KEY, "two words", "a  b"},
    {"empty value", {}, "key=\n", INI_LINE_KEY, "key", ""},
    {"blank value with CR LF", {}, "key =  \t\r\n", INI_LINE_KEY, "key", ""},
    {"second = is value", {}, "a = b=c\n", INI_LINE_KEY, "a", "b=c"},
    {"empty name", {}, " =value\n", INI_LINE_KEY, "", "value"},
    {"last line without line end", {}, "key = v", INI_LINE_KEY, "key", "v"},
    {"lone CR is not a line end", {}, "key = v\r", INI_LINE_KEY, "key", "v\r"},
    {"CR inside the value stays", {}, "key = a\rb\r\n", INI_LINE_KEY, "key", "a\rb"},
    {"value of 300 bytes", {}, "k = " + kLong300 + "\n", INI_LINE_KEY, "k", kLong300.c_str()},
    {"name of 300 bytes", {}, kName300 + " = v\n", INI_LINE_KEY, kName300.c_str(), "v"},
    {"mark before header on line 1", {}, "\xEF\xBB\xBF[s]\n", INI_LINE_SECTION, "s", nullptr},
    {"mark before key on line 1", {}, "\xEF\xBB\xBF key = 1\n", INI_LINE_KEY, "key", "1"},
    {"mark before comment on line 1", {}, "\xEF\xBB\xBF# c=d\n", INI_LINE_COMMENT, nullptr, nullptr},
    {"mark on line 2 is text", {"[s]\n"}, "\xEF\xBB\xBFkey=1\n", INI_LINE_KEY, "\xEF\xBB\xBFkey", "1"},
    {"deeper than the key above: continuation", {"[s]\n", "key=a\n"}, "  more=x\n", INI_LINE_COMMENT, nullptr,
     nullptr},
    {"continuation header-looking", {"[s]\n", "key=a\n"}, "   [t]\n", INI_LINE_COMMENT, nullptr, nullptr},
    {"continuation past a comment and an empty line", {"key=a\n", "# c\n", "\n"}, "\tdeeper=1\n",
     INI_LINE_COMMENT, nullptr, nullptr},
    {"continuation past a kept line", {"key=a\n", "  cont\n"}, "  c2=1\n", INI_LINE_COMMENT, nullptr, nullptr},
    {"same indent as the key above", {"[s]\n", "  a=1\n"}, "  b=2\n", INI_LINE_KEY, "b", "2"},
    {"less indented than the key above", {"[s]\n", "    a=1\n"}, "  b=2\n", INI_LINE_KEY, "b", "2"},
    {"indented after a header", {"[s]\n"}, "    a=1\n", INI_LINE_KEY, "a", "1"},
    {"deeper tab after a tab key", {"[s]\n", "\ta=1\n"}, "\t\tb=2\n", INI_LINE_COMMENT, nullptr, nullptr},
    {"a header ends the reach", {"a=1\n", "[s]\n"}, "   b=2\n", INI_LINE_KEY, "b", "2"},
};

class LineClass : public ::testing::TestWithParam<LineCase> {};

TEST_P(LineClass, TypeNameAndValue) {
    const LineCase &c = GetParam();
    std::vector<unsigned char> bytes;
    for (const auto &l : c.before) {
        bytes.insert(bytes.end(), l.begin(), l.end());
        bytes.push_back(0);
    }
    bytes.insert(bytes.end(), c.line.begin(), c.line.end());
    bytes.push_back(0);
    const auto n = static_cast<std::uint16_t>(c.before.size() + 1);
    KW_INI_STRUC ini = fresh_record();
    ini.pBuf = bytes.data();
    ini.bufsize = ini.usesize = static_cast<std::uint16_t>(bytes.size());
    ASSERT_EQ(KW_ini_open(&ini, nullptr, kReadWrite, KW_INI_8BIT), 0u) << show(c.line);
    ASSERT_EQ(KW_ini_goto(&ini, n), 0u);
    EXPECT_EQ(ini.linetype, c.type) << show(c.line);
    if (c.type == INI_LINE_KEY) {
        EXPECT_EQ(value_of(ini), c.value) << show(c.line);
        const unsigned char *v = nullptr;
        ASSERT_EQ(KW_ini_value(&ini, &v, nullptr), 0u);
        EXPECT_EQ(v, ini.pValue) << "pValue is where the value starts";
        EXPECT_EQ(find_in_section(ini, n, c.name), n) << "find " << show(c.name);
    } else if (c.type == INI_LINE_SECTION) {
        EXPECT_EQ(find_line(ini, c.name, nullptr), n) << "find [" << show(c.name) << "]";
        EXPECT_EQ(value_of(ini), "<status 28>");
    } else {
        EXPECT_EQ(value_of(ini), "<status 28>");
        // Neither a key nor a header: no search lands on it.
        EXPECT_NE(find_in_section(ini, n, "*"), n);
        EXPECT_NE(find_line(ini, "*", nullptr), n);
    }
    EXPECT_EQ(KW_ini_close(&ini), 0u);
}

INSTANTIATE_TEST_SUITE_P(Common, LineClass, ::testing::ValuesIn(kLineCases),
                         [](const ::testing::TestParamInfo<LineCase> &param) {
                             std::string name;
                             for (char ch : std::string(param.param.what)) {
                                 name += std::isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
                             }
                             return name;
                         });

// The mode word: KW_INI_COMMON beside 1 or 2, nothing else.
TEST(CommonMode, OnlyTheDialectBitBesideOneOrTwo) {
    struct Case {
        std::int32_t mode;
        std::uint32_t status;
    };
    const Case cases[] = {
        {KW_INI_READ | KW_INI_COMMON, 0},  {KW_INI_READWRITE | KW_INI_COMMON, 0},
        {KW_INI_COMMON, INI_ERR_MODE},     {3 | KW_INI_COMMON, INI_ERR_MODE},
        {0x200 | KW_INI_READ, INI_ERR_MODE}, {KW_INI_COMMON | 0x200 | KW_INI_READ, INI_ERR_MODE},
        {-1, INI_ERR_MODE},                {0x101 | 0x10000, INI_ERR_MODE},
    };
    for (const Case &c : cases) {
        CallerText t({"  key = v\n"});
        KW_INI_STRUC ini = fresh_record();
        EXPECT_EQ(t.open(ini, c.mode), c.status) << std::hex << c.mode;
        if (c.status == 0) {
            EXPECT_EQ(ini.linetype, INI_LINE_KEY);
            EXPECT_EQ(KW_ini_close(&ini), 0u);
        } else {
            EXPECT_EQ(KW_ini_next(&ini), INI_ERR_HANDLE);
        }
    }
}

TEST(CommonMode, ClassicDialectStaysTheDefault) {
    CallerText t({"[s]\n", "  key = v\n"});
    KW_INI_STRUC ini = fresh_record();
    EXPECT_EQ(t.open(ini, KW_INI_READWRITE), INI_ERR_LEADING_SPACE);
    CallerText c({"[s]\n", "key = v \n"});
    ASSERT_EQ(c.open(ini, KW_INI_READWRITE), 0u);
    ASSERT_EQ(KW_ini_goto(&ini, 2), 0u);
    EXPECT_EQ(kwtest::text(ini.pValue), " v \n");
    EXPECT_EQ(value_of(ini), " v ") << "classic: only the line end is left out";
    EXPECT_EQ(find_line(ini, "s", "key"), 0u) << "classic names are not trimmed";
    EXPECT_EQ(find_line(ini, "s", "key "), 2u);
    KW_ini_close(&ini);
}

TEST(CommonValue, StatusesAndNullOutputs) {
    KW_INI_STRUC ini = fresh_record();
    const unsigned char *v = u("untouched");
    std::uint16_t len = 77;
    EXPECT_EQ(KW_ini_value(&ini, &v, &len), INI_ERR_HANDLE);
    CallerText t({"[s]\n", "k = v \n"});
    ASSERT_EQ(t.open(ini, kReadWrite), 0u);
    EXPECT_EQ(KW_ini_value(&ini, &v, &len), INI_ERR_NOT_KEY);
    KW_ini_next(&ini);
    KW_ini_next(&ini);
    EXPECT_EQ(ini.linetype, INI_LINE_NONE);
    EXPECT_EQ(KW_ini_value(&ini, &v, &len), INI_ERR_LINE);
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(v)), "untouched");
    EXPECT_EQ(len, 77);
    KW_ini_goto(&ini, 2);
    EXPECT_EQ(KW_ini_value(&ini, nullptr, nullptr), 0u);
    EXPECT_EQ(KW_ini_value(&ini, nullptr, &len), 0u);
    EXPECT_EQ(len, 1);
    EXPECT_EQ(KW_ini_value(&ini, &v, nullptr), 0u);
    EXPECT_EQ(*v, 'v');
    KW_ini_close(&ini);
    EXPECT_EQ(KW_ini_value(&ini, &v, &len), INI_ERR_HANDLE);
}

// Tokens stop where the value ends and lose the blanks around them.
TEST(CommonTokenize, TrimsEveryTokenAndStopsAtTheValueEnd) {
    struct Case {
        const char *line;
        std::vector<std::string> tokens;
    };
    const Case cases[] = {
        {"k = a , b ,, c \r\n", {"a", "b", "", "c"}},
        {"k=a,b\n", {"a", "b"}},
        {"k =\t\r\n", {""}},
        {"k = , \n", {"", ""}},
        {"k = one two , x\ty \n", {"one two", "x\ty"}},
        {"k = v", {"v"}},
    };
    for (const Case &c : cases) {
        CallerText t({c.line});
        KW_INI_STRUC ini = fresh_record();
        ASSERT_EQ(t.open(ini, kRead), 0u);
        unsigned char out[64];
        std::memset(out, 0xEE, sizeof out);
        std::uint16_t count = 0;
        std::uint16_t units = 0;
        ASSERT_EQ(KW_ini_tokenize(&ini, out, 0, &count, &units), 0u);
        std::vector<std::string> got;
        std::size_t at = 0;
        for (std::uint16_t i = 0; i < count; ++i) {
            got.emplace_back(reinterpret_cast<const char *>(out + at));
            at += got.back().size() + 1;
        }
        EXPECT_EQ(got, c.tokens) << show(c.line);
        EXPECT_EQ(units, at) << show(c.line);
        EXPECT_EQ(out[at], 0xEE) << "nothing written past the last token";
        KW_ini_close(&ini);
    }
}

TEST(CommonTokenize, SixteenBitUnitsTrimToo) {
    CallerText t({"k = a , b \r\n"});
    KW_INI_STRUC ini = fresh_record();
    ASSERT_EQ(t.open(ini, kRead), 0u);
    unsigned char out[32];
    std::uint16_t count = 0;
    std::uint16_t units = 0;
    ASSERT_EQ(KW_ini_tokenize(&ini, out, 1, &count, &units), 0u);
    EXPECT_EQ(count, 2);
    EXPECT_EQ(units, 4);
    const unsigned char want[] = {'a', 0, 0, 0, 'b', 0, 0, 0};
    EXPECT_EQ(std::memcmp(out, want, sizeof want), 0);
    KW_ini_close(&ini);
}

// Files shaped like the ones real programs write.
struct FileCase {
    const char *what;
    std::string bytes;
    unsigned lines_mode1;  // lines kept by mode 1
    std::vector<std::vector<const char *>> lookups;  // section, key, value
};

const std::vector<FileCase> kFiles = {
    {"systemd unit",
     "# /lib/systemd/system/demo.service\n"
     "[Unit]\n"
     "Description=Demo daemon\n"
     "After=network.target\n"
     "\n"
     "[Service]\n"
     "Type=notify\n"
     "ExecStart=/usr/sbin/demo --foreground -c /etc/demo.conf\n"
     "Environment=\"A=1\" \"B=2\"\n"
     "\n"
     "[Install]\n"
     "WantedBy=multi-user.target\n",
     9,
     {{"unit", "description", "Demo daemon"},
      {"Service", "ExecStart", "/usr/sbin/demo --foreground -c /etc/demo.conf"},
      {"service", "environment", "\"A=1\" \"B=2\""},
      {"install", "wantedby", "multi-user.target"}}},
    {"desktop entry",
     "[Desktop Entry]\n"
     "Type=Application\n"
     "Name=Text Editor\n"
     "Name[de]=Texteditor\n"
     "Exec=editor %U\n"
     "Categories=Utility;TextEditor;\n"
     "# Translators: do not translate\n"
     "Keywords=text;edit;\n",
     7,
     {{"desktop entry", "name[de]", "Texteditor"}, {"Desktop Entry", "Categories", "Utility;TextEditor;"},
      {"desktop entry", "keywords", "text;edit;"}}},
    {"git config",
     "[core]\n"
     "\trepositoryformatversion = 0\n"
     "\tfilemode = true\n"
     "\tbare = false\n"
     "[remote \"origin\"]\n"
     "\turl = https://example.org/demo.git\n"
     "\tfetch = +refs/heads/*:refs/remotes/origin/*\n"
     "[branch \"main\"]\n"
     "\tremote = origin\n"
     "\tmerge = refs/heads/main\n",
     10,
     {{"core", "bare", "false"},
      {"remote \"origin\"", "url", "https://example.org/demo.git"},
      {"remote \"origin\"", "fetch", "+refs/heads/*:refs/remotes/origin/*"},
      {"branch \"main\"", "merge", "refs/heads/main"}}},
    {"Windows file with CR LF",
     "; written on Windows\r\n"
     "[Settings]\r\n"
     "Path=C:\\Program Files\\Demo\r\n"
     "\r\n"
     "Size = 1024 \r\n"
     "[Empty]\r\n",
     4,
     {{"settings", "path", "C:\\Program Files\\Demo"}, {"settings", "size", "1024"}}},
    {"byte-order mark",
     "\xEF\xBB\xBF[Main]\n"
     "Name=Caf\xC3\xA9\n",
     2,
     {{"main", "name", "Caf\xC3\xA9"}}},
    {"400-byte comment with a key in its tail",
     "[s]\n"
     "# " + std::string(300, '-') + " key = tail of a comment " + std::string(60, '-') + "\n"
     "key = real\n",
     2,
     {{"s", "key", "real"}}},
    {"400-byte value",
     "[s]\n"
     "long = " + std::string(400, 'v') + "\n"
     "after = 1\n",
     3,
     {{"s", "long", nullptr}, {"s", "after", "1"}}},
    {"key = value file with indented keys and a continuation",
     "[db]\n"
     "    host = localhost\n"
     "    port = 5432\n"
     "    options = a\n"
     "        b\n"
     "name=prod\n",
     6,
     {{"db", "host", "localhost"}, {"db", "port", "5432"}, {"db", "options", "a"}, {"db", "name", "prod"}}},
};

class CommonFiles : public ::testing::TestWithParam<FileCase> {};

TEST_P(CommonFiles, ReadInBothModesAndWrittenBackByteForByte) {
    const FileCase &c = GetParam();
    kwtest::TempDir dir;
    const std::string path = dir.write("real.ini", c.bytes);
    for (std::int32_t mode : {kRead, kReadWrite}) {
        KW_INI_STRUC ini = fresh_record();
        ASSERT_EQ(KW_ini_open(&ini, path.c_str(), mode, KW_INI_8BIT), 0u) << c.what;
        if (mode == kRead) {
            EXPECT_EQ(types(ini).size(), c.lines_mode1) << c.what;
        }
        for (const auto &l : c.lookups) {
            EXPECT_NE(find_line(ini, l[0], l[1]), 0u) << c.what << ": " << l[0] << "/" << l[1];
            if (l[2] != nullptr) {
                EXPECT_EQ(value_of(ini), l[2]) << c.what << ": " << l[1];
            } else {
                EXPECT_EQ(value_of(ini), std::string(400, 'v'));
            }
        }
        if (mode == kReadWrite) {
            ASSERT_EQ(KW_ini_write(&ini), 0u);
            EXPECT_EQ(kwtest::read_file(path), written_back(c.bytes)) << c.what;
        }
        EXPECT_EQ(KW_ini_close(&ini), 0u);
    }
}

INSTANTIATE_TEST_SUITE_P(Shapes, CommonFiles, ::testing::ValuesIn(kFiles),
                         [](const ::testing::TestParamInfo<FileCase> &param) {
                             std::string name;
                             for (char ch : std::string(param.param.what)) {
                                 name += std::isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
                             }
                             return name;
                         });

// The long comment of the issue: its tail is no key, so nothing can find,
// change or delete it in place of the real one.
TEST(CommonLongLines, ACommentIsOneLineHoweverLong) {
    kwtest::TempDir dir;
    const std::string comment = "; " + std::string(260, '=') + "key=from the comment\n";
    const std::string path = dir.write("a.ini", "[s]\n" + comment + "key=real\n");
    KW_INI_STRUC ini = fresh_record();
    ASSERT_EQ(KW_ini_open(&ini, path.c_str(), kReadWrite, KW_INI_8BIT), 0u);
    EXPECT_EQ(types(ini), (std::vector<unsigned>{INI_LINE_SECTION, INI_LINE_COMMENT, INI_LINE_KEY}));
    ASSERT_EQ(find_line(ini, "s", "key"), 3u);
    ASSERT_EQ(KW_ini_replace(&ini, u("key=changed\n")), 0u);
    ASSERT_EQ(KW_ini_write(&ini), 0u);
    EXPECT_EQ(kwtest::read_file(path), written_back("[s]\n" + comment + "key=changed\n"));
    KW_ini_close(&ini);
    // Read only: the comment goes, whole.
    ASSERT_EQ(KW_ini_open(&ini, path.c_str(), kRead, KW_INI_8BIT), 0u);
    EXPECT_EQ(types(ini), (std::vector<unsigned>{INI_LINE_SECTION, INI_LINE_KEY}));
    KW_ini_close(&ini);
}

TEST(CommonLongLines, LineLengthsAroundTheReadBuffer) {
    for (std::size_t n : {253u, 254u, 255u, 256u, 257u, 510u, 511u, 512u, 5000u}) {
        kwtest::TempDir dir;
        const std::string value(n, 'v');
        const std::string bytes = "[s]\nk=" + value + "\nz=" + value;  // the last without a line end
        const std::string path = dir.write("a.ini", bytes);
        for (std::int32_t mode : {kRead, kReadWrite}) {
            KW_INI_STRUC ini = fresh_record();
            ASSERT_EQ(KW_ini_open(&ini, path.c_str(), mode, KW_INI_8BIT), 0u) << n;
            EXPECT_EQ(types(ini).size(), 3u) << n;
            ASSERT_EQ(find_line(ini, "s", "k"), 2u) << n;
            EXPECT_EQ(value_of(ini), value);
            ASSERT_EQ(find_line(ini, "s", "z"), 3u) << n;
            EXPECT_EQ(value_of(ini), value);
            if (mode == kReadWrite) {
                ASSERT_EQ(KW_ini_write(&ini), 0u);
                EXPECT_EQ(kwtest::read_file(path), written_back(bytes)) << n;
            }
            KW_ini_close(&ini);
        }
    }
}

TEST(CommonLongLines, ZeroByteEndsTheStoredLineAndTheRestIsLost) {
    kwtest::TempDir dir;
    std::string bytes = "[s]\nk=" + std::string(300, 'a');
    bytes += '\0';
    bytes += std::string(300, 'b') + "=x\nnext=1\n";
    const std::string path = dir.write("z.ini", bytes);
    KW_INI_STRUC ini = fresh_record();
    ASSERT_EQ(KW_ini_open(&ini, path.c_str(), kRead, KW_INI_8BIT), 0u);
    EXPECT_EQ(types(ini), (std::vector<unsigned>{INI_LINE_SECTION, INI_LINE_KEY, INI_LINE_KEY}));
    ASSERT_EQ(find_line(ini, "s", "k"), 2u);
    EXPECT_EQ(value_of(ini), std::string(300, 'a'));
    EXPECT_EQ(find_line(ini, "s", "next"), 3u);
    KW_ini_close(&ini);
}

TEST(CommonLimits, TextAndLineLimitsStay) {
    kwtest::TempDir dir;
    // One line of 57,343 bytes with its zero fills the largest buffer.
    const std::string fits = "k=" + std::string(KW_INI_MAX_TEXT - 4, 'x') + "\n";
    ASSERT_EQ(fits.size() + 1, KW_INI_MAX_TEXT);
    KW_INI_STRUC ini = fresh_record();
    ASSERT_EQ(KW_ini_open(&ini, dir.write("fits.ini", fits).c_str(), kReadWrite, KW_INI_8BIT), 0u);
    const unsigned char *v = nullptr;
    std::uint16_t len = 0;
    ASSERT_EQ(KW_ini_value(&ini, &v, &len), 0u);
    EXPECT_EQ(len, KW_INI_MAX_TEXT - 4);
    KW_ini_close(&ini);
    EXPECT_EQ(KW_ini_open(&ini, dir.write("big.ini", "x" + fits).c_str(), kReadWrite, KW_INI_8BIT),
              INI_ERR_TEXT_FULL);
    std::string many;
    for (unsigned i = 0; i <= KW_INI_MAX_LINES; ++i) {
        many += "k=1\n";
    }
    EXPECT_EQ(KW_ini_open(&ini, dir.write("many.ini", many).c_str(), kReadWrite, KW_INI_8BIT), INI_ERR_TEXT_FULL);
    many.resize(many.size() - 4);
    ASSERT_EQ(KW_ini_open(&ini, dir.write("enough.ini", many).c_str(), kReadWrite, KW_INI_8BIT), 0u);
    KW_ini_close(&ini);
    // Dropped lines do not count in mode 1, however long.
    const std::string comments = "#" + std::string(70000, 'c') + "\n\n   \r\n[s]\nk=v\n";
    ASSERT_EQ(KW_ini_open(&ini, dir.write("c.ini", comments).c_str(), kRead, KW_INI_8BIT), 0u);
    EXPECT_EQ(types(ini), (std::vector<unsigned>{INI_LINE_SECTION, INI_LINE_KEY}));
    KW_ini_close(&ini);
}

TEST(CommonAlloc, EveryFailingRequestGivesItsStatusAndLeavesNothing) {
    kwtest::TempDir dir;
    const std::string path = dir.write("a.ini", "# c\n[s]\nk=" + std::string(20000, 'v') + "\n");
    for (long n = 0;; ++n) {
        kwtest::Ledger::reset(n, 9);
        KW_INI_STRUC ini = fresh_record();
        kwtest::use_ledger(ini);
        const std::uint32_t st = KW_ini_open(&ini, path.c_str(), kReadWrite, KW_INI_8BIT);
        if (st == 0) {
            EXPECT_EQ(KW_ini_close(&ini), 0u);
            EXPECT_TRUE(kwtest::Ledger::get().live.empty());
            EXPECT_GE(n, 3) << "table, first buffer and two growths";
            break;
        }
        EXPECT_EQ(st, 9u) << n;
        EXPECT_TRUE(kwtest::Ledger::get().live.empty()) << n;
        EXPECT_FALSE(kwtest::Ledger::get().bad_release) << n;
    }
    kwtest::Ledger::reset();
}

// Edits: the new line is checked by the same rules, any length, and the lines
// after it read as a fresh open would read them.
std::vector<unsigned> reopened_types(KW_INI_STRUC &ini) {
    std::vector<unsigned char> bytes;
    for (std::uint16_t i = 1; KW_ini_goto(&ini, i) == 0; ++i) {
        const std::size_t n = std::strlen(reinterpret_cast<const char *>(ini.pLine));
        bytes.insert(bytes.end(), ini.pLine, ini.pLine + n + 1);
    }
    KW_INI_STRUC again = fresh_record();
    again.pBuf = bytes.data();
    again.bufsize = again.usesize = static_cast<std::uint16_t>(bytes.size());
    if (KW_ini_open(&again, nullptr, kReadWrite, KW_INI_8BIT) != 0) {
        return {};
    }
    std::vector<unsigned> t = types(again);
    KW_ini_close(&again);
    return t;
}

TEST(CommonEdit, LinesAfterAnEditAreClassifiedAsAFreshOpenWould) {
    using T = std::vector<unsigned>;
    constexpr unsigned C = INI_LINE_COMMENT, S = INI_LINE_SECTION, K = INI_LINE_KEY;
    CallerText t({"[s]\n", "  b=2\n", "    c=3\n", "  d=4\n", "[t]\n", "  e=5\n"}, 4096);
    KW_INI_STRUC ini = fresh_record();
    ASSERT_EQ(t.open(ini, kReadWrite), 0u);
    EXPECT_EQ(types(ini), (T{S, K, C, K, S, K}));
    // A key above them at the left margin makes the indented lines its continuation.
    ASSERT_EQ(KW_ini_goto(&ini, 2), 0u);
    ASSERT_EQ(KW_ini_insert(&ini, u("a=1\n"), 0), 0u);
    EXPECT_EQ(types(ini), (T{S, K, C, C, C, S, K}));
    EXPECT_EQ(find_line(ini, "s", "b"), 0u);
    EXPECT_EQ(types(ini), reopened_types(ini));
    // Gone again: they are keys again.
    ASSERT_EQ(KW_ini_goto(&ini, 2), 0u);
    ASSERT_EQ(KW_ini_delete(&ini), 0u);
    EXPECT_EQ(types(ini), (T{S, K, C, K, S, K}));
    EXPECT_EQ(find_line(ini, "s", "d"), 4u);
    // Replacing the key by a comment frees its continuation.
    ASSERT_EQ(KW_ini_goto(&ini, 2), 0u);
    ASSERT_EQ(KW_ini_replace(&ini, u("# b was here\n")), 0u);
    EXPECT_EQ(types(ini), (T{S, C, K, K, S, K}));
    EXPECT_EQ(find_line(ini, "s", "c"), 3u);
    EXPECT_EQ(value_of(ini), "3");
    EXPECT_EQ(types(ini), reopened_types(ini));
    // A header that lands inside a key's reach is a continuation too.
    ASSERT_EQ(KW_ini_goto(&ini, 4), 0u);
    ASSERT_EQ(KW_ini_insert(&ini, u("      [u]\n"), 1), 0u);
    EXPECT_EQ(ini.linetype, INI_LINE_COMMENT);
    EXPECT_EQ(types(ini), reopened_types(ini));
    KW_ini_close(&ini);
}

TEST(CommonEdit, NewLinesAreNeverRefusedAndMayBeLong) {
    CallerText t({"[s]\n", "k=1\n"}, 64);
    KW_INI_STRUC ini = fresh_record();
    ASSERT_EQ(t.open(ini, kReadWrite), 0u);
    ASSERT_EQ(KW_ini_goto(&ini, 1), 0u);
    struct Case {
        std::string line;
        unsigned type;
    };
    // Each one goes after the one before.
    const Case cases[] = {
        {"\t[t]\n", INI_LINE_SECTION},    {"  indented = yes\n", INI_LINE_KEY},
        {"words only\n", INI_LINE_COMMENT}, {"", INI_LINE_COMMENT},
        {"[a=b\n", INI_LINE_COMMENT},       {"# note\n", INI_LINE_COMMENT},
        {"    deeper = no key\n", INI_LINE_COMMENT},
        {"long = " + std::string(3000, 'L') + "\n", INI_LINE_KEY},
    };
    for (const Case &c : cases) {
        ASSERT_EQ(KW_ini_insert(&ini, u(c.line.c_str()), 1), 0u) << show(c.line);
        EXPECT_EQ(ini.linetype, c.type) << show(c.line);
        EXPECT_EQ(kwtest::text(ini.pLine), c.line);
    }
    EXPECT_EQ(find_line(ini, "t", "indented"), 3u);
    ASSERT_EQ(find_line(ini, "t", "long"), 9u);
    EXPECT_EQ(value_of(ini), std::string(3000, 'L'));
    // Its own text as the new line: the copy is taken before anything moves.
    const std::string before = kwtest::text(ini.pLine);
    ASSERT_EQ(KW_ini_replace(&ini, ini.pLine), 0u);
    EXPECT_EQ(kwtest::text(ini.pLine), before);
    ASSERT_EQ(KW_ini_insert(&ini, ini.pLine, 0), 0u);
    EXPECT_EQ(kwtest::text(ini.pLine), before);
    // Past the text limit: 30, nothing changed.
    const std::string huge = "h=" + std::string(KW_INI_MAX_TEXT, 'h');
    const std::uint16_t line = ini.linenum;
    EXPECT_EQ(KW_ini_insert(&ini, u(huge.c_str()), 0), INI_ERR_TEXT_FULL);
    EXPECT_EQ(KW_ini_replace(&ini, u(huge.c_str())), INI_ERR_TEXT_FULL);
    EXPECT_EQ(ini.linenum, line);
    EXPECT_EQ(kwtest::text(ini.pLine), before);
    KW_ini_close(&ini);
}

TEST(CommonEdit, AMarkCountsOnlyAtTheStartOfTheText) {
    CallerText t({"\xEF\xBB\xBF[s]\n", "k=1\n"}, 64);
    KW_INI_STRUC ini = fresh_record();
    ASSERT_EQ(t.open(ini, kReadWrite), 0u);
    EXPECT_EQ(find_line(ini, "s", "k"), 2u);
    ASSERT_EQ(KW_ini_goto(&ini, 1), 0u);
    ASSERT_EQ(KW_ini_insert(&ini, u("# first\n"), 0), 0u);
    EXPECT_EQ(types(ini), (std::vector<unsigned>{INI_LINE_COMMENT, INI_LINE_COMMENT, INI_LINE_KEY}));
    EXPECT_EQ(types(ini), reopened_types(ini));
    ASSERT_EQ(KW_ini_goto(&ini, 1), 0u);
    ASSERT_EQ(KW_ini_delete(&ini), 0u);
    EXPECT_EQ(find_line(ini, "s", "k"), 2u);
    KW_ini_close(&ini);
}

// A long line taken from the text itself is moved into place without a
// block of its own: the only requests are the text's growths.
TEST(CommonAlloc, ALongLineFromTheTextAsksForNoBlockOfItsOwn) {
    const std::string long_line = "k = " + std::string(400, 'a') + "\n";
    const std::string tail = std::string(400, 'a') + "\n";
    CallerText t({"[s]\n", long_line, "z=1\n"}, 16);
    kwtest::Ledger::reset();
    KW_INI_STRUC ini = fresh_record();
    kwtest::use_ledger(ini);
    ASSERT_EQ(t.open(ini, kReadWrite), 0u);
    const std::size_t first = kwtest::Ledger::get().requests.size();
    ASSERT_EQ(KW_ini_goto(&ini, 2), 0u);
    // Inserted before and after itself, from a caller's buffer that must
    // grow into a block of the engine's.
    ASSERT_EQ(KW_ini_insert(&ini, ini.pLine, 0), 0u);
    EXPECT_EQ(kwtest::text(ini.pLine), long_line);
    ASSERT_EQ(KW_ini_insert(&ini, ini.pLine, 1), 0u);
    EXPECT_EQ(kwtest::text(ini.pLine), long_line);
    // A line further on as the new text of an earlier one.
    ASSERT_EQ(KW_ini_goto(&ini, 2), 0u);
    const unsigned char *second = ini.pLine;
    ASSERT_EQ(KW_ini_goto(&ini, 1), 0u);
    ASSERT_EQ(KW_ini_replace(&ini, second), 0u);
    EXPECT_EQ(kwtest::text(ini.pLine), long_line);
    // Its own tail (the value) as the new line.
    ASSERT_EQ(KW_ini_goto(&ini, 3), 0u);
    ASSERT_EQ(KW_ini_replace(&ini, ini.pValue), 0u);
    EXPECT_EQ(kwtest::text(ini.pLine), tail);
    std::vector<std::string> lines;
    for (std::uint16_t n = 1; KW_ini_goto(&ini, n) == 0; ++n) {
        lines.push_back(kwtest::text(ini.pLine));
    }
    EXPECT_EQ(lines, (std::vector<std::string>{long_line, long_line, tail, long_line, "z=1\n"}));
    const auto &requests = kwtest::Ledger::get().requests;
    ASSERT_GT(requests.size(), first) << "the caller's buffer had to grow";
    EXPECT_EQ(requests[first], ini.bufsize + 8192u);
    for (std::size_t i = first + 1; i < requests.size(); ++i) {
        EXPECT_EQ(requests[i], requests[i - 1] + 8192) << "request " << i;
    }
    EXPECT_EQ(KW_ini_close(&ini), 0u);
    EXPECT_TRUE(kwtest::Ledger::get().live.empty());
    EXPECT_FALSE(kwtest::Ledger::get().bad_release);
    kwtest::Ledger::reset();
}

TEST(CommonAlloc, ALineNeedingSeveralGrowthStepsIsRefusedWholeWhenTheyCannotFit) {
    kwtest::TempDir dir;
    const std::string path = dir.write("a.ini", "[s]\nk=" + std::string(30000, 'x') + "\n");
    KW_INI_STRUC ini = fresh_record();
    ASSERT_EQ(KW_ini_open(&ini, path.c_str(), kReadWrite, KW_INI_8BIT), 0u);
    const std::string second = "k2=" + std::string(30000, 'y') + "\n";
    EXPECT_EQ(KW_ini_insert(&ini, u(second.c_str()), 0), INI_ERR_TEXT_FULL);
    EXPECT_EQ(types(ini).size(), 2u);
    const std::string fits = "k2=" + std::string(20000, 'y') + "\n";
    ASSERT_EQ(KW_ini_insert(&ini, u(fits.c_str()), 0), 0u);
    EXPECT_EQ(find_line(ini, "s", "k2"), 2u);
    EXPECT_EQ(value_of(ini), std::string(20000, 'y'));
    ASSERT_EQ(KW_ini_write(&ini), 0u);
    EXPECT_EQ(kwtest::read_file(path), written_back("[s]\n" + fits + "k=" + std::string(30000, 'x') + "\n"));
    KW_ini_close(&ini);
}

// Random edits from a vocabulary of the lines the continuation rule turns
// on: after every one the table must say what a fresh open of the same text
// says, and every key must still be found where it stands.
TEST(CommonEdit, RandomEditsAgreeWithAFreshOpen) {
    const std::vector<std::string> vocabulary = {
        "[s]\n", "  [t]\n", "a=1\n", "  b=2\n", "    c=3\n", "\td=4\n", "# c\n", "\n", "words\n",
        "\xEF\xBB\xBF" "e=5\n", "\xEF\xBB\xBF    g=6\n", "\xEF\xBB\xBF  [u]\n", "  \n", " h=7\n",
        "f = " + std::string(300, 'f') + "\n",
    };
    std::mt19937 rng(12345);
    auto pick = [&](std::size_t n) { return static_cast<std::size_t>(rng() % n); };
    for (int round = 0; round < 40; ++round) {
        CallerText t({"[s]\n", "a=1\n"}, 256);
        KW_INI_STRUC ini = fresh_record();
        ASSERT_EQ(t.open(ini, kReadWrite), 0u);
        for (int step = 0; step < 40; ++step) {
            const auto lines = static_cast<std::uint16_t>(types(ini).size());
            if (lines > 0) {
                ASSERT_EQ(KW_ini_goto(&ini, static_cast<std::uint16_t>(1 + pick(lines))), 0u);
            }
            const std::string &line = vocabulary[pick(vocabulary.size())];
            std::uint32_t st = 0;
            switch (lines == 0 ? 0 : pick(4)) {
            case 0:
                st = KW_ini_insert(&ini, u(line.c_str()), 0);
                break;
            case 1:
                st = KW_ini_insert(&ini, u(line.c_str()), 1);
                break;
            case 2:
                st = KW_ini_replace(&ini, u(line.c_str()));
                break;
            default:
                st = KW_ini_delete(&ini);
                break;
            }
            ASSERT_EQ(st, 0u) << "round " << round << " step " << step;
            const std::vector<unsigned> now = types(ini);
            ASSERT_EQ(now, reopened_types(ini)) << "round " << round << " step " << step;
            // Each key line is found from its section's header (or line 1).
            for (std::uint16_t i = 1; i <= now.size(); ++i) {
                if (now[i - 1] != INI_LINE_KEY) {
                    continue;
                }
                KW_ini_goto(&ini, i);
                std::string name(reinterpret_cast<const char *>(ini.pLine));
                name = name.substr(0, name.find('='));
                if (i == 1 && name.rfind("\xEF\xBB\xBF", 0) == 0) {
                    name.erase(0, 3);
                }
                name.erase(0, name.find_first_not_of(" \t"));
                name.erase(name.find_last_not_of(" \t") + 1);
                const unsigned found = find_in_section(ini, i, name.c_str());
                ASSERT_NE(found, 0u) << name;
                ASSERT_LE(found, i) << name;
            }
        }
        KW_ini_close(&ini);
    }
}

}  // namespace
