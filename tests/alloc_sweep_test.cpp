// Allocation-failure sweeps: fail the 1st, 2nd, ... memory request in turn
// and require the documented status, a record left as documented, and every
// block given back with its own size.
//
// The edit sweeps replay one script of edits per failing request: the edit
// whose request fails must return the callback's status and change nothing
// at all, the same edit retried must then succeed, and the script must end
// with the very lines of a run in which nothing failed.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "ini/ini_internal.h"
#include "ini_test_util.h"
#include "msg_test_util.h"
#include "test_support.h"

namespace {

using kwtest::Ledger;
using kwtest::TempDir;
using kwtest::u;

constexpr std::uint32_t kRefused = 77;  // what a failing request returns

// Everything an edit may change, taken from the record.
struct State {
    std::vector<std::string> lines;
    std::uint16_t ix, txtsize, remain, linenum;
    std::uint8_t owned, linetype;
    const unsigned char *pTxt;
    const unsigned char *pLine;
    const unsigned char *pValue;
    std::size_t live;  // blocks held

    explicit State(KW_INI_STRUC &ini) {
        const KW_INI_INTERNAL *x = kw::ini::view(&ini);
        for (std::uint16_t i = 0; i < x->numlines; ++i) {
            lines.emplace_back(reinterpret_cast<const char *>(x->pTxt + x->pRef[i].offs));
        }
        ix = x->ix;
        txtsize = x->txtsize;
        remain = x->remain;
        owned = x->owned;
        pTxt = x->pTxt;
        linenum = ini.linenum;
        linetype = ini.linetype;
        pLine = ini.pLine;
        pValue = ini.pValue;
        live = Ledger::get().live.size();
    }
    bool operator==(const State &) const = default;
};

using Edit = std::function<std::uint32_t(KW_INI_STRUC *)>;

Edit insert(std::string line, unsigned char where) {
    return [line, where](KW_INI_STRUC *p) { return KW_ini_insert(p, u(line.c_str()), where); };
}
Edit replace(std::string line) {
    return [line](KW_INI_STRUC *p) { return KW_ini_replace(p, u(line.c_str())); };
}
Edit go(std::uint16_t n) {
    return [n](KW_INI_STRUC *p) { return KW_ini_goto(p, n); };
}
Edit remove() {
    return [](KW_INI_STRUC *p) { return KW_ini_delete(p); };
}

std::string long_line(int n, std::size_t size) {
    std::string head = "k" + std::to_string(n) + "=";
    return head + std::string(size - head.size() - 1, 'v') + "\n";
}

// An edit script that makes the text grow again and again: long lines
// inserted on either side, short lines replaced by long ones, a few deletes.
std::vector<Edit> growth_script(int rounds) {
    std::vector<Edit> script;
    for (int n = 0; n < rounds; ++n) {
        script.push_back(insert(long_line(n, 255), static_cast<unsigned char>(n % 2)));
        script.push_back(insert("s" + std::to_string(n) + "=1\n", 0));
        script.push_back(replace(long_line(1000 + n, 250)));
        if (n % 7 == 6) {
            script.push_back(go(1));
            script.push_back(remove());
        }
    }
    return script;
}

// How a sweep opens its record.
struct Opener {
    const char *name;
    std::function<std::uint32_t(KW_INI_STRUC &)> open;
};

struct Outcome {
    std::vector<std::uint32_t> statuses;
    std::vector<std::string> lines;
    std::size_t requests = 0;  // made by the script, the open's not counted
};

// Run script on a freshly opened record, failing request fail_at of the
// script (-1: none). Returns whether a request was refused.
bool replay(const Opener &opener, const std::vector<Edit> &script, long fail_at, Outcome &out,
            const std::function<void(KW_INI_STRUC &, const State &)> &unchanged_check = nullptr) {
    Ledger::reset();
    KW_INI_STRUC ini = kwtest::fresh_record();
    kwtest::use_ledger(ini);
    EXPECT_EQ(opener.open(ini), INI_OK);
    const std::size_t opened = Ledger::get().requests.size();
    Ledger::get().fail_status = kRefused;
    Ledger::get().fail_at = fail_at < 0 ? -1 : static_cast<long>(opened) + fail_at;
    bool refused = false;
    for (std::size_t i = 0; i < script.size(); ++i) {
        const State before(ini);
        std::uint32_t status = script[i](&ini);
        if (status == kRefused) {
            refused = true;
            EXPECT_TRUE(State(ini) == before) << opener.name << ": edit " << i << " changed the record";
            if (unchanged_check) {
                unchanged_check(ini, before);
            }
            status = script[i](&ini);  // the same edit, now with memory
        }
        out.statuses.push_back(status);
    }
    out.lines = State(ini).lines;
    out.requests = Ledger::get().requests.size() - opened;
    EXPECT_EQ(KW_ini_close(&ini), INI_OK);
    EXPECT_TRUE(Ledger::get().live.empty()) << opener.name << ": blocks left behind";
    EXPECT_FALSE(Ledger::get().bad_release) << opener.name << ": a block given back with a wrong size";
    return refused;
}

void sweep(const Opener &opener, const std::vector<Edit> &script, std::size_t min_requests,
           const std::function<void(KW_INI_STRUC &, const State &)> &unchanged_check = nullptr) {
    Outcome clean;
    ASSERT_FALSE(replay(opener, script, -1, clean));
    ASSERT_GE(clean.requests, min_requests) << opener.name << ": the script must make the text grow";
    long n = 0;
    for (;; ++n) {
        SCOPED_TRACE(std::string(opener.name) + ", request " + std::to_string(n));
        Outcome got;
        if (!replay(opener, script, n, got, unchanged_check)) {
            break;
        }
        EXPECT_EQ(got.statuses, clean.statuses);
        EXPECT_EQ(got.lines, clean.lines);
    }
    EXPECT_EQ(static_cast<std::size_t>(n), clean.requests) << opener.name << ": every request was failed once";
}

// ---------------------------------------------------------------------------
// Opening

// Every way in, each mode: a successful open asks for exactly the line
// table, the first text buffer and each growth of it, nothing else (callers
// serve these sizes from fixed pools). Then each request fails in turn: the
// open gives the callback's status, a closed record, linenum 0, no published
// line, and nothing held.
TEST(AllocSweep, OpenAsksForExactlyTheTableTheTextAndItsGrowths) {
    TempDir dir;
    std::string many;
    for (int i = 0; i < 300; ++i) {
        many += long_line(i, 60) + "; comment dropped in mode 1\n";
    }
    const std::string big = dir.write("big.ini", many);
    const std::string empty = dir.write("empty.ini", "");
    kwtest::CallerText caller({"[A]", "a=1", "; c"}, 100);
    using Sizes = std::vector<std::uint16_t>;
    const struct {
        const char *name;
        std::function<std::uint32_t(KW_INI_STRUC &)> open;
        Sizes sizes;          // what a successful open asks for, in order
        std::uint32_t write;  // what KW_ini_write then answers
    } cases[] = {
        {"file, mode 1, grows twice", [&](KW_INI_STRUC &i) { return KW_ini_open(&i, big.c_str(), KW_INI_READ, 0); },
         Sizes{16384, 8192, 16384, 24576}, INI_ERR_MODE},
        {"file, mode 2, grows three times",
         [&](KW_INI_STRUC &i) { return KW_ini_open(&i, big.c_str(), KW_INI_READWRITE, 0); },
         Sizes{16384, 8192, 16384, 24576, 32768}, INI_OK},
        {"empty file, mode 1", [&](KW_INI_STRUC &i) { return KW_ini_open(&i, empty.c_str(), KW_INI_READ, 0); },
         Sizes{16384, 8192}, INI_ERR_MODE},
        {"empty file, mode 2", [&](KW_INI_STRUC &i) { return KW_ini_open(&i, empty.c_str(), KW_INI_READWRITE, 0); },
         Sizes{16384, 8192}, INI_OK},
        {"caller's buffer, mode 1", [&](KW_INI_STRUC &i) { return caller.open(i, KW_INI_READ); }, Sizes{16384}, INI_ERR_MODE},
        {"caller's buffer, mode 2", [&](KW_INI_STRUC &i) { return caller.open(i, KW_INI_READWRITE); }, Sizes{16384},
         INI_ERR_NO_FILE},
    };
    for (const auto &c : cases) {
        for (long n = 0;; ++n) {
            SCOPED_TRACE(std::string(c.name) + ", request " + std::to_string(n));
            const std::uint32_t status_for_n = 40 + static_cast<std::uint32_t>(n);
            Ledger::reset(n, status_for_n);
            KW_INI_STRUC ini = kwtest::fresh_record();
            kwtest::use_ledger(ini);
            const std::uint32_t status = c.open(ini);
            if (static_cast<long>(Ledger::get().requests.size()) <= n) {
                EXPECT_EQ(status, INI_OK);
                EXPECT_EQ(Ledger::get().requests, c.sizes);
                EXPECT_EQ(KW_ini_write(&ini), c.write);
                EXPECT_EQ(Ledger::get().requests, c.sizes) << "a write asks for nothing";
                EXPECT_EQ(KW_ini_close(&ini), INI_OK);
                EXPECT_TRUE(Ledger::get().live.empty());
                Sizes released = Ledger::get().releases;
                std::sort(released.begin(), released.end());
                Sizes obtained = c.sizes;
                std::sort(obtained.begin(), obtained.end());
                EXPECT_EQ(released, obtained) << "every block given back once, with its own size";
                break;
            }
            EXPECT_EQ(status, status_for_n);
            EXPECT_EQ(Ledger::get().requests, Sizes(c.sizes.begin(), c.sizes.begin() + n + 1))
                << "the same sizes up to the refusal, and no request after it";
            EXPECT_TRUE(Ledger::get().live.empty());
            EXPECT_FALSE(Ledger::get().bad_release);
            EXPECT_EQ(ini.linenum, 0);
            EXPECT_EQ(ini.pLine, nullptr);
            EXPECT_EQ(ini.pValue, nullptr);
            EXPECT_EQ(KW_ini_next(&ini), INI_ERR_HANDLE) << "the record is not open";
            EXPECT_EQ(KW_ini_close(&ini), INI_ERR_HANDLE);
        }
    }
}

// ---------------------------------------------------------------------------
// Editing: the engine's buffer grows from 8,192 bytes up to its limit.

TEST(AllocSweep, EditsOnTheEnginesBufferChangeNothingWhenGrowthIsRefused) {
    TempDir dir;
    const std::string path = dir.write("grow.ini", "[A]\na=1\n");
    const Opener file{"file", [&](KW_INI_STRUC &i) { return KW_ini_open(&i, path.c_str(), KW_INI_READWRITE, 0); }};
    sweep(file, growth_script(120), 5);
}

TEST(AllocSweep, GrowthToTheLimitEndsIn30AndEveryStepCanBeRefused) {
    TempDir dir;
    const std::string path = dir.write("full.ini", "a=1\n");
    const Opener file{"file", [&](KW_INI_STRUC &i) { return KW_ini_open(&i, path.c_str(), KW_INI_READWRITE, 0); }};
    // 57,344 bytes hold 224 lines of 256 bytes; the script asks for more.
    std::vector<Edit> script;
    for (int n = 0; n < 240; ++n) {
        script.push_back(insert(long_line(n, 255), 1));
    }
    Outcome clean;
    ASSERT_FALSE(replay(file, script, -1, clean));
    ASSERT_EQ(clean.statuses.back(), INI_ERR_TEXT_FULL) << "the buffer stops at 57,344 bytes";
    ASSERT_EQ(clean.requests, 6u) << "8,192 to 57,344 in six steps";
    sweep(file, script, 6);
}

// ---------------------------------------------------------------------------
// Editing: a caller's buffer, edited in place until the text moves out.

TEST(AllocSweep, RefusedMoveOutLeavesTheTextInTheCallersBuffer) {
    const std::vector<std::string> start = {"[A]", "a=1", "b=2"};
    for (const std::size_t spare : {std::size_t{0}, std::size_t{300}, std::size_t{2000}}) {
        kwtest::CallerText caller({start[0], start[1], start[2]}, spare);
        const std::vector<unsigned char> original = caller.bytes;
        const Opener opener{"caller's buffer", [&](KW_INI_STRUC &i) {
                                caller.bytes = original;  // every replay starts from the same bytes
                                return caller.open(i);
                            }};
        SCOPED_TRACE("spare " + std::to_string(spare));
        // Before the move a refusal must leave the caller's bytes as they were;
        // after it they are never touched again.
        sweep(opener, growth_script(60), 3, [&](KW_INI_STRUC &ini, const State &before) {
            const unsigned char *b = caller.bytes.data();
            if (before.owned == 0) {
                EXPECT_EQ(kw::ini::view(&ini)->pTxt, b) << "still the caller's buffer";
                EXPECT_TRUE(ini.linetype == INI_LINE_NONE || (ini.pLine >= b && ini.pLine < b + caller.bytes.size()));
            }
        });
    }
}

// ---------------------------------------------------------------------------
// Catalogs: KW_MsgOpen makes one request, for the file's block.

TEST(AllocSweep, CatalogOpenWithARefusedRequestGives10AndLeavesTheHandle) {
    TempDir dir;
    std::string bad_offset = kwtest::catalog_bytes({kwtest::kNotFound, kwtest::kDisk});
    bad_offset[33] = '\x7F';  // entry 0 points past the text area
    const struct {
        const char *name;
        std::string bytes;
        std::uint32_t open_status;  // when the request is granted
    } files[] = {
        {"two messages", kwtest::catalog_bytes({kwtest::kNotFound, kwtest::kDisk}), 0},
        {"EBCDIC", kwtest::catalog_bytes({kwtest::kNotFound, kwtest::kDisk}, kwtest::kEbcdic), 0},
        {"no messages", kwtest::catalog_bytes({}), 0},
        {"refused after reading", bad_offset, KW_MSG_ERR},
    };
    for (const auto &f : files) {
        const std::string path = dir.write("c.cat", f.bytes);
        for (const std::uint32_t fail_status : {1u, 7u, 0xFFFFFFFFu}) {
            SCOPED_TRACE(std::string(f.name) + ", status " + std::to_string(fail_status));
            Ledger::reset(0, fail_status);
            KW_MSG_CATALOG h;
            std::memset(&h, 0xCC, sizeof h);
            const KW_MSG_CATALOG before = h;
            EXPECT_EQ(KW_MsgOpen(path.c_str(), nullptr, &Ledger::alloc, &Ledger::release, &h),
                      static_cast<std::uint32_t>(KW_MSG_ERR));
            EXPECT_EQ(std::memcmp(&h, &before, sizeof h), 0) << "the handle is not written";
            EXPECT_EQ(Ledger::get().requests, std::vector<std::uint16_t>{static_cast<std::uint16_t>(f.bytes.size())});
            EXPECT_TRUE(Ledger::get().releases.empty()) << "nothing was obtained, nothing goes back";
            EXPECT_TRUE(Ledger::get().live.empty());
        }
        // Granted, the same file opens (or is refused) and every block comes back.
        Ledger::reset();
        KW_MSG_CATALOG h;
        std::memset(&h, 0, sizeof h);
        EXPECT_EQ(KW_MsgOpen(path.c_str(), nullptr, &Ledger::alloc, &Ledger::release, &h), f.open_status) << f.name;
        if (f.open_status == 0) {
            EXPECT_EQ(KW_MsgClose(&h, &Ledger::release), 0u);
        }
        EXPECT_TRUE(Ledger::get().live.empty()) << f.name;
        EXPECT_FALSE(Ledger::get().bad_release) << f.name;
        EXPECT_EQ(Ledger::get().releases, Ledger::get().requests) << f.name;
    }
}

}  // namespace
