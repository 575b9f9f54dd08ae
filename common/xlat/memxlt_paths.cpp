// The ways KW_memxlt can translate a buffer, one function each, and the
// choice among them.
//
// Every path gives the same bytes as translating one byte after another and
// touches only string[0 .. len-1]: no read or write before the first byte or
// past the last, not even within the same cache line or page. All but
// memxlt_bytewise read ahead of their writes (the vector paths even keep the
// whole table in registers), so they are right only when the buffer and the
// table do not overlap; choose() sends an overlapping buffer byte by byte,
// the order in which such a call is well defined.
//
// AVX-512 VBMI: the 256-byte table is four 64-byte registers. vpermi2b looks
// up the low seven bits of an index in a pair of them, so one lookup in
// bytes 0-127, one in 128-255 and a blend on bit 7 translate 64 bytes.
//
// AVX2: vpshufb looks up a 4-bit index in a 16-byte row (the same row in
// both 128-bit lanes) and gives 0 where the index has bit 7 set. Sixteen
// lookups, one per row of the table, give every candidate for a byte. Rows
// 0-7 are looked up with the byte itself and rows 8-15 with its bit 7
// flipped, so each half of the table gives 0 for the bytes of the other
// half. Three rounds of vpblendvb on bits 4, 5 and 6 (each shifted up to
// bit 7) narrow the eight candidates of each half to one, and an OR joins
// the halves.
#include "xlat/memxlt_paths.h"

#include <cstddef>
#include <cstring>

#include "platform/compiler.h"
#include "platform/cpu.h"

#if KW_X86_INTRINSICS
#include <immintrin.h>
#endif

namespace kw::xlat {

// Strictly in order, each byte read, looked up and written before the next
// is read: the path for a buffer that overlaps its own table, where a write
// may change an entry that a later byte looks up.
void memxlt_bytewise(unsigned char *string, const unsigned char *table, std::uint32_t len) {
    for (std::uint32_t i = 0; i < len; ++i) {
        string[i] = table[string[i]];
    }
}

namespace {

// The four bytes of w translated lane by lane. Every byte keeps its lane,
// so the machine's byte order does not matter. Forced inline: called twice
// a step, a call of its own made the scalar path half again as slow.
KW_FORCE_INLINE std::uint32_t translate4(const unsigned char *table, std::uint32_t w) {
    return std::uint32_t{table[w & 0xFF]} | std::uint32_t{table[(w >> 8) & 0xFF]} << 8 |
           std::uint32_t{table[(w >> 16) & 0xFF]} << 16 | std::uint32_t{table[w >> 24]} << 24;
}

}  // namespace

// The portable path: eight bytes a step, read as two 32-bit words and
// written back as two. A byte store followed at once by the load of its
// neighbour, as in the plain loop, runs at half speed or full speed on
// some CPUs depending on where the loop happens to sit in memory; whole
// words do not. The buffer must not overlap the table.
void memxlt_scalar(unsigned char *string, const unsigned char *table, std::uint32_t len) {
    const std::size_t n = len;
    std::size_t i = 0;
    for (; n - i >= 8; i += 8) {
        std::uint32_t w0;
        std::uint32_t w1;
        std::memcpy(&w0, string + i, 4);
        std::memcpy(&w1, string + i + 4, 4);
        const std::uint32_t r0 = translate4(table, w0);
        const std::uint32_t r1 = translate4(table, w1);
        std::memcpy(string + i, &r0, 4);
        std::memcpy(string + i + 4, &r1, 4);
    }
    memxlt_bytewise(string + i, table, static_cast<std::uint32_t>(n - i));
}

#if KW_X86_INTRINSICS

#define KW_XLAT_TARGET_AVX2 KW_TARGET("avx2")
#define KW_XLAT_TARGET_AVX512 KW_TARGET("avx512f,avx512bw,avx512vbmi")

namespace {

// Row h of the table (entries 16h .. 16h+15) in both lanes. Loaded where it
// is used rather than kept: sixteen rows do not fit the registers beside the
// work, and a load from L1 is cheaper than a spill and its reload.
KW_XLAT_TARGET_AVX2 KW_FORCE_INLINE __m256i row_avx2(const unsigned char *table, int h) {
    return _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i *>(table + 16 * h)));
}

