// The CPU-feature probe behind cpu.h, for every host: the compiler's
// builtins read the processor's identification once per process into flags
// of its runtime, and each query reads those flags.
#include "platform/cpu.h"

#include "platform/compiler.h"

namespace kw::plat {

unsigned cpu_features() noexcept {
    unsigned f = 0;
#if KW_X86_INTRINSICS
    // The runtime fills the flags from a constructor of its own; a call that
    // arrives earlier (from another library's initializer) would read zeros.
    // After that first probe this is a cheap test.
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
