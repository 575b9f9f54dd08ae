// The kernels behind KW_FastTextFind, declared here so that the tests and
// the benchmark can run each of them on the same inputs; how each works is
// in textfind.cpp.
//
// Each takes the text t[0 .. n) and the pattern p[0 .. m), m >= 1, works on
// any byte values, reads nothing outside the two, and returns the number of
// positions at which the pattern occurs, overlapping ones included (0 when
// n < m); all kernels give the same count. They keep no state: any thread
// may call them at any time.
#ifndef KW_MISC_TEXTFIND_H
#define KW_MISC_TEXTFIND_H

#include <cstdint>

#include "platform/compiler.h"

namespace kw::misc {

// Boyer-Moore-Horspool, on every host.
std::int32_t count_horspool(const unsigned char *t, std::int32_t n, const unsigned char *p, std::int32_t m) noexcept;

#if KW_X86_INTRINSICS
// Only on a CPU whose plat::cpu_features() include kCpuSse2, kCpuAvx2.
std::int32_t count_sse2(const unsigned char *t, std::int32_t n, const unsigned char *p, std::int32_t m) noexcept;
std::int32_t count_avx2(const unsigned char *t, std::int32_t n, const unsigned char *p, std::int32_t m) noexcept;
#endif

}  // namespace kw::misc

#endif
