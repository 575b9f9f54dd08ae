// kwtool msg, end to end: the compiler writes catalogs byte for byte in the
// library's file format, the library formats them as the worked examples
// say, dump and compile are inverse, and every refusal of the compiler names
// the source line.
#include <gtest/gtest.h>

#include <string>

#include "kwtool_test_util.h"

namespace {

using kwtest::run_kwtool;
using kwtest::run_kwtool_bytes;

const char kSource[] =
    "# the two messages of the format's worked example\n"
    "AB00000E - Message %1!05d! not found.\n"
    "AB00042E - Disk %1!s! has %2!d! blocks free.\n";

std::string catalog_119() {
    std::string c("\x99\x99\x99\x99\x01\x00\x00\x00\x00\x02\x00\x04\x00\x53", 14);
    c += std::string(18, '\0');
    c += std::string("\x00\x00\x00\x26", 4);
    c += std::string("AB00000E - Message %1!05d! not found.") + '\0';
    c += std::string("AB00042E - Disk %1!s! has %2!d! blocks free.") + '\0';
    return c;
}

class KwtoolMsg : public kwtest::KwtoolTest {
protected:
    kwtest::TempDir dir;
    void SetUp() override {
        kwtest::KwtoolTest::SetUp();
        if (IsSkipped()) {
            return;
        }
        dir.write("src.txt", kSource);
        const auto r = run_kwtool(dir, {"msg", "compile", "src.txt", "-o", "ab.cat"});
        ASSERT_EQ(r.status, 0) << r.err;
    }
};

TEST_F(KwtoolMsg, CompilesTheWorkedExampleByteForByte) {
    const std::string cat = kwtest::slurp(dir.file("ab.cat"));
    ASSERT_EQ(cat.size(), 119u);
    EXPECT_EQ(cat, catalog_119());
}

TEST_F(KwtoolMsg, FormatsTheWorkedExamples) {
    struct Case {
        std::vector<std::string> args;
        int status;
        const char *out;
    } cases[] = {
        {{"ab.cat", "AB", "42", "C:", "17"}, 0, "AB00042E - Disk C: has 17 blocks free.\n"},
        {{"ab.cat", "ab", "42", "C:", "17"}, 0, "AB00042E - Disk C: has 17 blocks free.\n"},
        {{"ab.cat", "AB", "42", "C:", "17", "--strip-key"}, 0, "Disk C: has 17 blocks free.\n"},
        {{"ab.cat", "AB", "42", "C:", "-1"}, 0, "AB00042E - Disk C: has -1 blocks free.\n"},
        {{"ab.cat", "AB", "123"}, 1, "AB00000E - Message 00123 not found.\n"},
        {{"ab.cat", "AB", "0"}, 0, "AB00000E - Message 00000 not found.\n"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.args[2]);
        std::vector<std::string> args{"msg", "format"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const auto r = run_kwtool(dir, args);
        EXPECT_EQ(r.status, c.status) << r.err;
        EXPECT_EQ(r.out, c.out);
    }
}

TEST_F(KwtoolMsg, ArgumentsFollowTheirSpecifiers) {
    dir.write("more.txt",
              "CD00000E - Message %1!05d! not found.\n"
              "CD00001I - %2!s! before %1!d!\n"
              "CD00002I - char %1!c! hex %2!x! oct %3!o! unsigned %4!lu!\n"
              "CD00003I - no arguments, 100%% sure\n");
    ASSERT_EQ(run_kwtool(dir, {"msg", "compile", "more.txt", "-o", "cd.cat"}).status, 0);
    struct Case {
        std::vector<std::string> args;
        int status;
        const char *out;
    } cases[] = {
        {{"1", "7", "x"}, 0, "CD00001I - x before 7\n"},  // arguments in position order
        {{"1", "--", "-7", "-x"}, 0, "CD00001I - -x before -7\n"},  // texts that begin with '-'
        {{"1", "7", "a \"quoted\" \\\"text\\"}, 0, "CD00001I - a \"quoted\" \\\"text\\ before 7\n"},  // one argument
        {{"1", "7", ""}, 0, "CD00001I -  before 7\n"},
        {{"2", "A", "255", "8", "4294967295"}, 0, "CD00002I - char A hex FF oct 10 unsigned 4294967295\n"},
        {{"2", "66", "0xff", "0", "1"}, 0, "CD00002I - char B hex FF oct 0 unsigned 1\n"},
        {{"3"}, 0, "CD00003I - no arguments, 100% sure\n"},
        {{"1", "7"}, 2, ""},             // too few
        {{"3", "extra"}, 2, ""},         // too many
        {{"1", "seven", "x"}, 2, ""},    // not a number
        {{"1", "99999999999", "x"}, 2, ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.args[0] + (c.args.size() > 1 ? " " + c.args[1] : ""));
        std::vector<std::string> args{"msg", "format", "cd.cat", "CD"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const auto r = run_kwtool(dir, args);
        EXPECT_EQ(r.status, c.status) << r.err;
        EXPECT_EQ(r.out, c.out);
        if (c.status == 2) {
            EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
        }
    }
    const auto wrong = run_kwtool(dir, {"msg", "format", "cd.cat", "AB", "1"});
    EXPECT_EQ(wrong.status, 1);
    EXPECT_EQ(wrong.err, "kwtool: cd.cat: holds the messages of application CD, not AB\n");
}

TEST_F(KwtoolMsg, DumpThenCompileIsByteIdentical) {
    for (const bool ebcdic : {false, true}) {
        SCOPED_TRACE(ebcdic ? "EBCDIC" : "ASCII");
        dir.write("esc.txt",
                  "EF00000E - Message %1!05d! not found.\n"
                  "EF00007I - tab\\there, line\\nbreak, back\\\\slash # not a comment\n"
                  "EF00003I - %1!-8.3s!|%2!08X!|\n");
        std::vector<std::string> compile{"msg", "compile", "esc.txt", "-o", "one.cat", "-f"};
        if (ebcdic) {
            compile.push_back("--to=ebcdic");
        }
        ASSERT_EQ(run_kwtool(dir, compile).status, 0);
        const auto dump = run_kwtool(dir, {"msg", "dump", "one.cat"});
        ASSERT_EQ(dump.status, 0) << dump.err;
        EXPECT_NE(dump.out.find("EF00007I - tab\\there, line\\nbreak, back\\\\slash # not a comment\n"),
                  std::string::npos)
            << dump.out;
        dir.write("dumped.txt", kwtest::eol(dump.out));  // as `kwtool msg dump > dumped.txt` leaves it
        compile[2] = "dumped.txt";
        compile[4] = "two.cat";
        ASSERT_EQ(run_kwtool(dir, compile).status, 0);
        EXPECT_EQ(kwtest::slurp(dir.file("one.cat")), kwtest::slurp(dir.file("two.cat")));
    }
}

TEST_F(KwtoolMsg, EbcdicCatalogsHoldEbcdicTextsAndKeys) {
    ASSERT_EQ(run_kwtool(dir, {"msg", "compile", "src.txt", "-o", "e.cat", "--to", "ebcdic"}).status, 0);
    const std::string cat = kwtest::slurp(dir.file("e.cat"));
    std::string expected = catalog_119();
    expected[4] = 2;
    KW_memxlt(reinterpret_cast<unsigned char *>(expected.data()) + 36, KW_xlate_ASC_EBC, 83);
    EXPECT_EQ(cat, expected);
    EXPECT_EQ(cat.substr(36, 7), "\xC1\xC2\xF0\xF0\xF0\xF0\xF0");  // AB00000 in EBCDIC

    auto r = run_kwtool(dir, {"msg", "format", "e.cat", "ab", "42", "C:", "17"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "AB00042E - Disk C: has 17 blocks free.\n");
    r = run_kwtool_bytes(dir, {"msg", "format", "e.cat", "AB", "123", "--raw"});
    EXPECT_EQ(r.status, 1);
    std::string raw = "AB00000E - Message 00123 not found.";
    KW_memxlt(reinterpret_cast<unsigned char *>(raw.data()), KW_xlate_ASC_EBC, static_cast<std::uint32_t>(raw.size()));
    EXPECT_EQ(r.out, raw + "\n");
}

TEST_F(KwtoolMsg, TheBundledEbcdicCatalogIsTheSourcesTwin) {
    const std::string samples = kwtest::installed_samples();
    const auto r = run_kwtool(dir, {"msg", "compile", samples + "/messages.txt", "-o", "twin.cat", "--ebcdic"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(kwtest::slurp(dir.file("twin.cat")), kwtest::slurp(samples + "/messages.ebcdic.cat"));
}

TEST_F(KwtoolMsg, OffsetsAreSortedByKeyWhateverTheSourceOrder) {
    dir.write("order.txt",
              "AB00300I - three\n"
              "AB00000E - Message %1!05d! not found.\n"
              "AB00020I - two\n");
    ASSERT_EQ(run_kwtool(dir, {"msg", "compile", "order.txt", "-o", "o.cat"}).status, 0);
    const std::string cat = kwtest::slurp(dir.file("o.cat"));
    // Texts in source order; offsets to AB00000, AB00020, AB00300.
    EXPECT_EQ(cat.substr(32, 6), std::string("\x00\x11\x00\x37\x00\x00", 6));
    const auto r = run_kwtool(dir, {"msg", "format", "o.cat", "AB", "20"});
    EXPECT_EQ(r.out, "AB00020I - two\n");
}

// Each refusal of the compiler: a source, and the message that must name
// its line and fault.
TEST_F(KwtoolMsg, CompilerRefusalsNameTheLine) {
    const std::string nf = "AB00000E - Message %1!05d! not found.\n";
    struct Case {
        const char *name;
        std::string source;
        std::string message;
    } cases[] = {
        {"malformed key", nf + "AB0042E - short number\n",
         "src.txt:2:1: malformed key 'AB0042E': a message begins with two upper-case letters or digits and five decimal "
         "digits"},
        {"lower-case application", nf + "ab00042E - x\n", "src.txt:2:1: malformed key 'ab00042'"},
        {"duplicate key", nf + "AB00042E - one\nAB00042E - two\n", "src.txt:3:1: duplicate key AB00042 (first on line 2)"},
        {"mixed application IDs", nf + "CD00042E - x\n",
         "src.txt:2:1: application ID CD differs from AB (line 1): a catalog holds one application"},
        {"more than 9 specifiers", nf + "AB00001I %1!d!%2!d!%3!d!%4!d!%5!d!%6!d!%7!d!%8!d!%9!d!%1!d!\n",
         "src.txt:2:55: message AB00001 has 10 specifiers, at most 9"},
        {"a gap in the positions", nf + "AB00001I %1!d! %3!d!\n",
         "src.txt:2:16: message AB00001: specifier positions must run 1, 2, ... without gaps or repeats (found 1, 3)"},
        {"a repeated position", nf + "AB00001I %1!d! %1!s!\n",
         "src.txt:2:16: message AB00001: specifier positions must run 1, 2, ... without gaps or repeats (found 1, 1)"},
        {"unknown conversion", nf + "AB00001I %1!f!\n",
         "src.txt:2:13: message AB00001: unknown conversion character 'f' at column 13 (known: c s d o u x X)"},
        {"i is not formatted", nf + "AB00001I %1!i!\n", "src.txt:2:13: message AB00001: unknown conversion character 'i'"},
        {"position 0", nf + "AB00001I %0!d!\n", "src.txt:2:10: message AB00001: malformed specifier '%0!'"},
        {"two-digit position", nf + "AB00001I %10!d!\n", "src.txt:2:10: message AB00001: malformed specifier"},
        {"no closing mark", nf + "AB00001I %1!d\n", "src.txt:2:10: message AB00001: malformed specifier"},
        {"lone percent", nf + "AB00001I 100%\n", "src.txt:2:13: message AB00001: malformed specifier"},
        {"specifier over 20", nf + "AB00001I %1!-0000000000000000005d!\n", "src.txt:2:10: message AB00001: specifier '%1!-0000000000000000005d!' at column 10 is longer than 20 characters"},
        {"over 65,535 bytes",
         [] {
             std::string s = "AB00000E - Message %1!05d! not found.\n";
             for (int i = 1; i <= 300; ++i) {
                 char key[16];
                 std::snprintf(key, sizeof key, "AB%05d", i);
                 s += key + std::string(250, 'x') + "\n";
             }
             return s;
         }(),
         "src.txt:253:1: the catalog would exceed 65,535 bytes (65592 with this message)"},
        {"no not-found entry", "AB00001I - just text\nAB00002I - %1!d!\n",
         "src.txt:1:1: the smallest key, AB00001, is the not-found entry: it must take the number as %1! with a numeric "
         "conversion and no other argument"},
        {"not-found entry with a text", "AB00000E - %1!s!\n", "src.txt:1:1: the smallest key, AB00000, is the not-found entry"},
        {"not-found entry with two", "AB00000E - %1!d! %2!d!\n", "src.txt:1:1: the smallest key, AB00000"},
        {"no messages", "# only a comment\n\n", "kwtool: src.txt: no messages: a catalog needs at least its not-found entry"},
        {"unknown escape", nf + "AB00001I \\q\n", "src.txt:2:10: unknown escape \\q (known: \\n \\t \\\\)"},
        {"trailing backslash", nf + "AB00001I x\\\n", "src.txt:2:11: backslash at the end of the line"},
        {"zero byte", nf + std::string("AB00001I a\0b\n", 13), "src.txt:2:11: zero byte in a message"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        dir.write("src.txt", c.source);
        const auto r = run_kwtool(dir, {"msg", "compile", "src.txt", "-o", "out.cat"});
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.err.find(c.message), 0u) << r.err;
        if (c.message.find("no messages") == std::string::npos) {
            // The fault's line, then the count.
            EXPECT_EQ(r.err.substr(r.err.find('\n') + 1), "kwtool: src.txt: 1 error, no catalog written\n") << r.err;
        } else {
            EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << "one line";
        }
        EXPECT_FALSE(std::filesystem::exists(dir.file("out.cat")));
    }
    dir.write("src.txt", nf + "AB00001I caf\xC3\xA9\n");
    const auto r = run_kwtool(dir, {"msg", "compile", "src.txt", "-o", "out.cat", "--to", "ebcdic"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err.find("src.txt:2:13: byte 0xC3 has no EBCDIC counterpart"), 0u) << r.err;
}

// A source with several faults reports each of them in one run, with
// line and column, then how many; --check reports the same and writes
// nothing either way.
TEST_F(KwtoolMsg, EveryFaultOfASourceIsReported) {
    dir.write("src.txt",
              "AB00000E - Message %1!05d! not found.\n"
              "AB0042E short key\n"
              "AB00001I fine\n"
              "AB00002I %1!f!\n"
              "# a comment\n"
              "AB65535I the largest number\n"
              "AB65536I one past it\n"
              "AB99999I far past it\n"
              "AB00003I bad \\q escape\n"
              "AB00001I again\n");
    const std::string expected =
        "src.txt:2:1: malformed key 'AB0042E': a message begins with two upper-case letters or digits and five "
        "decimal digits\n"
        "src.txt:4:13: message AB00002: unknown conversion character 'f' at column 13 (known: c s d o u x X)\n"
        "src.txt:7:3: key AB65536: the number 65536 is above 65,535, which no call can ask for\n"
        "src.txt:8:3: key AB99999: the number 99999 is above 65,535, which no call can ask for\n"
        "src.txt:9:14: unknown escape \\q (known: \\n \\t \\\\)\n"
        "src.txt:10:1: duplicate key AB00001 (first on line 3)\n"
        "kwtool: src.txt: 6 errors, no catalog written\n";
    for (const std::vector<std::string> &args :
         {std::vector<std::string>{"msg", "compile", "src.txt", "out.cat"},
          std::vector<std::string>{"msg", "compile", "--check", "src.txt"}}) {
        const auto r = run_kwtool(dir, args);
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.err, expected);
        EXPECT_FALSE(std::filesystem::exists(dir.file("out.cat")));
    }
}

TEST_F(KwtoolMsg, CompileTakesTheCatalogByPositionOrOptionAndChecksWithoutWriting) {
    dir.write("src.txt", "AB00000E - Message %1!05d! not found.\n");
    const auto before = kwtest::listing(dir);
    EXPECT_EQ(run_kwtool(dir, {"msg", "compile", "--check", "src.txt"}).status, 0);
    EXPECT_EQ(kwtest::listing(dir), before);
    ASSERT_EQ(run_kwtool(dir, {"msg", "compile", "src.txt", "a.cat"}).status, 0);
    ASSERT_EQ(run_kwtool(dir, {"msg", "compile", "src.txt", "--output", "b.cat"}).status, 0);
    EXPECT_EQ(kwtest::slurp(dir.file("a.cat")), kwtest::slurp(dir.file("b.cat")));
    const auto piped = run_kwtool_bytes(dir, {"msg", "compile", "src.txt", "-o", "-"});
    ASSERT_EQ(piped.status, 0) << piped.err;
    EXPECT_EQ(piped.out, kwtest::slurp(dir.file("a.cat")));

    struct Case {
        std::vector<std::string> args;
        const char *message;
    } cases[] = {
        {{"msg", "compile", "src.txt", "a.cat"}, "kwtool: a.cat: already exists (give -f to overwrite)\n"},
        {{"msg", "compile", "src.txt"}, "kwtool: give the catalog to write (CATALOG or -o), or --check\n"},
        {{"msg", "compile", "src.txt", "c.cat", "-o", "d.cat"},
         "kwtool: the catalog is given twice (CATALOG and -o name one output)\n"},
        {{"msg", "compile", "--check", "src.txt", "c.cat"}, "kwtool: --check writes nothing: give no catalog\n"},
        {{"msg", "format", "a.cat", "AB", "65536"},
         "kwtool: message number 65536 is above 65,535, the largest a catalog can hold\n"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.message);
        const auto r = run_kwtool(dir, c.args);
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.err, c.message);
    }
    EXPECT_EQ(run_kwtool(dir, {"msg", "compile", "-f", "src.txt", "a.cat"}).status, 0);
    EXPECT_EQ(run_kwtool(dir, {"msg", "format", "a.cat", "AB", "65535"}).status, 1) << "not held: the not-found entry";
}

TEST_F(KwtoolMsg, AcceptsCommentsBlankLinesCrLfAndAByteOrderMark) {
    dir.write("win.txt", "\xEF\xBB\xBF# comment\r\n\r\n" "AB00000E - Message %1!05d! not found.\r\n"
                         "   \r\nAB00042E - Disk %1!s! has %2!d! blocks free.");
    ASSERT_EQ(run_kwtool(dir, {"msg", "compile", "win.txt", "-o", "w.cat"}).status, 0);
    EXPECT_EQ(kwtest::slurp(dir.file("w.cat")), catalog_119());
}

TEST_F(KwtoolMsg, DamagedCatalogsAreRefused) {
    const std::string good = catalog_119();
    struct Case {
        const char *name;
        std::string bytes;
        const char *message;
    } cases[] = {
        {"short", good.substr(0, 20), "shorter than the 32-byte header"},
        {"signature", "\x98" + good.substr(1), "no 99 99 99 99 signature"},
        {"encoding", good.substr(0, 4) + '\x03' + good.substr(5), "unknown encoding 3"},
        {"truncated", good.substr(0, 100), "damaged header"},
        {"offset outside", good.substr(0, 34) + std::string("\x7F\x00", 2) + good.substr(36), "points outside the texts"},
        {"unsorted", good.substr(0, 32) + std::string("\x00\x26\x00\x00", 4) + good.substr(36), "out of key order"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        dir.write("bad.cat", c.bytes);
        for (const char *cmd : {"dump", "format"}) {
            std::vector<std::string> args{"msg", cmd, "bad.cat"};
            if (std::string(cmd) == "format") {
                args.insert(args.end(), {"AB", "42", "C:", "17"});
            }
            const auto r = run_kwtool(dir, args);
            EXPECT_EQ(r.status, 2);
            EXPECT_NE(r.err.find("bad.cat: "), std::string::npos) << r.err;
            EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        }
    }
}

}  // namespace
