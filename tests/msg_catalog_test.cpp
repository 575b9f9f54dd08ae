// Catalog loading and closing: the file format byte for byte, the handle's
// layout, built-in catalogs, the memory callbacks, and every file that must
// be refused before it is trusted.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "msg/catalog.h"
#include "msg_test_util.h"
#include "test_support.h"

namespace {

using kwtest::BuiltIn;
using kwtest::catalog_bytes;
using kwtest::kDisk;
using kwtest::kNotFound;
using kwtest::Ledger;
using kwtest::TempDir;

// The two-message example catalog, spelled out byte by byte.
std::string example_catalog() {
    const unsigned char header[14] = {0x99, 0x99, 0x99, 0x99, 0x01, 0x00, 0x00,
                                      0x00, 0x00, 0x02, 0x00, 0x04, 0x00, 0x53};
    std::string bytes(reinterpret_cast<const char *>(header), sizeof header);
    bytes.append(18, '\0');
    bytes += std::string("\x00\x00\x00\x26", 4);
    bytes += kNotFound + '\0' + kDisk + '\0';
    return bytes;
}

kw::msg::Catalog view(const KW_MSG_CATALOG &h) {
    kw::msg::Catalog c{};
    EXPECT_TRUE(kw::msg::read_handle(&h, c));
    return c;
}

std::uint16_t native_offset(const kw::msg::Catalog &c, std::size_t k) {
    std::uint16_t v;
    std::memcpy(&v, c.pOff + 2 * k, 2);
    return v;
}

KW_MSG_CATALOG marked_handle() {
    KW_MSG_CATALOG h;
    std::memset(&h, 0x5A, sizeof h);
    return h;
}

bool untouched(const KW_MSG_CATALOG &h) {
    const KW_MSG_CATALOG m = marked_handle();
    return std::memcmp(&h, &m, sizeof h) == 0;
}

class MsgCatalog : public ::testing::Test {
protected:
    void SetUp() override { Ledger::reset(); }
    void TearDown() override {
        EXPECT_TRUE(Ledger::get().live.empty()) << "blocks left behind";
        EXPECT_FALSE(Ledger::get().bad_release) << "a block was given back with the wrong size or address";
    }
    std::uint32_t open_with_ledger(const std::string &path, KW_MSG_CATALOG &h, PKW_MSG_CATALOG def = nullptr) {
        return KW_MsgOpen(path.c_str(), def, &Ledger::alloc, &Ledger::release, &h);
    }
    TempDir dir;
};

TEST_F(MsgCatalog, ExampleCatalogIsExactlyTheDocumentedBytes) {
    const std::string bytes = example_catalog();
    ASSERT_EQ(bytes.size(), 119u);
    EXPECT_EQ(bytes.size(), 32u + 4u + 0x53u);
    EXPECT_EQ(catalog_bytes({kNotFound, kDisk}), bytes) << "the test's catalog builder agrees with the format";
}

TEST_F(MsgCatalog, ExampleOpensWithNativeOffsetsAndABigEndianHeaderCopy) {
    const std::string path = dir.write("ab.cat", example_catalog());
    KW_MSG_CATALOG h = marked_handle();
    ASSERT_EQ(open_with_ledger(path, h), 0u);
    EXPECT_EQ(Ledger::get().requests, std::vector<std::uint16_t>{119});

    // Bytes 0 to 23 are the file's header, counts still big-endian.
    const std::string header = example_catalog().substr(0, 24);
    EXPECT_EQ(std::memcmp(h._, header.data(), 24), 0);

    const kw::msg::Catalog c = view(h);
    EXPECT_EQ(c.num_msgs, 2);
    EXPECT_EQ(c.txtsize, 0x53);
    EXPECT_EQ(native_offset(c, 0), 0);
    EXPECT_EQ(native_offset(c, 1), 38);
    EXPECT_EQ(c.pOff, Ledger::get().live.begin()->first + 32);
    EXPECT_EQ(c.pTxt, c.pOff + 4);
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(c.pTxt) + 38), kDisk);

    // The address place: one 8-byte address, or pOff and pTxt side by side.
    const unsigned char *at24;
    std::memcpy(&at24, h._ + 24, sizeof at24);
    EXPECT_EQ(at24, c.pOff);
    if (sizeof(void *) == 4) {
        const unsigned char *at28;
        std::memcpy(&at28, h._ + 28, sizeof at28);
        EXPECT_EQ(at28, c.pTxt);
    }

    ASSERT_EQ(KW_MsgClose(&h, &Ledger::release), 0u);
    EXPECT_EQ(Ledger::get().releases, std::vector<std::uint16_t>{119});
}

