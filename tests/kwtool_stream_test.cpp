// kwtool xlate, scramble, unscramble, count, readline, demo and the command
// line itself, end to end on real files and pipes. The library's own calls
// serve as the oracle for what the stream commands must produce.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "kwtool_test_util.h"

namespace {

using kwtest::run_kwtool;
using kwtest::run_kwtool_bytes;

std::string all_bytes(std::size_t n) {
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i) {
        s[i] = static_cast<char>((i * 7 + i / 256) & 0xFF);
    }
    return s;
}

std::string through(std::string s, const unsigned char *table) {
    KW_memxlt(reinterpret_cast<unsigned char *>(s.data()), table, static_cast<std::uint32_t>(s.size()));
    return s;
}

class KwtoolStreams : public kwtest::KwtoolTest {
protected:
    kwtest::TempDir dir;
};

TEST_F(KwtoolStreams, XlateTranslatesEveryByteThroughTheTables) {
    const std::string text = all_bytes(3u << 20);  // several chunks
    dir.write("in.bin", text);
    auto r = run_kwtool(dir, {"xlate", "--to", "ebcdic", "in.bin", "e.bin"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(kwtest::slurp(dir.file("e.bin")) == through(text, KW_xlate_ASC_EBC));
    r = run_kwtool_bytes(dir, {"xlate", "--to", "ascii", "e.bin"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(r.out == through(through(text, KW_xlate_ASC_EBC), KW_xlate_EBC_ASC));

    r = run_kwtool_bytes(dir, {"xlate", "--to", "ebcdic"}, "A1[\n");
    EXPECT_EQ(r.out, "\xC1\xF1\xAD\x15");
    EXPECT_EQ(run_kwtool_bytes(dir, {"xlate", "--to", "ascii"}, "\xC1\xF1\xAD\x15").out, "A1[\n");
    EXPECT_EQ(run_kwtool(dir, {"xlate", "--to", "latin1"}, "x").status, 2);
    EXPECT_EQ(run_kwtool(dir, {"xlate"}, "x").status, 2);
}

TEST_F(KwtoolStreams, ScrambleWorksInChunksOf65536Bytes) {
    for (const std::size_t n : {std::size_t{0}, std::size_t{1}, std::size_t{39}, std::size_t{40}, std::size_t{65536},
                                std::size_t{65537}, std::size_t{200000}}) {
        SCOPED_TRACE(n);
        const std::string text = all_bytes(n);
        dir.write("in.bin", text);
        ASSERT_EQ(run_kwtool(dir, {"scramble", "-f", "in.bin", "s.bin"}).status, 0);
        std::string expected = text;
        for (std::size_t at = 0; at < n; at += 65536) {
            KW_crbrk(reinterpret_cast<unsigned char *>(expected.data()) + at,
                     static_cast<std::uint32_t>(std::min<std::size_t>(65536, n - at)));
        }
        const std::string scrambled = kwtest::slurp(dir.file("s.bin"));
        EXPECT_TRUE(scrambled == expected);
        const auto r = run_kwtool_bytes(dir, {"unscramble"}, scrambled);  // from a pipe
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_TRUE(r.out == text);
    }
}

// The count is windowed over the stream: occurrences across window edges
// must count once, as a plain scan counts them.
TEST_F(KwtoolStreams, CountMatchesAPlainOverlappingScan) {
    std::mt19937 rng(4);
    std::string text(3u << 20, 'a');
    for (auto &c : text) {
        c = "ab"[rng() % 16 == 0 ? 1 : 0];
    }
    dir.write("t.txt", text);
    for (const std::string pattern : {"a", "aa", "aaaa", "ab", "aaaaaaaaaaaaaaab", "b", "bb"}) {
        SCOPED_TRACE(pattern);
        std::uint64_t expected = 0;
        for (std::size_t i = 0; i + pattern.size() <= text.size(); ++i) {
            if (text.compare(i, pattern.size(), pattern) == 0) {
                ++expected;
            }
        }
        const auto r = run_kwtool(dir, {"count", pattern, "t.txt"});
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, std::to_string(expected) + "\n");
    }
    auto r = run_kwtool(dir, {"count", "abab"}, "abababab");
    EXPECT_EQ(r.out, "3\n");
    r = run_kwtool(dir, {"count", "hello"}, "Hello hello");
    EXPECT_EQ(r.out, "1\n");
    r = run_kwtool(dir, {"count", "zzz"}, "abc");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "0\n");
    r = run_kwtool(dir, {"count", "\xFF\xFE"}, std::string("\xFF\xFE\xFF\xFE\x00\xFF\xFE", 7));
    EXPECT_EQ(r.out, "3\n");
    EXPECT_EQ(run_kwtool(dir, {"count", ""}, "abc").status, 2);
    EXPECT_EQ(run_kwtool(dir, {"count", "a", "missing.txt"}).status, 2);
}

TEST_F(KwtoolStreams, ReadlineTakesKeysFromAPipe) {
#if defined(_WIN32)
    GTEST_SKIP() << "on Windows KW_GetString takes keys from the console alone, never from a pipe "
                    "(ReadlineRefusesAPipeOnWindows checks the refusal instead)";
#else
    struct Case {
        std::vector<std::string> args;
        std::string keys;
        std::string line;
    } cases[] = {
        {{}, "ab\r", "ab"},
        {{}, "a\bc\r", "c"},                // Backspace erases
        {{"--max", "2"}, "abc\r", "ab"},    // the third key is refused
        {{}, "x\x1By\r", "xy"},             // Escape is refused
        {{}, "no enter", "no enter"},       // the end of input ends the line
        {{"--max", "0"}, "abc\r", ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.keys);
        std::vector<std::string> args{"readline"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const auto r = run_kwtool(dir, args, c.keys);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, c.line + "\n") << "only the line on standard output";
    }
    EXPECT_EQ(run_kwtool(dir, {"readline"}, "ab\r").err.substr(0, 2), "ab") << "the echo goes to standard error";
    EXPECT_EQ(run_kwtool(dir, {"readline", "--max", "70000"}).status, 2);
#endif
}

#if defined(_WIN32)
// The keys of a pipe would go unread there while the library waited at the
// console, or the line would come back empty as if Enter had been pressed:
// the tool refuses instead, before any key is taken.
TEST_F(KwtoolStreams, ReadlineRefusesAPipeOnWindows) {
    for (const std::string keys : {"ab\r", ""}) {
        SCOPED_TRACE(keys.size());
        const auto r = run_kwtool(dir, {"readline"}, keys);
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, "kwtool: standard input is not the console: on Windows the line must be typed at the console\n");
    }
    EXPECT_EQ(run_kwtool(dir, {"readline", "--max", "70000"}).status, 2);
}
#endif

TEST_F(KwtoolStreams, HelpAtEveryLevelAndUsageErrors) {
    const std::vector<std::vector<std::string>> help = {
        {"--help"}, {"ini", "--help"}, {"ini", "set", "--help"}, {"msg", "--help"}, {"msg", "compile", "--help"},
        {"msg", "format", "-h"}, {"pack", "--help"}, {"unpack", "--help"}, {"xlate", "--help"},
        {"scramble", "--help"}, {"count", "--help"}, {"readline", "--help"}, {"demo", "--help"},
    };
    for (const auto &args : help) {
        SCOPED_TRACE(args[0]);
        const auto r = run_kwtool(dir, args);
        EXPECT_EQ(r.status, 0);
        EXPECT_NE(r.out.find("Usage:"), std::string::npos) << r.out;
    }
    const std::vector<std::vector<std::string>> usage = {
        {}, {"nonsense"}, {"ini"}, {"msg"}, {"msg", "compile", "x.txt"}, {"msg", "format", "c", "AB", "70000"},
        {"--bogus"},
    };
    for (const auto &args : usage) {
        SCOPED_TRACE(args.empty() ? "(none)" : args[0]);
        const auto r = run_kwtool(dir, args);
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.err.rfind("kwtool: ", 0), 0u) << r.err;
        EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << "one line: " << r.err;
    }
}

