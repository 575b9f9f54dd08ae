// Compiler attributes and the choice of instruction-set paths, spelled once
// for GCC, Clang and MSVC. Every other file uses these names and tests no
// compiler or CPU macro of its own.
//
// KW_PORTABLE (set by the build's KW_PORTABLE option) turns every intrinsic
// path off, so that the plain C++ code beside each of them is what runs.
#ifndef KW_PLATFORM_COMPILER_H
#define KW_PLATFORM_COMPILER_H

// Inline even where the optimiser's own costs say not to; stands in place of
// the `inline` keyword.
#if defined(_MSC_VER) && !defined(__clang__)
#define KW_FORCE_INLINE __forceinline
#elif defined(__GNUC__) || defined(__clang__)
#define KW_FORCE_INLINE __attribute__((always_inline)) inline
#else
#define KW_FORCE_INLINE inline
#endif

// A type that may alias any other, as char does: for reading a caller's
// work area of pointer-sized entries as 32-bit slots. The portable build and
// other compilers go without it and use such areas through one type only.
#if !defined(KW_PORTABLE) && (defined(__GNUC__) || defined(__clang__))
#define KW_MAY_ALIAS __attribute__((may_alias))
#else
#define KW_MAY_ALIAS
#endif

// 1 where the compiler's own vector types (vector_size) are compiled: GCC
// and Clang, outside the portable build. Such code goes through KW_VECTOR(T,
// n), a vector of n bytes of element type T, with the element-wise operators
// and comparisons the extension gives; it is the same on every CPU, so it
// needs no probe.
#if !defined(KW_PORTABLE) && (defined(__GNUC__) || defined(__clang__))
#define KW_VECTOR_EXT 1
#define KW_VECTOR(T, n) T __attribute__((vector_size(n)))
#else
#define KW_VECTOR_EXT 0
#endif

// KW_WARNING_OFF("-Wname") ... KW_WARNING_ON() silence one warning of GCC or
// Clang over the code between them; elsewhere both are empty.
#if defined(__GNUC__) || defined(__clang__)
#define KW_PRAGMA(text) _Pragma(#text)
#define KW_WARNING_OFF(name) KW_PRAGMA(GCC diagnostic push) KW_PRAGMA(GCC diagnostic ignored name)
#define KW_WARNING_ON() KW_PRAGMA(GCC diagnostic pop)
#else
#define KW_WARNING_OFF(name)
#define KW_WARNING_ON()
#endif

// 1 where the x86 vector paths are compiled: GCC or Clang (whose function
// target attributes let one file hold code for several instruction sets),
// on x86, outside the portable build.
#if !defined(KW_PORTABLE) && (defined(__x86_64__) || defined(__i386__)) && (defined(__GNUC__) || defined(__clang__))
#define KW_X86_INTRINSICS 1
#else
#define KW_X86_INTRINSICS 0
#endif

// One function compiled for instruction-set extensions beyond the build's
// baseline, e.g. KW_TARGET("avx2"). Call such a function only after
// kw::plat::cpu_features() (platform/cpu.h) has said the CPU runs them.
#if KW_X86_INTRINSICS
#define KW_TARGET(features) __attribute__((target(features)))
#else
#define KW_TARGET(features)
#endif

#endif