TEST_F(MsgCatalog, CloseGivesBackTheVeryBlockWithHeaderPlusArrayPlusTextSize) {
    const std::vector<std::string> texts = {kNotFound, kDisk, "AB00007 seven", "AB00100 hundred %1!d!"};
    const std::string bytes = catalog_bytes(texts);
    KW_MSG_CATALOG h;
    ASSERT_EQ(open_with_ledger(dir.write("four.cat", bytes), h), 0u);
    unsigned char *block = Ledger::get().live.begin()->first;
    const kw::msg::Catalog c = view(h);
    EXPECT_EQ(32u + c.arraysize + c.txtsize, bytes.size());
    EXPECT_EQ(KW_MsgClose(&h, &Ledger::release), 0u);
    EXPECT_EQ(Ledger::get().releases, std::vector<std::uint16_t>{static_cast<std::uint16_t>(bytes.size())});
    EXPECT_EQ(Ledger::get().live.count(block), 0u);
}

TEST_F(MsgCatalog, WithoutCallbacksTheRuntimeHeapIsUsed) {
    KW_MSG_CATALOG h;
    ASSERT_EQ(KW_MsgOpen(dir.write("ab.cat", example_catalog()).c_str(), nullptr, nullptr, nullptr, &h), 0u);
    EXPECT_EQ(KW_MsgClose(&h, nullptr), 0u);
    EXPECT_TRUE(Ledger::get().requests.empty());
}

TEST_F(MsgCatalog, FailingAllocatorGives10AndLeavesTheHandleAlone) {
    Ledger::reset(0);
    KW_MSG_CATALOG h = marked_handle();
    EXPECT_EQ(open_with_ledger(dir.write("ab.cat", example_catalog()), h), static_cast<std::uint32_t>(KW_MSG_ERR));
    EXPECT_EQ(Ledger::get().requests.size(), 1u);
    EXPECT_TRUE(Ledger::get().releases.empty());
    EXPECT_TRUE(untouched(h));
}

TEST_F(MsgCatalog, ACatalogFileMayBeOpenedIntoSeveralHandles) {
    const std::string path = dir.write("ab.cat", example_catalog());
    KW_MSG_CATALOG a, b;
    ASSERT_EQ(open_with_ledger(path, a), 0u);
    ASSERT_EQ(open_with_ledger(path, b), 0u);
    EXPECT_NE(view(a).pOff, view(b).pOff);
    EXPECT_EQ(native_offset(view(b), 1), 38);
    EXPECT_EQ(KW_MsgClose(&a, &Ledger::release), 0u);
    EXPECT_EQ(KW_MsgClose(&b, &Ledger::release), 0u);
}

TEST_F(MsgCatalog, BuiltInCatalogIsAdoptedInPlaceWhenNoFileIsUsed) {
    struct {
        const char *what;
        bool name_is_null;
        std::string name;
    } cases[] = {{"no name", true, ""}, {"empty name", false, ""}, {"missing file", false, "missing.cat"}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        const std::string image = catalog_bytes({kNotFound, kDisk}, kwtest::kAscii, true);
        std::vector<unsigned char> store(image.begin(), image.end());
        auto *def = reinterpret_cast<PKW_MSG_CATALOG>(store.data());
        const std::string name = c.name.empty() ? c.name : dir.file(c.name);
        KW_MSG_CATALOG h;
        ASSERT_EQ(KW_MsgOpen(c.name_is_null ? nullptr : name.c_str(), def, &Ledger::alloc, &Ledger::release, &h), 0u);
        const kw::msg::Catalog v = view(h);
        EXPECT_TRUE(v.builtin);
        EXPECT_EQ(v.pOff, store.data() + 32);
        EXPECT_EQ(v.pTxt, store.data() + 36);
        EXPECT_EQ(native_offset(v, 0), 0);
        EXPECT_EQ(native_offset(v, 1), 38);
        EXPECT_TRUE(Ledger::get().requests.empty());
        EXPECT_EQ(KW_MsgClose(&h, &Ledger::release), 0u);
        EXPECT_TRUE(Ledger::get().releases.empty()) << "a built-in catalog is never released";
        EXPECT_EQ(KW_MsgClose(&h, &Ledger::release), 0u) << "and keeps its signature";
    }
}

TEST_F(MsgCatalog, NothingToOpenGives10) {
    KW_MSG_CATALOG h = marked_handle();
    EXPECT_EQ(KW_MsgOpen(nullptr, nullptr, nullptr, nullptr, &h), static_cast<std::uint32_t>(KW_MSG_ERR));
    EXPECT_EQ(KW_MsgOpen("", nullptr, nullptr, nullptr, &h), static_cast<std::uint32_t>(KW_MSG_ERR));
    EXPECT_EQ(open_with_ledger(dir.file("missing.cat"), h), static_cast<std::uint32_t>(KW_MSG_ERR));
    EXPECT_TRUE(untouched(h));
    EXPECT_EQ(KW_MsgOpen(dir.write("ab.cat", example_catalog()).c_str(), nullptr, nullptr, nullptr, nullptr),
              static_cast<std::uint32_t>(KW_MSG_ERR));
}

