// Sorting and searching arrays of 16-bit offsets into a data block, by a
// fixed-length key that starts at each offset (KW_shellsort_offs,
// KW_bsearch_offs), plus the search the message catalogs use on offset
// arrays that may lie at any address.
#ifndef KW_MISC_OFFSORT_H
#define KW_MISC_OFFSORT_H

#include <cstdint>

namespace kw::misc {

// Binary search as KW_bsearch_offs, over numdata native 16-bit offsets that
// start at offs, which need not be aligned (each is read with memcpy).
// Returns the index of an entry whose key equals pSearch, else -1 (also for
// numdata 0).
std::int32_t bsearch_offs(const unsigned char *pSearch, const unsigned char *offs, std::uint32_t numdata,
                          std::uint32_t cmplen, const unsigned char *pData) noexcept;

}  // namespace kw::misc

#endif
