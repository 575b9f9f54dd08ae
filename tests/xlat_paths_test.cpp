// Every translation path this CPU runs, against a plain byte-by-byte
// oracle: random data at every length up to 300 and several misalignments, all byte values through every table,
// buffers and tables flush against unmapped pages, and the choice of path.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <vector>

#if defined(_WIN32)
#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#define KW_TEST_HAS_FENCES 1
#elif defined(__unix__) || defined(__APPLE__)
#include <sys/mman.h>
#include <unistd.h>
#define KW_TEST_HAS_FENCES 1
#else
#define KW_TEST_HAS_FENCES 0
#endif

#include "kwutil.h"
#include "xlat/memxlt_paths.h"

namespace {

namespace xl = kw::xlat;
using Bytes = std::vector<unsigned char>;

Bytes random_bytes(std::size_t n, std::uint32_t seed) {
    std::mt19937 rng(seed);
    Bytes v(n);
    for (auto &b : v) {
        b = static_cast<unsigned char>(rng());
    }
    return v;
}

struct NamedTable {
    std::string name;
    const unsigned char *table;
};

const Bytes &random_table() {
    static const Bytes t = random_bytes(256, 99);
    return t;
}

std::vector<NamedTable> all_tables() {
    return {
        {"ASC_EBC", KW_xlate_ASC_EBC},
        {"EBC_ASC", KW_xlate_EBC_ASC},
        {"dummy", KW_xlate_dummy},
        {"random", random_table().data()},
    };
}

class XlatPath : public ::testing::TestWithParam<xl::Path> {
protected:
    void SetUp() override {
        if ((xl::supported_paths() & GetParam().bit) == 0) {
            GTEST_SKIP() << GetParam().name << " is not supported by this CPU";
        }
    }
    void run(unsigned char *s, const unsigned char *t, std::uint32_t len) const { GetParam().fn(s, t, len); }
};

std::string path_name(const ::testing::TestParamInfo<xl::Path> &info) { return info.param.name; }

// What a translation means, written as simply as it can be.
void oracle(unsigned char *s, const unsigned char *t, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
        s[i] = t[s[i]];
    }
}

}  // namespace

TEST_P(XlatPath, MatchesOracleAtEveryLengthAndMisalignment) {
    constexpr std::size_t kPad = 80;  // untouched bytes on both sides
    const std::size_t offsets[] = {0, 1, 2, 3, 5, 8, 15, 16, 31, 32, 33, 47, 63};
    const Bytes data = random_bytes(300 + 64, 1);
    for (const NamedTable &t : all_tables()) {
        for (std::size_t off : offsets) {
            for (std::uint32_t len = 0; len <= 300; ++len) {
                // A 64-byte aligned frame, so that off is the misalignment.
                alignas(64) unsigned char got[kPad + 64 + 300 + kPad];
                unsigned char want[sizeof got];
                for (std::size_t i = 0; i < sizeof got; ++i) {
                    got[i] = static_cast<unsigned char>(0xC3 ^ i);
                }
                std::copy(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(len), got + kPad + off);
                std::copy(std::begin(got), std::end(got), want);
                run(got + kPad + off, t.table, len);
                oracle(want + kPad + off, t.table, len);
                ASSERT_TRUE(std::equal(std::begin(got), std::end(got), want))
                    << t.name << " len " << len << " misaligned by " << off;
            }
        }
    }
}

TEST_P(XlatPath, ExactHeapBlocksAtEveryLength) {
    // Blocks of exactly len bytes: with AddressSanitizer, any read or write
    // past the end, even one that stays inside the same cache line, fails.
    const Bytes data = random_bytes(1100, 2);
    for (std::uint32_t len = 0; len <= 1100; ++len) {
        const auto block = std::make_unique<unsigned char[]>(len);
        std::copy(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(len), block.get());
        run(block.get(), KW_xlate_EBC_ASC, len);
        for (std::uint32_t i = 0; i < len; ++i) {
            ASSERT_EQ(block[i], KW_xlate_EBC_ASC[data[i]]) << "len " << len << " at " << i;
        }
    }
}

