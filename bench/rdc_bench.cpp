// RDC compression and expansion beside LZ4, LZF and zlib (level 1) on blocks
// of 65,535 bytes: English text, a program binary, low-entropy records and
// incompressible bytes; then KW_RdcCompressLevel's levels beside LZ4HC's.
// Each call handles 16 blocks. The compressed sizes are printed per corpus;
// KW_RdcCompress's are fixed by its format. zlib runs last in each round: its large
// state would otherwise evict the caches of whichever contender follows it.
//
// KW_RdcCompress runs with a work area supplied (as LZ4 and LZF keep their
// tables on the stack) and, in a second row, with one from malloc. A block
// that RDC hands back verbatim would be copied on expansion; the expansion
// rows count that copy.
//
// "limits" measures what stops the goals, beside the same peers: the
// compressor's literal path with its decisions taken out, the expander's
// item walk with its byte moves taken out, and what one core's compression
// speed allows kwtool pack on two.
#include <lz4.h>
#include <lz4hc.h>
#include <lzf.h>
#include <zlib.h>

#include <array>
#include <bit>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "harness.h"
#include "kwutil.h"
#include "misc/rdc.h"
#include "misc_corpus.h"
#include "platform/bytes.h"

namespace {

using kwbench::Bytes;

constexpr std::size_t kBlock = 65535;
constexpr std::size_t kBlocks = 16;

struct Packed {
    std::vector<Bytes> blocks;  // compressed, exactly sized
    std::vector<bool> stored;   // RDC only: the block was handed back verbatim
    std::size_t total = 0;
};

void bench_corpus(const char *name, const Bytes &data) {
    std::vector<Bytes> blocks;
    for (std::size_t i = 0; i < kBlocks; ++i) {
        blocks.emplace_back(data.begin() + static_cast<long>(i * kBlock),
                            data.begin() + static_cast<long>((i + 1) * kBlock));
    }
    const double bytes = static_cast<double>(kBlock * kBlocks);
    Bytes out(kBlock + kBlock / 8 + 1024);
    std::vector<void *> work(4096);

    const auto pack = [&](auto fn) {
        Packed p;
        for (const Bytes &b : blocks) {
            const std::size_t n = fn(b, out.data());
            p.blocks.emplace_back(out.begin(), out.begin() + static_cast<long>(n));
            p.stored.push_back(false);
            p.total += n;
        }
        return p;
    };
    const auto lz4c = [&](const Bytes &b, unsigned char *o) {
        return static_cast<std::size_t>(LZ4_compress_default(reinterpret_cast<const char *>(b.data()),
                                                             reinterpret_cast<char *>(o), static_cast<int>(b.size()),
                                                             static_cast<int>(out.size())));
    };
    const auto lzfc = [&](const Bytes &b, unsigned char *o) {
        return static_cast<std::size_t>(
            lzf_compress(b.data(), static_cast<unsigned>(b.size()), o, static_cast<unsigned>(out.size())));
    };
    const auto zc = [&](const Bytes &b, unsigned char *o) {
        uLongf n = static_cast<uLongf>(out.size());
        compress2(o, &n, b.data(), static_cast<uLong>(b.size()), 1);
        return static_cast<std::size_t>(n);
    };
    const auto rdcc = [&](const Bytes &b, unsigned char *o) {
        return static_cast<std::size_t>(KW_RdcCompress(b.data(), static_cast<uint16_t>(b.size()), o, work.data()));
    };

    const Packed lz4 = pack(lz4c);
    const Packed lzf = pack(lzfc);
    const Packed zl = pack(zc);
    Packed rdc = pack(rdcc);
    for (std::size_t i = 0; i < kBlocks; ++i) {
        rdc.stored[i] = rdc.blocks[i].size() == kBlock && rdc.blocks[i] == blocks[i];
    }

    std::printf("\n#### %s: %zu blocks of %zu bytes\n", name, kBlocks, kBlock);
    const auto pct = [bytes](const Packed &p) { return 100.0 * static_cast<double>(p.total) / bytes; };
    std::printf("  compressed size: LZ4 %.1f%%, LZF %.1f%%, zlib-1 %.1f%%, RDC %.1f%%", pct(lz4), pct(lzf), pct(zl),
                pct(rdc));
    std::size_t nstored = 0;
    for (bool s : rdc.stored) {
        nstored += s ? 1 : 0;
    }
    std::printf(" (%zu of %zu RDC blocks stored verbatim)\n", nstored, kBlocks);

    {
        kwbench::Suite s(std::string("compress, ") + name, bytes);
        s.add("LZ4_compress_default", [&] {
            for (const Bytes &b : blocks) kwbench::keep(lz4c(b, out.data()));
        });
        s.add("lzf_compress", [&] {
            for (const Bytes &b : blocks) kwbench::keep(lzfc(b, out.data()));
        });
        s.add("KW_RdcCompress", [&] {
            for (const Bytes &b : blocks) kwbench::keep(rdcc(b, out.data()));
        });
        s.add("KW_RdcCompress, work area from malloc", [&] {
            for (const Bytes &b : blocks) {
                kwbench::keep(KW_RdcCompress(b.data(), static_cast<uint16_t>(b.size()), out.data(), nullptr));
            }
        });
        s.add("zlib compress2 level 1", [&] {
            for (const Bytes &b : blocks) kwbench::keep(zc(b, out.data()));
        });
        s.run();
        std::printf("  KW_RdcCompress vs lzf_compress: %.2f\n", s.median(1) / s.median(2));
    }
    {
        Bytes dst(kBlock);
        kwbench::Suite s(std::string("expand, ") + name, bytes);
        s.add("LZ4_decompress_safe", [&] {
            for (const Bytes &b : lz4.blocks) {
                kwbench::keep(LZ4_decompress_safe(reinterpret_cast<const char *>(b.data()),
                                                  reinterpret_cast<char *>(dst.data()), static_cast<int>(b.size()),
                                                  static_cast<int>(dst.size())));
            }
        });
        s.add("lzf_decompress", [&] {
            for (const Bytes &b : lzf.blocks) {
                kwbench::keep(lzf_decompress(b.data(), static_cast<unsigned>(b.size()), dst.data(),
                                             static_cast<unsigned>(dst.size())));
            }
        });
        s.add("KW_RdcDecompress", [&] {
            for (std::size_t i = 0; i < kBlocks; ++i) {
                const Bytes &b = rdc.blocks[i];
                if (rdc.stored[i]) {
                    std::memcpy(dst.data(), b.data(), b.size());
                } else {
                    kwbench::keep(KW_RdcDecompress(b.data(), static_cast<uint16_t>(b.size()), dst.data()));
                }
            }
        });
        s.add("KW_RdcDecompressBound", [&] {
            for (std::size_t i = 0; i < kBlocks; ++i) {
                const Bytes &b = rdc.blocks[i];
                if (rdc.stored[i]) {
                    std::memcpy(dst.data(), b.data(), b.size());
                } else {
                    kwbench::keep(KW_RdcDecompressBound(b.data(), static_cast<uint16_t>(b.size()), dst.data(),
                                                        static_cast<uint32_t>(dst.size())));
                }
            }
        });
        s.add("zlib uncompress", [&] {
            for (const Bytes &b : zl.blocks) {
                uLongf n = static_cast<uLongf>(dst.size());
                kwbench::keep(uncompress(dst.data(), &n, b.data(), static_cast<uLong>(b.size())));
            }
        });
        s.run();
    }
    // Check the round trip once, so that a broken build cannot look fast.
    Bytes check(kBlock);
    for (std::size_t i = 0; i < kBlocks; ++i) {
        if (!rdc.stored[i]) {
            const uint16_t n = KW_RdcDecompress(rdc.blocks[i].data(), static_cast<uint16_t>(rdc.blocks[i].size()),
                                                check.data());
            if (n != kBlock || check != blocks[i]) {
                std::printf("  ROUND TRIP FAILED on block %zu\n", i);
            }
        }
    }
}

// Bytes from a fixed-seed generator: nothing to find, every block stored.
Bytes incompressible(std::size_t n) {
    std::mt19937 rng(99);
    Bytes b(n);
    for (auto &c : b) {
        c = static_cast<unsigned char>(rng() >> 24);
    }
    return b;
}

// KW_RdcCompressLevel's levels beside LZ4HC's: total size and speed, on the
// same blocks, in one interleaved suite (ratios to level 1).
void bench_levels(const char *name, const Bytes &data) {
    std::vector<void *> work(4096);
    Bytes out(kBlock + kBlock / 8 + 1024);
    const double bytes = static_cast<double>(kBlock * kBlocks);
    kwbench::Suite s(std::string("levels, ") + name, bytes);
    std::printf("\n#### levels, %s: compressed size of %zu blocks\n ", name, kBlocks);
    for (int level = 1; level <= 9; ++level) {
        const auto fn = [&, level] {
            std::size_t total = 0;
            for (std::size_t i = 0; i < kBlocks; ++i) {
                total += KW_RdcCompressLevel(data.data() + i * kBlock, static_cast<uint16_t>(kBlock), out.data(),
                                             work.data(), level);
            }
            return total;
        };
        std::printf(" RDC %d: %.1f%%", level, 100.0 * static_cast<double>(fn()) / bytes);
        s.add("KW_RdcCompressLevel " + std::to_string(level), [fn] { kwbench::keep(fn()); });
    }
    std::printf("\n ");
    for (int level : {1, 3, 6, 9, 12}) {
        const auto fn = [&, level] {
            std::size_t total = 0;
            for (std::size_t i = 0; i < kBlocks; ++i) {
                total += static_cast<std::size_t>(
                    LZ4_compress_HC(reinterpret_cast<const char *>(data.data() + i * kBlock),
                                    reinterpret_cast<char *>(out.data()), static_cast<int>(kBlock),
                                    static_cast<int>(out.size()), level));
            }
            return total;
        };
        std::printf(" LZ4HC %d: %.1f%%", level, 100.0 * static_cast<double>(fn()) / bytes);
        s.add("LZ4_compress_HC " + std::to_string(level), [fn] { kwbench::keep(fn()); });
    }
    std::printf("\n");
    s.run(5, 20.0);
}

// ---- limits ---------------------------------------------------------------

// The compressor's slot number of the three bytes in the low 24 bits of w.
inline std::uint32_t slot_of(std::uint32_t w) {
    const std::uint32_t b0 = w & 0xFFu, b1 = (w >> 8) & 0xFFu, b2 = (w >> 16) & 0xFFu;
    return (((b0 & 0x0Fu) << 8 | b1) ^ (b0 >> 4 | b2 << 4)) & 0x0FFFu;
}

// Positions KW_RdcCompress codes in a block of n literals before the output
// limit stores the block: groups of 16 literals take 18 bytes, and a group
// may start only while its control word ends within n - 48 bytes.
std::size_t literal_positions(std::size_t n) { return 16 * ((n - 48 - 2) / 18 + 1); }

// The literal path's floor: per position the 64-bit load, the slot number,
// one slot read and one slot write (the table and the entry as the
// compressor keeps them) and the output byte, over as many positions as the
// compressor codes, then the stored copy; no run test, no match test, no
// control bits. With table false, the slot access goes too.
template <bool kTable>
std::size_t literal_floor(const unsigned char *in, std::size_t n, unsigned char *out, std::uint32_t *table) {
    std::memset(table, 0xFF, 4096 * sizeof(std::uint32_t));
    const std::size_t stop = literal_positions(n);
    unsigned char *op = out + 2;
    std::uint32_t sum = 0;
    for (std::size_t p = 0; p < stop; ++p) {
        const auto w = static_cast<std::uint32_t>(kw::plat::load_le64(in + p));
        const std::uint32_t slot = slot_of(w);
        if constexpr (kTable) {
            const std::uint32_t old = table[slot];
            table[slot] = w << 16 | static_cast<std::uint32_t>(p);
            sum += old;
        } else {
            sum += slot;
        }
        *op++ = static_cast<unsigned char>(w);
    }
    kwbench::keep(sum);
    kwbench::clobber();
    std::memcpy(out, in, n);
    return n;
}

// What a walk over a stream found.
struct Walk {
    std::size_t bytes = 0;     // expanded length
    std::size_t items = 0;     // literals and commands (RDC), sequences (LZ4)
    std::size_t commands = 0;  // runs and copies (RDC), matches (LZ4)
    std::size_t moves = 0;     // block moves an expander makes: commands and stretches of literals
};

// The count of the command at ip and its size in bytes.
inline std::uint32_t rdc_command(const unsigned char *ip, std::uint32_t &size) {
    const std::uint32_t head = ip[0];
    const std::uint32_t code = head >> 4;
    if (code > 2) {
        size = 2;
        return code;
    }
    if (code == 2) {
        size = 3;
        return std::uint32_t{ip[2]} + 16;
    }
    if (code == 0) {
        size = 2;
        return (head & 0x0Fu) + 3;
    }
    size = 3;
    return ((head & 0x0Fu) | std::uint32_t{ip[1]} << 4) + 19;
}

// The expander's floor: the walk of KW_RdcDecompress's fast loop (whole
// groups, the control word bit-reversed, the next command its lowest set
// bit, literals counted up to it), the control words and command heads
// decoded and the counts summed, no byte moved; the last groups item by item.
std::size_t rdc_walk(const unsigned char *ip, std::size_t len) {
    using kw::misc::rdc::kReverse8;
    const unsigned char *const end = ip + len;
    std::size_t made = 0;
    while (end - ip >= 2 + 48 + 64) {
        std::uint32_t commands = std::uint32_t{kReverse8[ip[0]]} | std::uint32_t{kReverse8[ip[1]]} << 8;
        ip += 2;
        std::uint32_t next = 0;
        while (commands != 0) {
            const auto at = static_cast<std::uint32_t>(std::countr_zero(commands));
            ip += at - next;
            made += at - next;
            std::uint32_t size = 0;
            made += rdc_command(ip, size);
            ip += size;
            next = at + 1;
            commands &= commands - 1;
        }
        ip += 16 - next;
        made += 16 - next;
    }
    while (ip < end) {
        const std::uint32_t ctrl = std::uint32_t{ip[0]} << 8 | ip[1];
        ip += 2;
        for (int bit = 15; bit >= 0 && ip < end; --bit) {
            if ((ctrl >> bit & 1u) == 0) {
                ++ip;
                ++made;
            } else {
                std::uint32_t size = 0;
                made += rdc_command(ip, size);
                ip += size;
            }
        }
    }
    return made;
}

// The same floor for an LZ4 block: tokens, length bytes and offsets read,
// the lengths summed, no byte moved.
std::size_t lz4_walk(const unsigned char *ip, std::size_t len, Walk *w = nullptr) {
    const unsigned char *const end = ip + len;
    std::size_t made = 0;
    for (;;) {
        const unsigned token = *ip++;
        // A length field of 15 goes on in bytes up to one below 255.
        const auto longer = [&ip](std::size_t n) {
            unsigned b = 0;
            do {
                b = *ip++;
                n += b;
            } while (b == 255);
            return n;
        };
        const std::size_t lit = (token >> 4) == 15 ? longer(15) : token >> 4;
        ip += lit;
        made += lit;
        if (w != nullptr) {
            ++w->items;
            w->moves += lit != 0 ? 1 : 0;
        }
        if (ip >= end) {
            break;  // the last sequence has literals only
        }
        ip += 2;  // the offset
        made += ((token & 15u) == 15 ? longer(15) : token & 15u) + 4;
        if (w != nullptr) {
            ++w->commands;
            ++w->moves;
        }
    }
    return made;
}

// Items of an RDC stream, counted exactly.
void rdc_count(const Bytes &s, Walk &w) {
    std::size_t ip = 0;
    bool in_stretch = false;
    while (ip < s.size()) {
        const unsigned ctrl = static_cast<unsigned>(s[ip]) << 8 | s[ip + 1];
        ip += 2;
        for (int bit = 15; bit >= 0 && ip < s.size(); --bit) {
            ++w.items;
            if ((ctrl >> bit & 1u) == 0) {
                ++ip;
                ++w.bytes;
                w.moves += in_stretch ? 0 : 1;
                in_stretch = true;
            } else {
                std::uint32_t size = 0;
                w.bytes += rdc_command(s.data() + ip, size);
                ip += size;
                ++w.commands;
                ++w.moves;
                in_stretch = false;
            }
        }
    }
}

void limits_literal_path() {
    const Bytes data = incompressible(kBlock * kBlocks);
    std::vector<Bytes> blocks;
    for (std::size_t i = 0; i < kBlocks; ++i) {
        blocks.emplace_back(data.begin() + static_cast<long>(i * kBlock), data.begin() + static_cast<long>((i + 1) * kBlock));
    }
    Bytes out(kBlock + kBlock / 8 + 1024);
    std::vector<void *> work(4096);
    std::vector<std::uint32_t> table(4096);
    kwbench::Suite s("limits: the literal path, incompressible bytes", static_cast<double>(kBlock * kBlocks));
    s.add("lzf_compress", [&] {
        for (const Bytes &b : blocks) {
            kwbench::keep(lzf_compress(b.data(), static_cast<unsigned>(b.size()), out.data(), static_cast<unsigned>(out.size())));
        }
    });
    s.add("KW_RdcCompress", [&] {
        for (const Bytes &b : blocks) {
            kwbench::keep(KW_RdcCompress(b.data(), static_cast<uint16_t>(b.size()), out.data(), work.data()));
        }
    });
    s.add("floor: load, hash, slot read+write, byte", [&] {
        for (const Bytes &b : blocks) kwbench::keep(literal_floor<true>(b.data(), b.size(), out.data(), table.data()));
    });
    s.add("floor without the slot: load, hash, byte", [&] {
        for (const Bytes &b : blocks) kwbench::keep(literal_floor<false>(b.data(), b.size(), out.data(), table.data()));
    });
    s.run();
    const double per_pos = 1e9 / static_cast<double>(literal_positions(kBlock) * kBlocks);
    std::printf("  positions coded per block: %zu of %zu; ns per position: KW_RdcCompress %.2f, floor %.2f, "
                "without the slot %.2f; 3 x lzf allows %.2f\n",
                literal_positions(kBlock), kBlock, s.median(1) * per_pos, s.median(2) * per_pos, s.median(3) * per_pos,
                s.median(0) / 3 * per_pos);
    std::printf("  vs lzf_compress: KW_RdcCompress %.2f, floor %.2f, without the slot %.2f (goal 3)\n",
                s.median(0) / s.median(1), s.median(0) / s.median(2), s.median(0) / s.median(3));
}

void limits_expander(const char *name, const Bytes &data) {
    std::vector<Bytes> rdc, lz4;
    std::vector<void *> work(4096);
    Bytes out(kBlock + kBlock / 8 + 1024);
    Walk wr, wl;
    for (std::size_t i = 0; i < kBlocks; ++i) {
        const unsigned char *b = data.data() + i * kBlock;
        const std::size_t n = KW_RdcCompress(b, static_cast<uint16_t>(kBlock), out.data(), work.data());
        if (n == kBlock && std::memcmp(out.data(), b, n) == 0) {
            continue;  // stored: nothing to walk
        }
        rdc.emplace_back(out.begin(), out.begin() + static_cast<long>(n));
        rdc_count(rdc.back(), wr);
        const int m = LZ4_compress_default(reinterpret_cast<const char *>(b), reinterpret_cast<char *>(out.data()),
                                           static_cast<int>(kBlock), static_cast<int>(out.size()));
        lz4.emplace_back(out.begin(), out.begin() + m);
        wl.bytes += lz4_walk(lz4.back().data(), lz4.back().size(), &wl);
        if (rdc_walk(rdc.back().data(), rdc.back().size()) != kBlock || wr.bytes != kBlock * rdc.size() ||
            wl.bytes != kBlock * lz4.size()) {
            std::printf("  WALK FAILED on %s block %zu\n", name, i);
            return;
        }
    }
    if (rdc.empty()) {
        return;
    }
    Bytes dst(kBlock);
    kwbench::Suite s(std::string("limits: the expander, ") + name, static_cast<double>(kBlock * rdc.size()));
    s.add("LZ4_decompress_safe", [&] {
        for (const Bytes &b : lz4) {
            kwbench::keep(LZ4_decompress_safe(reinterpret_cast<const char *>(b.data()), reinterpret_cast<char *>(dst.data()),
                                              static_cast<int>(b.size()), static_cast<int>(dst.size())));
        }
    });
    s.add("KW_RdcDecompress", [&] {
        for (const Bytes &b : rdc) kwbench::keep(KW_RdcDecompress(b.data(), static_cast<uint16_t>(b.size()), dst.data()));
    });
    s.add("floor: RDC item walk, no byte moved", [&] {
        for (const Bytes &b : rdc) kwbench::keep(rdc_walk(b.data(), b.size()));
    });
    s.add("floor: LZ4 sequence walk, no byte moved", [&] {
        for (const Bytes &b : lz4) kwbench::keep(lz4_walk(b.data(), b.size()));
    });
    s.run();
    const double bytes = static_cast<double>(wr.bytes);
    std::printf("  per 1,000 output bytes: RDC %.1f items (%.1f commands), %.1f moves; LZ4 %.1f sequences, %.1f moves\n",
                1000.0 * static_cast<double>(wr.items) / bytes, 1000.0 * static_cast<double>(wr.commands) / bytes,
                1000.0 * static_cast<double>(wr.moves) / bytes, 1000.0 * static_cast<double>(wl.items) / bytes,
                1000.0 * static_cast<double>(wl.moves) / bytes);
    std::printf("  RDC's walk alone takes %.2f of LZ4_decompress_safe's time: 0.8 needs the walk and the moves within "
                "%.2f (KW_RdcDecompress: %.2f)\n",
                s.median(2) / s.median(0), 1 / 0.8, s.median(1) / s.median(0));
}

// kwtool pack compresses independent blocks on two cores; lz4 -1 on one.
// Even with no other cost, pack's speed over lz4's is at most twice the
// compressors' per-core ratio on the same data.
void limits_pack(const Bytes &text, const Bytes &binary, const Bytes &recs) {
    std::vector<const unsigned char *> blocks;
    for (const Bytes *d : {&text, &binary, &recs}) {
        for (std::size_t i = 0; i < kBlocks; ++i) {
            blocks.push_back(d->data() + i * kBlock);
        }
    }
    Bytes out(kBlock + kBlock / 8 + 1024);
    std::vector<void *> work(4096);
    kwbench::Suite s("limits: kwtool pack on two cores, text, binary and records", static_cast<double>(kBlock * blocks.size()));
    s.add("LZ4_compress_default", [&] {
        for (const unsigned char *b : blocks) {
            kwbench::keep(LZ4_compress_default(reinterpret_cast<const char *>(b), reinterpret_cast<char *>(out.data()),
                                               static_cast<int>(kBlock), static_cast<int>(out.size())));
        }
    });
    s.add("KW_RdcCompress", [&] {
        for (const unsigned char *b : blocks) {
            kwbench::keep(KW_RdcCompress(b, static_cast<uint16_t>(kBlock), out.data(), work.data()));
        }
    });
    s.run();
    const double r = s.median(0) / s.median(1);
    std::printf("  per core %.2f x LZ4: pack on 2 cores can reach at most %.2f x lz4 -1 (goal 1.5)\n", r, 2 * r);
}

}  // namespace

int main(int argc, char **argv) {
    // "levels": only the level suites; "exact": only the contenders beside
    // LZ4 and LZF; "limits": only the limits.
    const std::string only = argc > 1 ? argv[1] : "";
    const std::size_t n = kBlock * kBlocks;
    const Bytes text = kwbench::english_text(n);
    const Bytes binary = kwbench::program_binary(n);
    const Bytes recs = kwbench::records(n);
    if (only.empty() || only == "exact") {
        bench_corpus("English text", text);
        bench_corpus("program binary (/usr/bin/bash)", binary);
        bench_corpus("low-entropy records", recs);
        bench_corpus("incompressible bytes", incompressible(n));
    }
    if (only.empty() || only == "levels") {
        bench_levels("English text", text);
        bench_levels("program binary (/usr/bin/bash)", binary);
        bench_levels("low-entropy records", recs);
    }
    if (only.empty() || only == "limits") {
        limits_literal_path();
        limits_expander("English text", text);
        limits_expander("program binary (/usr/bin/bash)", binary);
        limits_expander("low-entropy records", recs);
        limits_pack(text, binary, recs);
    }
    return 0;
}