TEST_F(MsgCatalog, EmptyCatalogOpensAndConvertsNothing) {
    const std::string bytes = catalog_bytes({});
    ASSERT_EQ(bytes.size(), 32u);
    KW_MSG_CATALOG h;
    ASSERT_EQ(open_with_ledger(dir.write("empty.cat", bytes), h), 0u);
    EXPECT_EQ(view(h).num_msgs, 0);
    EXPECT_EQ(KW_MsgClose(&h, &Ledger::release), 0u);
    EXPECT_EQ(Ledger::get().releases, std::vector<std::uint16_t>{32});
}

TEST_F(MsgCatalog, CloseRefusesARecordWithoutTheSignatureAndAClosedOne) {
    KW_MSG_CATALOG h = marked_handle();
    EXPECT_EQ(KW_MsgClose(&h, &Ledger::release), static_cast<std::uint32_t>(KW_MSG_ERR));
    EXPECT_EQ(KW_MsgClose(nullptr, &Ledger::release), static_cast<std::uint32_t>(KW_MSG_ERR));
    ASSERT_EQ(open_with_ledger(dir.write("ab.cat", example_catalog()), h), 0u);
    ASSERT_EQ(KW_MsgClose(&h, &Ledger::release), 0u);
    EXPECT_EQ(KW_MsgClose(&h, &Ledger::release), static_cast<std::uint32_t>(KW_MSG_ERR)) << "no double release";
    EXPECT_EQ(Ledger::get().releases.size(), 1u);
    char buf[64] = "unchanged";
    char app[] = "AB";
    EXPECT_EQ(KW_MsgSprintf(&h, 0, buf, app, 42, "C:", 17), 0);
    EXPECT_STREQ(buf, "unchanged");
}

// A copy is as good as the handle it was taken from while the catalog is
// open; once the catalog is closed through one copy, that copy is refused
// by every call (the other copies may not be used at all).
TEST_F(MsgCatalog, CopiesFormatAlikeAndTheCopyClosedIsRefused) {
    KW_MSG_CATALOG original;
    ASSERT_EQ(open_with_ledger(dir.write("ab.cat", example_catalog()), original), 0u);
    KW_MSG_CATALOG copy;
    std::memcpy(&copy, &original, sizeof copy);
    char a[64];
    char b[64];
    char app[] = "AB";
    ASSERT_EQ(KW_MsgSprintf(&original, 0, a, app, 42, "C:", 17), 38);
    ASSERT_EQ(KW_MsgSprintf(&copy, 0, b, app, 42, "C:", 17), 38);
    EXPECT_STREQ(a, b);
    ASSERT_EQ(KW_MsgClose(&copy, &Ledger::release), 0u);
    EXPECT_EQ(Ledger::get().releases.size(), 1u);
    EXPECT_TRUE(Ledger::get().live.empty());
    EXPECT_EQ(KW_MsgClose(&copy, &Ledger::release), static_cast<std::uint32_t>(KW_MSG_ERR));
    std::memcpy(b, "unchanged", 10);
    EXPECT_EQ(KW_MsgSprintf(&copy, 0, b, app, 42, "C:", 17), 0);
    EXPECT_EQ(KW_MsgSnprintf(&copy, 0, b, sizeof b, app, 42, "C:", 17), KW_MSG_BAD_HANDLE);
    EXPECT_STREQ(b, "");
    EXPECT_EQ(Ledger::get().releases.size(), 1u) << "the block went back once";
}

