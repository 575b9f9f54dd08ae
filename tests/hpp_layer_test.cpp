// The C++ layer kwutil.hpp, built as C++17: owners give every block back
// (the Ledger sees each one returned), move without double closes, refuse
// copies, and report statuses as error codes with readable messages.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <iterator>
#include <set>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "kwutil.hpp"
#include "test_support.h"

#if __cplusplus != 201703L
#error "this test checks that kwutil.hpp builds as C++17"
#endif

namespace {

using kwtest::Ledger;

static_assert(!std::is_copy_constructible_v<kw::ini_file> && !std::is_copy_assignable_v<kw::ini_file>);
static_assert(std::is_nothrow_move_constructible_v<kw::ini_file> && std::is_nothrow_move_assignable_v<kw::ini_file>);
static_assert(!std::is_copy_constructible_v<kw::catalog> && !std::is_copy_assignable_v<kw::catalog>);
static_assert(std::is_nothrow_move_constructible_v<kw::catalog> && std::is_nothrow_move_assignable_v<kw::catalog>);
static_assert(std::is_error_code_enum_v<kw::errc>);

// The file's bytes (through stdio: GCC 12 at C++17 misreads the stream
// iterator path as a null dereference).
std::string slurp(const std::string &path) {
    std::string out;
    if (std::FILE *f = std::fopen(path.c_str(), "rb")) {
        char buf[4096];
        std::size_t n = 0;
        while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) {
            out.append(buf, n);
        }
        std::fclose(f);
    }
    return out;
}

const char kIni[] = "; c\n[Main]\nName=x\nList=a,,b\n[Other]\nName=y\n";

// A catalog file of the texts given, in ascending key order.
std::string catalog_of(const std::vector<std::string> &texts) {
    std::string offsets;
    std::string area;
    for (const auto &t : texts) {
        offsets += static_cast<char>(area.size() >> 8);
        offsets += static_cast<char>(area.size() & 0xFF);
        area += t + '\0';
    }
    std::string c("\x99\x99\x99\x99\x01\x00\x00\x00", 8);
    for (const std::size_t v : {texts.size(), offsets.size(), area.size()}) {
        c += static_cast<char>(v >> 8);
        c += static_cast<char>(v & 0xFF);
    }
    c += std::string(18, '\0');
    return c + offsets + area;
}

std::string catalog_bytes() {
    return catalog_of({"AB00000E - Message %1!05d! not found.", "AB00042E - Disk %1!s! has %2!d! blocks free.",
                       "AB00050I - [%1!-300s!]"});
}

class HppLayer : public ::testing::Test {
protected:
    void SetUp() override { Ledger::reset(); }
    void TearDown() override {
        EXPECT_TRUE(Ledger::get().live.empty()) << "every block given back";
        EXPECT_FALSE(Ledger::get().bad_release);
    }
    kwtest::TempDir dir;
};

TEST_F(HppLayer, IniOwnerClosesOnDestruction) {
    const std::string path = dir.write("a.ini", kIni);
    {
        kw::ini_file ini(&Ledger::alloc, &Ledger::release);
        ASSERT_FALSE(ini.open(path, kw::ini_mode::read_write));
        EXPECT_TRUE(ini.is_open());
        EXPECT_FALSE(Ledger::get().live.empty());
    }
    EXPECT_TRUE(Ledger::get().live.empty());
    EXPECT_EQ(Ledger::get().requests.size(), Ledger::get().releases.size());
}