// One candidate for each byte from rows r and r+1, chosen by bit 4.
KW_XLAT_TARGET_AVX2 KW_FORCE_INLINE __m256i pair_avx2(const unsigned char *table, int r, __m256i idx,
                                                                  __m256i b4) {
    return _mm256_blendv_epi8(_mm256_shuffle_epi8(row_avx2(table, r), idx),
                              _mm256_shuffle_epi8(row_avx2(table, r + 1), idx), b4);
}

// The entries of rows r .. r+7 for idx, 0 where idx has bit 7 set.
KW_XLAT_TARGET_AVX2 KW_FORCE_INLINE __m256i eight_rows_avx2(const unsigned char *table, int r,
                                                                        __m256i idx, __m256i b4, __m256i b5,
                                                                        __m256i b6) {
    const __m256i p03 = _mm256_blendv_epi8(pair_avx2(table, r, idx, b4), pair_avx2(table, r + 2, idx, b4), b5);
    const __m256i p47 = _mm256_blendv_epi8(pair_avx2(table, r + 4, idx, b4), pair_avx2(table, r + 6, idx, b4), b5);
    return _mm256_blendv_epi8(p03, p47, b6);
}

KW_XLAT_TARGET_AVX2 KW_FORCE_INLINE __m256i translate32_avx2(const unsigned char *table, __m256i x) {
    const __m256i xh = _mm256_xor_si256(x, _mm256_set1_epi8(static_cast<char>(0x80)));
    // Bits 4, 5 and 6 moved up to bit 7, the bit vpblendvb reads. The 16-bit
    // shift carries bits into the neighbouring byte's low bits only.
    const __m256i b4 = _mm256_slli_epi16(x, 3);
    const __m256i b5 = _mm256_slli_epi16(x, 2);
    const __m256i b6 = _mm256_slli_epi16(x, 1);
    return _mm256_or_si256(eight_rows_avx2(table, 0, x, b4, b5, b6), eight_rows_avx2(table, 8, xh, b4, b5, b6));
}

KW_XLAT_TARGET_AVX512 KW_FORCE_INLINE __m512i translate64_avx512(__m512i t0, __m512i t1, __m512i t2, __m512i t3,
                                                                __m512i x) {
    const __m512i lo = _mm512_permutex2var_epi8(t0, x, t1);
    const __m512i hi = _mm512_permutex2var_epi8(t2, x, t3);
    return _mm512_mask_blend_epi8(_mm512_movepi8_mask(x), lo, hi);
}

// The mask of the first n bytes of a 64-byte block, n <= 64.
__mmask64 first_bytes(std::size_t n) {
    return n >= 64 ? ~__mmask64{0} : (__mmask64{1} << n) - 1;
}

}  // namespace

// 32 bytes a step, the last len % 32 bytes by the scalar path.
KW_XLAT_TARGET_AVX2 void memxlt_avx2(unsigned char *string, const unsigned char *table, std::uint32_t len) {
    const std::size_t n = len;
    std::size_t i = 0;
    for (; n - i >= 32; i += 32) {
        auto *p = reinterpret_cast<__m256i *>(string + i);
        _mm256_storeu_si256(p, translate32_avx2(table, _mm256_loadu_si256(p)));
    }
    memxlt_scalar(string + i, table, static_cast<std::uint32_t>(n - i));
}

