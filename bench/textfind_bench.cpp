// KW_FastTextFind counting a pattern of 2, 8 and 32 characters in 16 MiB of
// English text, beside counting loops over glibc memmem and the standard
// library's Boyer-Moore-Horspool searcher, and beside each of its own kernels
// (a slow dispatch shows as a gap between KW_FastTextFind and its kernel).
// Every contender's count is checked against the others before timing.
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "harness.h"
#include "kwutil.h"
#include "misc/textfind.h"
#include "platform/cpu.h"
#include "misc_corpus.h"

namespace {

using kwbench::Bytes;

long memmem_count(const unsigned char *t, std::size_t n, const std::string &p) {
    long count = 0;
    const unsigned char *at = t;
    const unsigned char *const end = t + n;
    for (;;) {
        const void *hit = memmem(at, static_cast<std::size_t>(end - at), p.data(), p.size());
        if (hit == nullptr) {
            return count;
        }
        ++count;
        at = static_cast<const unsigned char *>(hit) + 1;
    }
}

long horspool_count(const unsigned char *t, std::size_t n, const std::string &p) {
    const std::boyer_moore_horspool_searcher searcher(p.begin(), p.end());
    long count = 0;
    const char *at = reinterpret_cast<const char *>(t);
    const char *const end = at + n;
    for (;;) {
        at = std::search(at, end, searcher);
        if (at == end) {
            return count;
        }
        ++count;
        ++at;
    }
}

}  // namespace

int main() {
    constexpr std::size_t kText = 16u << 20;
    const Bytes text = kwbench::english_text(kText);
    // Index 0 of both buffers is KW_FastTextFind's sentinel slot.
    Bytes txt(kText + 1);
    std::memcpy(txt.data() + 1, text.data(), kText);

    const std::string patterns[] = {"th", "software", "permission notice shall be inclu"};
    for (const std::string &p : patterns) {
        Bytes pat(p.size() + 1);
        std::memcpy(pat.data() + 1, p.data(), p.size());
        const auto n = static_cast<int32_t>(kText);
        const auto m = static_cast<int32_t>(p.size());

        const long expect = memmem_count(text.data(), kText, p);
        const long got = KW_FastTextFind(n, txt.data(), m, pat.data());
        const long bmh = horspool_count(text.data(), kText, p);
        const long scalar = kw::misc::count_horspool(txt.data() + 1, n, pat.data() + 1, m);
        std::printf("\npattern \"%s\" (%zu chars): %ld occurrences%s\n", p.c_str(), p.size(), expect,
                    (got == expect && bmh == expect && scalar == expect) ? "" : "  COUNTS DIFFER");

        kwbench::Suite s("count \"" + p + "\" in 16 MiB of English text", static_cast<double>(kText));
        s.add("memmem counting loop", [&] { kwbench::keep(memmem_count(text.data(), kText, p)); });
        s.add("std::boyer_moore_horspool_searcher loop", [&] { kwbench::keep(horspool_count(text.data(), kText, p)); });
        s.add("KW_FastTextFind", [&] { kwbench::keep(KW_FastTextFind(n, txt.data(), m, pat.data())); });
        s.add("  kernel: scalar Horspool",
              [&] { kwbench::keep(kw::misc::count_horspool(txt.data() + 1, n, pat.data() + 1, m)); });
#if KW_X86_INTRINSICS
        s.add("  kernel: SSE2", [&] { kwbench::keep(kw::misc::count_sse2(txt.data() + 1, n, pat.data() + 1, m)); });
        if ((kw::plat::cpu_features() & kw::plat::kCpuAvx2) != 0) {
            s.add("  kernel: AVX2",
                  [&] { kwbench::keep(kw::misc::count_avx2(txt.data() + 1, n, pat.data() + 1, m)); });
        }
#endif
        s.run();
        std::printf("  KW_FastTextFind vs std BMH loop: %.2f\n", s.median(1) / s.median(2));
    }
    return 0;
}
