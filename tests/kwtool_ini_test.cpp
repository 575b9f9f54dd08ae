// kwtool ini, end to end on real files: reads answer with the engine's
// wildcard and case rules in the dialect real files are written in (or the
// engine's own with --strict), edits rewrite the file through KW_ini_write
// and leave every byte outside the edited lines as it was, and every message
// names the file's own line.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#if !defined(_WIN32)
#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

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

const char kUnit[] =
    "[Unit]\n"
    "Description = Example service\n"
    "\n"
    "[Service]\n"
    "Type = simple\n"
    "ExecStart = /usr/bin/x\n"
    "\n"
    "[Install]\n"
    "WantedBy = multi-user.target\n";

// A comment whose 256th byte begins what looks like a key: the strict
// dialect reads bytes 256 on as a line of their own.
std::string long_comment_file() {
    return "[S]\n; " + std::string(253, 'x') + "Port=8080 (old)\nPort=80\n";
}

class KwtoolIni : public kwtest::KwtoolTest {
protected:
    kwtest::TempDir dir;
    std::string path = dir.write("app.ini", kIni);
    std::string text() const { return kwtest::slurp(path); }
    kwtest::run_result ini(std::vector<std::string> args, const std::string &in = std::string()) const {
        args.insert(args.begin(), "ini");
        return run_kwtool(dir, args, in);
    }
    // The file's bytes after a text-mode write of an LF text.
    static std::string written(const std::string &lf_text) { return kwtest::eol(lf_text); }
};

std::string replaced(std::string text, const std::string &from, const std::string &to) {
    const auto at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    if (at != std::string::npos) {
        text.replace(at, from.size(), to);
    }
    return text;
}

std::size_t count_of(const std::string &text, const std::string &what) {
    std::size_t n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
        ++n;
    }
    return n;
}

TEST_F(KwtoolIni, GetFollowsTheEnginesPatternRulesInBothDialects) {
    struct Case {
        const char *section, *key;
        bool strict;
        int status;
        const char *out;
    } cases[] = {
        {"Database", "Port", false, 0, "5432\n"},
        {"database", "PORT", false, 0, "5432\n"},        // case-blind
        {"D*", "P?rt", false, 0, "5432\n"},               // wildcards in the patterns
        {"Network", "Retry", false, 0, "3\n"},            // names and values trimmed
        {"Network", "Retry", true, 1, ""},                // strict: the key is "Retry "
        {"Network", "Retry*", true, 0, " 3\n"},           // strict: the value as stored
        {"Logging", "Level", false, 0, "info\n"},         // <...> headers are sections too
        {"Database", "Replicas", false, 0, "alpha,beta,,gamma\n"},
        {"Nowhere", "Port", false, 1, ""},
        {"Network", "Port", false, 1, ""},                // only the first matching section
        {"Database", "Port", true, 0, "5432\n"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.section) + "/" + c.key + (c.strict ? " --strict" : ""));
        std::vector<std::string> args{"get", "app.ini", c.section, c.key};
        if (c.strict) {
            args.push_back("--strict");
        }
        const auto r = ini(args);
        EXPECT_EQ(r.status, c.status) << r.err;
        EXPECT_EQ(r.out, c.out);
        if (c.status == 1) {
            EXPECT_NE(r.err.find("app.ini"), std::string::npos) << r.err;
            EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << "one line: " << r.err;
        } else {
            EXPECT_EQ(r.err, "");
        }
    }
}

// The files of real programs: every value without the blanks around it and
// without its line end.
TEST_F(KwtoolIni, RealFilesAnswerWithTheBareValue) {
    struct Case {
        const char *name, *file, *section, *key, *out;
    } cases[] = {
        {"unit", kUnit, "Service", "ExecStart", "/usr/bin/x\n"},
        {"key = value", "[a]\nname   =\tvalue with  inner blanks \t\n", "a", "name", "value with  inner blanks\n"},
        {"CR LF", "[Net]\r\nHost = example.org \r\n\r\nPort=8080\r\n", "Net", "Port", "8080\n"},
        {"CR LF blanks", "[Net]\r\nHost = example.org \r\n", "Net", "Host", "example.org\n"},
        {"git config", "[user]\n\tname = A. Person\n\temail = a@example.org\n[remote \"origin\"]\n\turl = x\n",
         "remote \"origin\"", "url", "x\n"},
        {"hash comments", "# generated\n[Desktop Entry]\n# Name=old\nName=Viewer\n", "Desktop Entry", "Name",
         "Viewer\n"},
        {"indented header", "  [A]\n  k = 1\n", "A", "k", "1\n"},
        {"empty value", "[A]\nk =   \n", "A", "k", "\n"},
        {"byte-order mark", "\xEF\xBB\xBFtop = 1\n[A]\n", "", "top", "1\n"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        dir.write("real.ini", c.file);
        const auto r = ini({"get", "real.ini", c.section, c.key});
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, c.out);
    }
}

