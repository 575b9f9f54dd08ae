// Editing: insert, delete and replace keep text, table, end entry and current
// line in step; growth in exact steps; refusals change nothing; a caller's
// buffer is edited in place until it must grow, then never touched again.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "ini/ini_internal.h"
#include "ini_test_util.h"
#include "test_support.h"

namespace {

using kwtest::CallerText;
using kwtest::fresh_record;
using kwtest::Ledger;
using kwtest::TempDir;
using kwtest::text;
using kwtest::u;

KW_INI_INTERNAL *priv(KW_INI_STRUC &ini) { return kw::ini::view(&ini); }

// The stored lines, read through the table (the current line does not move).
std::vector<std::string> lines_of(KW_INI_STRUC &ini) {
    const KW_INI_INTERNAL *x = priv(ini);
    std::vector<std::string> out;
    for (std::uint16_t i = 0; i < x->numlines; ++i) {
        out.push_back(text(x->pTxt + x->pRef[i].offs));
    }
    return out;
}

// A plain restatement of the line rules, for 8-bit text: type and key length.
struct Oracle {
    std::uint8_t type;
    std::uint8_t keylen;
};
Oracle classify(const std::string &line) {
    if (line[0] == ';' || line[0] == '\n') {
        return {INI_LINE_COMMENT, 0};
    }
    if (line[0] == '[' || line[0] == '<') {
        return {INI_LINE_SECTION, 0};
    }
    const std::size_t eq = line.find('=');
    return {INI_LINE_KEY, static_cast<std::uint8_t>(eq < 255 ? eq : 255)};
}

// Everything an edit must keep true, checked from the outside in.
void expect_consistent(KW_INI_STRUC &ini) {
    const KW_INI_INTERNAL *x = priv(ini);
    ASSERT_LE(x->numlines, KW_INI_MAX_LINES);
    ASSERT_LE(x->remain, x->txtsize);
    std::uint16_t offs = 0;
    for (std::uint16_t i = 0; i < x->numlines; ++i) {
        const LINE_STRUC &e = x->pRef[i];
        ASSERT_EQ(e.offs, offs) << "line " << i + 1 << " is not where the one before it ends";
        const std::string line = text(x->pTxt + e.offs);
        ASSERT_FALSE(line.empty()) << "line " << i + 1;
        const Oracle o = classify(line);
        EXPECT_EQ(e.type, o.type) << line;
        EXPECT_EQ(e.keylen, o.keylen) << line;
        offs = static_cast<std::uint16_t>(offs + line.size() + 1);
    }
    const LINE_STRUC &end = x->pRef[x->numlines];
    EXPECT_EQ(end.offs, offs) << "end entry";
    EXPECT_EQ(end.offs, x->txtsize - x->remain) << "end entry vs. the used size";
    EXPECT_EQ(end.type, INI_LINE_NONE);
    EXPECT_EQ(end.keylen, 0);
    if ((x->owned & kw::ini::kOwnsText) != 0) {
        unsigned char *tail = x->pTxt + offs;
        EXPECT_TRUE(std::all_of(tail, x->pTxt + x->txtsize, [](unsigned char b) { return b == 0; }))
            << "a byte past the used text is not zero";
    }
    ASSERT_LE(x->ix, x->numlines);
    EXPECT_EQ(ini.linenum, x->ix + 1);
    EXPECT_EQ(ini.linetype, x->pRef[x->ix].type);
    EXPECT_EQ(ini.pLine, x->pTxt + x->pRef[x->ix].offs);
    if (ini.linetype == INI_LINE_KEY) {
        EXPECT_EQ(ini.pValue, ini.pLine + x->pRef[x->ix].keylen + 1);
    } else {
        EXPECT_EQ(ini.pValue, nullptr);
    }
}

// All that an edit may change, to prove that a refused one changed nothing.
struct Snapshot {
    std::vector<unsigned char> text;
    std::vector<std::uint32_t> table;
    const unsigned char *pTxt, *pLine, *pValue;
    std::uint16_t txtsize, remain, numlines, ix, linenum;
    std::uint8_t linetype, owned;
    std::size_t requests;