TEST_F(HppLayer, IniOwnerMovesWithoutDoubleClose) {
    const std::string path = dir.write("a.ini", kIni);
    kw::ini_file a(&Ledger::alloc, &Ledger::release);
    ASSERT_FALSE(a.open(path));
    const auto blocks = Ledger::get().live.size();

    kw::ini_file b(std::move(a));
    EXPECT_FALSE(a.is_open());  // NOLINT(bugprone-use-after-move): the moved-from state is part of the contract
    EXPECT_TRUE(b.is_open());
    EXPECT_EQ(a.next(), kw::errc::ini_handle);
    EXPECT_FALSE(a.close());
    EXPECT_EQ(Ledger::get().live.size(), blocks);

    kw::ini_file c(&Ledger::alloc, &Ledger::release);
    ASSERT_FALSE(c.open(path));
    EXPECT_EQ(Ledger::get().live.size(), 2 * blocks);
    c = std::move(b);  // c's own handle is closed first
    EXPECT_EQ(Ledger::get().live.size(), blocks);
    auto [found, ec] = c.find("main", "NAME");
    EXPECT_FALSE(ec);
    EXPECT_TRUE(found);
    EXPECT_EQ(c.value(), "x");
    c = kw::ini_file();
    EXPECT_TRUE(Ledger::get().live.empty());
}

TEST_F(HppLayer, IniCallsMapOneToOne) {
    const std::string path = dir.write("a.ini", kIni);
    kw::ini_file ini;
    ASSERT_FALSE(ini.open(path, kw::ini_mode::read_write));
    EXPECT_EQ(ini.line_number(), 1);
    EXPECT_EQ(ini.type(), kw::line_type::comment);
    EXPECT_EQ(ini.line(), "; c\n");
    EXPECT_EQ(ini.value(), std::nullopt);

    auto r = ini.find("Main", "List");
    ASSERT_TRUE(r.value);
    EXPECT_EQ(ini.line_number(), 4);
    const auto tokens = ini.tokens();
    EXPECT_FALSE(tokens.error);
    EXPECT_EQ(tokens.value, (std::vector<std::string>{"a", "", "b"}));

    r = ini.find(std::nullopt, "Nope");  // stops at the next header
    EXPECT_FALSE(r.error);
    EXPECT_FALSE(r.value);
    EXPECT_EQ(ini.type(), kw::line_type::section);
    EXPECT_EQ(ini.tokens().error, kw::errc::ini_not_key);
    EXPECT_EQ(ini.find(std::nullopt, std::nullopt).error, kw::errc::ini_no_name);
    EXPECT_EQ(ini.go_to(99), kw::errc::ini_line);

    ASSERT_FALSE(ini.go_to(3));
    EXPECT_FALSE(ini.replace("Name=z\n"));
    EXPECT_FALSE(ini.insert("New=1\n", kw::where::after));
    EXPECT_EQ(ini.insert("New=1\n", kw::where{7}), kw::errc::ini_where);
    EXPECT_EQ(ini.insert(" bad=1\n", kw::where::before), kw::errc::ini_leading_space);
    ASSERT_FALSE(ini.go_to(1));
    EXPECT_FALSE(ini.remove());
    EXPECT_FALSE(ini.write());
    EXPECT_EQ(slurp(path), kwtest::eol("[Main]\nName=z\nNew=1\nList=a,,b\n[Other]\nName=y\n"));
}

TEST_F(HppLayer, IniOpensInTheCommonDialect) {
    const std::string path = dir.write("u.service", "# unit\n[Unit]\n  Description = A demo \r\nAfter=x, y\n");
    kw::ini_file ini;
    EXPECT_EQ(ini.open(path, kw::ini_mode::read), kw::errc::ini_line) << "the classic dialect refuses '#'";
    ASSERT_FALSE(ini.open(path, kw::ini_mode::read, kw::ini_dialect::common));
    ASSERT_TRUE(ini.find("unit", "description").value);
    EXPECT_EQ(ini.value(), "A demo");
    ASSERT_TRUE(ini.find(std::nullopt, "AFTER").value);
    EXPECT_EQ(ini.tokens().value, (std::vector<std::string>{"x", "y"}));
    ASSERT_FALSE(ini.open(path, kw::ini_mode::read_write, kw::ini_dialect::common));
    EXPECT_EQ(ini.type(), kw::line_type::comment);
    EXPECT_FALSE(ini.write());
    // Text mode: on Windows the CR LF arrives as the line end and goes back as it.
#if defined(_WIN32)
    const std::string crlf_line = kwtest::eol("  Description = A demo \n");
#else
    const std::string crlf_line = "  Description = A demo \r\n";
#endif
    EXPECT_EQ(kwtest::read_file(path), kwtest::eol("# unit\n[Unit]\n") + crlf_line + kwtest::eol("After=x, y\n"));
}