// Malformed files: each is refused with 10, its block (if one was obtained)
// handed back, the handle left alone, and a built-in catalog not used instead.
TEST_F(MsgCatalog, UntrustworthyFilesAreRefused) {
    const std::string good = catalog_bytes({kNotFound, kDisk});
    const auto with = [&good](std::size_t at, std::initializer_list<unsigned char> bytes) {
        std::string s = good;
        for (unsigned char b : bytes) {
            s[at++] = static_cast<char>(b);
        }
        return s;
    };
    struct Case {
        const char *what;
        std::string bytes;
        bool allocates;
    } cases[] = {
        {"empty file", "", false},
        {"shorter than a header", good.substr(0, 31), false},
        {"longer than 65535 bytes", good + std::string(65536, '\0'), false},
        {"cut short", good.substr(0, good.size() - 1), true},
        {"trailing bytes", good + "x", true},
        {"no signature", with(0, {0x98}), true},
        {"marked as built-in", with(6, {1}), true},
        {"arraysize not twice num_msgs", with(10, {0x00, 0x06}), true},
        {"num_msgs not matching the array", with(8, {0x00, 0x03}), true},
        {"txtsize larger than the file", with(12, {0x00, 0x54}), true},
        {"offset past the text area", with(34, {0x00, 0x53}), true},
        {"offset without room for a key", with(34, {0x00, 0x4C}), true},
        {"text area not ending in zero", with(good.size() - 1, {'.'}), true},
        {"texts but an empty text area", catalog_bytes({}).substr(0, 8) + std::string("\x00\x01\x00\x02\x00\x00", 6) +
                                             std::string(18, '\0') + std::string(2, '\0'),
         true},
    };
    const std::string builtin_image = catalog_bytes({kNotFound}, kwtest::kAscii, true);
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        Ledger::reset();
        std::vector<unsigned char> store(builtin_image.begin(), builtin_image.end());
        KW_MSG_CATALOG h = marked_handle();
        EXPECT_EQ(open_with_ledger(dir.write("bad.cat", c.bytes), h, reinterpret_cast<PKW_MSG_CATALOG>(store.data())),
                  static_cast<std::uint32_t>(KW_MSG_ERR));
        EXPECT_TRUE(untouched(h));
        EXPECT_EQ(Ledger::get().requests.size(), c.allocates ? 1u : 0u);
        EXPECT_EQ(Ledger::get().releases, Ledger::get().requests) << "the block goes back with its size";
        EXPECT_EQ(std::string(store.begin(), store.end()), builtin_image) << "the built-in catalog is not touched";
    }
}

TEST_F(MsgCatalog, UntrustworthyBuiltInCatalogsAreRefused) {
    const std::string good = catalog_bytes({kNotFound, kDisk}, kwtest::kAscii, true);
    const auto with = [&good](std::size_t at, std::initializer_list<unsigned char> bytes) {
        std::string s = good;
        for (unsigned char b : bytes) {
            s[at++] = static_cast<char>(b);
        }
        return s;
    };
    struct Case {
        const char *what;
        std::string bytes;
    } cases[] = {
        {"no signature", with(3, {0x00})},
        {"not marked as built-in", with(6, {0})},
        {"arraysize not twice num_msgs", with(10, {0x00, 0x02})},
        {"sizes beyond 65535 bytes", with(12, {0xFF, 0xFF})},
        {"offset past the text area", with(34, {0x01, 0x00})},
        {"text area not ending in zero", with(good.size() - 1, {'.'})},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        std::string image = c.bytes;
        image.resize(std::max<std::size_t>(image.size(), 32 + 4 + 0xFFFF));  // what a lying header could reach
        KW_MSG_CATALOG h = marked_handle();
        EXPECT_EQ(KW_MsgOpen(nullptr, reinterpret_cast<PKW_MSG_CATALOG>(image.data()), nullptr, nullptr, &h),
                  static_cast<std::uint32_t>(KW_MSG_ERR));
        EXPECT_TRUE(untouched(h));
    }
}

TEST_F(MsgCatalog, AllocatorWithoutReleaseKeepsARefusedBlockRatherThanMisreleasingIt) {
    KW_MSG_CATALOG h;
    EXPECT_EQ(KW_MsgOpen(dir.write("bad.cat", example_catalog() + "x").c_str(), nullptr, &Ledger::alloc, nullptr, &h),
              static_cast<std::uint32_t>(KW_MSG_ERR));
    EXPECT_EQ(Ledger::get().live.size(), 1u);
    EXPECT_TRUE(Ledger::get().releases.empty());
    Ledger::reset();  // the test gives the block back itself
}

TEST_F(MsgCatalog, HandleFitsTheCallersThirtyTwoBytesAtAnyAlignment) {
    static_assert(sizeof(KW_MSG_CATALOG) == 32);
    static_assert(alignof(KW_MSG_CATALOG) == 1);
    BuiltIn cat({kNotFound, kDisk}, kwtest::kAscii, 3);
    ASSERT_EQ(cat.status, 0u);
    std::vector<unsigned char> odd(sizeof(KW_MSG_CATALOG) + 1);
    std::memcpy(odd.data() + 1, &cat.handle, sizeof cat.handle);  // a copy of a handle is a handle
    char buf[80];
    char app[] = "ab";
    EXPECT_EQ(KW_MsgSprintf(reinterpret_cast<PKW_MSG_CATALOG>(odd.data() + 1), 0, buf, app, 42, "C:", 17), 38);
    EXPECT_STREQ(buf, "AB00042E - Disk C: has 17 blocks free.");
}

}  // namespace