TEST_P(XlatPath, EveryByteValueThroughEveryTable) {
    for (const NamedTable &t : all_tables()) {
        // Each value at every position of a 64-byte block, and a long run.
        Bytes in(256 * 65);
        for (std::size_t i = 0; i < in.size(); ++i) {
            in[i] = static_cast<unsigned char>(i + i / 256);
        }
        Bytes got = in;
        run(got.data(), t.table, static_cast<std::uint32_t>(got.size()));
        for (std::size_t i = 0; i < in.size(); ++i) {
            ASSERT_EQ(got[i], t.table[in[i]]) << t.name << " at " << i << " byte 0x" << std::hex << int(in[i]);
        }
    }
}

TEST_P(XlatPath, LargeBufferMatchesTheTable) {
    const Bytes in = random_bytes((std::size_t{1} << 20) + 77, 8);
    for (const NamedTable &t : all_tables()) {
        for (std::size_t off : {std::size_t{0}, std::size_t{9}}) {
            Bytes got = in;
            const auto len = static_cast<std::uint32_t>(in.size() - off);
            run(got.data() + off, t.table, len);
            Bytes want = in;
            for (std::size_t i = off; i < want.size(); ++i) {
                want[i] = t.table[want[i]];
            }
            ASSERT_EQ(got, want) << t.name << " offset " << off;
        }
    }
}

