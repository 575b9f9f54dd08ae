// The instruction-set extensions of the CPU a call runs on, the one place
// that asks the processor. Paths for them are compiled only where
// KW_X86_INTRINSICS (platform/compiler.h) is 1; elsewhere no feature is
// reported and the plain paths run.
#ifndef KW_PLATFORM_CPU_H
#define KW_PLATFORM_CPU_H

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
// thread and before static constructors have run.
unsigned cpu_features() noexcept;

}  // namespace kw::plat

#endif