TEST_F(HppLayer, IniFailuresAreErrorCodes) {
    kw::ini_file ini(&Ledger::alloc, &Ledger::release);
    auto ec = ini.open(dir.file("missing.ini"));
    EXPECT_EQ(ec, kw::errc::ini_open);
    EXPECT_EQ(ec.category().name(), std::string("kwutil.ini"));
    EXPECT_EQ(ec.message(), "the file could not be opened or read");
    EXPECT_FALSE(ini.is_open());

    ec = ini.open(dir.write("bad.ini", "[A]\nx=1\n y=2\n"), kw::ini_mode::read_write);
    EXPECT_EQ(ec, kw::errc::ini_leading_space);
    EXPECT_EQ(ini.failed_line(), 3);

    ASSERT_FALSE(ini.open(dir.write("ok.ini", kIni), kw::ini_mode::read));
    EXPECT_EQ(ini.remove(), kw::errc::ini_mode);
    EXPECT_EQ(ini.write(), kw::errc::ini_mode);
    EXPECT_FALSE(ini.close());

    // A failing allocator's own status comes through unchanged.
    Ledger::reset(0, 77);
    kw::ini_file failing(&Ledger::alloc, &Ledger::release);
    ec = failing.open(dir.file("ok.ini"));
    EXPECT_EQ(ec.value(), 77);
    EXPECT_EQ(&ec.category(), &kw::memory_category());
    EXPECT_EQ(ec.message(), "the memory callback failed with status 77");
}

// The families share numbers with each other and with the callbacks: 10 is
// the catalog's failure and also what a caller's allocator may return; 1 is
// the default allocator's failure and what a caller's may return.
TEST_F(HppLayer, StatusFamiliesNeverMeet) {
    const std::string ini_path = dir.write("ok.ini", kIni);
    const std::string cat_path = dir.write("ab.cat", catalog_bytes());
    struct Case {
        std::uint32_t callback_status;
        kw::errc same_number;  // the status of another family that has this number
    };
    for (const Case c : {Case{KW_MSG_ERR, kw::errc::catalog}, Case{1, kw::errc::out_of_memory}}) {
        SCOPED_TRACE(c.callback_status);
        Ledger::reset(0, c.callback_status);
        kw::ini_file ini(&Ledger::alloc, &Ledger::release);
        const std::error_code ec = ini.open(ini_path);
        ASSERT_EQ(ec.value(), static_cast<int>(c.callback_status));
        EXPECT_EQ(&ec.category(), &kw::memory_category());
        EXPECT_EQ(ec.message().find("catalog"), std::string::npos) << ec.message();
        if (c.same_number == kw::errc::catalog) {
            EXPECT_NE(ec, kw::errc::catalog);
            EXPECT_EQ(ec.message(), "the memory callback failed with status 10");
        } else {
            EXPECT_EQ(ec, kw::errc::out_of_memory) << "a callback's 1 is a failure to obtain memory as well";
        }

        // The same failure in the catalog loader is the catalog's own 10.
        Ledger::reset(0, c.callback_status);
        kw::catalog cat(&Ledger::alloc, &Ledger::release);
        const std::error_code cec = cat.open(cat_path);
        EXPECT_EQ(cec, kw::errc::catalog);
        EXPECT_NE(cec, ec);
        EXPECT_EQ(cec.message(), "the catalog cannot be opened or read, or the handle is not open");
    }

    // No two codes of different families compare equal, whatever their numbers.
    const std::error_code codes[] = {
        kw::ini_status(1),        kw::ini_status(10),         kw::ini_status(INI_ERR_HANDLE),
        kw::ini_status(77),       kw::catalog_status(KW_MSG_ERR), kw::catalog_status(KW_MSG_BAD_HANDLE),
        kw::catalog_status(KW_MSG_WRONG_APP), kw::make_error_code(kw::errc::message_too_long),
        std::error_code(10, kw::ini_category()), std::error_code(INI_ERR_HANDLE, kw::catalog_category())};
    for (const auto &a : codes) {
        for (const auto &b : codes) {
            const bool same = &a == &b;
            EXPECT_EQ(a == b, same) << a.category().name() << ' ' << a.value() << " / " << b.category().name()
                                    << ' ' << b.value();
            if (!same && a.value() == b.value()) {
                EXPECT_NE(a.message(), b.message()) << a.value();
            }
        }
    }
}

