// KW_crbrk and KW_dcprc throughput on buffers of 65,535 bytes and 1 MiB of
// English text, beside a plain XOR with a fixed 64-byte key as a yardstick
// for what a byte loop costs. The scrambler's buffer is scrambled and
// restored in turn, so it keeps its content from round to round.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "harness.h"
#include "kwutil.h"
#include "misc_corpus.h"

namespace {

__attribute__((noinline)) void xor_loop(unsigned char *p, std::size_t n, const unsigned char *key) {
    for (std::size_t i = 0; i < n; ++i) {
        p[i] = static_cast<unsigned char>(p[i] ^ key[i % 64]);
    }
}

}  // namespace

int main() {
    unsigned char key[64];
    for (int i = 0; i < 64; ++i) {
        key[i] = static_cast<unsigned char>(i * 37 + 11);
    }
    for (const std::size_t n : {std::size_t{65535}, std::size_t{1} << 20}) {
        const kwbench::Bytes orig = kwbench::english_text(n);
        kwbench::Bytes plain = orig;
        kwbench::Bytes buf = orig;
        const auto len = static_cast<uint32_t>(n);
        // The MB/s column counts the buffer once per call of the pair.
        kwbench::Suite s("scramble " + std::to_string(n) + " bytes of text", static_cast<double>(n));
        s.add("XOR with a 64-byte key (yardstick)", [&] {
            xor_loop(plain.data(), n, key);
            kwbench::clobber();
        });
        s.add("KW_crbrk then KW_dcprc", [&] {
            KW_crbrk(buf.data(), len);
            KW_dcprc(buf.data(), len);
            kwbench::clobber();
        });
        s.run();
        std::printf("  one call of KW_crbrk or KW_dcprc: %.1f MB/s\n", 2.0 * static_cast<double>(n) / s.median(1) / 1e6);
        std::printf("  buffer restored after every pair: %s\n", buf == orig ? "yes" : "NO");
    }
    return 0;
}
