// The C++ layer kwutil.hpp, built as C++17: owners give every block back
// (the Ledger sees each one returned), move without double closes, refuse
// copies, and report statuses as error codes with readable messages.
#include <gtest/gtest.h>

#include <cstdio>
#include <iterator>
#include <set>
#include <string>
#include <type_traits>
#include <utility>

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

std::string catalog_bytes() {
    std::string c("\x99\x99\x99\x99\x01\x00\x00\x00\x00\x03\x00\x06\x00\x6A", 14);
    c += std::string(18, '\0');
    c += std::string("\x00\x00\x00\x26\x00\x53", 6);
    c += std::string("AB00000E - Message %1!05d! not found.") + '\0';
    c += std::string("AB00042E - Disk %1!s! has %2!d! blocks free.") + '\0';
    c += std::string("AB00050I - [%1!-300s!]") + '\0';
    return c;
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
    EXPECT_EQ(ec.category().name(), std::string("kwutil"));
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
    EXPECT_EQ(ec.message(), "the memory callback failed with status 77");
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
        EXPECT_EQ(&ec.category(), &kw::category());
        EXPECT_EQ(ec.message().find("memory callback"), std::string::npos) << ec.value();
        messages.insert(ec.message());
    }
    EXPECT_EQ(messages.size(), std::size(all));
    EXPECT_FALSE(kw::status_code(0));
    EXPECT_EQ(kw::status_code(INI_ERR_TEXT_FULL), kw::errc::ini_text_full);
    EXPECT_EQ(kw::status_code(1).message(), "out of memory");
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