TEST_F(KwtoolStreams, DemoWalksThroughEverythingAndLeavesTheSamplesAlone) {
    const std::string samples = kwtest::installed_samples();
    std::map<std::string, std::string> before;
    for (const auto &e : std::filesystem::directory_iterator(samples)) {
        before[e.path().filename().string()] = kwtest::slurp(e.path().string());
    }
    auto r = run_kwtool(dir, {"demo"});  // the installed samples by default
    EXPECT_EQ(r.status, 0) << r.err;
    for (const char *step : {"== INI engine", "== Message catalogs", "== Character translation", "== Utilities",
                             "AB00042E - Disk C: has 17 blocks free.", "byte-identical", "Every step checked"}) {
        EXPECT_NE(r.out.find(step), std::string::npos) << step;
    }
    std::map<std::string, std::string> after;
    for (const auto &e : std::filesystem::directory_iterator(samples)) {
        after[e.path().filename().string()] = kwtest::slurp(e.path().string());
    }
    EXPECT_EQ(before, after);

    r = run_kwtool(dir, {"demo", "--samples", samples});
    EXPECT_EQ(r.status, 0) << r.err;
    r = run_kwtool(dir, {"demo", "--samples", dir.file("nowhere")});
    EXPECT_EQ(r.status, 2);
}

}  // namespace
