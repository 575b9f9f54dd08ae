// An RDC stream walked item by item, for the tests and the fuzz targets
// alike: what every stream a compressor writes must satisfy beyond expanding
// to its input.
#ifndef KW_TEST_SUPPORT_RDC_ITEMS_H
#define KW_TEST_SUPPORT_RDC_ITEMS_H

#include <cstddef>
#include <vector>

namespace kwsupport {

// Every item lies wholly in the stream, every copy reaches only into output
// already made and no further than its distance (count <= distance), and
// only the last group ends early, with its unused control bits 0. Returns
// the expanded length, or -1 at the first item that breaks a rule.
inline long rdc_items(const std::vector<unsigned char> &s) {
    std::size_t ip = 0;
    long made = 0;
    while (ip < s.size()) {
        if (s.size() - ip < 2) {
            return -1;
        }
        const unsigned ctrl = static_cast<unsigned>(s[ip]) << 8 | s[ip + 1];
        ip += 2;
        for (int bit = 15; bit >= 0; --bit) {
            if (ip == s.size()) {
                return (ctrl & ((2u << bit) - 1)) == 0 ? made : -1;
            }
            if ((ctrl >> bit & 1u) == 0) {
                ++ip;
                ++made;
                continue;
            }
            const unsigned code = s[ip] >> 4;
            const std::size_t size = code == 0 || code > 2 ? 2 : 3;
            if (s.size() - ip < size) {
                return -1;
            }
            if (code <= 1) {
                made += code == 0 ? (s[ip] & 0x0F) + 3 : ((s[ip] & 0x0F) | s[ip + 1] << 4) + 19;
            } else {
                const long dist = ((s[ip] & 0x0F) | s[ip + 1] << 4) + 3;
                const long count = code == 2 ? s[ip + 2] + 16 : static_cast<long>(code);
                if (count > dist || dist > made) {
                    return -1;
                }
                made += count;
            }
            ip += size;
        }
    }
    return made;
}

}  // namespace kwsupport

#endif