TEST_F(HppLayer, EveryStatusHasItsOwnMessage) {
    const kw::errc all[] = {kw::errc::catalog,       kw::errc::message_bad_handle, kw::errc::message_wrong_app,
                            kw::errc::ini_handle,    kw::errc::ini_mode,           kw::errc::ini_no_name,
                            kw::errc::ini_leading_space, kw::errc::ini_line,       kw::errc::ini_not_key,
                            kw::errc::ini_where,     kw::errc::ini_text_full,      kw::errc::ini_no_file,
                            kw::errc::ini_open,      kw::errc::ini_reopen,         kw::errc::ini_write};
    std::set<std::string> messages;
    for (const auto e : all) {
        const std::error_code ec = e;
        EXPECT_TRUE(ec);
        const bool catalog_family = e == kw::errc::catalog || e == kw::errc::message_bad_handle ||
                                    e == kw::errc::message_wrong_app;
        EXPECT_EQ(&ec.category(), catalog_family ? &kw::catalog_category() : &kw::ini_category()) << ec.value();
        EXPECT_EQ(ec.message().find("memory callback"), std::string::npos) << ec.value();
        EXPECT_EQ(ec.message().find("unknown"), std::string::npos) << ec.value();
        messages.insert(ec.message());
    }
    EXPECT_EQ(messages.size(), std::size(all));
    EXPECT_FALSE(kw::ini_status(0));
    EXPECT_FALSE(kw::catalog_status(0));
    EXPECT_EQ(kw::ini_status(INI_ERR_TEXT_FULL), kw::errc::ini_text_full);
    EXPECT_EQ(kw::status_code(INI_ERR_TEXT_FULL), kw::errc::ini_text_full);
    EXPECT_EQ(kw::ini_status(1).message(), "out of memory");
    EXPECT_EQ(kw::catalog_status(KW_MSG_ERR), kw::errc::catalog);
}

TEST_F(HppLayer, CatalogOwnerFormatsAndGivesItsBlockBack) {
    const std::string path = dir.write("ab.cat", catalog_bytes());
    {
        kw::catalog cat(&Ledger::alloc, &Ledger::release);
        ASSERT_FALSE(cat.open(path));
        ASSERT_EQ(Ledger::get().live.size(), 1u);
        EXPECT_EQ(Ledger::get().requests.front(), catalog_bytes().size());

        kw::packed_args args;
        ASSERT_TRUE(args.add_text("C:"));
        args.add_number(17);
        auto r = cat.format("ab", 42, args);
        EXPECT_FALSE(r.error);
        EXPECT_EQ(r.value, "AB00042E - Disk C: has 17 blocks free.");
        r = cat.format(std::nullopt, 42, args, KW_MSG_STRIP_KEY);
        EXPECT_EQ(r.value, "Disk C: has 17 blocks free.");
        r = cat.format("AB", 123, kw::packed_args());
        EXPECT_EQ(r.value, "AB00000E - Message 00123 not found.");

        r = cat.format_args("AB", 42, 0, "C:", 17);
        EXPECT_EQ(r.value, "AB00042E - Disk C: has 17 blocks free.");

        // Longer than the first buffer the layer tries.
        kw::packed_args wide;
        ASSERT_TRUE(wide.add_text("w"));
        r = cat.format("AB", 50, wide);
        EXPECT_FALSE(r.error);
        EXPECT_EQ(r.value, "AB00050I - [w" + std::string(299, ' ') + "]");

        r = cat.format("XY", 42, args);
        EXPECT_EQ(r.error, kw::errc::message_wrong_app);
        EXPECT_EQ(r.value.rfind("\r\nInvalid message table for application XY", 0), 0u) << r.value;

        EXPECT_FALSE(args.add_text(std::string(256, 'x')));
        EXPECT_EQ(args.size(), 3u + 3u + 5u);
    }
    EXPECT_TRUE(Ledger::get().live.empty());
    EXPECT_EQ(Ledger::get().releases, Ledger::get().requests);
}

