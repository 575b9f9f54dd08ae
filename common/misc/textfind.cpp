// Counting the occurrences of a pattern in a text: the kernels behind
// KW_FastTextFind. Each takes the text t[0 .. n) and the pattern p[0 .. m),
// m >= 1, works on any byte values and counts every position at which the
// pattern occurs, overlapping ones included; all kernels give the same count.
//
// count_horspool is the portable one, Boyer-Moore-Horspool with a shift table
// of 256 entries: distance[c] is how far the window may move when its last
// text byte is c, that is m - 1 - (the last index below m - 1 at which c
// occurs in the pattern), or m when c does not occur there. The shift never
// passes an occurrence, also after a match, so every occurrence is counted.
// The comparison is bounded by the pattern's length and needs no sentinel.
//
// On x86 the vector kernels test 16 (SSE2) or 32 (AVX2) alignments at once:
// a text position is a candidate when its byte equals the pattern's first
// byte and the byte m - 1 further on equals its last; only candidates are
// compared in full (for m <= 2 that test is the whole comparison, and the
// candidates are simply counted). Loads stay inside the text; the alignments
// left over at the end go through the same test one at a time.
//
// KW_FastTextFind sets the sentinels, settles the trivial cases and picks a
// kernel for the processor each call runs on.
#include "misc/textfind.h"

#include <bit>
#include <cstddef>
#include <cstring>

#include "kwutil.h"
#include "platform/cpu.h"

#if KW_X86_INTRINSICS
#include <immintrin.h>
#endif

namespace kw::misc {

std::int32_t count_horspool(const unsigned char *t, std::int32_t n, const unsigned char *p, std::int32_t m) noexcept {
    if (n < m) {
        return 0;
    }
    std::int32_t distance[256];
    for (std::int32_t &d : distance) {
        d = m;
    }
    for (std::int32_t i = 0; i < m - 1; ++i) {
        distance[p[i]] = m - 1 - i;
    }
    const unsigned char last = p[m - 1];
    const auto rest = static_cast<std::size_t>(m - 1);
    std::int32_t nmatch = 0;
    for (std::int32_t i = m - 1; i < n; i += distance[t[i]]) {
        if (t[i] == last && std::memcmp(t + (i - (m - 1)), p, rest) == 0) {
            ++nmatch;
        }
    }
    return nmatch;
}

#if KW_X86_INTRINSICS

namespace {

// Candidates at alignments from .. alignments - 1, one at a time.
std::int32_t count_tail(const unsigned char *t, std::size_t from, std::size_t alignments,
                               const unsigned char *p, std::size_t m) noexcept {
    std::int32_t nmatch = 0;
    for (std::size_t s = from; s < alignments; ++s) {
        if (t[s] == p[0] && t[s + m - 1] == p[m - 1] && (m <= 2 || std::memcmp(t + s + 1, p + 1, m - 2) == 0)) {
            ++nmatch;
        }
    }
    return nmatch;
}

// Count the candidates of one block (bit i: alignment s + i) that match.
std::int32_t count_block(std::uint32_t mask, const unsigned char *t, std::size_t s, const unsigned char *p,
                                std::size_t m) noexcept {
    if (m <= 2) {
        return std::popcount(mask);
    }
    std::int32_t nmatch = 0;
    while (mask != 0) {
        const auto bit = static_cast<std::size_t>(std::countr_zero(mask));
        if (std::memcmp(t + s + bit + 1, p + 1, m - 2) == 0) {
            ++nmatch;
        }
        mask &= mask - 1;
    }
    return nmatch;
}

}  // namespace


KW_TARGET("sse2") std::int32_t count_sse2(const unsigned char *t, std::int32_t n, const unsigned char *p,
                                          std::int32_t m) noexcept {
    if (n < m) {
        return 0;
    }
    const auto len = static_cast<std::size_t>(m);
    const std::size_t alignments = static_cast<std::size_t>(n) - len + 1;
    const __m128i first = _mm_set1_epi8(static_cast<char>(p[0]));
    const __m128i last = _mm_set1_epi8(static_cast<char>(p[len - 1]));
    std::int32_t nmatch = 0;
    std::size_t s = 0;
    // Block s covers alignments s .. s + 15; its second load ends at
    // s + m - 1 + 16 <= n.
    for (; s + 16 <= alignments; s += 16) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i *>(t + s));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i *>(t + s + len - 1));
        const __m128i hit = _mm_and_si128(_mm_cmpeq_epi8(a, first), _mm_cmpeq_epi8(b, last));
        const auto mask = static_cast<std::uint32_t>(_mm_movemask_epi8(hit));
        if (mask != 0) {
            nmatch += count_block(mask, t, s, p, len);
        }
    }
    return nmatch + count_tail(t, s, alignments, p, len);
}

