// Offset-array sort and binary search.
//
// The sort is defined as a Shell sort with halving gaps (numdata/2,
// numdata/4, ..., 1) whose step for one gap repeats exchange passes until a
// pass exchanges nothing; a pass compares entries i and i + gap for
// i = 0, 1, ... and exchanges them when the later key is strictly less.
// Entries i, i + gap, i + 2*gap, ... form a chain that no other chain
// touches, and one pass is one bubble pass along every chain, so the passes
// for a gap end with every chain bubble-sorted. A bubble sort that exchanges
// only on "strictly less" is stable, and a stable sort of a sequence has
// exactly one result. Sorting each chain by insertion, also stable, thus
// yields the very same permutation, equal keys included, with far fewer
// comparisons: the classic Shell sort over the same gaps.
//
// Keys of up to 8 bytes are compared as one unsigned integer assembled
// big-endian from loads that stay inside the key's cmplen bytes, which
// orders exactly like memcmp; longer keys use memcmp itself. Neither
// function allocates.
#include "misc/offsort.h"

#include <cstring>

#include "kwutil.h"

namespace kw::misc {
namespace {

// Shell sort over the halving gaps; each gap's chains are sorted by stable
// insertion. less(key_of_v, w) says whether the record of v, whose key was
// taken once with key(v), sorts strictly before the record of w.
template <class Key, class Less>
void shell_sort(std::uint16_t *offs, std::uint32_t numdata, Key key, Less less) noexcept {
    for (std::uint32_t skip = numdata / 2; skip >= 1; skip /= 2) {
        for (std::uint32_t i = skip; i < numdata; ++i) {
            const std::uint16_t v = offs[i];
            const auto kv = key(v);
            std::uint32_t j = i;
            while (j >= skip) {
                const std::uint16_t w = offs[j - skip];
                if (!less(kv, w)) {
                    break;  // equal keys never pass each other
                }
                offs[j] = w;
                j -= skip;
            }
            offs[j] = v;
        }
    }
}

template <unsigned L>
void sort_fixed(std::uint16_t *offs, std::uint32_t numdata, const unsigned char *pData) noexcept {
    shell_sort(
        offs, numdata, [pData](std::uint16_t v) { return key_at<L>(pData + v); },
        [pData](std::uint64_t kv, std::uint16_t w) { return kv < key_at<L>(pData + w); });
}

template <unsigned L>
std::int32_t search_fixed(const unsigned char *pSearch, const unsigned char *offs, std::uint32_t numdata,
                          const unsigned char *pData) noexcept {
    return search_key(offs, numdata, key_at<L>(pSearch),
                      [pData](std::uint16_t off) { return key_at<L>(pData + off); });
}

}  // namespace

std::int32_t bsearch_offs(const unsigned char *pSearch, const unsigned char *offs, std::uint32_t numdata,
                          std::uint32_t cmplen, const unsigned char *pData) noexcept {
    switch (cmplen) {
        case 0:
            return search(offs, numdata, [](std::uint16_t) { return 0; });
        case 1: return search_fixed<1>(pSearch, offs, numdata, pData);
        case 2: return search_fixed<2>(pSearch, offs, numdata, pData);
        case 3: return search_fixed<3>(pSearch, offs, numdata, pData);
        case 4: return search_fixed<4>(pSearch, offs, numdata, pData);
        case 5: return search_fixed<5>(pSearch, offs, numdata, pData);
        case 6: return search_fixed<6>(pSearch, offs, numdata, pData);
        case 7: return search_fixed<7>(pSearch, offs, numdata, pData);
        case 8: return search_fixed<8>(pSearch, offs, numdata, pData);
        default:
            return search(offs, numdata,
                          [=](std::uint16_t off) { return std::memcmp(pSearch, pData + off, cmplen); });
    }
}

}  // namespace kw::misc

extern "C" KW_API void KW_shellsort_offs(uint16_t *offs, uint32_t numdata, uint32_t cmplen,
                                         const unsigned char *pData) {
    using namespace kw::misc;
    switch (cmplen) {
        case 0:
            return;  // every key is equal: no pass exchanges anything
        case 1: return sort_fixed<1>(offs, numdata, pData);
        case 2: return sort_fixed<2>(offs, numdata, pData);
        case 3: return sort_fixed<3>(offs, numdata, pData);
        case 4: return sort_fixed<4>(offs, numdata, pData);
        case 5: return sort_fixed<5>(offs, numdata, pData);
        case 6: return sort_fixed<6>(offs, numdata, pData);
        case 7: return sort_fixed<7>(offs, numdata, pData);
        case 8: return sort_fixed<8>(offs, numdata, pData);
        default:
            shell_sort(
                offs, numdata, [pData](std::uint16_t v) { return pData + v; },
                [pData, cmplen](const unsigned char *kv, std::uint16_t w) {
                    return std::memcmp(kv, pData + w, cmplen) < 0;
                });
            return;
    }
}

extern "C" KW_API int32_t KW_bsearch_offs(const unsigned char *pSearch, const uint16_t *offs, uint32_t numdata,
                                          uint32_t cmplen, const unsigned char *pData) {
    return kw::misc::bsearch_offs(pSearch, reinterpret_cast<const unsigned char *>(offs), numdata, cmplen, pData);
}
