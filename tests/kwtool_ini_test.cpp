// kwtool ini, end to end on real files: reads answer with the engine's
// wildcard and case rules, edits rewrite the file through KW_ini_write and
// leave every byte outside the edited lines as it was.
#include <gtest/gtest.h>

#include <string>

#include "kwtool_test_util.h"

namespace {

using kwtest::run_kwtool;

const char kIni[] =
    "; settings\n"
    "[Database]\n"
    "Host=db.example.org\n"
    "Port=5432\n"
    "Replicas=alpha,beta,,gamma\n"
    "\n"
    "[Network]\n"
    "Timeout=30\n"
    "Retry = 3\n"
    "; trailing comment of Network\n"
    "\n"
    "<Logging>\n"
    "Level=info\n";

class KwtoolIni : public kwtest::KwtoolTest {
protected:
    kwtest::TempDir dir;
    std::string path = dir.write("app.ini", kIni);
    std::string text() const { return kwtest::slurp(path); }
};

TEST_F(KwtoolIni, GetFollowsTheEnginesPatternRules) {
    struct Case {
        const char *section, *key;
        int status;
        const char *out;
    } cases[] = {
        {"Database", "Port", 0, "5432\n"},
        {"database", "PORT", 0, "5432\n"},     // case-blind
        {"D*", "P?rt", 0, "5432\n"},            // wildcards in the patterns
        {"Network", "Retry*", 0, " 3\n"},       // the value as stored, not trimmed
        {"Network", "Retry", 1, ""},            // the key is "Retry ": not trimmed
        {"Logging", "Level", 0, "info\n"},      // <...> headers are sections too
        {"Database", "Replicas", 0, "alpha,beta,,gamma\n"},
        {"Nowhere", "Port", 1, ""},
        {"Network", "Port", 1, ""},             // only the first matching section
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.section) + "/" + c.key);
        const auto r = run_kwtool(dir, {"ini", "get", "app.ini", c.section, c.key});
        EXPECT_EQ(r.status, c.status) << r.err;
        EXPECT_EQ(r.out, c.out);
        if (c.status == 1) {
            EXPECT_NE(r.err.find("app.ini"), std::string::npos) << r.err;
            EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << "one line: " << r.err;
        }
    }
}

TEST_F(KwtoolIni, NotFoundMessagesSayWhatWasMissing) {
    auto r = run_kwtool(dir, {"ini", "get", "app.ini", "Nowhere", "Port"});
    EXPECT_EQ(r.err, "kwtool: app.ini: no section matching 'Nowhere'\n");
    r = run_kwtool(dir, {"ini", "get", "app.ini", "Network", "Port"});
    EXPECT_EQ(r.err, "kwtool: app.ini: no key matching 'Port' in section [Network] (line 7)\n");
}