    explicit Snapshot(KW_INI_STRUC &ini) {
        const KW_INI_INTERNAL *x = priv(ini);
        text.assign(x->pTxt, x->pTxt + x->txtsize);
        for (std::uint16_t i = 0; i <= x->numlines; ++i) {
            std::uint32_t e = 0;
            std::memcpy(&e, &x->pRef[i], sizeof e);
            table.push_back(e);
        }
        pTxt = x->pTxt;
        pLine = ini.pLine;
        pValue = ini.pValue;
        txtsize = x->txtsize;
        remain = x->remain;
        numlines = x->numlines;
        ix = x->ix;
        linenum = ini.linenum;
        linetype = ini.linetype;
        owned = x->owned;
        requests = Ledger::get().requests.size();
    }
    bool operator==(const Snapshot &) const = default;
};

std::string file_of(const std::vector<std::string> &lines) {
    std::string s;
    for (const auto &l : lines) {
        s += l;
    }
    return s;
}

class IniEdit : public ::testing::Test {
protected:
    void SetUp() override { Ledger::reset(); }
    void TearDown() override {
        KW_ini_close(&ini);
        EXPECT_TRUE(Ledger::get().live.empty()) << "blocks left behind";
        EXPECT_FALSE(Ledger::get().bad_release) << "a block given back that was not ours, or with a wrong size";
    }
    // Open a file of these lines with the ledger's callbacks.
    void open_file(const std::vector<std::string> &lines, std::int32_t mode = KW_INI_READWRITE) {
        ini = fresh_record();
        kwtest::use_ledger(ini);
        ASSERT_EQ(KW_ini_open(&ini, dir.write("e.ini", file_of(lines)).c_str(), mode, 0), INI_OK);
    }
    // Lines that fill a file's text buffer to exactly `bytes` (zeros counted),
    // in lines of at most 256 bytes.
    static std::vector<std::string> filler(std::size_t bytes) {
        std::vector<std::string> lines;
        for (int n = 0; bytes > 0; ++n) {
            const std::size_t size = bytes > 512 ? 256 : (bytes > 256 ? bytes / 2 : bytes);
            const std::string head = "k" + std::to_string(n) + "=";
            lines.push_back(head + std::string(size - head.size() - 2, 'v') + "\n");
            bytes -= size;
        }
        return lines;
    }
    KW_INI_STRUC ini = fresh_record();
    TempDir dir;
};

const std::vector<std::string> kSix = {"[A]\n", "a=1\n", "; note\n", "[B]\n", "b=2\n", "c=3\n"};

// ---------------------------------------------------------------------------
// Handles that may not be edited.

TEST_F(IniEdit, ReadOnlyAndClosedHandlesAreRefused) {
    struct Op {
        const char *name;
        std::uint32_t (*run)(KW_INI_STRUC *);
    } ops[] = {
        {"insert before", [](KW_INI_STRUC *p) { return KW_ini_insert(p, u("x=1\n"), 0); }},
        {"insert after", [](KW_INI_STRUC *p) { return KW_ini_insert(p, u("x=1\n"), 1); }},
        {"delete", [](KW_INI_STRUC *p) { return KW_ini_delete(p); }},
        {"replace", [](KW_INI_STRUC *p) { return KW_ini_replace(p, u("x=1\n")); }},
    };
    open_file(kSix, KW_INI_READ);
    for (const Op &op : ops) {
        const Snapshot before(ini);
        EXPECT_EQ(op.run(&ini), INI_ERR_MODE) << op.name;
        EXPECT_TRUE(Snapshot(ini) == before) << op.name;
    }
    ASSERT_EQ(KW_ini_close(&ini), INI_OK);
    for (const Op &op : ops) {
        EXPECT_EQ(op.run(&ini), INI_ERR_HANDLE) << op.name << " after close";
    }
    KW_INI_STRUC never = fresh_record();
    for (const Op &op : ops) {
        EXPECT_EQ(op.run(&never), INI_ERR_HANDLE) << op.name << " never opened";
    }
}

// ---------------------------------------------------------------------------
// Insert

TEST_F(IniEdit, InsertIntoAnEmptyText) {
    open_file({});
    EXPECT_EQ(KW_ini_insert(&ini, u("Key=1\n"), 1), INI_ERR_LINE) << "nothing follows the end position";
    ASSERT_EQ(KW_ini_insert(&ini, u("Key=1\n"), 0), INI_OK);
    EXPECT_EQ(ini.linenum, 1);
    EXPECT_EQ(ini.linetype, INI_LINE_KEY);
    EXPECT_EQ(text(ini.pValue), "1\n");
    EXPECT_EQ(lines_of(ini), std::vector<std::string>{"Key=1\n"});
    expect_consistent(ini);
}

TEST_F(IniEdit, InsertBeforeOrAfterTheCurrentLine) {
    struct Case {
        unsigned char where;
        std::uint16_t newnum;
        std::vector<std::string> lines;
    } cases[] = {
        {0, 5, {"[A]\n", "a=1\n", "; note\n", "[B]\n", "[C]\n", "b=2\n", "c=3\n"}},
        {1, 6, {"[A]\n", "a=1\n", "; note\n", "[B]\n", "b=2\n", "[C]\n", "c=3\n"}},
    };
    for (const Case &c : cases) {
        open_file(kSix);
        ASSERT_EQ(KW_ini_goto(&ini, 5), INI_OK);
        ASSERT_EQ(KW_ini_insert(&ini, u("[C]\n"), c.where), INI_OK);
        EXPECT_EQ(ini.linenum, c.newnum) << "where " << int{c.where};
        EXPECT_EQ(text(ini.pLine), "[C]\n");
        EXPECT_EQ(ini.linetype, INI_LINE_SECTION);
        EXPECT_EQ(lines_of(ini), c.lines);
        expect_consistent(ini);
        KW_ini_close(&ini);
    }
}

TEST_F(IniEdit, InsertAtTheEndPositionAppends) {
    open_file(kSix);
    unsigned char found = 0;
    ASSERT_EQ(KW_ini_find(&ini, u("nope"), nullptr, &found), INI_OK);
    ASSERT_EQ(ini.linetype, INI_LINE_NONE);
    ASSERT_EQ(KW_ini_insert(&ini, u("z=9"), 0), INI_OK);
    EXPECT_EQ(ini.linenum, 7);
    EXPECT_EQ(lines_of(ini).back(), "z=9");
    expect_consistent(ini);
    EXPECT_EQ(KW_ini_next(&ini), INI_OK);
    EXPECT_EQ(ini.linenum, 8);
    EXPECT_EQ(ini.linetype, INI_LINE_NONE);
}

TEST_F(IniEdit, SearchSeesAnInsertedLineAtOnce) {
    open_file(kSix);
    ASSERT_EQ(KW_ini_goto(&ini, 5), INI_OK);
    ASSERT_EQ(KW_ini_insert(&ini, u("Fresh=new\n"), 1), INI_OK);
    ASSERT_EQ(KW_ini_goto(&ini, 1), INI_OK);
    unsigned char found = 0;
    ASSERT_EQ(KW_ini_find(&ini, u("b"), u("FRESH"), &found), INI_OK);
    EXPECT_EQ(found, 1);
    EXPECT_EQ(ini.linenum, 6);
    EXPECT_EQ(text(ini.pValue), "new\n");
}

TEST_F(IniEdit, RefusedInsertsChangeNothing) {
    const std::string longest = "k=" + std::string(253, 'v');  // 255 bytes: the most a line may hold
    struct Case {
        std::string line;
        unsigned char where;
        std::uint32_t status;
    } cases[] = {
        {"x=1\n", 2, INI_ERR_WHERE},
        {"x=1\n", 255, INI_ERR_WHERE},
        {" x=1\n", 0, INI_ERR_LEADING_SPACE},
        {"[x\n", 1, INI_ERR_LINE},
        {"<x]\n", 0, INI_ERR_LINE},
        {"plain\n", 0, INI_ERR_LINE},
        {"", 0, INI_ERR_LINE},
        {longest + "v", 0, INI_ERR_TEXT_FULL},
        {" " + longest + "vv", 0, INI_ERR_TEXT_FULL},  // the length is checked before the line
    };
    open_file(kSix);
    ASSERT_EQ(KW_ini_goto(&ini, 3), INI_OK);
    for (const Case &c : cases) {
        const Snapshot before(ini);
        EXPECT_EQ(KW_ini_insert(&ini, u(c.line.c_str()), c.where), c.status) << c.line;
        EXPECT_TRUE(Snapshot(ini) == before) << c.line;
    }
    ASSERT_EQ(KW_ini_insert(&ini, u(longest.c_str()), 0), INI_OK) << "255 bytes fit";
    EXPECT_EQ(text(ini.pLine), longest);
    expect_consistent(ini);
}

TEST_F(IniEdit, FullLineTableRefusesInsertButNotReplace) {
    open_file(std::vector<std::string>(KW_INI_MAX_LINES, "\n"));
    ASSERT_EQ(priv(ini)->numlines, KW_INI_MAX_LINES);
    for (int where : {0, 1}) {
        const Snapshot before(ini);
        EXPECT_EQ(KW_ini_insert(&ini, u("k=v\n"), static_cast<unsigned char>(where)), INI_ERR_TEXT_FULL);
        EXPECT_TRUE(Snapshot(ini) == before);
    }
    EXPECT_EQ(KW_ini_replace(&ini, u("k=v\n")), INI_OK) << "a replace needs no new entry";
    ASSERT_EQ(KW_ini_delete(&ini), INI_OK);
    EXPECT_EQ(KW_ini_insert(&ini, u("k=w\n"), 0), INI_OK);
    EXPECT_EQ(priv(ini)->numlines, KW_INI_MAX_LINES);
    EXPECT_EQ(KW_ini_insert(&ini, u("k=x\n"), 0), INI_ERR_TEXT_FULL);
    expect_consistent(ini);
}

// Inserting the current line itself: the text is taken before anything moves,
// even when the buffer it lies in is replaced by a larger one.
TEST_F(IniEdit, InsertingTheCurrentLineItselfCopiesIt) {
    std::vector<std::string> lines = filler(kw::ini::kTextStep);
    open_file(lines);
    ASSERT_EQ(priv(ini)->remain, 0);
    ASSERT_EQ(KW_ini_goto(&ini, 2), INI_OK);
    const std::string second = text(ini.pLine);
    ASSERT_EQ(KW_ini_insert(&ini, ini.pLine, 1), INI_OK);
    EXPECT_EQ(priv(ini)->txtsize, 2 * kw::ini::kTextStep) << "the insert had to grow the buffer";
    lines.insert(lines.begin() + 2, second);
    EXPECT_EQ(lines_of(ini), lines);
    ASSERT_EQ(KW_ini_replace(&ini, ini.pLine), INI_OK);
    EXPECT_EQ(lines_of(ini), lines);
    expect_consistent(ini);
}

// ---------------------------------------------------------------------------
// Delete

TEST_F(IniEdit, DeleteMakesTheFollowingLineCurrentAndClearsFreedBytes) {
    open_file(kSix);
    ASSERT_EQ(KW_ini_goto(&ini, 2), INI_OK);
    const std::uint16_t used_before = static_cast<std::uint16_t>(priv(ini)->txtsize - priv(ini)->remain);
    ASSERT_EQ(KW_ini_delete(&ini), INI_OK);
    EXPECT_EQ(ini.linenum, 2);
    EXPECT_EQ(text(ini.pLine), "; note\n");
    EXPECT_EQ(lines_of(ini), (std::vector<std::string>{"[A]\n", "; note\n", "[B]\n", "b=2\n", "c=3\n"}));
    EXPECT_EQ(priv(ini)->txtsize - priv(ini)->remain, used_before - 5);
    expect_consistent(ini);  // includes: every byte past the text is zero

    ASSERT_EQ(KW_ini_goto(&ini, 5), INI_OK);
    ASSERT_EQ(KW_ini_delete(&ini), INI_OK);
    EXPECT_EQ(ini.linetype, INI_LINE_NONE) << "deleting the last line reaches the end position";
    EXPECT_EQ(ini.linenum, 5);
    const Snapshot before(ini);
    EXPECT_EQ(KW_ini_delete(&ini), INI_ERR_LINE);
    EXPECT_TRUE(Snapshot(ini) == before);
    expect_consistent(ini);
}

TEST_F(IniEdit, DeletingEveryLineLeavesAnEmptyText) {
    open_file(kSix);
    while (ini.linetype != INI_LINE_NONE) {
        ASSERT_EQ(KW_ini_delete(&ini), INI_OK);
        expect_consistent(ini);
    }
    EXPECT_EQ(ini.linenum, 1);
    EXPECT_EQ(priv(ini)->numlines, 0);
    EXPECT_EQ(priv(ini)->remain, priv(ini)->txtsize);
}

// ---------------------------------------------------------------------------
// Replace

TEST_F(IniEdit, ReplaceKeepsTheNumberAndTakesTheNewLinesType) {
    struct Case {
        std::string line;
        std::uint8_t type;
        const char *value;
    } cases[] = {
        {"; was a key\n", INI_LINE_COMMENT, "<null>"},
        {"LongerKey = a=b\n", INI_LINE_KEY, " a=b\n"},
        {"<S>\n", INI_LINE_SECTION, "<null>"},
        {"=", INI_LINE_KEY, ""},
    };
    open_file(kSix);
    ASSERT_EQ(KW_ini_goto(&ini, 5), INI_OK);
    for (const Case &c : cases) {
        ASSERT_EQ(KW_ini_replace(&ini, u(c.line.c_str())), INI_OK) << c.line;
        EXPECT_EQ(ini.linenum, 5);
        EXPECT_EQ(ini.linetype, c.type);
        EXPECT_EQ(text(ini.pValue), c.value);
        std::vector<std::string> expected = kSix;
        expected[4] = c.line;
        EXPECT_EQ(lines_of(ini), expected);
        expect_consistent(ini);
    }
}

TEST_F(IniEdit, RefusedReplacesKeepTheOldLine) {
    const std::string too_long = "k=" + std::string(254, 'v');
    struct Case {
        std::string line;
        std::uint32_t status;
    } cases[] = {
        {" x=1\n", INI_ERR_LEADING_SPACE},
        {"[x\n", INI_ERR_LINE},
        {"", INI_ERR_LINE},
        {too_long, INI_ERR_TEXT_FULL},
    };
    open_file(kSix);
    ASSERT_EQ(KW_ini_goto(&ini, 2), INI_OK);
    for (const Case &c : cases) {
        const Snapshot before(ini);
        EXPECT_EQ(KW_ini_replace(&ini, u(c.line.c_str())), c.status) << c.line;
        EXPECT_TRUE(Snapshot(ini) == before) << c.line;
        EXPECT_EQ(text(ini.pLine), "a=1\n");
    }
    ASSERT_EQ(KW_ini_goto(&ini, 6), INI_OK);
    ASSERT_EQ(KW_ini_delete(&ini), INI_OK);
    const Snapshot before(ini);
    EXPECT_EQ(KW_ini_replace(&ini, u("x=1\n")), INI_ERR_LINE) << "no current line at the end position";
    EXPECT_TRUE(Snapshot(ini) == before);
}

// A full buffer of the largest size: the new line fits only if it is no
// longer than the old one.
TEST_F(IniEdit, ReplaceInAFullBufferFitsOnlyInTheOldLinesRoom) {
    open_file(filler(KW_INI_MAX_TEXT));
    ASSERT_EQ(priv(ini)->txtsize, KW_INI_MAX_TEXT);
    ASSERT_EQ(priv(ini)->remain, 0);
    ASSERT_EQ(KW_ini_goto(&ini, 3), INI_OK);
    const std::string old = text(ini.pLine);
    const Snapshot before(ini);
    EXPECT_EQ(KW_ini_replace(&ini, u((old.substr(0, old.size() - 1) + "x\n").c_str())), INI_ERR_TEXT_FULL);
    EXPECT_TRUE(Snapshot(ini) == before);
    ASSERT_EQ(KW_ini_replace(&ini, u(("K" + old.substr(1)).c_str())), INI_OK) << "same size";
    EXPECT_EQ(Ledger::get().requests.size(), before.requests) << "no growth";
    ASSERT_EQ(KW_ini_replace(&ini, u("short=1\n")), INI_OK);
    EXPECT_EQ(priv(ini)->remain, old.size() - 8);
    expect_consistent(ini);
}

// The old line's bytes count as room: a replace that fits once they are free
// must not grow the buffer; one byte more grows it by one step.
TEST_F(IniEdit, ReplaceCountsTheOldLinesBytesAsRoom) {
    std::vector<std::string> lines = {"a=1\n"};  // 5 bytes with its zero
    const std::vector<std::string> rest = filler(kw::ini::kTextStep - 5 - 3);
    lines.insert(lines.end(), rest.begin(), rest.end());
    open_file(lines);
    ASSERT_EQ(priv(ini)->remain, 3);
    const std::size_t requests = Ledger::get().requests.size();
    ASSERT_EQ(KW_ini_replace(&ini, u("a=1234\n")), INI_OK) << "5 + 3 bytes: exactly the room there is";
    EXPECT_EQ(priv(ini)->remain, 0);
    EXPECT_EQ(priv(ini)->txtsize, kw::ini::kTextStep);
    EXPECT_EQ(Ledger::get().requests.size(), requests) << "no growth";
    ASSERT_EQ(KW_ini_replace(&ini, u("a=12345\n")), INI_OK) << "one byte more";
    EXPECT_EQ(Ledger::get().requests.size(), requests + 1);
    EXPECT_EQ(Ledger::get().requests.back(), 2 * kw::ini::kTextStep);
    EXPECT_EQ(priv(ini)->remain, kw::ini::kTextStep - 1);
    EXPECT_EQ(ini.linenum, 1);
    EXPECT_EQ(text(ini.pLine), "a=12345\n");
    expect_consistent(ini);
}

// ---------------------------------------------------------------------------
// Growth

// Lines of 256 bytes inserted at line 2: the buffer grows by exactly 8,192
// bytes each time it runs out, up to 57,344; then an insert that needs more
// room is refused and changes nothing.
TEST_F(IniEdit, GrowsInExactStepsUpTo57344) {
    open_file(filler(kw::ini::kTextStep));
    ASSERT_EQ(priv(ini)->remain, 0);
    const std::size_t first = Ledger::get().requests.size();
    const std::string line = "n=" + std::string(252, 'x') + "\n";  // 256 with its zero
    for (;;) {
        ASSERT_EQ(KW_ini_goto(&ini, 2), INI_OK);
        const KW_INI_INTERNAL *x = priv(ini);
        std::vector<std::uint16_t> offs_before;
        for (std::uint16_t i = 0; i <= x->numlines; ++i) {
            offs_before.push_back(x->pRef[i].offs);
        }
        const std::uint16_t oldsize = x->txtsize;
        const bool must_grow = x->remain < line.size() + 1;
        const Snapshot before(ini);
        const std::uint32_t status = KW_ini_insert(&ini, u(line.c_str()), 0);
        if (must_grow && oldsize == KW_INI_MAX_TEXT) {
            EXPECT_EQ(status, INI_ERR_TEXT_FULL);
            EXPECT_TRUE(Snapshot(ini) == before) << "nothing changed on 30";
            break;
        }
        ASSERT_EQ(status, INI_OK);
        EXPECT_EQ(x->txtsize, must_grow ? oldsize + kw::ini::kTextStep : oldsize);
        EXPECT_EQ(x->pRef[0].offs, offs_before[0]) << "lines before the new one keep their offsets";
        EXPECT_EQ(x->pRef[1].offs, offs_before[1]) << "the new line takes the old line 2's offset";
        for (std::size_t i = 1; i < offs_before.size(); ++i) {
            ASSERT_EQ(x->pRef[i + 1].offs, offs_before[i] + line.size() + 1) << "line " << i + 1;
        }
        expect_consistent(ini);
    }
    std::vector<std::uint16_t> grown(Ledger::get().requests.begin() + static_cast<long>(first),
                                     Ledger::get().requests.end());
    EXPECT_EQ(grown, (std::vector<std::uint16_t>{16384, 24576, 32768, 40960, 49152, 57344}));
    // Each old block was given back with its own size.
    const std::vector<std::uint16_t> &rel = Ledger::get().releases;
    EXPECT_EQ(std::vector<std::uint16_t>(rel.end() - 6, rel.end()),
              (std::vector<std::uint16_t>{8192, 16384, 24576, 32768, 40960, 49152}));
}

TEST_F(IniEdit, AllocationFailureWhileGrowingChangesNothing) {
    std::vector<std::string> lines = {"a=1\n"};
    const std::vector<std::string> rest = filler(kw::ini::kTextStep - 5);
    lines.insert(lines.end(), rest.begin(), rest.end());
    open_file(lines);
    ASSERT_EQ(priv(ini)->remain, 0);
    const std::string longest = "k=" + std::string(253, 'v');
    struct Op {
        const char *name;
        std::uint32_t (*run)(KW_INI_STRUC *, const unsigned char *);
    } ops[] = {
        {"insert", [](KW_INI_STRUC *p, const unsigned char *l) { return KW_ini_insert(p, l, 1); }},
        {"replace", [](KW_INI_STRUC *p, const unsigned char *l) { return KW_ini_replace(p, l); }},
    };
    for (const Op &op : ops) {
        Ledger::get().fail_at = static_cast<long>(Ledger::get().requests.size());
        Ledger::get().fail_status = 99;
        const Snapshot before(ini);
        EXPECT_EQ(op.run(&ini, u(longest.c_str())), 99u) << op.name << ": the callback's own status";
        Ledger::get().requests.pop_back();  // the refused request
        EXPECT_TRUE(Snapshot(ini) == before) << op.name;
        EXPECT_EQ(text(ini.pLine), "a=1\n");
    }
    Ledger::get().fail_at = -1;
    ASSERT_EQ(KW_ini_replace(&ini, u(longest.c_str())), INI_OK) << "a later try succeeds";
    EXPECT_EQ(ini.linenum, 1);
    expect_consistent(ini);
}

// ---------------------------------------------------------------------------
// A caller's buffer

constexpr unsigned char kGuard = 0xA5;

// The caller's text in a larger block: the bytes after bufsize are a guard
// region the engine must never touch.
struct GuardedText {
    std::vector<unsigned char> block;
    std::size_t bufsize;
    GuardedText(const std::vector<std::string> &lines, std::size_t spare, std::size_t guard = 64) {
        for (const auto &l : lines) {
            block.insert(block.end(), l.begin(), l.end());
            block.push_back(0);
        }
        used = block.size();
        bufsize = used + spare;
        block.resize(bufsize, 0xEE);  // free bytes of a caller's buffer need not be zero
        block.resize(bufsize + guard, kGuard);
    }
    std::size_t used;
    std::uint32_t open(KW_INI_STRUC &ini) {
        ini.pBuf = block.data();
        ini.bufsize = static_cast<std::uint16_t>(bufsize);
        ini.usesize = static_cast<std::uint16_t>(used);
        return KW_ini_open(&ini, nullptr, KW_INI_READWRITE, 0);
    }
    bool guard_intact() const {
        for (std::size_t i = bufsize; i < block.size(); ++i) {
            if (block[i] != kGuard) {
                return false;
            }
        }
        return true;
    }
    bool holds(const unsigned char *p) const { return p >= block.data() && p < block.data() + bufsize; }
};

TEST_F(IniEdit, CallerBufferIsEditedInPlaceWhileItFits) {
    GuardedText t({"[A]", "a=1"}, 16);
    kwtest::use_ledger(ini);
    ASSERT_EQ(t.open(ini), INI_OK);
    ASSERT_EQ(KW_ini_insert(&ini, u("b=2"), 1), INI_OK);
    ASSERT_EQ(KW_ini_goto(&ini, 2), INI_OK);
    ASSERT_EQ(KW_ini_delete(&ini), INI_OK);
    ASSERT_EQ(KW_ini_replace(&ini, u("b=22222")), INI_OK);
    EXPECT_TRUE(t.holds(ini.pLine)) << "still in the caller's buffer";
    const unsigned char expected[] = "[A]\0b=22222";
    EXPECT_EQ(std::memcmp(t.block.data(), expected, sizeof expected), 0);
    expect_consistent(ini);
    EXPECT_TRUE(t.guard_intact());
    EXPECT_EQ(Ledger::get().requests, std::vector<std::uint16_t>{16384}) << "only the line table";
}

TEST_F(IniEdit, CallerBufferMovesIntoAnEngineBlockWhenItMustGrow) {
    GuardedText t({"[A]", "a=1", "b=2"}, 5);
    kwtest::use_ledger(ini);
    ASSERT_EQ(t.open(ini), INI_OK);
    ASSERT_EQ(KW_ini_goto(&ini, 3), INI_OK);
    ASSERT_EQ(KW_ini_insert(&ini, u("c=3"), 1), INI_OK);  // 4 bytes: fits, 1 left
    const std::vector<unsigned char> at_move(t.block.begin(), t.block.begin() + static_cast<long>(t.bufsize));

    ASSERT_EQ(KW_ini_insert(&ini, u("d=4"), 1), INI_OK);
    EXPECT_EQ(Ledger::get().requests.back(), t.bufsize + kw::ini::kTextStep) << "bufsize + 8,192";
    EXPECT_FALSE(t.holds(ini.pLine)) << "the caller learns of the move: pLine is outside pBuf";
    EXPECT_EQ(lines_of(ini), (std::vector<std::string>{"[A]", "a=1", "b=2", "c=3", "d=4"}));
    EXPECT_EQ(ini.pBuf, t.block.data());
    EXPECT_EQ(ini.bufsize, t.bufsize);
    EXPECT_EQ(ini.usesize, t.used);
    expect_consistent(ini);

    // From now on the caller's bytes stay as they were at the move.
    ASSERT_EQ(KW_ini_goto(&ini, 1), INI_OK);
    ASSERT_EQ(KW_ini_delete(&ini), INI_OK);
    ASSERT_EQ(KW_ini_replace(&ini, u("z=26")), INI_OK);
    EXPECT_EQ(std::vector<unsigned char>(t.block.begin(), t.block.begin() + static_cast<long>(t.bufsize)),
              at_move);
    EXPECT_TRUE(t.guard_intact());
    EXPECT_EQ(KW_ini_write(&ini), INI_ERR_NO_FILE) << "still a buffer's handle";
    ASSERT_EQ(KW_ini_close(&ini), INI_OK);
    EXPECT_TRUE(Ledger::get().live.empty());
    EXPECT_EQ(Ledger::get().releases.size(), 2u) << "the table and the engine's text block, never pBuf";
}

// A caller's buffer grows like ours, to at most 65,535 bytes.
TEST_F(IniEdit, CallerBufferGrowsOnlyWithin65535Bytes) {
    for (std::size_t size : {std::size_t{57343}, std::size_t{57344}}) {
        std::vector<std::string> lines;
        std::size_t left = size;
        for (int n = 0; left > 0; ++n) {
            const std::size_t len = left >= 512 ? 255 : (left > 256 ? left / 2 : left - 1);
            const std::string head = "k" + std::to_string(n) + "=";
            lines.push_back(head + std::string(len - head.size(), 'v'));
            left -= len + 1;
        }
        GuardedText t(lines, 0);
        ASSERT_EQ(t.used, size);
        Ledger::reset();
        ini = fresh_record();
        kwtest::use_ledger(ini);
        ASSERT_EQ(t.open(ini), INI_OK);
        const Snapshot before(ini);
        const std::uint32_t status = KW_ini_insert(&ini, u("k=v"), 0);
        if (size == 57343) {
            EXPECT_EQ(status, INI_OK);
            EXPECT_EQ(priv(ini)->txtsize, 65535);
            expect_consistent(ini);
        } else {
            EXPECT_EQ(status, INI_ERR_TEXT_FULL);
            EXPECT_TRUE(Snapshot(ini) == before);
        }
        EXPECT_TRUE(t.guard_intact());
        ASSERT_EQ(KW_ini_close(&ini), INI_OK);
        EXPECT_TRUE(Ledger::get().live.empty());
        EXPECT_FALSE(Ledger::get().bad_release);
    }
}

// ---------------------------------------------------------------------------
// Against a model

// A random run of edits and moves, each checked against a list of strings and
// a byte count that follow the same rules.
TEST_F(IniEdit, RandomEditsAgreeWithASimpleModel) {
    open_file({"[A]\n", "a=1\n"});
    std::vector<std::string> model = {"[A]\n", "a=1\n"};
    std::size_t pos = 0;
    std::size_t txtsize = kw::ini::kTextStep;
    auto used = [&] {
        std::size_t n = 0;
        for (const auto &l : model) {
            n += l.size() + 1;
        }
        return n;
    };
    // Room for `extra` more bytes, growing by one step if need be; false
    // when the buffer cannot grow.
    auto room = [&](std::size_t extra) {
        if (used() + extra <= txtsize) {
            return true;
        }
        if (txtsize + kw::ini::kTextStep > 0xFFFF) {
            return false;
        }
        txtsize += kw::ini::kTextStep;
        return true;
    };
    std::mt19937 rng(20240531);
    auto make_line = [&]() -> std::string {
        const std::string body(rng() % 200, static_cast<char>('a' + rng() % 26));
        const std::string end = rng() % 8 != 0 ? "\n" : "";
        switch (rng() % 7) {
        case 0: return "; " + body + end;
        case 1: return "\n";
        case 2: return "[S" + body + "]" + end;
        case 3: return "<T>" + body + end;
        case 4: return " bad=" + body;
        case 5: return "=" + body + end;
        default: return "key" + body + "=" + body.substr(0, 30) + end;
        }
    };
    // Inserts outweigh deletes, so the run reaches the largest buffer and
    // meets refusals there.
    for (int step = 0; step < 3000; ++step) {
        const std::string line = make_line();
        const bool bad = line[0] == ' ';
        const auto op = static_cast<unsigned>(rng() % 10);
        std::uint32_t expected = INI_OK;
        std::uint32_t got = INI_OK;
        if (op < 5) {
            const auto where = static_cast<unsigned char>(op % 2);
            if (where == 1 && pos == model.size()) {
                expected = INI_ERR_LINE;
            } else if (bad) {
                expected = INI_ERR_LEADING_SPACE;
            } else if (!room(line.size() + 1)) {
                expected = INI_ERR_TEXT_FULL;
            } else {
                pos += where;
                model.insert(model.begin() + static_cast<long>(pos), line);
            }
            got = KW_ini_insert(&ini, u(line.c_str()), where);
        } else if (op < 7) {
            if (pos == model.size()) {
                expected = INI_ERR_LINE;
            } else {
                model.erase(model.begin() + static_cast<long>(pos));
            }
            got = KW_ini_delete(&ini);
        } else if (op < 9) {
            if (pos == model.size()) {
                expected = INI_ERR_LINE;
            } else if (bad) {
                expected = INI_ERR_LEADING_SPACE;
            } else {
                const std::size_t old = model[pos].size() + 1;
                if (line.size() + 1 > old && !room(line.size() + 1 - old)) {
                    expected = INI_ERR_TEXT_FULL;
                } else {
                    model[pos] = line;
                }
            }
            got = KW_ini_replace(&ini, u(line.c_str()));
        } else if (!model.empty()) {
            pos = rng() % model.size();
            got = KW_ini_goto(&ini, static_cast<std::uint16_t>(pos + 1));
        }
        ASSERT_EQ(got, expected) << "step " << step << " op " << op << " line '" << line << "'";
        ASSERT_EQ(ini.linenum, pos + 1) << "step " << step;
        ASSERT_EQ(priv(ini)->txtsize, txtsize) << "step " << step;
        ASSERT_EQ(lines_of(ini), model) << "step " << step;
        expect_consistent(ini);
        if (HasFatalFailure() || HasNonfatalFailure()) {
            return;
        }
    }
    EXPECT_EQ(txtsize, KW_INI_MAX_TEXT) << "the run never reached the largest buffer";
}

}  // namespace
