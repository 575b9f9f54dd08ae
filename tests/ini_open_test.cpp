// Opening and closing: files in both modes, caller's buffers, classification,
// limits, and the memory given back on every path.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ini_test_util.h"
#include "test_support.h"

namespace {

using kwtest::CallerText;
using kwtest::fresh_record;
using kwtest::Ledger;
using kwtest::TempDir;
using kwtest::text;

class IniOpen : public ::testing::Test {
protected:
    void SetUp() override { Ledger::reset(); }
    void TearDown() override {
        EXPECT_TRUE(Ledger::get().live.empty()) << "blocks left behind";
        EXPECT_FALSE(Ledger::get().bad_release) << "a block was given back with the wrong size";
    }
    KW_INI_STRUC ledger_record() {
        KW_INI_STRUC ini = fresh_record();
        kwtest::use_ledger(ini);
        return ini;
    }
    TempDir dir;
};

TEST_F(IniOpen, BadModeIsRefusedAndLeavesTheRecordClosed) {
    for (int mode : {0, 3, -1}) {
        KW_INI_STRUC ini = ledger_record();
        EXPECT_EQ(KW_ini_open(&ini, dir.write("a.ini", "[A]\n").c_str(), mode, 0), INI_ERR_MODE);
        EXPECT_EQ(KW_ini_next(&ini), INI_ERR_HANDLE);
        EXPECT_TRUE(Ledger::get().requests.empty());
    }
}

TEST_F(IniOpen, MissingFileGives32AndGivesBothBlocksBack) {
    KW_INI_STRUC ini = ledger_record();
    EXPECT_EQ(KW_ini_open(&ini, dir.file("nope.ini").c_str(), KW_INI_READ, 0), INI_ERR_OPEN);
    EXPECT_EQ(Ledger::get().requests, (std::vector<std::uint16_t>{16384, 8192}));
    EXPECT_EQ(ini.linenum, 0);
    EXPECT_EQ(ini.pLine, nullptr);
    EXPECT_EQ(KW_ini_close(&ini), INI_ERR_HANDLE);
}

TEST_F(IniOpen, EmptyFileShowsTheEndPosition) {
    KW_INI_STRUC ini = ledger_record();
    ASSERT_EQ(KW_ini_open(&ini, dir.write("e.ini", "").c_str(), KW_INI_READ, 0), INI_OK);
    EXPECT_EQ(ini.linenum, 1);
    EXPECT_EQ(ini.linetype, INI_LINE_NONE);
    ASSERT_NE(ini.pLine, nullptr);
    EXPECT_EQ(ini.pLine[0], 0);
    EXPECT_EQ(ini.pValue, nullptr);
    EXPECT_EQ(KW_ini_close(&ini), INI_OK);
}

TEST_F(IniOpen, ModeOneDropsCommentsAndEmptyLinesModeTwoKeepsThem) {
    const std::string path = dir.write("c.ini", "; note\n\n[Main]\nName=x\n");
    struct {
        int mode;
        std::vector<std::string> lines;
    } cases[] = {{KW_INI_READ, {"[Main]\n", "Name=x\n"}},
                 {KW_INI_READWRITE, {"; note\n", "\n", "[Main]\n", "Name=x\n"}}};
    for (const auto &c : cases) {
        KW_INI_STRUC ini = ledger_record();
        ASSERT_EQ(KW_ini_open(&ini, path.c_str(), c.mode, 0), INI_OK);
        std::vector<std::string> seen;
        while (ini.linetype != INI_LINE_NONE) {
            seen.push_back(text(ini.pLine));
            KW_ini_next(&ini);
        }
        EXPECT_EQ(seen, c.lines) << "mode " << c.mode;
        EXPECT_EQ(ini.linenum, c.lines.size() + 1);
        EXPECT_EQ(KW_ini_close(&ini), INI_OK);
    }
}

// Every line type and every refusal, one line at a time from a caller's buffer.
TEST_F(IniOpen, ClassifiesEachLine) {
    struct Case {
        std::string line;
        std::uint32_t status;
        std::uint8_t type;
        std::string value;  // what pValue shows, for key lines
    } cases[] = {
        {"; comment\n", INI_OK, INI_LINE_COMMENT, ""},
        {"\n", INI_OK, INI_LINE_COMMENT, ""},
        {"[Main]\n", INI_OK, INI_LINE_SECTION, ""},
        {"<Main>\n", INI_OK, INI_LINE_SECTION, ""},
        {"[Ma]in", INI_OK, INI_LINE_SECTION, ""},
        {"[Main] trailing", INI_OK, INI_LINE_SECTION, ""},
        {"Key = value\n", INI_OK, INI_LINE_KEY, " value\n"},
        {"\tk=v", INI_OK, INI_LINE_KEY, "v"},
        {"=value", INI_OK, INI_LINE_KEY, "value"},
        {"a=b=c", INI_OK, INI_LINE_KEY, "b=c"},
        {"k=", INI_OK, INI_LINE_KEY, ""},
        {" x=1", INI_ERR_LEADING_SPACE, 0, ""},
        {" ", INI_ERR_LEADING_SPACE, 0, ""},
        {"[Main", INI_ERR_LINE, 0, ""},
        {"[a=b", INI_ERR_LINE, 0, ""},
        {"<]", INI_ERR_LINE, 0, ""},
        {"Key", INI_ERR_LINE, 0, ""},
    };
    for (const auto &c : cases) {
        KW_INI_STRUC ini = ledger_record();
        CallerText t({c.line});
        ASSERT_EQ(t.open(ini), c.status) << c.line;
        EXPECT_EQ(ini.linenum, 1) << c.line;
        EXPECT_EQ(ini.linetype, c.type) << c.line;
        if (c.status == INI_OK) {
            EXPECT_EQ(text(ini.pValue), c.type == INI_LINE_KEY ? c.value : "<null>") << c.line;
            EXPECT_EQ(KW_ini_close(&ini), INI_OK);
        } else {
            EXPECT_EQ(ini.pLine, t.bytes.data()) << "the offending line is shown: " << c.line;
            EXPECT_EQ(ini.pValue, nullptr);
            EXPECT_EQ(KW_ini_close(&ini), INI_ERR_HANDLE);
        }
    }
}

TEST_F(IniOpen, FailingLineIsNumberedAmongStoredLines) {
    // In mode 1 the dropped comment is not counted.
    const std::string path = dir.write("s.ini", "; c\n[A]\nk=1\n bad=2\n");
    for (auto [mode, expected] : {std::pair{KW_INI_READ, 3}, std::pair{KW_INI_READWRITE, 4}}) {
        KW_INI_STRUC ini = ledger_record();
        EXPECT_EQ(KW_ini_open(&ini, path.c_str(), mode, 0), INI_ERR_LEADING_SPACE);
        EXPECT_EQ(ini.linenum, expected);
        EXPECT_EQ(ini.linetype, 0);
        EXPECT_EQ(ini.pLine, nullptr) << "a file's text was given back: no dangling pointer";
        EXPECT_EQ(ini.pValue, nullptr);
    }
}

TEST_F(IniOpen, LongFileLinesAreStoredIn255BytePieces) {
    const std::string key(200, 'k');
    const std::string tail(99, 'v');  // 200 + 1 + 99 = 300 bytes before the line end
    const std::string withEq = key + "=" + tail.substr(0, 54) + "=" + tail.substr(55) + "\n";
    KW_INI_STRUC ini = ledger_record();
    ASSERT_EQ(KW_ini_open(&ini, dir.write("l.ini", withEq).c_str(), KW_INI_READWRITE, 0), INI_OK);
    EXPECT_EQ(text(ini.pLine).size(), 255u);
    KW_ini_next(&ini);
    EXPECT_EQ(text(ini.pLine).size(), 46u);  // 45 bytes and the line end
    EXPECT_EQ(ini.linetype, INI_LINE_KEY);
    KW_ini_close(&ini);

    // A second piece that cannot classify fails the open...
    const std::string noEq = key + "=" + tail + "\n";
    ini = ledger_record();
    EXPECT_EQ(KW_ini_open(&ini, dir.write("m.ini", noEq).c_str(), KW_INI_READWRITE, 0), INI_ERR_LINE);
    EXPECT_EQ(ini.linenum, 2);
    // ...but in mode 1 a second piece that begins with ';' is dropped.
    const std::string semi = key + "=" + std::string(54, 'v') + ";" + std::string(44, 'x') + "\n";
    ini = ledger_record();
    ASSERT_EQ(KW_ini_open(&ini, dir.write("n.ini", semi).c_str(), KW_INI_READ, 0), INI_OK);
    KW_ini_next(&ini);
    EXPECT_EQ(ini.linetype, INI_LINE_NONE);
    KW_ini_close(&ini);
}

TEST_F(IniOpen, LastLineWithoutLineEndIsKept) {
    KW_INI_STRUC ini = ledger_record();
    ASSERT_EQ(KW_ini_open(&ini, dir.write("t.ini", "[A]\nk=v").c_str(), KW_INI_READ, 0), INI_OK);
    KW_ini_next(&ini);
    EXPECT_EQ(text(ini.pLine), "k=v");
    EXPECT_EQ(text(ini.pValue), "v");
    KW_ini_close(&ini);
}

// Lines of 100 bytes with their zero: the buffer grows 8,192 bytes at a time
// up to 57,344, and a text that needs one byte more is refused.
TEST_F(IniOpen, TextBufferGrowsInStepsUpTo57344Bytes) {
    std::string body;
    const std::string line = "k=" + std::string(96, 'v') + "\n";  // 99 bytes + zero = 100
    for (int i = 0; i < 573; ++i) {
        body += line;
    }
    body += "k=" + std::string(40, 'v') + "\n";  // 43 + zero: 57,344 bytes exactly
    KW_INI_STRUC ini = ledger_record();
    ASSERT_EQ(KW_ini_open(&ini, dir.write("g.ini", body).c_str(), KW_INI_READ, 0), INI_OK);
    EXPECT_EQ(Ledger::get().requests,
              (std::vector<std::uint16_t>{16384, 8192, 16384, 24576, 32768, 40960, 49152, 57344}));
    EXPECT_EQ(KW_ini_close(&ini), INI_OK);

    Ledger::reset();
    ini = ledger_record();
    EXPECT_EQ(KW_ini_open(&ini, dir.write("h.ini", body + "k\n").c_str(), KW_INI_READ, 0), INI_ERR_TEXT_FULL);
    EXPECT_EQ(ini.linenum, 0);
}

TEST_F(IniOpen, MoreThan4095LinesAreRefused) {
    std::string body;
    for (int i = 0; i < 4095; ++i) {
        body += "k\n";  // too short to classify, but the count comes first
    }
    // 4,095 empty lines fit; one more does not, from a file or a buffer.
    std::string ok(4095, '\n');
    KW_INI_STRUC ini = ledger_record();
    ASSERT_EQ(KW_ini_open(&ini, dir.write("ok.ini", ok).c_str(), KW_INI_READWRITE, 0), INI_OK);
    KW_ini_close(&ini);
    ini = ledger_record();
    EXPECT_EQ(KW_ini_open(&ini, dir.write("big.ini", ok + "\n").c_str(), KW_INI_READWRITE, 0), INI_ERR_TEXT_FULL);

    std::vector<unsigned char> buf;
    for (int i = 0; i < 4096; ++i) {
        buf.push_back('\n');
        buf.push_back(0);
    }
    ini = ledger_record();
    ini.pBuf = buf.data();
    ini.bufsize = ini.usesize = static_cast<std::uint16_t>(buf.size());
    EXPECT_EQ(KW_ini_open(&ini, nullptr, KW_INI_READWRITE, 0), INI_ERR_TEXT_FULL);
}

TEST_F(IniOpen, ReadErrorIsReportedNotHidden) {
    // A folder opens as a stream but every read fails.
    KW_INI_STRUC ini = ledger_record();
    EXPECT_EQ(KW_ini_open(&ini, dir.path().string().c_str(), KW_INI_READ, 0), INI_ERR_OPEN);
    EXPECT_EQ(ini.pLine, nullptr);
}

TEST_F(IniOpen, CallerBufferKeepsEveryLineInBothModes) {
    for (int mode : {KW_INI_READ, KW_INI_READWRITE}) {
        KW_INI_STRUC ini = ledger_record();
        CallerText t({"; c", "[A]", "k=v"});
        ASSERT_EQ(t.open(ini, mode), INI_OK);
        EXPECT_EQ(ini.pLine, t.bytes.data()) << "the text stays in the caller's block";
        KW_ini_goto(&ini, 3);
        EXPECT_EQ(text(ini.pValue), "v");
        KW_ini_next(&ini);
        EXPECT_EQ(ini.linenum, 4);
        EXPECT_EQ(KW_ini_close(&ini), INI_OK);
        EXPECT_EQ(Ledger::get().requests.back(), 16384) << "no text buffer is obtained";
    }
    KW_INI_STRUC ini = ledger_record();
    CallerText empty({}, 16);
    ASSERT_EQ(empty.open(ini), INI_OK);
    EXPECT_EQ(ini.linetype, INI_LINE_NONE);
    EXPECT_EQ(ini.linenum, 1);
    KW_ini_close(&ini);
}

// Bad descriptions of a caller's buffer never lead to a read past usesize.
TEST_F(IniOpen, CallerBufferFaultsAreRefused) {
    {  // the last line lacks its zero: the block ends right after it
        std::vector<unsigned char> buf = {'[', 'A', ']', 0, 'k', '=', 'v'};
        KW_INI_STRUC ini = ledger_record();
        ini.pBuf = buf.data();
        ini.bufsize = ini.usesize = static_cast<std::uint16_t>(buf.size());
        EXPECT_EQ(KW_ini_open(&ini, nullptr, KW_INI_READWRITE, 0), INI_ERR_LINE);
        EXPECT_EQ(ini.linenum, 2);
        EXPECT_EQ(ini.pLine, buf.data() + 4);
    }
    {  // usesize larger than bufsize
        CallerText t({"k=v"});
        KW_INI_STRUC ini = ledger_record();
        ini.pBuf = t.bytes.data();
        ini.bufsize = 2;
        ini.usesize = 4;
        EXPECT_EQ(KW_ini_open(&ini, nullptr, KW_INI_READWRITE, 0), INI_ERR_TEXT_FULL);
    }
    {  // a zero-length line
        std::vector<unsigned char> buf = {'k', '=', 'v', 0, 0};
        KW_INI_STRUC ini = ledger_record();
        ini.pBuf = buf.data();
        ini.bufsize = ini.usesize = 5;
        EXPECT_EQ(KW_ini_open(&ini, nullptr, KW_INI_READWRITE, 0), INI_ERR_LINE);
        EXPECT_EQ(ini.linenum, 2);
    }
    {  // neither a file nor a buffer
        KW_INI_STRUC ini = ledger_record();
        EXPECT_EQ(KW_ini_open(&ini, nullptr, KW_INI_READWRITE, 0), INI_ERR_OPEN);
    }
}

TEST_F(IniOpen, KeyOfMoreThan255BytesStillShowsItsValue) {
    const std::string key(300, 'K');
    KW_INI_STRUC ini = ledger_record();
    CallerText t({key + "=value"});
    ASSERT_EQ(t.open(ini), INI_OK);
    EXPECT_EQ(text(ini.pValue), "value");
    KW_ini_close(&ini);
}

TEST_F(IniOpen, CloseGivesEverythingBackOnce) {
    KW_INI_STRUC ini = ledger_record();
    ASSERT_EQ(KW_ini_close(&ini), INI_ERR_HANDLE) << "never opened";
    ASSERT_EQ(KW_ini_open(&ini, dir.write("x.ini", "[A]\nk=v\n").c_str(), KW_INI_READWRITE, 0), INI_OK);
    EXPECT_EQ(Ledger::get().live.size(), 2u) << "the table and the text, nothing else";
    EXPECT_EQ(KW_ini_close(&ini), INI_OK);
    EXPECT_TRUE(Ledger::get().live.empty());
    EXPECT_EQ(ini.pLine, nullptr);
    EXPECT_EQ(KW_ini_close(&ini), INI_ERR_HANDLE);
    EXPECT_EQ(KW_ini_next(&ini), INI_ERR_HANDLE);
}

TEST_F(IniOpen, DefaultCallbacksAreInstalledWhenNoneAreGiven) {
    KW_INI_STRUC ini = fresh_record();
    ASSERT_EQ(KW_ini_open(&ini, dir.write("d.ini", "k=v\n").c_str(), KW_INI_READ, 0), INI_OK);
    EXPECT_NE(ini.alloc_mem, nullptr);
    EXPECT_NE(ini.free_mem, nullptr);
    EXPECT_EQ(KW_ini_close(&ini), INI_OK);
}

// Fail the 1st, 2nd, ... request in turn: each open returns the callback's
// own status, is not open, and holds nothing.
TEST_F(IniOpen, AllocationFailureSweep) {
    std::string body;
    for (int i = 0; i < 400; ++i) {
        body += "key" + std::to_string(i) + "=" + std::string(40, 'v') + "\n";
    }
    const std::string path = dir.write("sweep.ini", body);
    for (long n = 0;; ++n) {
        Ledger::reset(n, 40 + static_cast<std::uint32_t>(n));
        KW_INI_STRUC ini = ledger_record();
        const std::uint32_t status = KW_ini_open(&ini, path.c_str(), KW_INI_READWRITE, 0);
        if (static_cast<long>(Ledger::get().requests.size()) <= n) {
            ASSERT_EQ(status, INI_OK);  // ran out of requests to fail
            KW_ini_close(&ini);
            break;
        }
        EXPECT_EQ(status, 40 + static_cast<std::uint32_t>(n)) << "request " << n;
        EXPECT_TRUE(Ledger::get().live.empty()) << "request " << n;
        EXPECT_EQ(KW_ini_next(&ini), INI_ERR_HANDLE);
        EXPECT_EQ(ini.pLine, nullptr);
    }
}

TEST_F(IniOpen, SixteenBitFlagReadsTheFirstCharacterFromTwoBytes) {
    // " x=1" begins with a space in 8-bit text, but with 16-bit characters its
    // first character is 0x7820 (low byte first) and the line is a key line.
    KW_INI_STRUC ini = ledger_record();
    CallerText t({" x=1"});
    EXPECT_EQ(t.open(ini, KW_INI_READWRITE, KW_INI_UTF16_LE), INI_OK);
    EXPECT_EQ(ini.linetype, INI_LINE_KEY);
    KW_ini_close(&ini);
    ini = ledger_record();
    EXPECT_EQ(t.open(ini, KW_INI_READWRITE, KW_INI_8BIT), INI_ERR_LEADING_SPACE);
}

}  // namespace
