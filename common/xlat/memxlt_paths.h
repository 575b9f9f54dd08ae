// The ways KW_memxlt can translate a buffer, and the choice among them; the
// paths themselves and why each is right are in memxlt_paths.cpp. The tests
// and the benchmark run every path this build holds on the same inputs.
//
// Every path gives the same bytes as translating one byte after another and
// touches only string[0 .. len-1]. All but memxlt_bytewise read ahead of
// their writes, so they are right only when the buffer and the table do not
// overlap. None keeps state: any thread may call any of them at any time.
#ifndef KW_XLAT_MEMXLT_PATHS_H
#define KW_XLAT_MEMXLT_PATHS_H

#include <cstdint>

#include "platform/compiler.h"

namespace kw::xlat {

using PathFn = void (*)(unsigned char *string, const unsigned char *table, std::uint32_t len);

// Bits of supported_paths().
enum : unsigned {
    kPathBytewise = 1u << 0,
    kPathScalar = 1u << 1,
    kPathAvx2 = 1u << 2,
    kPathAvx512Vbmi = 1u << 3,
};

// Below this length the vector paths do not repay loading the table.
inline constexpr std::uint32_t kVectorMinLen = 64;

// Strictly in order, each byte read, looked up and written before the next
// is read: right also for a buffer that overlaps its own table.
void memxlt_bytewise(unsigned char *string, const unsigned char *table, std::uint32_t len);

// The portable path, whole 32-bit words a step.
void memxlt_scalar(unsigned char *string, const unsigned char *table, std::uint32_t len);

#if KW_X86_INTRINSICS
// Only on a CPU whose supported_paths() include kPathAvx2, kPathAvx512Vbmi.
void memxlt_avx2(unsigned char *string, const unsigned char *table, std::uint32_t len);
void memxlt_avx512(unsigned char *string, const unsigned char *table, std::uint32_t len);
#endif

// The paths this CPU (and operating system) can run: a set of kPath* bits,
// kPathBytewise and kPathScalar always among them. Asked afresh each call.
unsigned supported_paths();

// Every path this build holds, best first, with the name the tests and the
// benchmark print.
struct Path {
    const char *name;
    unsigned bit;
    PathFn fn;
};
inline constexpr Path kPaths[] = {
#if KW_X86_INTRINSICS
    {"avx512vbmi", kPathAvx512Vbmi, &memxlt_avx512},
    {"avx2", kPathAvx2, &memxlt_avx2},
#endif
    {"scalar", kPathScalar, &memxlt_scalar},
    {"bytewise", kPathBytewise, &memxlt_bytewise},
};

// True when string[0 .. len-1] and table[0 .. 255] share a byte.
bool overlaps_table(const unsigned char *string, const unsigned char *table, std::uint32_t len);

// The path for one call of KW_memxlt: byte by byte for a buffer that
// overlaps its table, the scalar path below kVectorMinLen, else the first
// of kPaths that the CPU runs.
PathFn choose(unsigned char *string, const unsigned char *table, std::uint32_t len);

// Translates string[0 .. len-1] by the path choose() gives: KW_memxlt.
void memxlt(unsigned char *string, const unsigned char *table, std::uint32_t len);

}  // namespace kw::xlat

#endif