// The C calls count a text's length up to INT32_MAX and stop there, so a
// text of exactly INT32_MAX characters and a longer one look the same; both
// are reported rather than formatted. The fills are counted, not written,
// so neither case formats gigabytes.
TEST_F(HppLayer, CatalogReportsATextTooLongToFormat) {
    const std::string path = dir.write(
        "big.cat", catalog_of({"AB00000E - Message %1!05d! not found.", "AB00060I - %1!2147483636s!",
                               "AB00061I - %1!2147483647s!", "AB00062I - %1!2147483635s!"}));
    kw::catalog cat(&Ledger::alloc, &Ledger::release);
    ASSERT_FALSE(cat.open(path));
    kw::packed_args empty_text;
    ASSERT_TRUE(empty_text.add_text(""));

    // The C call's own count, for the record: INT32_MAX for both.
    EXPECT_EQ(KW_MsgRSnprintf(cat.handle(), 0, nullptr, 0, nullptr, 60, empty_text.data(), empty_text.size()),
              INT32_MAX);
    EXPECT_EQ(KW_MsgRSnprintf(cat.handle(), 0, nullptr, 0, nullptr, 61, empty_text.data(), empty_text.size()),
              INT32_MAX);

    struct Case {
        std::uint16_t number;
        unsigned char flags;
        const char *what;
    };
    for (const Case c : {Case{60, 0, "exactly INT32_MAX characters"}, Case{61, 0, "past INT32_MAX"},
                         Case{61, KW_MSG_STRIP_KEY, "INT32_MAX characters without the key"}}) {
        SCOPED_TRACE(c.what);
        auto r = cat.format(std::nullopt, c.number, empty_text, c.flags);
        EXPECT_EQ(r.error, kw::errc::message_too_long);
        EXPECT_EQ(&r.error.category(), &kw::catalog_category());
        EXPECT_EQ(r.error.message(), "the message is too long to be formatted");
        EXPECT_TRUE(r.value.empty());
        r = cat.format_args("AB", c.number, c.flags, "");
        EXPECT_EQ(r.error, kw::errc::message_too_long);
        EXPECT_TRUE(r.value.empty());
    }
    // The boundary the layer stands on: one character less comes back exact.
    EXPECT_EQ(KW_MsgRSnprintf(cat.handle(), 0, nullptr, 0, nullptr, 62, empty_text.data(), empty_text.size()),
              INT32_MAX - 1);
}

TEST_F(HppLayer, CatalogOwnerMoves) {
    const std::string path = dir.write("ab.cat", catalog_bytes());
    kw::catalog a(&Ledger::alloc, &Ledger::release);
    ASSERT_FALSE(a.open(path));
    kw::catalog b = std::move(a);
    EXPECT_FALSE(a.is_open());  // NOLINT(bugprone-use-after-move)
    EXPECT_EQ(a.format("AB", 42, kw::packed_args()).error, kw::errc::message_bad_handle);
    EXPECT_TRUE(b.is_open());
    kw::catalog c(&Ledger::alloc, &Ledger::release);
    ASSERT_FALSE(c.open(path));
    EXPECT_EQ(Ledger::get().live.size(), 2u);
    c = std::move(b);
    EXPECT_EQ(Ledger::get().live.size(), 1u);
    EXPECT_FALSE(c.close());
    EXPECT_FALSE(c.close());  // a second close is no error
    EXPECT_TRUE(Ledger::get().live.empty());

    EXPECT_EQ(c.open(dir.file("missing.cat")), kw::errc::catalog);
    EXPECT_FALSE(c.is_open());
}

}  // namespace