// A masked head up to the next 64-byte boundary, whole aligned blocks, a
// masked tail. Masked-off bytes are neither read nor written (and cannot
// fault), so short buffers and both ends stay inside string[0 .. len-1].
KW_XLAT_TARGET_AVX512 void memxlt_avx512(unsigned char *string, const unsigned char *table, std::uint32_t len) {
    const __m512i t0 = _mm512_loadu_si512(table);
    const __m512i t1 = _mm512_loadu_si512(table + 64);
    const __m512i t2 = _mm512_loadu_si512(table + 128);
    const __m512i t3 = _mm512_loadu_si512(table + 192);
    const std::size_t n = len;

    std::size_t head = (64 - (reinterpret_cast<std::uintptr_t>(string) & 63)) & 63;
    if (head > n) {
        head = n;
    }
    if (head != 0) {
        const __mmask64 m = first_bytes(head);
        const __m512i x = _mm512_maskz_loadu_epi8(m, string);
        _mm512_mask_storeu_epi8(string, m, translate64_avx512(t0, t1, t2, t3, x));
    }

    std::size_t i = head;
    for (; n - i >= 256; i += 256) {
        auto *p = reinterpret_cast<__m512i *>(string + i);
        const __m512i x0 = _mm512_load_si512(p);
        const __m512i x1 = _mm512_load_si512(p + 1);
        const __m512i x2 = _mm512_load_si512(p + 2);
        const __m512i x3 = _mm512_load_si512(p + 3);
        _mm512_store_si512(p, translate64_avx512(t0, t1, t2, t3, x0));
        _mm512_store_si512(p + 1, translate64_avx512(t0, t1, t2, t3, x1));
        _mm512_store_si512(p + 2, translate64_avx512(t0, t1, t2, t3, x2));
        _mm512_store_si512(p + 3, translate64_avx512(t0, t1, t2, t3, x3));
    }
    for (; n - i >= 64; i += 64) {
        auto *p = reinterpret_cast<__m512i *>(string + i);
        _mm512_store_si512(p, translate64_avx512(t0, t1, t2, t3, _mm512_load_si512(p)));
    }
    if (i < n) {
        const __mmask64 m = first_bytes(n - i);
        const __m512i x = _mm512_maskz_loadu_epi8(m, string + i);
        _mm512_mask_storeu_epi8(string + i, m, translate64_avx512(t0, t1, t2, t3, x));
    }
}

#undef KW_XLAT_TARGET_AVX2
#undef KW_XLAT_TARGET_AVX512

#endif  // KW_X86_INTRINSICS

unsigned supported_paths() {
    unsigned paths = kPathBytewise | kPathScalar;
    const unsigned cpu = plat::cpu_features();
    if ((cpu & plat::kCpuAvx2) != 0) {
        paths |= kPathAvx2;
    }
    if ((cpu & plat::kCpuAvx512Vbmi) != 0) {
        paths |= kPathAvx512Vbmi;
    }
    return paths;
}

// True when string[0 .. len-1] and table[0 .. 255] share a byte.
bool overlaps_table(const unsigned char *string, const unsigned char *table, std::uint32_t len) {
    const std::uintptr_t s = reinterpret_cast<std::uintptr_t>(string);
    const std::uintptr_t t = reinterpret_cast<std::uintptr_t>(table);
    return s < t + 256 && t < s + len;
}

namespace {

// choose()'s body, compiled into memxlt() as well.
KW_FORCE_INLINE PathFn pick(unsigned char *string, const unsigned char *table, std::uint32_t len) {
    if (overlaps_table(string, table, len)) {
        return &memxlt_bytewise;
    }
    if (len < kVectorMinLen) {
        return &memxlt_scalar;
    }
    const unsigned paths = supported_paths();
    for (const Path &p : kPaths) {
        if ((paths & p.bit) != 0) {
            return p.fn;
        }
    }
    return &memxlt_scalar;
}

}  // namespace

// The path for one call of KW_memxlt.
PathFn choose(unsigned char *string, const unsigned char *table, std::uint32_t len) {
    return pick(string, table, len);
}

// KW_memxlt's body, here so that the choice is compiled into it rather than
// called: at a few hundred bytes the dispatch is a share of the time.
void memxlt(unsigned char *string, const unsigned char *table, std::uint32_t len) {
    pick(string, table, len)(string, table, len);
}

}  // namespace kw::xlat
