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
#include <lz4.h>
#include <lz4hc.h>
#include <lzf.h>
#include <zlib.h>

#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "harness.h"
#include "kwutil.h"
#include "misc_corpus.h"

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

}  // namespace

int main(int argc, char **argv) {
    // "levels": only the level suites; "exact": only the contenders beside LZ4 and LZF.
    const std::string only = argc > 1 ? argv[1] : "";
    const std::size_t n = kBlock * kBlocks;
    const Bytes text = kwbench::english_text(n);
    const Bytes binary = kwbench::program_binary(n);
    const Bytes recs = kwbench::records(n);
    if (only != "levels") {
        bench_corpus("English text", text);
        bench_corpus("program binary (/usr/bin/bash)", binary);
        bench_corpus("low-entropy records", recs);
        bench_corpus("incompressible bytes", incompressible(n));
    }
    if (only != "exact") {
        bench_levels("English text", text);
        bench_levels("program binary (/usr/bin/bash)", binary);
        bench_levels("low-entropy records", recs);
    }
    return 0;
}