#if KW_TEST_HAS_FENCES
namespace {

// Pages of read-write memory between two pages that cannot be touched:
// a read or write one byte outside [begin, end) faults.
class Fenced {
public:
#if defined(_WIN32)
    explicit Fenced(std::size_t pages) {
        SYSTEM_INFO info;
        GetSystemInfo(&info);
        page_ = info.dwPageSize;
        size_ = (pages + 2) * page_;
        void *p = VirtualAlloc(nullptr, size_, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
        if (p == nullptr) {
            return;
        }
        base_ = static_cast<unsigned char *>(p);
        DWORD old = 0;
        if (!VirtualProtect(base_, page_, PAGE_NOACCESS, &old) || !VirtualProtect(end(), page_, PAGE_NOACCESS, &old)) {
            VirtualFree(base_, 0, MEM_RELEASE);
            base_ = nullptr;
        }
    }
    ~Fenced() {
        if (base_ != nullptr) {
            VirtualFree(base_, 0, MEM_RELEASE);
        }
    }
#else
    explicit Fenced(std::size_t pages) {
        page_ = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
        size_ = (pages + 2) * page_;
        void *p = ::mmap(nullptr, size_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (p == MAP_FAILED) {
            return;
        }
        base_ = static_cast<unsigned char *>(p);
        if (::mprotect(base_, page_, PROT_NONE) != 0 || ::mprotect(end(), page_, PROT_NONE) != 0) {
            ::munmap(base_, size_);
            base_ = nullptr;
        }
    }
    ~Fenced() {
        if (base_ != nullptr) {
            ::munmap(base_, size_);
        }
    }
#endif
    Fenced(const Fenced &) = delete;
    Fenced &operator=(const Fenced &) = delete;

    bool ok() const { return base_ != nullptr; }
    unsigned char *begin() const { return base_ + page_; }
    unsigned char *end() const { return base_ + size_ - page_; }

private:
    unsigned char *base_ = nullptr;
    std::size_t page_ = 0;
    std::size_t size_ = 0;
};

}  // namespace

TEST_P(XlatPath, StaysInsideBufferFlushAgainstUnmappedPages) {
    Fenced mem(2);
    ASSERT_TRUE(mem.ok());
    const Bytes data = random_bytes(8192, 4);
    const auto span = static_cast<std::size_t>(mem.end() - mem.begin());
    std::vector<std::uint32_t> lens;
    for (std::uint32_t len = 0; len <= 300; ++len) {
        lens.push_back(len);
    }
    for (std::uint32_t len : {511u, 512u, 1000u, 4095u, 4096u, 4097u, static_cast<std::uint32_t>(span)}) {
        lens.push_back(len);
    }
    for (std::uint32_t len : lens) {
        if (len > span) {
            continue;
        }
        // Ending at the upper fence, then starting at the lower one.
        unsigned char *places[] = {mem.end() - len, mem.begin()};
        for (unsigned char *s : places) {
            std::copy(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(len), s);
            run(s, KW_xlate_ASC_EBC, len);
            for (std::uint32_t i = 0; i < len; ++i) {
                ASSERT_EQ(s[i], KW_xlate_ASC_EBC[data[i]]) << "len " << len << " at " << i;
            }
        }
    }
}

TEST_P(XlatPath, ReadsOnly256TableBytes) {
    Fenced mem(1);
    ASSERT_TRUE(mem.ok());
    const Bytes &rt = random_table();
    // The table flush against the upper fence, then against the lower one.
    unsigned char *places[] = {mem.end() - 256, mem.begin()};
    for (unsigned char *t : places) {
        std::copy(rt.begin(), rt.end(), t);
        Bytes buf = random_bytes(1000, 6);
        const Bytes in = buf;
        run(buf.data(), t, static_cast<std::uint32_t>(buf.size()));
        for (std::size_t i = 0; i < buf.size(); ++i) {
            ASSERT_EQ(buf[i], rt[in[i]]) << "at " << i;
        }
    }
}
#endif

INSTANTIATE_TEST_SUITE_P(All, XlatPath, ::testing::ValuesIn(xl::kPaths), path_name);

// ---------------------------------------------------------- the choice

TEST(XlatChoice, PortablePathsAreAlwaysSupported) {
    EXPECT_NE(xl::supported_paths() & xl::kPathScalar, 0u);
    EXPECT_NE(xl::supported_paths() & xl::kPathBytewise, 0u);
}

TEST(XlatChoice, ShortBuffersTakeThePortablePath) {
    Bytes buf(256);
    for (std::uint32_t len = 0; len < xl::kVectorMinLen; ++len) {
        EXPECT_EQ(xl::choose(buf.data(), KW_xlate_ASC_EBC, len), &xl::memxlt_scalar) << "len " << len;
    }
}

TEST(XlatChoice, LongBuffersTakeTheBestSupportedPath) {
    Bytes buf(4096);
    const unsigned paths = xl::supported_paths();
    xl::PathFn best = nullptr;
    for (const xl::Path &p : xl::kPaths) {
        if ((paths & p.bit) != 0) {
            best = p.fn;
            break;
        }
    }
    ASSERT_NE(best, nullptr);
    for (std::uint32_t len : {xl::kVectorMinLen, 300u, 4096u}) {
        EXPECT_EQ(xl::choose(buf.data(), KW_xlate_ASC_EBC, len), best) << "len " << len;
    }
}

TEST(XlatChoice, BufferOverlappingItsTableGoesByteByByte) {
    Bytes mem(2048);
    const unsigned char *table = mem.data() + 600;  // bytes 600-855
    const struct {
        std::size_t start;
        std::uint32_t len;
        bool overlaps;
    } cases[] = {
        {0, 600, false},  {0, 601, true},    {536, 64, false}, {537, 64, true},
        {600, 256, true}, {700, 64, true},   {855, 64, true},  {856, 64, false},
        {0, 2048, true},  {1000, 1000, false},
    };
    for (const auto &c : cases) {
        const xl::PathFn fn = xl::choose(mem.data() + c.start, table, c.len);
        if (c.overlaps) {
            EXPECT_EQ(fn, &xl::memxlt_bytewise) << "start " << c.start << " len " << c.len;
        } else {
            EXPECT_NE(fn, &xl::memxlt_bytewise) << "start " << c.start << " len " << c.len;
        }
        EXPECT_EQ(xl::overlaps_table(mem.data() + c.start, table, c.len), c.overlaps)
            << "start " << c.start << " len " << c.len;
    }
}
