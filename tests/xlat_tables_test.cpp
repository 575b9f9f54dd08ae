// The three exported translation tables, checked against facts that do not
// come from the tables themselves: code page 037 written out by hand, the
// seven places where ASCII to EBCDIC departs from it, the eight non-inverse
// entries of EBCDIC to ASCII, and the round-trip counts callers rely on.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <set>
#include <vector>

#include "kwutil.h"

#if defined(_WIN32)
#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#endif

namespace {

// Code page 037 for ASCII 0x00-0x7F, as published for that code page.
constexpr unsigned char kCp037[128] = {
    0x00, 0x01, 0x02, 0x03, 0x37, 0x2D, 0x2E, 0x2F, 0x16, 0x05, 0x25, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F,  // 00
    0x10, 0x11, 0x12, 0x13, 0x3C, 0x3D, 0x32, 0x26, 0x18, 0x19, 0x3F, 0x27, 0x1C, 0x1D, 0x1E, 0x1F,  // 10
    0x40, 0x5A, 0x7F, 0x7B, 0x5B, 0x6C, 0x50, 0x7D, 0x4D, 0x5D, 0x5C, 0x4E, 0x6B, 0x60, 0x4B, 0x61,  // 20
    0xF0, 0xF1, 0xF2, 0xF3, 0xF4, 0xF5, 0xF6, 0xF7, 0xF8, 0xF9, 0x7A, 0x5E, 0x4C, 0x7E, 0x6E, 0x6F,  // 30
    0x7C, 0xC1, 0xC2, 0xC3, 0xC4, 0xC5, 0xC6, 0xC7, 0xC8, 0xC9, 0xD1, 0xD2, 0xD3, 0xD4, 0xD5, 0xD6,  // 40
    0xD7, 0xD8, 0xD9, 0xE2, 0xE3, 0xE4, 0xE5, 0xE6, 0xE7, 0xE8, 0xE9, 0xBA, 0xE0, 0xBB, 0xB0, 0x6D,  // 50
    0x79, 0x81, 0x82, 0x83, 0x84, 0x85, 0x86, 0x87, 0x88, 0x89, 0x91, 0x92, 0x93, 0x94, 0x95, 0x96,  // 60
    0x97, 0x98, 0x99, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0xA7, 0xA8, 0xA9, 0xC0, 0x4F, 0xD0, 0xA1, 0x07,  // 70
};

struct Departure {
    unsigned char ascii;
    unsigned char cp037;
    unsigned char ours;
};
// Where KW_xlate_ASC_EBC does not follow code page 037.
constexpr Departure kDepartures[] = {
    {0x0A, 0x25, 0x15},  // line feed becomes NL, the EBCDIC new line
    {0x1C, 0x1C, 0x22},
    {0x1E, 0x1E, 0x35},
    {0x5B, 0xBA, 0xAD},  // [
    {0x5D, 0xBB, 0xBD},  // ]
    {0x5E, 0xB0, 0x5F},  // ^
    {0x7C, 0x4F, 0x6A},  // |
};

// The EBCDIC codes that are no image of ASCII and yet do not map to
// themselves.
struct Exception {
    unsigned char ebcdic;
    unsigned char ascii;
};
constexpr Exception kExceptions[] = {
    {0x4A, 0x9B}, {0x4F, 0x7C}, {0x8B, 0x7B}, {0x8D, 0x28},
    {0x8E, 0x2B}, {0x9B, 0x7D}, {0x9D, 0x29}, {0xFA, 0x7C},
};

const Departure *departure_for(unsigned b) {
    for (const Departure &d : kDepartures) {
        if (d.ascii == b) {
            return &d;
        }
    }
    return nullptr;
}

std::set<unsigned> ascii_images() {
    std::set<unsigned> images;
    for (unsigned b = 0; b < 0x80; ++b) {
        images.insert(KW_xlate_ASC_EBC[b]);
    }
    return images;
}

}  // namespace

