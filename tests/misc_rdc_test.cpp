// KW_RdcCompress, KW_RdcDecompress and KW_RdcDecompressBound: the exact bytes
// of the greedy parse (against worked examples and a deliberately simple
// model), round trips, the work area, and streams that no compressor writes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "kwutil.h"
#include "support/rdc_items.h"

namespace {

using Bytes = std::vector<unsigned char>;

Bytes bytes_of(const std::string &s) { return Bytes(s.begin(), s.end()); }

Bytes hex(std::initializer_list<int> v) {
    Bytes b;
    for (int x : v) {
        b.push_back(static_cast<unsigned char>(x));
    }
    return b;
}

std::string dump(const Bytes &b) {
    std::string s;
    char tmp[4];
    for (std::size_t i = 0; i < b.size() && i < 64; ++i) {
        std::snprintf(tmp, sizeof tmp, "%02X ", b[i]);
        s += tmp;
    }
    return b.size() > 64 ? s + "..." : s;
}

// ---------------------------------------------------------------------------
// The model: the parse written out step by step, one byte at a time, with
// nothing clever in it. It returns the stream, or the input itself with
// stored set when the input is copied.

struct ModelResult {
    Bytes out;
    bool stored;
};

ModelResult model_compress(const Bytes &in) {
    const std::size_t n = in.size();
    if (n <= 18) {
        return {in, true};
    }
    std::vector<long> table(4096, -1);
    Bytes out(2, 0);  // the first control word's place
    std::size_t ctrl_pos = 0;
    unsigned bits = 0;  // only the low 16 bits are kept
    unsigned items = 0;
    const long limit = static_cast<long>(n) - 48;
    const auto put = [&out](std::size_t v) { out.push_back(static_cast<unsigned char>(v & 0xFF)); };
    std::size_t p = 0;
    while (p < n) {
        if (items == 16) {
            out[ctrl_pos] = static_cast<unsigned char>((bits >> 8) & 0xFF);
            out[ctrl_pos + 1] = static_cast<unsigned char>(bits & 0xFF);
            ctrl_pos = out.size();
            out.push_back(0);
            out.push_back(0);
            items = 0;
            if (static_cast<long>(out.size()) > limit) {
                return {in, true};
            }
        }
        ++items;
        std::size_t run = 0;
        while (p + run < n && run < 4114 && in[p + run] == in[p]) {
            ++run;
        }
        if (run >= 3) {
            if (run <= 18) {
                put(run - 3);
                put(in[p]);
            } else {
                put(0x10 | ((run - 19) & 0x0F));
                put((run - 19) >> 4);
                put(in[p]);
            }
            bits = ((bits << 1) | 1) & 0xFFFF;
            p += run;
            continue;
        }
        if (n - p >= 3) {
            const unsigned b0 = in[p], b1 = in[p + 1], b2 = in[p + 2];
            const unsigned slot = ((((b0 & 0x0F) << 8) | b1) ^ ((b0 >> 4) | (b2 << 4))) & 0x0FFF;
            const long q = table[slot];
            table[slot] = static_cast<long>(p);
            if (q >= 0 && static_cast<long>(p) - q <= 4098) {
                const auto src = static_cast<std::size_t>(q);
                std::size_t count = 0;
                while (count < 271 && p + count < n && src + count < p && in[src + count] == in[p + count]) {
                    ++count;
                }
                if (count >= 3) {
                    const std::size_t d = p - src - 3;
                    if (count <= 15) {
                        put((count << 4) | (d & 0x0F));
                        put(d >> 4);
                    } else {
                        put(0x20 | (d & 0x0F));
                        put(d >> 4);
                        put(count - 16);
                    }
                    bits = ((bits << 1) | 1) & 0xFFFF;
                    p += count;
                    continue;
                }
            }
        }
        put(in[p]);
        bits = (bits << 1) & 0xFFFF;
        ++p;
    }
    bits = (bits << (16 - items)) & 0xFFFF;
    out[ctrl_pos] = static_cast<unsigned char>((bits >> 8) & 0xFF);
    out[ctrl_pos + 1] = static_cast<unsigned char>(bits & 0xFF);
    return {out, false};
}

// ---------------------------------------------------------------------------
// Calling the library with buffers of exactly the right size, so that the
// sanitizers see any access outside them.

Bytes compress(const Bytes &in, void *work = nullptr) {
    Bytes out(in.size());
    const uint16_t n = KW_RdcCompress(in.data(), static_cast<uint16_t>(in.size()), out.data(), work);
    out.resize(n);
    return out;
}

// Expand a stream known to expand to `expected` bytes into a buffer of exactly
// that size, with both expanders.
void expect_expands_to(const Bytes &stream, const Bytes &expected) {
    Bytes out(expected.size());
    const uint16_t n = KW_RdcDecompress(stream.data(), static_cast<uint16_t>(stream.size()), out.data());
    ASSERT_EQ(n, expected.size()) << dump(stream);
    ASSERT_EQ(out, expected) << dump(stream);

    // The bound twin, with a few canary bytes after the exact size that must
    // stay untouched, and refusing one byte less.
    Bytes bounded(expected.size() + 40, 0xA5);
    const int32_t m = KW_RdcDecompressBound(stream.data(), static_cast<uint16_t>(stream.size()), bounded.data(),
                                            static_cast<uint32_t>(bounded.size()));
    ASSERT_EQ(m, static_cast<int32_t>(expected.size()));
    ASSERT_TRUE(std::equal(expected.begin(), expected.end(), bounded.begin()));
    ASSERT_TRUE(std::all_of(bounded.begin() + static_cast<long>(expected.size()), bounded.end(),
                            [](unsigned char c) { return c == 0xA5; }));
    Bytes exact(expected.size());
    ASSERT_EQ(KW_RdcDecompressBound(stream.data(), static_cast<uint16_t>(stream.size()), exact.data(),
                                    static_cast<uint32_t>(exact.size())),
              static_cast<int32_t>(expected.size()));
    if (!expected.empty()) {
        Bytes small(expected.size() - 1);
        ASSERT_EQ(KW_RdcDecompressBound(stream.data(), static_cast<uint16_t>(stream.size()), small.data(),
                                        static_cast<uint32_t>(small.size())),
                  -1);
    }
}

// ---------------------------------------------------------------------------
// Inputs of several kinds.

Bytes random_bytes(std::mt19937 &rng, std::size_t n, unsigned alphabet) {
    std::uniform_int_distribution<unsigned> d(0, alphabet - 1);
    Bytes b(n);
    for (auto &c : b) {
        c = static_cast<unsigned char>('a' + d(rng));
    }
    return b;
}

Bytes words(std::mt19937 &rng, std::size_t n) {
    static const char *const vocab[] = {"the ",     "of ",    "and ",     "to ",       "in ",   "software ",
                                        "license ", "terms ", "copy ",    "without ",  "any ",  "warranty ",
                                        "may ",     "you ",   "program ", "permission ", ", ",  ".\n"};
    std::uniform_int_distribution<std::size_t> d(0, std::size(vocab) - 1);
    std::string s;
    while (s.size() < n) {
        s += vocab[d(rng)];
    }
    s.resize(n);
    return bytes_of(s);
}

Bytes runs(std::mt19937 &rng, std::size_t n) {
    std::uniform_int_distribution<unsigned> len(1, 40);
    std::uniform_int_distribution<unsigned> longlen(1, 5000);
    std::uniform_int_distribution<unsigned> val(0, 3);
    std::uniform_int_distribution<unsigned> pick(0, 9);
    Bytes b;
    while (b.size() < n) {
        const unsigned l = pick(rng) == 0 ? longlen(rng) : len(rng);
        b.insert(b.end(), l, static_cast<unsigned char>(val(rng)));
    }
    b.resize(n);
    return b;
}

// Segments of the above, and repeats from far back (distances near 4,098).
Bytes mixed(std::mt19937 &rng, std::size_t n) {
    Bytes b;
    std::uniform_int_distribution<unsigned> kind(0, 4);
    std::uniform_int_distribution<std::size_t> seg(1, 3000);
    while (b.size() < n) {
        const std::size_t l = seg(rng);
        Bytes part;
        switch (kind(rng)) {
            case 0: part = random_bytes(rng, l, 256); break;
            case 1: part = words(rng, l); break;
            case 2: part = runs(rng, l); break;
            case 3: part = random_bytes(rng, l, 3); break;
            default:
                if (b.size() > 4000) {
                    std::uniform_int_distribution<std::size_t> back(4090, 4105);
                    const std::size_t from = b.size() - std::min(back(rng), b.size());
                    part.assign(b.begin() + static_cast<long>(from),
                                b.begin() + static_cast<long>(std::min(from + l, b.size())));
                }
                break;
        }
        b.insert(b.end(), part.begin(), part.end());
    }
    b.resize(n);
    return b;
}

Bytes program_bytes(std::size_t n) {
    static const Bytes b = [] {
        std::ifstream f("/usr/bin/bash", std::ios::binary);
        return Bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    }();
    if (b.size() < n + 100000) {
        std::mt19937 rng(5);
        return mixed(rng, n);
    }
    return Bytes(b.begin() + 100000, b.begin() + 100000 + static_cast<long>(n));
}

using Generator = Bytes (*)(std::mt19937 &, std::size_t);
const Generator kGenerators[] = {
    [](std::mt19937 &r, std::size_t n) { return random_bytes(r, n, 256); },
    [](std::mt19937 &r, std::size_t n) { return random_bytes(r, n, 2); },
    [](std::mt19937 &r, std::size_t n) { return words(r, n); },
    [](std::mt19937 &r, std::size_t n) { return runs(r, n); },
    [](std::mt19937 &r, std::size_t n) { return mixed(r, n); },
    [](std::mt19937 &, std::size_t n) { return program_bytes(n); },
};

// ---------------------------------------------------------------------------
// Worked examples.

struct Example {
    const char *name;
    Bytes input;
    Bytes stream;  // the exact output of the compressor
    bool stored;   // the output is the input copied
};

std::vector<Example> examples() {
    std::vector<Example> v;
    v.push_back({"empty", {}, {}, true});
    v.push_back({"one byte", {0x41}, {0x41}, true});
    v.push_back({"18 equal bytes stay verbatim", Bytes(18, 0x41), Bytes(18, 0x41), true});
    v.push_back({"20 x 0x41: one long run", Bytes(20, 0x41), hex({0x80, 0x00, 0x11, 0x00, 0x41}), false});
    v.push_back({"4200 x 0x41: the longest run, then 86",
                 Bytes(4200, 0x41),
                 hex({0xC0, 0x00, 0x1F, 0xFF, 0x41, 0x13, 0x04, 0x41}),
                 false});
    {
        Bytes s = hex({0x1F, 0xC0, 0x61, 0x62, 0x63});
        for (int i = 0; i < 7; ++i) {
            s.push_back(0x30);
            s.push_back(0x00);
        }
        v.push_back({"abc x 8: copies never reach past the anchor",
                     bytes_of("abcabcabcabcabcabcabcabc"), s, false});
    }
    {
        const std::string letters = "ABCDEFGHIJKLMNO";
        Bytes in = bytes_of(letters + "PPPP");
        Bytes s = hex({0x00, 0x01});
        s.insert(s.end(), letters.begin(), letters.end());
        s.push_back(0x01);
        s.push_back(0x50);
        v.push_back({"15 letters and a run of 4: a stream as long as the input", in, s, false});
    }
    {
        Bytes in;
        for (int i = 0; i < 19; ++i) {
            in.push_back(static_cast<unsigned char>('a' + i));
        }
        v.push_back({"19 different bytes: the second group would pass the limit", in, in, true});
    }
    {
        // 67 bytes needing more than 16 items: copied.
        Bytes in;
        for (int i = 0; i < 67; ++i) {
            in.push_back(static_cast<unsigned char>(i * 7 + 1));
        }
        v.push_back({"67 bytes without repeats", in, in, true});
    }
    return v;
}

TEST(RdcCompress, WorkedExamples) {
    for (const Example &e : examples()) {
        SCOPED_TRACE(e.name);
        const Bytes got = compress(e.input);
        EXPECT_EQ(dump(got), dump(e.stream));
        EXPECT_EQ(got, e.stream);
        const ModelResult m = model_compress(e.input);
        EXPECT_EQ(m.out, e.stream) << "the model disagrees with the example";
        EXPECT_EQ(m.stored, e.stored);
        if (!e.stored) {
            expect_expands_to(got, e.input);
        }
    }
}

TEST(RdcCompress, ShortInputsAreCopiedWithoutTouchingTheWorkArea) {
    // 0 to 18 bytes, however compressible; the work area is not written.
    std::vector<void *> work(4096, reinterpret_cast<void *>(0x1234));
    for (std::size_t n = 0; n <= 18; ++n) {
        const Bytes in(n, 'x');
        EXPECT_EQ(compress(in, work.data()), in);
    }
    EXPECT_TRUE(std::all_of(work.begin(), work.end(), [](void *p) { return p == reinterpret_cast<void *>(0x1234); }));
}

TEST(RdcCompress, EmptyInputWritesNothing) {
    unsigned char out[4] = {9, 9, 9, 9};
    const unsigned char in[1] = {1};
    EXPECT_EQ(KW_RdcCompress(in, 0, out, nullptr), 0);
    EXPECT_EQ(out[0], 9);
}

// ---------------------------------------------------------------------------
// Agreement with the model and round trips.

// Lengths: all of 0..300, the edges of the format, and a sparse walk to the top.
std::vector<std::size_t> lengths() {
    std::vector<std::size_t> v;
    for (std::size_t n = 0; n <= 300; ++n) {
        v.push_back(n);
    }
    for (std::size_t n : {4097u, 4098u, 4099u, 4113u, 4114u, 4115u, 4116u, 8300u, 65533u, 65534u, 65535u}) {
        v.push_back(n);
    }
    for (std::size_t n = 301; n < 65535; n += 3119) {
        v.push_back(n);
    }
    return v;
}

void check_round_trip(const Bytes &in) {
    const Bytes got = compress(in);
    const ModelResult m = model_compress(in);
    ASSERT_EQ(got.size(), m.out.size()) << "length " << in.size();
    ASSERT_EQ(got, m.out) << "length " << in.size();
    ASSERT_LE(got.size(), in.size());
    if (m.stored) {
        ASSERT_EQ(got, in);
    } else {
        expect_expands_to(got, in);
    }
}

TEST(RdcCompress, AgreesWithTheModelAndRoundTrips) {
    std::mt19937 rng(20240601);
    for (std::size_t g = 0; g < std::size(kGenerators); ++g) {
        for (std::size_t n : lengths()) {
            SCOPED_TRACE(testing::Message() << "generator " << g << ", length " << n);
            check_round_trip(kGenerators[g](rng, n));
            if (HasFatalFailure()) {
                return;
            }
        }
    }
}

TEST(RdcCompress, AgreesWithTheModelOnManyFullBlocks) {
    std::mt19937 rng(77);
    for (int i = 0; i < 12; ++i) {
        SCOPED_TRACE(i);
        check_round_trip(mixed(rng, 65535));
        if (HasFatalFailure()) {
            return;
        }
    }
}

// Inputs that sit at the output limit: mostly incompressible with a little
// help, at lengths where the stream just fits or just does not.
TEST(RdcCompress, StreamsAtTheOutputLimit) {
    std::mt19937 rng(3);
    for (std::size_t n = 19; n < 400; ++n) {
        for (int density = 1; density <= 4; ++density) {
            Bytes in = random_bytes(rng, n, 256);
            std::uniform_int_distribution<std::size_t> pos(0, n - 5);
            for (int k = 0; k < density * static_cast<int>(n) / 40; ++k) {
                const std::size_t at = pos(rng);
                std::fill(in.begin() + static_cast<long>(at), in.begin() + static_cast<long>(at + 4), in[at]);
            }
            check_round_trip(in);
            if (HasFatalFailure()) {
                return;
            }
        }
    }
}

TEST(RdcCompress, WorkAreaSuppliedOrNotGivesTheSameBytes) {
    std::mt19937 rng(11);
    std::vector<void *> work(4096);
    for (std::size_t g = 0; g < std::size(kGenerators); ++g) {
        for (std::size_t n : {19u, 100u, 5000u, 65535u}) {
            const Bytes in = kGenerators[g](rng, n);
            const Bytes fresh = compress(in);
            // A work area full of stale positions from another input, or of garbage.
            const Bytes other = kGenerators[(g + 1) % std::size(kGenerators)](rng, 65535);
            (void)compress(other, work.data());
            EXPECT_EQ(compress(in, work.data()), fresh) << "generator " << g << " length " << n;
            std::fill(work.begin(), work.end(), reinterpret_cast<void *>(~std::uintptr_t{0}));
            EXPECT_EQ(compress(in, work.data()), fresh) << "generator " << g << " length " << n;
        }
    }
}

// ---------------------------------------------------------------------------
// The expanders on streams built item by item: every item kind near both
// ends of the buffers, copies from every distance, copies longer than their
// distance (which the compressor never writes), runs of every length.

struct Built {
    Bytes stream;
    Bytes expected;
};

Built random_stream(std::mt19937 &rng, std::size_t target, bool overlapping) {
    Built b;
    std::uniform_int_distribution<unsigned> kind(0, 5);
    std::uniform_int_distribution<unsigned> byte(0, 255);
    while (b.expected.size() < target) {
        const std::size_t ctrl_pos = b.stream.size();
        b.stream.push_back(0);
        b.stream.push_back(0);
        unsigned bits = 0;
        unsigned items = 0;
        for (; items < 16 && b.expected.size() < target; ++items) {
            const std::size_t have = b.expected.size();
            unsigned k = kind(rng);
            if (k >= 3 && have < 3) {
                k = 0;
            }
            const auto put = [&b](unsigned v) { b.stream.push_back(static_cast<unsigned char>(v & 0xFF)); };
            if (k <= 1) {
                const unsigned char c = static_cast<unsigned char>(byte(rng));
                put(c);
                b.expected.push_back(c);
                bits = bits << 1;
                continue;
            }
            bits = (bits << 1) | 1;
            if (k == 2) {
                const unsigned count = std::uniform_int_distribution<unsigned>(3, rng() % 4 == 0 ? 4114 : 40)(rng);
                const unsigned char c = static_cast<unsigned char>(byte(rng));
                if (count <= 18) {
                    put(count - 3);
                } else {
                    put(0x10 | ((count - 19) & 0x0F));
                    put((count - 19) >> 4);
                }
                put(c);
                b.expected.insert(b.expected.end(), count, c);
                continue;
            }
            const unsigned max_d = static_cast<unsigned>(std::min<std::size_t>(have, 4098));
            const unsigned d = k == 3 ? std::uniform_int_distribution<unsigned>(3, std::min(max_d, 40u))(rng)
                                      : std::uniform_int_distribution<unsigned>(3, max_d)(rng);
            unsigned count = std::uniform_int_distribution<unsigned>(3, rng() % 2 == 0 ? 15 : 271)(rng);
            if (!overlapping) {
                count = std::min(count, d);
            }
            if (count <= 15) {
                put((count << 4) | ((d - 3) & 0x0F));
                put((d - 3) >> 4);
            } else {
                put(0x20 | ((d - 3) & 0x0F));
                put((d - 3) >> 4);
                put(count - 16);
            }
            for (unsigned i = 0; i < count; ++i) {
                b.expected.push_back(b.expected[b.expected.size() - d]);
            }
        }
        bits <<= 16 - items;
        b.stream[ctrl_pos] = static_cast<unsigned char>((bits >> 8) & 0xFF);
        b.stream[ctrl_pos + 1] = static_cast<unsigned char>(bits & 0xFF);
    }
    return b;
}

TEST(RdcDecompress, BuiltStreams) {
    std::mt19937 rng(99);
    for (int overlapping = 0; overlapping <= 1; ++overlapping) {
        for (int i = 0; i < 400; ++i) {
            const std::size_t target = i < 300 ? static_cast<std::size_t>(i) : static_cast<std::size_t>(rng() % 20000);
            Built b = random_stream(rng, target, overlapping != 0);
            if (b.stream.size() > 65535 || b.expected.size() > 65535) {
                continue;
            }
            SCOPED_TRACE(testing::Message() << "stream " << i << " overlapping " << overlapping);
            expect_expands_to(b.stream, b.expected);
            if (HasFatalFailure()) {
                return;
            }
        }
    }
}

TEST(RdcDecompress, CopyLongerThanItsDistanceRepeatsTheLastBytes) {
    // Literals a b c, then a short copy of 9 from distance 3.
    const Bytes stream = hex({0x10, 0x00, 'a', 'b', 'c', 0x90, 0x00});
    expect_expands_to(stream, bytes_of("abcabcabcabc"));
}

// ---------------------------------------------------------------------------
// Streams that no compressor writes.

struct Malformed {
    const char *name;
    Bytes stream;
    Bytes written;  // what KW_RdcDecompress leaves (and returns the length of)
};

std::vector<Malformed> malformed() {
    Bytes sixteen = bytes_of("0123456789abcdef");
    Bytes group = hex({0x00, 0x00});
    group.insert(group.end(), sixteen.begin(), sixteen.end());
    group.push_back(0x00);
    return {
        {"a lone control-word byte", hex({0x00}), {}},
        {"a group of 16 literals, then a control word cut off", group, sixteen},
        {"a copy before the start", hex({0x80, 0x00, 0x30, 0x00}), {}},
        {"a copy one byte too far back", hex({0x10, 0x00, 'a', 'b', 'c', 0x31, 0x00}), bytes_of("abc")},
        {"a long copy before the start", hex({0x20, 0x00, 'a', 'b', 0x20, 0x00, 0x05}), bytes_of("ab")},
        {"a short run cut off", hex({0x40, 0x00, 'a', 0x02}), bytes_of("a")},
        {"a long run cut after one byte", hex({0x40, 0x00, 'a', 0x10}), bytes_of("a")},
        {"a long run cut after two bytes", hex({0x40, 0x00, 'a', 0x10, 0x01}), bytes_of("a")},
        {"a short copy cut off", hex({0x10, 0x00, 'a', 'b', 'c', 0x30}), bytes_of("abc")},
        {"a long copy cut off", hex({0x10, 0x00, 'a', 'b', 'c', 0x20, 0x00}), bytes_of("abc")},
    };
}

TEST(RdcDecompress, MalformedStreamsStopAndReturnWhatWasWritten) {
    for (const Malformed &m : malformed()) {
        SCOPED_TRACE(m.name);
        const Bytes in = m.stream;  // exactly sized: reads past it are caught
        Bytes out(65535, 0);
        const uint16_t n = KW_RdcDecompress(in.data(), static_cast<uint16_t>(in.size()), out.data());
        ASSERT_EQ(n, m.written.size());
        EXPECT_TRUE(std::equal(m.written.begin(), m.written.end(), out.begin()));
        Bytes big(1000);
        EXPECT_EQ(KW_RdcDecompressBound(in.data(), static_cast<uint16_t>(in.size()), big.data(),
                                        static_cast<uint32_t>(big.size())),
                  -1);
    }
}

// The same faults deep inside long streams, where the expander moves whole
// groups at a time: it must stop at the faulty item all the same.
TEST(RdcDecompress, MalformedItemsInsideLongStreams) {
    const auto literal_groups = [](Bytes &stream, Bytes &data, int groups) {
        for (int g = 0; g < groups; ++g) {
            stream.push_back(0x00);
            stream.push_back(0x00);
            for (int i = 0; i < 16; ++i) {
                const auto c = static_cast<unsigned char>('A' + (g * 16 + i) % 26);
                stream.push_back(c);
                data.push_back(c);
            }
        }
    };
    struct Fault {
        const char *name;
        Bytes item;  // the group's third item, after two literals
    };
    const Fault faults[] = {
        {"a short copy before the start", hex({0x3F, 0xFF})},
        {"a long copy before the start", hex({0x2F, 0xFF, 0x00})},
    };
    for (const Fault &f : faults) {
        SCOPED_TRACE(f.name);
        Bytes stream;
        Bytes data;
        literal_groups(stream, data, 10);
        stream.push_back(0x20);  // literal, literal, command, then literals
        stream.push_back(0x00);
        stream.push_back('x');
        stream.push_back('y');
        data.push_back('x');
        data.push_back('y');
        stream.insert(stream.end(), f.item.begin(), f.item.end());
        for (int i = 0; i < 13; ++i) {
            stream.push_back('z');
        }
        Bytes ignored;
        literal_groups(stream, ignored, 10);
        Bytes out(65535);
        EXPECT_EQ(KW_RdcDecompress(stream.data(), static_cast<uint16_t>(stream.size()), out.data()), data.size());
        EXPECT_TRUE(std::equal(data.begin(), data.end(), out.begin()));
        EXPECT_EQ(KW_RdcDecompressBound(stream.data(), static_cast<uint16_t>(stream.size()), out.data(), 65535), -1);
    }
}

TEST(RdcDecompress, ExpansionPastTheLargestBlockStops) {
    // Sixteen runs of 4,114 bytes would make 65,824: the sixteenth does not fit.
    Bytes stream = hex({0xFF, 0xFF});
    for (int i = 0; i < 16; ++i) {
        stream.push_back(0x1F);
        stream.push_back(0xFF);
        stream.push_back(static_cast<unsigned char>('A' + i));
    }
    Bytes out(65535);
    EXPECT_EQ(KW_RdcDecompress(stream.data(), static_cast<uint16_t>(stream.size()), out.data()), 15 * 4114);
    EXPECT_EQ(out[15 * 4114 - 1], 'A' + 14);
    // The bound twin refuses it, however much room it is given: no block is
    // longer than 65,535 bytes, and the room past them stays untouched.
    for (const uint32_t size : {65535u, 65536u, 16u * 4114u, 100000u}) {
        Bytes room(size, 0xA5);
        EXPECT_EQ(KW_RdcDecompressBound(stream.data(), static_cast<uint16_t>(stream.size()), room.data(), size), -1)
            << size;
        EXPECT_TRUE(std::all_of(room.begin() + 65535, room.end(), [](unsigned char c) { return c == 0xA5; })) << size;
    }
    // One run fewer ends at 61,710 bytes, inside the limit: accepted in any room.
    stream.resize(2 + 15 * 3);
    Bytes room(100000);
    EXPECT_EQ(KW_RdcDecompressBound(stream.data(), static_cast<uint16_t>(stream.size()), room.data(), 100000),
              15 * 4114);
}

TEST(RdcDecompress, TruncatedStreamsGiveAPrefixOfTheData) {
    std::mt19937 rng(8);
    for (int k = 0; k < 6; ++k) {
        const Bytes data = k % 2 == 0 ? words(rng, 3000) : runs(rng, 3000);
        const Bytes stream = compress(data);
        ASSERT_LT(stream.size(), data.size());
        for (std::size_t cut = 0; cut < stream.size(); ++cut) {
            const Bytes in(stream.begin(), stream.begin() + static_cast<long>(cut));
            Bytes out(65535);
            const uint16_t n = KW_RdcDecompress(in.data(), static_cast<uint16_t>(in.size()), out.data());
            ASSERT_LE(n, data.size());
            ASSERT_TRUE(std::equal(out.begin(), out.begin() + n, data.begin())) << "cut at " << cut;
            // Cut between items the stream is whole, only shorter.
            Bytes bounded(data.size());
            const int32_t m = KW_RdcDecompressBound(in.data(), static_cast<uint16_t>(in.size()), bounded.data(),
                                                    static_cast<uint32_t>(bounded.size()));
            ASSERT_TRUE(m == -1 || m == n) << "cut at " << cut;
        }
    }
}

// Random bytes as streams: the original interface keeps to its input and to
// 65,535 bytes of output, and the bound twin either refuses or agrees with it.
TEST(RdcDecompress, RandomStreamsStayInsideTheBuffers) {
    std::mt19937 rng(1234);
    std::uniform_int_distribution<std::size_t> len(0, 80);
    for (int i = 0; i < 4000; ++i) {
        Bytes in(len(rng));
        for (auto &c : in) {
            c = static_cast<unsigned char>(rng());
        }
        Bytes out(65535);
        const uint16_t n = KW_RdcDecompress(in.data(), static_cast<uint16_t>(in.size()), out.data());
        // Mostly small rooms; now and then more than the largest block.
        const uint32_t cap = static_cast<uint32_t>(i % 8 == 0 ? 65535 + rng() % 4000 : rng() % 300);
        Bytes bounded(cap);
        const int32_t m = KW_RdcDecompressBound(in.data(), static_cast<uint16_t>(in.size()), bounded.data(), cap);
        if (m >= 0) {
            ASSERT_EQ(m, n);
            ASSERT_TRUE(std::equal(bounded.begin(), bounded.begin() + m, out.begin()));
        }
    }
}

// ---------------------------------------------------------------------------
// Compression levels: the same format, found by a harder search.

Bytes compress_level(const Bytes &in, int level, void *work = nullptr) {
    Bytes out(in.size());
    const uint16_t n = KW_RdcCompressLevel(in.data(), static_cast<uint16_t>(in.size()), out.data(), work, level);
    out.resize(n);
    return out;
}

void check_level_round_trip(const Bytes &in, int level) {
    const Bytes got = compress_level(in, level);
    ASSERT_LE(got.size(), in.size());
    if (in.size() <= 18) {
        ASSERT_EQ(got, in);
        return;
    }
    if (got.size() == in.size() && got == in) {
        return;  // stored
    }
    ASSERT_EQ(kwsupport::rdc_items(got), static_cast<long>(in.size())) << dump(got);
    expect_expands_to(got, in);
}

TEST(RdcCompressLevel, LevelOneAndBelowWriteTheGreedyParse) {
    std::mt19937 rng(41);
    for (std::size_t g = 0; g < std::size(kGenerators); ++g) {
        for (std::size_t n : {0u, 5u, 19u, 300u, 4099u, 65535u}) {
            const Bytes in = kGenerators[g](rng, n);
            const Bytes greedy = compress(in);
            for (int level : {1, 0, -7}) {
                EXPECT_EQ(compress_level(in, level), greedy) << "generator " << g << " length " << n << " level " << level;
            }
        }
    }
}

TEST(RdcCompressLevel, EveryLevelRoundTripsWithinTheRules) {
    std::mt19937 rng(2026);
    std::vector<std::size_t> sizes;
    for (std::size_t n = 0; n <= 80; ++n) {
        sizes.push_back(n);
    }
    for (std::size_t n : {1023u, 1024u, 1025u, 4097u, 4098u, 4099u, 9000u, 65535u}) {
        sizes.push_back(n);
    }
    for (int level = 2; level <= 10; ++level) {
        for (std::size_t g = 0; g < std::size(kGenerators); ++g) {
            for (std::size_t n : sizes) {
                SCOPED_TRACE(testing::Message() << "level " << level << ", generator " << g << ", length " << n);
                check_level_round_trip(kGenerators[g](rng, n), level);
                if (HasFatalFailure()) {
                    return;
                }
            }
        }
    }
}

// Periodic data whose period is below the shortest distance, and long
// repeats exactly at the edges of the window.
TEST(RdcCompressLevel, ShortPeriodsAndTheEdgesOfTheWindow) {
    std::mt19937 rng(9);
    std::vector<Bytes> inputs;
    for (std::size_t period = 1; period <= 6; ++period) {
        Bytes b;
        for (std::size_t i = 0; i < 5000; ++i) {
            b.push_back(static_cast<unsigned char>('a' + i % period));
        }
        inputs.push_back(b);
    }
    for (std::size_t back : {4094u, 4095u, 4096u, 4097u, 4098u, 4099u}) {
        Bytes b = random_bytes(rng, back, 256);
        const Bytes head(b.begin(), b.begin() + 600);
        b.insert(b.end(), head.begin(), head.end());
        inputs.push_back(b);
    }
    for (int level = 2; level <= 9; ++level) {
        for (std::size_t k = 0; k < inputs.size(); ++k) {
            SCOPED_TRACE(testing::Message() << "level " << level << ", input " << k);
            check_level_round_trip(inputs[k], level);
        }
    }
    // Random bytes repeated with a period of 4,096 to 4,098 are found (the
    // stream saves most of the repeat); with 4,099 they cannot be (stored).
    for (std::size_t back : {4096u, 4097u, 4098u, 4099u}) {
        Bytes b = random_bytes(rng, back, 256);
        const Bytes head(b.begin(), b.begin() + 2000);
        b.insert(b.end(), head.begin(), head.end());
        for (int level : {2, 5, 9}) {
            const std::size_t got = compress_level(b, level).size();
            if (back <= 4098) {
                EXPECT_LT(got, b.size() - 1000) << back << " level " << level;
            } else {
                EXPECT_EQ(got, b.size()) << back << " level " << level;
            }
        }
    }
}

TEST(RdcCompressLevel, WorkAreaOfSixteenKilobytesSuppliedOrNot) {
    std::mt19937 rng(12);
    // The smallest work area any host has: 4,096 entries of 4 bytes.
    std::vector<std::uint32_t> small(4096);
    std::vector<void *> full(4096);
    for (std::size_t g = 0; g < std::size(kGenerators); ++g) {
        const Bytes in = kGenerators[g](rng, 65535);
        for (int level : {2, 5, 9}) {
            const Bytes fresh = compress_level(in, level);
            std::fill(small.begin(), small.end(), 0xDEADBEEFu);
            EXPECT_EQ(compress_level(in, level, small.data()), fresh) << "generator " << g << " level " << level;
            // Stale state from another input.
            (void)compress_level(kGenerators[(g + 1) % std::size(kGenerators)](rng, 65535), level, full.data());
            EXPECT_EQ(compress_level(in, level, full.data()), fresh) << "generator " << g << " level " << level;
        }
    }
}

TEST(RdcCompressLevel, ShortAndIncompressibleInputsAreStored) {
    std::vector<void *> work(4096, reinterpret_cast<void *>(0x1234));
    for (std::size_t n = 0; n <= 18; ++n) {
        const Bytes in(n, 'x');
        EXPECT_EQ(compress_level(in, 9, work.data()), in);
    }
    EXPECT_TRUE(std::all_of(work.begin(), work.end(), [](void *p) { return p == reinterpret_cast<void *>(0x1234); }));
    std::mt19937 rng(4);
    for (std::size_t n : {19u, 67u, 1000u, 65535u}) {
        const Bytes in = random_bytes(rng, n, 256);
        for (int level = 2; level <= 9; ++level) {
            EXPECT_EQ(compress_level(in, level), in) << n << " level " << level;
        }
    }
}

// The harder search must pay: level 9 well below level 1 on text and code.
TEST(RdcCompressLevel, HigherLevelsCompressBetter) {
    std::mt19937 rng(6);
    for (const Bytes &in : {words(rng, 65535), program_bytes(65535)}) {
        const std::size_t one = compress(in).size();
        const std::size_t two = compress_level(in, 2).size();
        const std::size_t nine = compress_level(in, 9).size();
        EXPECT_LT(two, one);
        EXPECT_LT(nine, two);
        EXPECT_LT(static_cast<double>(nine), 0.92 * static_cast<double>(one));
    }
}

}  // namespace