TEST_F(KwtoolIni, GetReadsStandardInputForDash) {
    const auto r = ini({"get", "-", "Service", "ExecStart"}, kUnit);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "/usr/bin/x\n");
    const auto missing = ini({"get", "-", "Service", "User"}, kUnit);
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.err, "kwtool: stdin: no key matching 'User' in section [Service] (line 4)\n");
    const auto edit = ini({"set", "-", "Service", "User", "x"}, kUnit);
    EXPECT_EQ(edit.status, 2);
}

TEST_F(KwtoolIni, NotFoundMessagesSayWhatWasMissing) {
    auto r = ini({"get", "app.ini", "Nowhere", "Port"});
    EXPECT_EQ(r.err, "kwtool: app.ini: no section matching 'Nowhere'\n");
    r = ini({"get", "app.ini", "Network", "Port"});
    EXPECT_EQ(r.err, "kwtool: app.ini: no key matching 'Port' in section [Network] (line 7)\n");
    r = ini({"get", "app.ini", "", "Port"});
    EXPECT_EQ(r.err, "kwtool: app.ini: no key matching 'Port' before the first section header\n");
}

TEST_F(KwtoolIni, TokensSplitAtEveryComma) {
    auto r = ini({"tokens", "app.ini", "Database", "Replicas"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "alpha\nbeta\n\ngamma\n");
    dir.write("t.ini", "[A]\nlist = a , b,c \r\n");
    r = ini({"tokens", "t.ini", "A", "list"});
    EXPECT_EQ(r.out, "a\nb\nc\n") << "blanks around each token and the line end go";
    dir.write("t.ini", "[A]\nlist = a , b,c \n");
    r = ini({"tokens", "t.ini", "A", "list*", "--strict"});
    EXPECT_EQ(r.out, " a \n b\nc \n") << "strict: nothing trimmed";
}

TEST_F(KwtoolIni, ListNumbersEveryLineWithItsType) {
    const auto r = ini({"list", "app.ini"});
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
        {{"set", "app.ini", "Network", "Retry", "5"}, "Retry = 3\n", "Retry = 5\n"},       // and its blanks
        {{"set", "app.ini", "Network", "Retry*", "5", "--strict"}, "Retry = 3\n", "Retry =5\n"},
        {{"set", "app.ini", "Network", "Proxy", "none"}, "Retry = 3\n", "Retry = 3\nProxy = none\n"},  // its style
        {{"set", "app.ini", "Network", "Proxy", "none", "--strict"}, "Retry = 3\n", "Retry = 3\nProxy=none\n"},
        {{"set", "app.ini", "Logging", "File", "x.log"}, "Level=info\n", "Level=info\nFile=x.log\n"},
        {{"set", "app.ini", "Cache", "Size", "64"}, "Level=info\n", "Level=info\n\n[Cache]\nSize=64\n"},
        {{"set", "app.ini", "", "Owner", "me"}, "; settings\n", "; settings\nOwner=me\n"},  // above the header
        {{"del", "app.ini", "Database", "Host"}, "Host=db.example.org\n", ""},
        {{"del", "app.ini", "Logging", "L*"}, "Level=info\n", ""},
        {{"del", "app.ini", "Network"}, "[Network]\nTimeout=30\nRetry = 3\n; trailing comment of Network\n\n", ""},
        {{"del", "app.ini", "logging"}, "<Logging>\nLevel=info\n", ""},
        {{"del", "app.ini", ""}, "; settings\n", ""},  // what stands before the first header
    };
    for (const auto &c : cases) {
        std::string trace;
        for (const auto &a : c.args) {
            trace += a + " ";
        }
        SCOPED_TRACE(trace);
        dir.write("app.ini", kIni);
        const auto r = ini(c.args);
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(text(), written(replaced(kIni, c.from, c.to))) << "written back in text mode";
        EXPECT_EQ(kwtest::listing(dir), std::vector<std::string>{"app.ini"}) << "no stray files";
    }
}