TEST(XlatTables, EachIsExactly256Bytes) {
    EXPECT_EQ(sizeof(KW_xlate_ASC_EBC), 256u);
    EXPECT_EQ(sizeof(KW_xlate_EBC_ASC), 256u);
    EXPECT_EQ(sizeof(KW_xlate_dummy), 256u);
}

TEST(XlatTables, AscEbcFollowsCodePage037ExceptSevenEntries) {
    // The hand-written departures must themselves be departures from 037.
    for (const Departure &d : kDepartures) {
        EXPECT_EQ(kCp037[d.ascii], d.cp037) << "byte " << int(d.ascii);
        EXPECT_NE(d.cp037, d.ours);
    }
    int differing = 0;
    for (unsigned b = 0; b < 0x80; ++b) {
        const Departure *d = departure_for(b);
        const unsigned expected = d != nullptr ? d->ours : kCp037[b];
        EXPECT_EQ(KW_xlate_ASC_EBC[b], expected) << "byte 0x" << std::hex << b;
        differing += KW_xlate_ASC_EBC[b] != kCp037[b] ? 1 : 0;
    }
    EXPECT_EQ(differing, 7);
}

TEST(XlatTables, AscEbcPassesHighBytesThrough) {
    for (unsigned b = 0x80; b < 0x100; ++b) {
        EXPECT_EQ(KW_xlate_ASC_EBC[b], b) << "byte 0x" << std::hex << b;
    }
}

TEST(XlatTables, AsciiHas128DistinctImages) {
    EXPECT_EQ(ascii_images().size(), 128u);
}

TEST(XlatTables, EbcAscInvertsAscEbcOnTheImages) {
    // Hence ASCII to EBCDIC and back restores every byte 0x00-0x7F.
    for (unsigned b = 0; b < 0x80; ++b) {
        EXPECT_EQ(KW_xlate_EBC_ASC[KW_xlate_ASC_EBC[b]], b) << "byte 0x" << std::hex << b;
    }
}

TEST(XlatTables, EbcAscMapsOtherCodesToThemselvesButEight) {
    const std::set<unsigned> images = ascii_images();
    int self = 0;
    int other = 0;
    for (unsigned c = 0; c < 0x100; ++c) {
        if (images.count(c) != 0) {
            continue;
        }
        const Exception *ex = nullptr;
        for (const Exception &e : kExceptions) {
            if (e.ebcdic == c) {
                ex = &e;
            }
        }
        if (ex != nullptr) {
            EXPECT_EQ(KW_xlate_EBC_ASC[c], ex->ascii) << "code 0x" << std::hex << c;
            ++other;
        } else {
            EXPECT_EQ(KW_xlate_EBC_ASC[c], c) << "code 0x" << std::hex << c;
            ++self;
        }
    }
    EXPECT_EQ(self, 120);
    EXPECT_EQ(other, 8);
}

TEST(XlatTables, HighAsciiRoundTripCollidesOrComesBackChanged) {
    // ASCII 0x80-0xFF to EBCDIC and back: 68 collide with an image of
    // ASCII and come back as that character, six come back as punctuation,
    // 54 come back unchanged.
    const std::set<unsigned> images = ascii_images();
    int collisions = 0;
    int punctuation = 0;
    int unchanged = 0;
    std::set<unsigned> punct_bytes;
    for (unsigned b = 0x80; b < 0x100; ++b) {
        const unsigned back = KW_xlate_EBC_ASC[KW_xlate_ASC_EBC[b]];
        if (images.count(b) != 0) {
            ++collisions;
            EXPECT_LT(back, 0x80u) << "byte 0x" << std::hex << b;
            EXPECT_EQ(KW_xlate_ASC_EBC[back], b) << "byte 0x" << std::hex << b;
        } else if (back != b) {
            ++punctuation;
            punct_bytes.insert(b);
        } else {
            ++unchanged;
        }
    }
    EXPECT_EQ(collisions, 68);
    EXPECT_EQ(punctuation, 6);
    EXPECT_EQ(unchanged, 54);
    EXPECT_EQ(punct_bytes, (std::set<unsigned>{0x8B, 0x8D, 0x8E, 0x9B, 0x9D, 0xFA}));
    // The example given for a collision: 0xC1 stays 0xC1, the image of 'A'.
    EXPECT_EQ(KW_xlate_ASC_EBC[0xC1], 0xC1);
    EXPECT_EQ(KW_xlate_EBC_ASC[0xC1], 'A');
}

