// Memory callbacks with a ledger, for the tests and the fuzz targets alike:
// every live block with the size it was obtained with, every size asked for
// and given back in order, a request that can be refused, and a release of
// a wrong block or size recorded instead of freed.
//
// The callbacks are plain function pointers, so the ledger is one global per
// program: a user calls reset() first and does not use it from two threads.
#ifndef KW_TEST_SUPPORT_ALLOC_LEDGER_H
#define KW_TEST_SUPPORT_ALLOC_LEDGER_H

#include <cstdint>
#include <cstdlib>
#include <map>
#include <vector>

namespace kwsupport {

// The sizes asked for, in order; as a number, how many requests were made
// (what a "fail the next request" needs: fail_at = requests).
struct RequestLog : std::vector<std::uint16_t> {
    operator long() const { return static_cast<long>(size()); }
};

// DefaultRefusal: what a refused request returns unless reset() says.
template <std::uint32_t DefaultRefusal>
struct BasicLedger {
    std::map<unsigned char *, std::uint16_t> live;  // block -> size obtained with
    RequestLog requests;                            // every size asked for, in order
    std::vector<std::uint16_t> releases;            // every size given back, in order
    long fail_at = -1;                              // 0-based request that fails, -1: none
    std::uint32_t fail_status = DefaultRefusal;     // what a failing request returns
    bool bad_release = false;                       // a release with a wrong size or block

    static BasicLedger &get() {
        static BasicLedger ledger;
        return ledger;
    }
    // Free whatever is still live and start a new ledger.
    static void reset(long fail_at = -1, std::uint32_t fail_status = DefaultRefusal) {
        BasicLedger &l = get();
        for (auto &kv : l.live) {
            std::free(kv.first);
        }
        l = BasicLedger{};
        l.fail_at = fail_at;
        l.fail_status = fail_status;
    }

    static std::uint32_t alloc(std::uint16_t size, unsigned char **pp) {
        BasicLedger &l = get();
        const long n = l.requests;
        l.requests.push_back(size);
        if (n == l.fail_at) {
            return l.fail_status;
        }
        auto *p = static_cast<unsigned char *>(std::malloc(size == 0 ? 1 : size));
        if (p == nullptr) {
            return 1;
        }
        l.live[p] = size;
        *pp = p;
        return 0;
    }
    static std::uint32_t release(std::uint16_t size, unsigned char *p) {
        BasicLedger &l = get();
        l.releases.push_back(size);
        auto it = l.live.find(p);
        if (it == l.live.end() || it->second != size) {
            l.bad_release = true;
            return 0;
        }
        l.live.erase(it);
        std::free(p);
        return 0;
    }
    // Everything given back, each block with its own size.
    static bool clean() { return get().live.empty() && !get().bad_release; }
};

}  // namespace kwsupport

#endif
