// Message formatting and the offset-array sort, each beside the standard
// library doing the same work in the same run.
//
//  1. The disk message, "AB00042E - Disk %1!s! has %2!d! blocks free." with
//     "C:" and 17, flags 0 and the application ID in lower case, from an open
//     catalog of 80 messages, beside snprintf writing the same text; then
//     "AB00065I - Event 5 on %1!s!: code %2!04x!, %3!d! retries." from the
//     same catalog.
//  2. Sorting 4,000 and 60,000 offsets of 7-byte keys with KW_shellsort_offs
//     beside std::sort on the same keys (each call sorts a fresh copy).
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "harness.h"
#include "kwutil.h"

namespace {

// A built-in catalog image: header, big-endian offsets ordered by key, texts.
std::vector<unsigned char> build_catalog(const std::vector<std::string> &texts) {
    std::string area;
    std::vector<std::uint16_t> offs;
    for (const auto &t : texts) {
        offs.push_back(static_cast<std::uint16_t>(area.size()));
        area += t;
        area.push_back('\0');
    }
    std::sort(offs.begin(), offs.end(), [&](std::uint16_t a, std::uint16_t b) {
        return std::memcmp(area.data() + a, area.data() + b, 7) < 0;
    });
    std::vector<unsigned char> img(32, 0);
    std::memset(img.data(), 0x99, 4);
    img[4] = 1;  // ASCII
    img[6] = 1;  // built in
    const auto be = [&img](std::size_t at, std::size_t v) {
        img[at] = static_cast<unsigned char>(v >> 8);
        img[at + 1] = static_cast<unsigned char>(v & 0xFF);
    };
    be(8, offs.size());
    be(10, offs.size() * 2);
    be(12, area.size());
    for (std::uint16_t o : offs) {
        img.push_back(static_cast<unsigned char>(o >> 8));
        img.push_back(static_cast<unsigned char>(o & 0xFF));
    }
    img.insert(img.end(), area.begin(), area.end());
    return img;
}

void bench_format() {
    std::vector<std::string> texts = {"AB00000E - Message %1!05d! not found.",
                                      "AB00042E - Disk %1!s! has %2!d! blocks free."};
    for (int n = 1; n <= 78; ++n) {
        char t[96];
        std::snprintf(t, sizeof t, "AB%05dI - Event %d on %%1!s!: code %%2!04x!, %%3!d! retries.", n * 13, n);
        texts.emplace_back(t);
    }
    std::vector<unsigned char> image = build_catalog(texts);
    KW_MSG_CATALOG cat;
    if (KW_MsgOpen(nullptr, reinterpret_cast<PKW_MSG_CATALOG>(image.data()), nullptr, nullptr, &cat) != 0) {
        std::fprintf(stderr, "catalog did not open\n");
        std::exit(1);
    }

    char ours[128];
    char peer[128];
    char app[3];
    const char *drive = "C:";
    int blocks = 17;
    std::memcpy(app, "ab", 3);
    const int n_ours = KW_MsgSprintf(&cat, 0, ours, app, 42, drive, blocks);
    const int n_peer = std::snprintf(peer, sizeof peer, "AB00042E - Disk %s has %d blocks free.", drive, blocks);
    if (n_ours != n_peer || std::strcmp(ours, peer) != 0) {
        std::fprintf(stderr, "texts differ: [%s] [%s]\n", ours, peer);
        std::exit(1);
    }
    unsigned char packed[16] = {'h', 'd', 'r', 2, 'C', ':', 4};
    std::memcpy(packed + 7, &blocks, 4);

    kwbench::Suite s("disk message, 80-message catalog (" + std::to_string(n_peer) + " characters)", 0);
    s.add("snprintf", [&] {
        kwbench::clobber();
        kwbench::keep(std::snprintf(peer, sizeof peer, "AB00042E - Disk %s has %d blocks free.", drive, blocks));
    });
    s.add("KW_MsgSprintf", [&] {
        std::memcpy(app, "ab", 3);  // lower case every time: it is upper-cased in place
        kwbench::clobber();
        kwbench::keep(KW_MsgSprintf(&cat, 0, ours, app, 42, drive, blocks));
    });
    s.add("KW_MsgSnprintf", [&] {
        std::memcpy(app, "ab", 3);
        kwbench::clobber();
        kwbench::keep(KW_MsgSnprintf(&cat, 0, ours, sizeof ours, app, 42, drive, blocks));
    });
    s.add("KW_MsgRSprintf (packed list)", [&] {
        std::memcpy(app, "ab", 3);
        kwbench::clobber();
        kwbench::keep(KW_MsgRSprintf(&cat, 0, ours, app, 42, packed));
    });
    s.run();

    // A message of three specifiers, one with width and fill (x writes
    // upper-case digits, as X does).
    const char *device = "eth0";
    int code = 0x1F;
    int retries = 3;
    KW_MsgSprintf(&cat, 0, ours, app, 65, device, code, retries);
    std::snprintf(peer, sizeof peer, "AB00065I - Event 5 on %s: code %04X, %d retries.", device, code, retries);
    if (std::strcmp(ours, peer) != 0) {
        std::fprintf(stderr, "texts differ: [%s] [%s]\n", ours, peer);
        std::exit(1);
    }
    kwbench::Suite e("event message, three specifiers (" + std::to_string(std::strlen(peer)) + " characters)", 0);
    e.add("snprintf", [&] {
        kwbench::clobber();
        kwbench::keep(
            std::snprintf(peer, sizeof peer, "AB00065I - Event 5 on %s: code %04X, %d retries.", device, code, retries));
    });
    e.add("KW_MsgSprintf", [&] {
        std::memcpy(app, "ab", 3);
        kwbench::clobber();
        kwbench::keep(KW_MsgSprintf(&cat, 0, ours, app, 65, device, code, retries));
    });
    e.add("KW_MsgSnprintf", [&] {
        std::memcpy(app, "ab", 3);
        kwbench::clobber();
        kwbench::keep(KW_MsgSnprintf(&cat, 0, ours, sizeof ours, app, 65, device, code, retries));
    });
    e.run();
}

// A 7-byte key as one integer, from two overlapping 4-byte loads.
std::uint64_t key7(const unsigned char *p) {
    const auto be32 = [](const unsigned char *q) {
        return (std::uint32_t{q[0]} << 24) | (std::uint32_t{q[1]} << 16) | (std::uint32_t{q[2]} << 8) | q[3];
    };
    return (std::uint64_t{be32(p)} << 24) | (be32(p + 3) & 0xFFFFFFu);
}

void bench_sort(std::uint32_t n) {
    std::mt19937 rng(12345);
    std::vector<unsigned char> data(0xFFFF + 7);
    for (auto &c : data) {
        c = static_cast<unsigned char>('0' + rng() % 10);
    }
    std::vector<std::uint16_t> base(n);
    for (auto &o : base) {
        o = static_cast<std::uint16_t>(rng() % 0x10000);
    }
    const unsigned char *d = data.data();
    std::vector<std::uint16_t> work(n);

    work = base;
    KW_shellsort_offs(work.data(), n, 7, d);
    for (std::uint32_t i = 1; i < n; ++i) {
        if (std::memcmp(d + work[i - 1], d + work[i], 7) > 0) {
            std::fprintf(stderr, "not sorted at %u\n", i);
            std::exit(1);
        }
    }

    kwbench::Suite s("sort " + std::to_string(n) + " offsets of 7-byte keys", 0);
    s.add("std::sort (memcmp)", [&] {
        work = base;
        std::sort(work.begin(), work.end(),
                  [d](std::uint16_t a, std::uint16_t b) { return std::memcmp(d + a, d + b, 7) < 0; });
        kwbench::keep(work[0]);
    });
    s.add("std::sort (keys as integers)", [&] {
        work = base;
        std::sort(work.begin(), work.end(),
                  [d](std::uint16_t a, std::uint16_t b) { return key7(d + a) < key7(d + b); });
        kwbench::keep(work[0]);
    });
    s.add("KW_shellsort_offs", [&] {
        work = base;
        KW_shellsort_offs(work.data(), n, 7, d);
        kwbench::keep(work[0]);
    });
    s.run(n > 10000 ? 9 : 15);
}

}  // namespace

int main() {
    bench_format();
    bench_sort(4000);
    bench_sort(60000);
    return 0;
}