TEST(XlatTables, EbcdicRoundTripRestores182Codes) {
    // Restored exactly: the 128 images of ASCII, and the codes from 0x80 up
    // that EBCDIC to ASCII leaves unchanged.
    const std::set<unsigned> images = ascii_images();
    int restored = 0;
    for (unsigned c = 0; c < 0x100; ++c) {
        const bool back = KW_xlate_ASC_EBC[KW_xlate_EBC_ASC[c]] == c;
        const bool expected = images.count(c) != 0 || (c >= 0x80 && KW_xlate_EBC_ASC[c] == c);
        EXPECT_EQ(back, expected) << "code 0x" << std::hex << c;
        restored += back ? 1 : 0;
    }
    EXPECT_EQ(restored, 182);
}

TEST(XlatTables, SeveralEbcdicCodesShareOneAsciiResult) {
    const struct {
        unsigned char ascii;
        std::vector<unsigned char> codes;
    } shared[] = {
        {'|', {0x4F, 0x6A, 0xFA}},
        {0x09, {0x05, 0x09}},
    };
    for (const auto &s : shared) {
        for (unsigned char c : s.codes) {
            EXPECT_EQ(KW_xlate_EBC_ASC[c], s.ascii) << "code 0x" << std::hex << int(c);
        }
    }
}

TEST(XlatTables, DummyIsTheIdentity) {
    for (unsigned b = 0; b < 0x100; ++b) {
        EXPECT_EQ(KW_xlate_dummy[b], b);
    }
}

#if defined(__linux__)
// The tables are constant data: they must live in a mapping that cannot be
// written, so no caller and no bug can change them for everyone else.
TEST(XlatTables, LiveInReadOnlyMemory) {
    const void *tables[] = {KW_xlate_ASC_EBC, KW_xlate_EBC_ASC, KW_xlate_dummy};
    for (const void *t : tables) {
        const auto addr = reinterpret_cast<std::uintptr_t>(t);
        std::FILE *maps = std::fopen("/proc/self/maps", "r");
        ASSERT_NE(maps, nullptr);
        char line[512];
        bool found = false;
        while (std::fgets(line, sizeof line, maps) != nullptr) {
            unsigned long lo = 0;
            unsigned long hi = 0;
            char perms[5] = {};
            if (std::sscanf(line, "%lx-%lx %4s", &lo, &hi, perms) != 3) {
                continue;
            }
            if (addr >= lo && addr + 256 <= hi) {
                found = true;
                EXPECT_EQ(perms[1], '-') << "mapping: " << line;
            }
        }
        std::fclose(maps);
        EXPECT_TRUE(found);
    }
}
#elif defined(_WIN32)
// The same on Windows: the pages holding each table allow no writing.
TEST(XlatTables, LiveInReadOnlyMemory) {
    const void *tables[] = {KW_xlate_ASC_EBC, KW_xlate_EBC_ASC, KW_xlate_dummy};
    constexpr DWORD kWritable = PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;
    for (const void *t : tables) {
        MEMORY_BASIC_INFORMATION info {};
        ASSERT_NE(VirtualQuery(t, &info, sizeof info), 0u);
        const auto addr = reinterpret_cast<std::uintptr_t>(t);
        EXPECT_GE(reinterpret_cast<std::uintptr_t>(info.BaseAddress) + info.RegionSize, addr + 256);
        EXPECT_EQ(info.Protect & kWritable, 0u) << "protection 0x" << std::hex << info.Protect;
    }
}
#endif
