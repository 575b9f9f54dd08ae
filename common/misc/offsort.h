// Sorting and searching arrays of 16-bit offsets into a data block, by a
// fixed-length key that starts at each offset (KW_shellsort_offs,
// KW_bsearch_offs). The pieces here are shared with the message catalogs,
// whose offset arrays may lie at any address and whose 7-byte keys are built
// directly as integers.
#ifndef KW_MISC_OFFSORT_H
#define KW_MISC_OFFSORT_H

#include <cstdint>

#include "platform/bytes.h"

namespace kw::misc {

// The L-byte key at p (1 <= L <= 8) as an integer that orders like memcmp.
// Reads p[0] .. p[L - 1] and nothing else: the two loads overlap instead of
// running past the key.
template <unsigned L>
inline std::uint64_t key_at(const unsigned char *p) noexcept {
    if constexpr (L == 8) {
        return (std::uint64_t{plat::load_be32(p)} << 32) | plat::load_be32(p + 4);
    } else if constexpr (L >= 4) {
        constexpr unsigned tail = 8 * (L - 4);
        return (std::uint64_t{plat::load_be32(p)} << tail) |
               (plat::load_be32(p + L - 4) & ((std::uint32_t{1} << tail) - 1));
    } else if constexpr (L >= 2) {
        constexpr unsigned tail = 8 * (L - 2);
        return (std::uint64_t{plat::load_be16(p)} << tail) |
               (plat::load_be16(p + L - 2) & ((std::uint32_t{1} << tail) - 1));
    } else {
        return p[0];
    }
}

// Entry k of an offset array at any alignment.
inline std::uint16_t offset_at(const unsigned char *offs, std::uint32_t k) noexcept {
    return plat::load16(offs + std::size_t{k} * 2);
}

// Binary search over the inclusive range 0 .. numdata - 1, probing
// (low + high) / 2, with cmp(offset) < 0, 0, > 0 as the sought key sorts
// before, equal to or after the record at offset. Returns the index of the
// first equal record that the probes meet, or -1 (also for numdata 0).
template <class Cmp>
std::int32_t search(const unsigned char *offs, std::uint32_t numdata, Cmp cmp) noexcept {
    if (numdata == 0) {
        return -1;
    }
    std::uint32_t low = 0;
    std::uint32_t high = numdata - 1;
    for (;;) {
        const std::uint32_t median = low + (high - low) / 2;  // (low + high) / 2 without overflow
        const int c = cmp(offset_at(offs, median));
        if (c == 0) {
            return static_cast<std::int32_t>(median);
        }
        if (c < 0) {
            if (median == low) {
                return -1;
            }
            high = median - 1;
        } else {
            if (median == high) {
                return -1;
            }
            low = median + 1;
        }
    }
}

// The same search for keys that are integers: key_of(offset) gives the
// record's key as an integer ordered like its bytes.
template <class KeyOf>
std::int32_t search_key(const unsigned char *offs, std::uint32_t numdata, std::uint64_t key, KeyOf key_of) noexcept {
    return search(offs, numdata, [&](std::uint16_t offset) {
        const std::uint64_t record = key_of(offset);
        return key < record ? -1 : (key == record ? 0 : 1);
    });
}

// Binary search as KW_bsearch_offs, over numdata native 16-bit offsets that
// start at offs, which need not be aligned (each is read with memcpy).
// Returns the index of an entry whose key equals pSearch, else -1 (also for
// numdata 0).
std::int32_t bsearch_offs(const unsigned char *pSearch, const unsigned char *offs, std::uint32_t numdata,
                          std::uint32_t cmplen, const unsigned char *pData) noexcept;

}  // namespace kw::misc

#endif
