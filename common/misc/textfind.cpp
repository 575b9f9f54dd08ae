// KW_FastTextFind: the sentinels, the trivial cases, and the choice of kernel
// (textfind.h) for the processor the call runs on.
#include "misc/textfind.h"

#include "kwutil.h"

namespace kw::misc {
namespace {

std::int32_t count_occurrences(const unsigned char *t, std::int32_t n, const unsigned char *p,
                               std::int32_t m) noexcept {
#if defined(KW_TEXTFIND_X86)
    // Asked on every call: the library keeps no state to cache the answer in.
    if (__builtin_cpu_supports("avx2")) {
        return count_avx2(t, n, p, m);
    }
#if defined(__x86_64__)
    return count_sse2(t, n, p, m);  // every x86-64 processor has SSE2
#else
    if (__builtin_cpu_supports("sse2")) {
        return count_sse2(t, n, p, m);
    }
#endif
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
