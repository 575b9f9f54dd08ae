// Byte loads and stores at any alignment, and reads of big-endian fields.
//
// Every access goes through memcpy of the exact width, which every compiler
// turns into one plain load or store where the target allows it and into
// byte accesses where it does not; no cast of a byte pointer to a wider
// type, so no alignment or aliasing assumption is made anywhere. The loads
// and stores are forced inline: each stands for one instruction in the
// hottest loops, where a call kept by the optimiser's costs would show.
#ifndef KW_PLATFORM_BYTES_H
#define KW_PLATFORM_BYTES_H

#include <bit>
#include <cstdint>
#include <cstring>

#include "platform/compiler.h"

namespace kw::plat {

// Native byte order, any alignment.
KW_FORCE_INLINE std::uint16_t load16(const void *p) noexcept {
    std::uint16_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

KW_FORCE_INLINE std::uint32_t load32(const void *p) noexcept {
    std::uint32_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

KW_FORCE_INLINE std::uint64_t load64(const void *p) noexcept {
    std::uint64_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

// Little-endian values, any alignment: the native load, byte-swapped on a
// big-endian host by shifts that compilers turn into one swap instruction.
KW_FORCE_INLINE std::uint32_t load_le32(const void *p) noexcept {
    std::uint32_t v = load32(p);
    if constexpr (std::endian::native == std::endian::big) {
        v = (v >> 24) | ((v >> 8) & 0x0000FF00u) | ((v << 8) & 0x00FF0000u) | (v << 24);
    }
    return v;
}

KW_FORCE_INLINE std::uint64_t load_le64(const void *p) noexcept {
    std::uint64_t v = load64(p);
    if constexpr (std::endian::native == std::endian::big) {
        v = ((v >> 8) & 0x00FF00FF00FF00FFull) | ((v & 0x00FF00FF00FF00FFull) << 8);
        v = ((v >> 16) & 0x0000FFFF0000FFFFull) | ((v & 0x0000FFFF0000FFFFull) << 16);
        v = (v >> 32) | (v << 32);
    }
    return v;
}

KW_FORCE_INLINE void store16(void *p, std::uint16_t v) noexcept {
    std::memcpy(p, &v, sizeof v);
}

KW_FORCE_INLINE void store32(void *p, std::uint32_t v) noexcept {
    std::memcpy(p, &v, sizeof v);
}

// Big-endian fields, whatever the host's order: built from single bytes, so
// they are constant expressions over constant bytes.
constexpr std::uint16_t load_be16(const unsigned char *p) noexcept {
    return static_cast<std::uint16_t>((unsigned{p[0]} << 8) | unsigned{p[1]});
}

constexpr std::uint32_t load_be32(const unsigned char *p) noexcept {
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
           std::uint32_t{p[3]};
}

constexpr void store_be16(unsigned char *p, std::uint16_t v) noexcept {
    p[0] = static_cast<unsigned char>(v >> 8);
    p[1] = static_cast<unsigned char>(v & 0xFFu);
}

}  // namespace kw::plat

#endif
