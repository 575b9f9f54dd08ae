// KW_memxlt through KW_xlate_ASC_EBC beside the loop every caller would
// otherwise write (p[i] = t[p[i]]) and beside iconv converting the same
// text to IBM037, in the same run. The single paths follow, so a slow
// dispatch shows up as a gap between KW_memxlt and its path.
//
// The translations work in place on one buffer, over and over: the bytes
// drift from call to call, which none of the contenders' speed depends on.
// iconv converts a constant ASCII text into a second buffer.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#if defined(KW_BENCH_HAS_ICONV)
#include <iconv.h>
#endif

#include "harness.h"
#include "kwutil.h"
#include "xlat/memxlt_paths.h"

namespace {

// The plain loop, kept out of line so that it is compiled once, as written,
// and not merged into the caller.
__attribute__((noinline)) void byte_loop(unsigned char *p, const unsigned char *t, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
        p[i] = t[p[i]];
    }
}

// Printable ASCII with line ends, like the texts the tables are made for.
std::vector<unsigned char> ascii_text(std::size_t n) {
    static const char kWords[] =
        "[Network] Port=5021 Host=central.example.org ; retry after 30 s\n"
        "MSG AB00042: The job %1!s! ended with code %2!d! (see log).\n";
    std::vector<unsigned char> v(n);
    for (std::size_t i = 0; i < n; ++i) {
        v[i] = static_cast<unsigned char>(kWords[i % (sizeof kWords - 1)]);
    }
    return v;
}

#if defined(KW_BENCH_HAS_ICONV)
// One iconv conversion of the whole of src into dst; false on any failure.
bool iconv_once(iconv_t cd, std::vector<unsigned char> &src, std::vector<unsigned char> &dst) {
    char *in = reinterpret_cast<char *>(src.data());
    char *out = reinterpret_cast<char *>(dst.data());
    std::size_t in_left = src.size();
    std::size_t out_left = dst.size();
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    return iconv(cd, &in, &in_left, &out, &out_left) != static_cast<std::size_t>(-1) && in_left == 0;
}
#endif

void run_suite(const char *title, std::size_t n) {
    const auto len = static_cast<std::uint32_t>(n);
    std::vector<unsigned char> buf = ascii_text(n);
    kwbench::Suite s(title, static_cast<double>(n));
    std::size_t count = 0;  // contenders added so far
    auto add = [&s, &count](std::string name, std::function<void()> fn) {
        s.add(std::move(name), std::move(fn));
        return count++;
    };

    add("byte loop p[i] = t[p[i]]", [&] {
        byte_loop(buf.data(), KW_xlate_ASC_EBC, n);
        kwbench::clobber();
    });
    const std::size_t ours = add("KW_memxlt", [&] {
        KW_memxlt(buf.data(), KW_xlate_ASC_EBC, len);
        kwbench::clobber();
    });
    const unsigned paths = kw::xlat::supported_paths();
    for (const kw::xlat::Path &p : kw::xlat::kPaths) {
        if ((paths & p.bit) != 0) {
            const kw::xlat::PathFn fn = p.fn;
            add(std::string("  path ") + p.name, [&buf, fn, len] {
                fn(buf.data(), KW_xlate_ASC_EBC, len);
                kwbench::clobber();
            });
        }
    }

    std::vector<std::pair<std::string, std::size_t>> peers;
#if defined(KW_BENCH_HAS_ICONV)
    std::vector<unsigned char> src = ascii_text(n);
    std::vector<unsigned char> dst(n);
    std::vector<iconv_t> open;
    for (const char *from : {"ASCII", "ISO-8859-1"}) {
        iconv_t cd = iconv_open("IBM037", from);
        if (cd == reinterpret_cast<iconv_t>(-1) || !iconv_once(cd, src, dst)) {
            std::printf("iconv %s -> IBM037 is not available; left out\n", from);
            continue;
        }
        open.push_back(cd);
        const std::string name = std::string("iconv ") + from + " -> IBM037";
        peers.emplace_back(name, add(name, [&src, &dst, cd] {
            if (!iconv_once(cd, src, dst)) {
                std::abort();
            }
            kwbench::clobber();
        }));
    }
#endif

    s.run();

    // The harness gives every ratio against the first contender; against
    // iconv it is worked out here.
    for (const auto &peer : peers) {
        std::printf("  KW_memxlt vs %s: %.2fx\n", peer.first.c_str(), s.median(peer.second) / s.median(ours));
    }
#if defined(KW_BENCH_HAS_ICONV)
    for (iconv_t cd : open) {
        iconv_close(cd);
    }
#endif
}

}  // namespace

int main() {
    run_suite("memxlt ASC_EBC, 16 MiB in place", std::size_t{16} << 20);
    run_suite("memxlt ASC_EBC, 64 KiB in place (L2)", std::size_t{64} << 10);
    run_suite("memxlt ASC_EBC, 256 B in place (L1)", 256);
    return 0;
}