KW_TARGET("avx2") std::int32_t count_avx2(const unsigned char *t, std::int32_t n, const unsigned char *p,
                                          std::int32_t m) noexcept {
    if (n < m) {
        return 0;
    }
    const auto len = static_cast<std::size_t>(m);
    const std::size_t alignments = static_cast<std::size_t>(n) - len + 1;
    const __m256i first = _mm256_set1_epi8(static_cast<char>(p[0]));
    const __m256i last = _mm256_set1_epi8(static_cast<char>(p[len - 1]));
    std::int32_t nmatch = 0;
    std::size_t s = 0;
    // Two blocks of 32 alignments per round, then single blocks; every second
    // load ends at or before t + n.
    for (; s + 64 <= alignments; s += 64) {
        const __m256i a0 = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(t + s));
        const __m256i b0 = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(t + s + len - 1));
        const __m256i a1 = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(t + s + 32));
        const __m256i b1 = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(t + s + 32 + len - 1));
        const __m256i hit0 = _mm256_and_si256(_mm256_cmpeq_epi8(a0, first), _mm256_cmpeq_epi8(b0, last));
        const __m256i hit1 = _mm256_and_si256(_mm256_cmpeq_epi8(a1, first), _mm256_cmpeq_epi8(b1, last));
        if (_mm256_testz_si256(_mm256_or_si256(hit0, hit1), _mm256_or_si256(hit0, hit1)) == 0) {
            const auto mask0 = static_cast<std::uint32_t>(_mm256_movemask_epi8(hit0));
            const auto mask1 = static_cast<std::uint32_t>(_mm256_movemask_epi8(hit1));
            nmatch += count_block(mask0, t, s, p, len);
            nmatch += count_block(mask1, t, s + 32, p, len);
        }
    }
    for (; s + 32 <= alignments; s += 32) {
        const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(t + s));
        const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(t + s + len - 1));
        const __m256i hit = _mm256_and_si256(_mm256_cmpeq_epi8(a, first), _mm256_cmpeq_epi8(b, last));
        const auto mask = static_cast<std::uint32_t>(_mm256_movemask_epi8(hit));
        if (mask != 0) {
            nmatch += count_block(mask, t, s, p, len);
        }
    }
    return nmatch + count_tail(t, s, alignments, p, len);
}

#endif

namespace {

std::int32_t count_occurrences(const unsigned char *t, std::int32_t n, const unsigned char *p,
                               std::int32_t m) noexcept {
#if KW_X86_INTRINSICS
    // Asked on every call: the library keeps no state to cache the answer in.
    const unsigned cpu = plat::cpu_features();
    if ((cpu & plat::kCpuAvx2) != 0) {
        return count_avx2(t, n, p, m);
    }
    if ((cpu & plat::kCpuSse2) != 0) {
        return count_sse2(t, n, p, m);
    }
#endif
    return count_horspool(t, n, p, m);
}

}  // namespace
}  // namespace kw::misc

extern "C" KW_API int32_t KW_FastTextFind(int32_t txtlen, unsigned char *txt, int32_t patlen, unsigned char *pat) {
    // The sentinels are part of the result, whatever the lengths.
    pat[0] = 0xFE;
    txt[0] = 0xFF;
    if (patlen <= 0 || txtlen < patlen) {
        return 0;
    }
    return kw::misc::count_occurrences(txt + 1, txtlen, pat + 1, patlen);
}
