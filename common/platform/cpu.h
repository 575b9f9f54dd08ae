// The instruction-set extensions of the CPU a call runs on, the one place
// that asks the processor. Paths for them are compiled only where
// KW_X86_INTRINSICS (platform/compiler.h) is 1; elsewhere no feature is
// reported and the plain paths run.
#ifndef KW_PLATFORM_CPU_H
#define KW_PLATFORM_CPU_H

#include "platform/compiler.h"

namespace kw::plat {

// Bits of cpu_features(). kCpuAvx512Vbmi stands for AVX-512 F, BW and VBMI
// together, the set the byte-permutation paths need.
enum : unsigned {
    kCpuSse2 = 1u << 0,
    kCpuAvx2 = 1u << 1,
    kCpuAvx512Vbmi = 1u << 2,
};

// The extensions that both the CPU and the operating system support (the
// wide registers saved on a switch), as kCpu* bits; 0 in a build without
// intrinsic paths. Asked afresh on every call, so no state is kept; the
// cost is a few loads of flags the runtime probed once. Safe from any
// thread and before static constructors have run. Inline: a dispatch on a
// buffer of a few hundred bytes would pay for a call of its own.
inline unsigned cpu_features() noexcept {
    unsigned f = 0;
#if KW_X86_INTRINSICS
    // The compiler's runtime reads the processor's identification into flags
    // of its own from a constructor; a call that arrives earlier (from
    // another library's initializer) would read zeros. After that first
    // probe this is a cheap test.
    __builtin_cpu_init();
    if (__builtin_cpu_supports("sse2")) {
        f |= kCpuSse2;
    }
    if (__builtin_cpu_supports("avx2")) {
        f |= kCpuAvx2;
    }
    if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
        __builtin_cpu_supports("avx512vbmi")) {
        f |= kCpuAvx512Vbmi;
    }
#endif
    return f;
}

}  // namespace kw::plat

#endif