// A unit file: set changes the value where it stands and never adds a
// second ExecStart line, which the service manager would refuse.
TEST_F(KwtoolIni, SetOnAUnitFileKeepsOneLinePerKey) {
    dir.write("x.service", kUnit);
    auto r = ini({"set", "x.service", "Service", "ExecStart", "/usr/bin/y --flag"});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string once = kwtest::slurp(dir.file("x.service"));
    EXPECT_EQ(once, written(replaced(kUnit, "ExecStart = /usr/bin/x", "ExecStart = /usr/bin/y --flag")));
    r = ini({"set", "x.service", "Service", "ExecStart", "/usr/bin/z"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(count_of(kwtest::slurp(dir.file("x.service")), "ExecStart"), 1u);
    r = ini({"set", "x.service", "Service", "User", "nobody"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(kwtest::slurp(dir.file("x.service")),
              written(replaced(kUnit, "ExecStart = /usr/bin/x\n", "ExecStart = /usr/bin/z\nUser = nobody\n")));
    EXPECT_EQ(ini({"get", "x.service", "Service", "User"}).out, "nobody\n");
}

// New key lines look like their neighbours: indentation and separator of
// the key line they follow, below the continuation lines that belong to it.
TEST_F(KwtoolIni, NewKeysFollowTheStyleOfTheSection) {
    struct Case {
        const char *name, *before;
        std::vector<std::string> args;  // after "set x.ini"
        const char *after;
    } cases[] = {
        {"git config", "[core]\n\tbare = false\n[user]\n\tname = A\n", {"core", "editor", "vi"},
         "[core]\n\tbare = false\n\teditor = vi\n[user]\n\tname = A\n"},
        {"tight", "[A]\nx=1\n\n[B]\n", {"A", "y", "2"}, "[A]\nx=1\ny=2\n\n[B]\n"},
        {"empty value", "[A]\nx = 1\n", {"A", "y", ""}, "[A]\nx = 1\ny =\n"},
        {"section without keys", "[A]\nx = 1\n[B]\n; none yet\n", {"B", "y", "2"},
         "[A]\nx = 1\n[B]\ny = 2\n; none yet\n"},
        {"continuation", "[A]\nx = 1\n    more of x\n[B]\n", {"A", "y", "2"},
         "[A]\nx = 1\n    more of x\ny = 2\n[B]\n"},
        {"no final line end", "[A]\nx = 1", {"A", "y", "2"}, "[A]\nx = 1\ny = 2\n"},
        {"new section", "[A]\n  x = 1\n", {"B", "y", "2"}, "[A]\n  x = 1\n\n[B]\n  y = 2\n"},
        {"empty file", "", {"New", "k", "v"}, "[New]\nk=v\n"},
        {"no header", "; only a comment\n", {"", "k", "v"}, "; only a comment\nk=v\n"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        dir.write("x.ini", c.before);
        std::vector<std::string> args{"set", "x.ini"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const auto r = ini(args);
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(kwtest::slurp(dir.file("x.ini")), written(c.after));
    }
}

// A file that already ends its lines with CR LF comes back with CR LF on
// every platform, and an edit changes exactly the bytes it should.
TEST_F(KwtoolIni, CrLfFilesKeepTheirLineEnds) {
    const std::string crlf = "[Network]\r\nTimeout = 30\r\nRetry = 3 \r\n\r\n[Logging]\r\nLevel=info\r\n";
    struct Case {
        std::vector<std::string> args;
        std::string from, to;
    } cases[] = {
        {{"set", "app.ini", "Network", "Timeout", "60"}, "Timeout = 30\r\n", "Timeout = 60\r\n"},
        {{"set", "app.ini", "Network", "Retry", "5"}, "Retry = 3 \r\n", "Retry = 5 \r\n"},
        {{"set", "app.ini", "Network", "Proxy", "none"}, "Retry = 3 \r\n", "Retry = 3 \r\nProxy = none\r\n"},
        {{"set", "app.ini", "Cache", "Size", "64"}, "Level=info\r\n", "Level=info\r\n\r\n[Cache]\r\nSize=64\r\n"},
        {{"del", "app.ini", "Logging", "Level"}, "Level=info\r\n", ""},
        {{"del", "app.ini", "Network"}, "[Network]\r\nTimeout = 30\r\nRetry = 3 \r\n\r\n", ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.args[0] + " " + c.args[2] + " " + (c.args.size() > 3 ? c.args[3] : ""));
        dir.write("app.ini", crlf);
        const auto r = ini(c.args);
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(text(), replaced(crlf, c.from, c.to));
    }
}

// Lines indented deeper than a key continue its value for other readers
// (a backslash-continued command line, a multi-line value): a key that gets
// a new value or goes takes them along, and a comment after them stays.
TEST_F(KwtoolIni, AKeyTakesItsContinuationLinesAlong) {
    const std::string file = "[A]\nx = 1\nExecStart = /usr/bin/a \\\n    --flag\n; note\n[B]\n";
    struct Case {
        std::vector<std::string> args;
        std::string after;
    } cases[] = {
        {{"set", "c.ini", "A", "ExecStart", "/usr/bin/b"}, "[A]\nx = 1\nExecStart = /usr/bin/b\n; note\n[B]\n"},
        {{"del", "c.ini", "A", "ExecStart"}, "[A]\nx = 1\n; note\n[B]\n"},
        {{"set", "c.ini", "A", "x", "2"}, "[A]\nx = 2\nExecStart = /usr/bin/a \\\n    --flag\n; note\n[B]\n"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.args[0] + " " + c.args[3]);
        dir.write("c.ini", file);
        const auto r = ini(c.args);
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(kwtest::slurp(dir.file("c.ini")), written(c.after));
    }
}

TEST_F(KwtoolIni, AKeySetTwiceIsNamedAndEditedOnlyWithAll) {
    const std::string unit = "[Service]\nExecStart = /usr/bin/a\nType=simple\nExecStart = /usr/bin/b\n[Install]\n";
    dir.write("d.service", unit);
    auto r = ini({"get", "d.service", "Service", "ExecStart"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "/usr/bin/a\n");
    EXPECT_NE(r.err.find("d.service:2: "), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("lines 2 and 4"), std::string::npos) << r.err;

    for (const std::vector<std::string> &args :
         {std::vector<std::string>{"set", "d.service", "Service", "ExecStart", "/usr/bin/c"},
          std::vector<std::string>{"del", "d.service", "Service", "ExecStart"}}) {
        SCOPED_TRACE(args[0]);
        r = ini(args);
        EXPECT_EQ(r.status, 2);
        EXPECT_NE(r.err.find("lines 2 and 4"), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("--all"), std::string::npos) << r.err;
        EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << "one line: " << r.err;
        EXPECT_EQ(kwtest::slurp(dir.file("d.service")), unit);
    }

    r = ini({"set", "d.service", "Service", "ExecStart", "/usr/bin/c", "--all"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(kwtest::slurp(dir.file("d.service")),
              written("[Service]\nExecStart = /usr/bin/c\nType=simple\nExecStart = /usr/bin/c\n[Install]\n"));
    r = ini({"del", "d.service", "Service", "ExecStart", "--all"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(kwtest::slurp(dir.file("d.service")), written("[Service]\nType=simple\n[Install]\n"));
}

TEST_F(KwtoolIni, DeletingASectionThatIsThereTwiceTakesAll) {
    const std::string twice = "[A]\nx=1\n[B]\ny=2\n[A]\nz=3\n";
    dir.write("t.ini", twice);
    auto r = ini({"del", "t.ini", "A"});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("lines 1 and 5"), std::string::npos) << r.err;
    EXPECT_EQ(kwtest::slurp(dir.file("t.ini")), twice);
    r = ini({"del", "t.ini", "A", "--all"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(kwtest::slurp(dir.file("t.ini")), written("[B]\ny=2\n"));
    r = ini({"del", "t.ini", "Nope"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "kwtool: t.ini: no section matching 'Nope'\n");
}

TEST_F(KwtoolIni, KeysBeforeTheFirstHeaderAreSectionEmpty) {
    const std::string file = "top = 1\nother=2\n[A]\ntop=3\n";
    dir.write("h.ini", file);
    EXPECT_EQ(ini({"get", "h.ini", "", "top"}).out, "1\n");
    EXPECT_EQ(ini({"get", "h.ini", "A", "top"}).out, "3\n");
    auto r = ini({"set", "h.ini", "", "top", "5"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(kwtest::slurp(dir.file("h.ini")), written("top = 5\nother=2\n[A]\ntop=3\n"));
    r = ini({"set", "h.ini", "", "new", "7"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(kwtest::slurp(dir.file("h.ini")), written("top = 5\nother=2\nnew=7\n[A]\ntop=3\n"));
    r = ini({"del", "h.ini", "", "top"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(kwtest::slurp(dir.file("h.ini")), written("other=2\nnew=7\n[A]\ntop=3\n"));

    dir.write("h.ini", "[A]\nx=1\n");
    r = ini({"set", "h.ini", "", "k", "v"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(kwtest::slurp(dir.file("h.ini")), written("k=v\n[A]\nx=1\n"));
    EXPECT_EQ(ini({"get", "h.ini", "A", "k"}).status, 1) << "the new key stands before [A]";
}

// "; xxx...xxxPort=8080 (old)" longer than 255 bytes, then the real key:
// the common dialect reads the comment whole; the strict dialect reads its
// tail as a key line and finds that first, so there an edit is refused.
TEST_F(KwtoolIni, TheTailOfALongCommentIsNoKey) {
    const std::string file = long_comment_file();
    const std::string comment = file.substr(4, file.find('\n', 4) - 4 + 1);
    ASSERT_EQ(comment.find("Port"), 255u);
    dir.write("long.ini", file);

    auto r = ini({"get", "long.ini", "S", "Port"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "80\n");
    EXPECT_EQ(r.err, "");
    r = ini({"set", "long.ini", "S", "Port", "9090"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(kwtest::slurp(dir.file("long.ini")), written(replaced(file, "Port=80\n", "Port=9090\n")));
    r = ini({"del", "long.ini", "S", "Port"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(kwtest::slurp(dir.file("long.ini")), written(replaced(file, "Port=80\n", "")));

    dir.write("long.ini", file);
    r = ini({"get", "long.ini", "S", "Port", "--strict"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "8080 (old)\n") << "the strict dialect's answer";
    EXPECT_NE(r.err.find("long.ini:2: "), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("lines 2 and 3"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("bytes 256 to 271"), std::string::npos) << r.err;
    for (const std::vector<std::string> &args :
         {std::vector<std::string>{"set", "long.ini", "S", "Port", "9090", "--strict"},
          std::vector<std::string>{"set", "long.ini", "S", "Port", "9090", "--strict", "--all"},
          std::vector<std::string>{"del", "long.ini", "S", "Port", "--strict", "--all"}}) {
        SCOPED_TRACE(args[0] + " " + args.back());
        r = ini(args);
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.err.rfind("kwtool: long.ini:2: this line is 271 bytes long", 0), 0u) << r.err;
        EXPECT_NE(r.err.find("255"), std::string::npos) << r.err;
        EXPECT_EQ(kwtest::slurp(dir.file("long.ini")), file);
    }
    r = ini({"list", "long.ini", "--strict"});
    EXPECT_NE(r.out.find("    2  comment  ; xxx"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("    2  key      Port=8080 (old)\n"), std::string::npos) << "both pieces, one line number";
    EXPECT_NE(r.out.find("    3  key      Port=80\n"), std::string::npos);
}

// A header that the strict dialect finds in the tail of a long comment:
// a section edit there would split the comment line.
TEST_F(KwtoolIni, StrictSectionEditsKeepLongLinesWhole) {
    const std::string file = "[A]\nx=1\n; " + std::string(253, 'x') + "[B]\ny=2\n";
    dir.write("s.ini", file);
    EXPECT_EQ(ini({"get", "s.ini", "A", "y"}).out, "2\n") << "common: the comment is whole, y is in [A]";
    EXPECT_EQ(ini({"get", "s.ini", "B", "y", "--strict"}).out, "2\n") << "strict: [B] is a line of its own";
    for (const std::vector<std::string> &args : {std::vector<std::string>{"del", "s.ini", "A", "--strict"},
                                                  std::vector<std::string>{"del", "s.ini", "B", "--strict"}}) {
        SCOPED_TRACE(args[2]);
        const auto r = ini(args);
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.err.rfind("kwtool: s.ini:3: this line is 259 bytes long", 0), 0u) << r.err;
        EXPECT_NE(r.err.find("begins at its byte 256"), std::string::npos) << r.err;
        EXPECT_EQ(kwtest::slurp(dir.file("s.ini")), file);
    }
    const auto r = ini({"set", "s.ini", "B", "z", "3", "--strict"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(kwtest::slurp(dir.file("s.ini")), written(file + "z=3\n")) << "behind the whole line";
}

TEST_F(KwtoolIni, MessagesNameTheFilesOwnLine) {
    using namespace std::string_literals;
    struct Case {
        const char *name;
        std::string file;
        std::vector<std::string> args;  // after the command and the file
        const char *err;
    } cases[] = {
        {"after comments", "; c\n\n[A]\nx=1\n y=2\n", {"A", "x", "--strict"},
         "kwtool: bad.ini:5: a line begins with a space\n"},
        {"after a long line", "[A]\nx=1\n; " + std::string(300, 'c') + "=\n bad\n", {"A", "x", "--strict"},
         "kwtool: bad.ini:4: a line begins with a space\n"},
        {"no closing bracket", "[A]\n[B\n", {"A", "x", "--strict"},
         "kwtool: bad.ini:2: malformed line: a section header without its closing bracket, or text without '='\n"},
        {"zero byte", "[A]\nx=1\ny=\0z\n"s, {"A", "x"},
         "kwtool: bad.ini:3: a zero byte at byte 3 of the line: the INI engine would cut the line there\n"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        dir.write("bad.ini", c.file);
        std::vector<std::string> args{"get", "bad.ini"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const auto r = ini(args);
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.err, c.err);
    }
    // A piece of a long line that fails by itself says so.
    dir.write("bad.ini", "[A]\n; " + std::string(253, 'x') + " tail\n");
    auto r = ini({"list", "bad.ini", "--strict"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err.rfind("kwtool: bad.ini:2: a line begins with a space (in the part from byte 256", 0), 0u)
        << r.err;
    EXPECT_EQ(ini({"list", "bad.ini"}).status, 0) << "the common dialect reads it whole";

    r = ini({"get", "missing.ini", "A", "x"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "kwtool: missing.ini: cannot open: No such file or directory\n");
    r = ini({"set", "missing.ini", "A", "x", "1"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "kwtool: missing.ini: cannot open: No such file or directory\n");
}

TEST_F(KwtoolIni, StrictLinesStayWithin255Bytes) {
    const std::string value(300, 'v');
    auto r = ini({"set", "app.ini", "Network", "Timeout", value, "--strict"});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("at most 255"), std::string::npos) << r.err;
    EXPECT_EQ(text(), kIni);
    r = ini({"set", "app.ini", "Network", "Timeout", value});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(text(), written(replaced(kIni, "Timeout=30\n", "Timeout=" + value + "\n")));
    EXPECT_EQ(ini({"get", "app.ini", "Network", "Timeout"}).out, value + "\n") << "read back whole";
}

TEST_F(KwtoolIni, SetOnAFileWithoutFinalLineEndKeepsTheLastLineWhole) {
    dir.write("app.ini", "[A]\nx=1");
    auto r = ini({"set", "app.ini", "A", "y", "2"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(text(), written("[A]\nx=1\ny=2\n"));
    dir.write("app.ini", "");
    r = ini({"set", "app.ini", "New", "k", "v"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(text(), written("[New]\nk=v\n"));
}

// Names travel through the command line: blanks and quotes must arrive
// whole, also on Windows, where the arguments are one string to split.
TEST_F(KwtoolIni, NamesAndValuesWithBlanksAndQuotes) {
    dir.write("my settings.ini", "[A]\n");
    const std::string value = "say \"hi\" \\\"there\\";
    auto r = ini({"set", "my settings.ini", "A", "greeting", value});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(kwtest::slurp(dir.file("my settings.ini")), written("[A]\ngreeting=" + value + "\n"));
    r = ini({"get", "my settings.ini", "A", "greeting"});
    EXPECT_EQ(r.out, value + "\n");
    r = ini({"set", "my settings.ini", "A", "empty", ""});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ini({"get", "my settings.ini", "A", "empty"}).out, "\n");
}

TEST_F(KwtoolIni, DeleteOfAMissingKeyLeavesTheFileAlone) {
    const auto r = ini({"del", "app.ini", "Network", "Nope"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(text(), kIni);
}

TEST_F(KwtoolIni, RefusalsAreUsageErrorsAndChangeNothing) {
    const std::vector<std::vector<std::string>> cases = {
        {"set", "app.ini", "Network", "New*", "1"},          // a key cannot be made from a pattern
        {"set", "app.ini", "Sec?", "k", "1"},                // nor a section
        {"set", "app.ini", "Network", "a=b", "1"},           // the key would end at '='
        {"set", "app.ini", "Network", ";k", "1"},            // it would be a comment
        {"set", "app.ini", "Network", "#k", "1"},            // also in the common dialect
        {"set", "app.ini", "Network", " k", "1"},            // it would be trimmed
        {"set", "app.ini", "Network", "k", " 1"},            // so would the value
        {"set", "app.ini", "Network", "k", "1\n2"},          // one line only
        {"set", "app.ini", "Network", "k", std::string(300, 'v'), "--strict"},
        {"get", "app.ini", "Network"},                       // missing argument
        {"frobnicate", "app.ini"},
    };
    for (const auto &args : cases) {
        SCOPED_TRACE(args[0] + " " + (args.size() > 3 ? args[3] : "") + " " + (args.size() > 4 ? args[4] : ""));
        const auto r = ini(args);
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << "one line: " << r.err;
        EXPECT_EQ(text(), kIni);
    }
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
    if (std::FILE *f = std::fopen(path.c_str(), "r+")) {
        std::fclose(f);
        // Wine run by root: the attribute is a missing write bit, which root
        // passes by.
        GTEST_SKIP() << "this host opens a read-only file for writing all the same";
    }
    auto r = ini({"get", "app.ini", "Database", "Port"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "5432\n");
    r = ini({"list", "app.ini"});
    EXPECT_NE(r.out.find("    1  comment  ; settings\n"), std::string::npos) << "comments keep their numbers";
    const auto w = ini({"set", "app.ini", "Database", "Port", "1"});
    EXPECT_EQ(w.status, 2);
    EXPECT_NE(w.err.find("cannot open the file for reading and writing: "), std::string::npos) << w.err;
    EXPECT_EQ(text(), kIni);
}

#if !defined(_WIN32)
// kwtool run by another user, in a child that gives up root (nobody's ids)
// before it starts the tool: the file is the one the user may read but not
// write, as a system file is for everyone but its owner.
kwtest::run_result run_as_nobody(const kwtest::TempDir &dir, std::vector<std::string> args) {
    args.insert(args.begin(), {kwtest::kwtool_path(), "ini"});
    const std::string out = dir.file(".stdout");
    const std::string err = dir.file(".stderr");
    const std::string cwd = dir.path().string();
    kwtest::run_result r;
    const pid_t pid = fork();
    if (pid == 0) {
        const int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (o < 0 || e < 0 || dup2(o, 1) < 0 || dup2(e, 2) < 0 || chdir(cwd.c_str()) != 0 ||
            setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0) {
            _exit(127);
        }
        kwtest::exec_or_exit(std::move(args));
    }
    int wstatus = 0;
    if (pid < 0 || waitpid(pid, &wstatus, 0) != pid) {
        return r;
    }
    r.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
    r.out = kwtest::slurp(out);
    r.err = kwtest::slurp(err);
    return r;
}

TEST_F(KwtoolIni, AnotherUserReadsEveryLineButCannotEdit) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "needs root to run the tool as another user";
    }
    if (!kwtest::user_can_run(65534, 65534, kwtest::kwtool_path())) {
        GTEST_SKIP() << "user 65534 cannot reach " << kwtest::kwtool_path() << " (a folder above it is closed to others)";
    }
    // The user must reach the folder and read the file, and write neither.
    ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);
    ASSERT_EQ(chmod(path.c_str(), 0644), 0);
    auto r = run_as_nobody(dir, {"list", "app.ini"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("    1  comment  ; settings\n"), std::string::npos) << "comments keep their numbers";
    EXPECT_NE(r.out.find("   13  key      Level=info\n"), std::string::npos) << r.out;
    r = run_as_nobody(dir, {"get", "app.ini", "Network", "Retry"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "3\n");
    r = run_as_nobody(dir, {"set", "app.ini", "Network", "Retry", "4"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "kwtool: app.ini: cannot open the file for reading and writing: Permission denied\n");
    EXPECT_EQ(text(), kIni);
    ASSERT_EQ(chmod(path.c_str(), 0600), 0);
    r = run_as_nobody(dir, {"get", "app.ini", "Network", "Retry"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "kwtool: app.ini: cannot open: Permission denied\n");
}
#endif

}  // namespace