TEST_F(KwtoolIni, TokensSplitAtEveryComma) {
    const auto r = run_kwtool(dir, {"ini", "tokens", "app.ini", "Database", "Replicas"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "alpha\nbeta\n\ngamma\n");
}

TEST_F(KwtoolIni, ListNumbersEveryLineWithItsType) {
    const auto r = run_kwtool(dir, {"ini", "list", "app.ini"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("    1  comment  ; settings\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("    2  section  [Database]\n"), std::string::npos);
    EXPECT_NE(r.out.find("    9  key      Retry = 3\n"), std::string::npos);
    EXPECT_NE(r.out.find("   12  section  <Logging>\n"), std::string::npos);
    EXPECT_NE(r.out.find("   13  key      Level=info\n"), std::string::npos);
}

// Each edit, then the whole file expected afterwards: every other byte stays.
TEST_F(KwtoolIni, EditsChangeOnlyTheirLines) {
    struct Case {
        std::vector<std::string> args;
        std::string from, to;  // the part of the file that changes
    } cases[] = {
        {{"set", "app.ini", "network", "TIMEOUT", "60"}, "Timeout=30\n", "Timeout=60\n"},  // the file's spelling kept
        {{"set", "app.ini", "Network", "Retry*", "5"}, "Retry = 3\n", "Retry =5\n"},
        {{"set", "app.ini", "Network", "Proxy", "none"}, "Retry = 3\n", "Retry = 3\nProxy=none\n"},
        {{"set", "app.ini", "Logging", "File", "x.log"}, "Level=info\n", "Level=info\nFile=x.log\n"},
        {{"set", "app.ini", "Cache", "Size", "64"}, "Level=info\n", "Level=info\n\n[Cache]\nSize=64\n"},
        {{"del", "app.ini", "Database", "Host"}, "Host=db.example.org\n", ""},
        {{"del", "app.ini", "Logging", "L*"}, "Level=info\n", ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.args[0] + " " + c.args[2] + " " + c.args[3]);
        dir.write("app.ini", kIni);
        std::vector<std::string> args{"ini"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const auto r = run_kwtool(dir, args);
        ASSERT_EQ(r.status, 0) << r.err;
        std::string expected = kIni;
        expected.replace(expected.find(c.from), c.from.size(), c.to);
        EXPECT_EQ(text(), kwtest::eol(expected)) << "written back in text mode: the platform's line ends";
        EXPECT_EQ(kwtest::listing(dir), std::vector<std::string>{"app.ini"}) << "no stray files";
    }
}

TEST_F(KwtoolIni, SetOnAFileWithoutFinalLineEndKeepsTheLastLineWhole) {
    dir.write("app.ini", "[A]\nx=1");
    auto r = run_kwtool(dir, {"ini", "set", "app.ini", "A", "y", "2"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(text(), kwtest::eol("[A]\nx=1\ny=2\n"));
    dir.write("app.ini", "");
    r = run_kwtool(dir, {"ini", "set", "app.ini", "New", "k", "v"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(text(), kwtest::eol("[New]\nk=v\n"));
}

// A file that already ends its lines with CR LF comes back with CR LF on
// every platform: kept as read on POSIX, made again by the text-mode write
// on Windows.
TEST_F(KwtoolIni, CrLfFilesKeepTheirLineEnds) {
    // No empty line: on POSIX a lone CR LF is no empty line to the engine.
    const std::string crlf = "[Network]\r\nTimeout=30\r\nRetry = 3\r\n[Logging]\r\nLevel=info\r\n";
    struct Case {
        std::vector<std::string> args;
        std::string from, to;
    } cases[] = {
        {{"set", "app.ini", "Network", "Timeout", "60"}, "Timeout=30\r\n", "Timeout=60\r\n"},
        {{"set", "app.ini", "Network", "Proxy", "none"}, "Retry = 3\r\n", "Retry = 3\r\nProxy=none\r\n"},
        {{"del", "app.ini", "Logging", "Level"}, "Level=info\r\n", ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.args[0] + " " + c.args[3]);
        dir.write("app.ini", crlf);
        std::vector<std::string> args{"ini"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const auto r = run_kwtool(dir, args);
        ASSERT_EQ(r.status, 0) << r.err;
        std::string expected = crlf;
        expected.replace(expected.find(c.from), c.from.size(), c.to);
        EXPECT_EQ(text(), expected);
    }
}

// Names travel through the command line: blanks and quotes must arrive
// whole, also on Windows, where the arguments are one string to split.
TEST_F(KwtoolIni, NamesAndValuesWithBlanksAndQuotes) {
    dir.write("my settings.ini", "[A]\n");
    const std::string value = "say \"hi\" \\\"there\\";
    auto r = run_kwtool(dir, {"ini", "set", "my settings.ini", "A", "greeting", value});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(kwtest::slurp(dir.file("my settings.ini")), kwtest::eol("[A]\ngreeting=" + value + "\n"));
    r = run_kwtool(dir, {"ini", "get", "my settings.ini", "A", "greeting"});
    EXPECT_EQ(r.out, value + "\n");
    r = run_kwtool(dir, {"ini", "set", "my settings.ini", "A", "empty", ""});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(run_kwtool(dir, {"ini", "get", "my settings.ini", "A", "empty"}).out, "\n");
}

TEST_F(KwtoolIni, DeleteOfAMissingKeyLeavesTheFileAlone) {
    const auto r = run_kwtool(dir, {"ini", "del", "app.ini", "Network", "Nope"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(text(), kIni);
}

TEST_F(KwtoolIni, RefusalsAreUsageErrorsAndChangeNothing) {
    const std::vector<std::vector<std::string>> cases = {
        {"ini", "set", "app.ini", "Network", "New*", "1"},    // a key cannot be made from a pattern
        {"ini", "set", "app.ini", "Sec?", "k", "1"},          // nor a section
        {"ini", "set", "app.ini", "Network", "a=b", "1"},     // the key would end at '='
        {"ini", "set", "app.ini", "Network", ";k", "1"},      // it would be a comment
        {"ini", "set", "app.ini", "Network", "k", std::string(300, 'v')},  // over 255 bytes
        {"ini", "get", "app.ini", "Network"},                 // missing argument
        {"ini", "frobnicate", "app.ini"},
    };
    for (const auto &args : cases) {
        SCOPED_TRACE(args[1] + " " + (args.size() > 4 ? args[4] : ""));
        const auto r = run_kwtool(dir, args);
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << "one line: " << r.err;
        EXPECT_EQ(text(), kIni);
    }
}

TEST_F(KwtoolIni, BadFilesNameTheFileAndTheLine) {
    dir.write("bad.ini", "[A]\nx=1\n y=2\n");
    auto r = run_kwtool(dir, {"ini", "get", "bad.ini", "A", "x"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "kwtool: bad.ini:3: a line begins with a space\n");
    dir.write("bad.ini", "[A]\n[B\n");
    r = run_kwtool(dir, {"ini", "list", "bad.ini"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err.rfind("kwtool: bad.ini:2: malformed line", 0), 0u) << r.err;
    r = run_kwtool(dir, {"ini", "get", "missing.ini", "A", "x"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "kwtool: missing.ini: cannot open or read the file\n");
}

// Read only: the permission bits on POSIX, the read-only attribute on
// Windows (which holds for every user, so the case never skips there).
TEST_F(KwtoolIni, ReadOnlyFilesCanStillBeRead) {
    namespace fs = std::filesystem;
    fs::permissions(path, fs::perms::owner_read, fs::perm_options::replace);
    // Writable again before the folder goes: Windows will not delete a
    // read-only file.
    struct restore {
        std::string p;
        ~restore() {
            std::error_code ec;
            fs::permissions(p, fs::perms::owner_read | fs::perms::owner_write, fs::perm_options::add, ec);
        }
    } const guard{path};
    if (kwtest::may_write(path)) {
        GTEST_SKIP() << "running with privileges that ignore file permissions";
    }
    const auto r = run_kwtool(dir, {"ini", "get", "app.ini", "Database", "Port"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "5432\n");
    const auto w = run_kwtool(dir, {"ini", "set", "app.ini", "Database", "Port", "1"});
    EXPECT_EQ(w.status, 2);
    EXPECT_EQ(text(), kIni);
}

}  // namespace
