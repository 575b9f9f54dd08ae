// RDC: the bounded expander on fuzzed streams, and compress -> expand round
// trips of fuzzed data.
//
// Asserts, for a stream: KW_RdcDecompressBound never touches a byte outside
// inbuff or outbuff (both heap blocks of exactly their size), returns -1 or
// 0 .. outbuff_size, leaves the bytes past its result untouched on success,
// agrees with itself across output sizes (a stream that fits expands to the
// same bytes in any larger buffer, and is refused in any smaller one; room
// past 65,535 bytes is never used), and agrees with KW_RdcDecompress on every
// stream it accepts.
// For data, at a level from the first byte: KW_RdcCompressLevel writes at
// most inbuff_len bytes, the same bytes with or without a work area (at
// level 1 and below those of KW_RdcCompress), a stream whose copies keep to
// count <= distance, and one that both expanders restore exactly.
//
// Input: one byte that picks the test (and the output size or the level),
// then the bytes.
#include <vector>

#include "fuzz_support.h"
#include "support/rdc_items.h"

namespace {

constexpr std::uint32_t kFull = 0xFFFF;
constexpr unsigned char kGuard = 0xA7;

std::vector<unsigned char> heap(const std::string &s) { return std::vector<unsigned char>(s.begin(), s.end()); }

// Is every byte of p[from, to) the guard byte?
bool guarded(const unsigned char *p, std::size_t from, std::size_t to) {
    static const std::vector<unsigned char> guard(kFull, kGuard);
    return from >= to || std::memcmp(p + from, guard.data(), to - from) == 0;
}

void expand(const std::string &stream, std::uint16_t wanted) {
    const std::vector<unsigned char> in = heap(stream);
    const auto len = static_cast<std::uint16_t>(in.size());

    // Two whole-size outputs, kept for the process: filling them is cheaper
    // than obtaining them.
    static std::vector<unsigned char> full(kFull), plain(kFull);
    std::memset(full.data(), kGuard, kFull);
    const std::int32_t r = KW_RdcDecompressBound(in.data(), len, full.data(), kFull);
    FUZZ_CHECK(r >= -1 && r <= static_cast<std::int32_t>(kFull));
    std::memset(plain.data(), kGuard, kFull);
    const std::uint16_t p = KW_RdcDecompress(in.data(), len, plain.data());
    if (r >= 0) {
        FUZZ_CHECK(guarded(full.data(), static_cast<std::size_t>(r), kFull));
        // The unbounded expander gives the same on an accepted stream.
        FUZZ_CHECK(p == r);
        FUZZ_CHECK(std::memcmp(plain.data(), full.data(), kFull) == 0);
    }

    // More room than the largest block changes nothing: the same result, and
    // nothing written past 65,535 bytes.
    static std::vector<unsigned char> roomy(kFull + 4096);
    std::memset(roomy.data(), kGuard, roomy.size());
    FUZZ_CHECK(KW_RdcDecompressBound(in.data(), len, roomy.data(), static_cast<std::uint32_t>(roomy.size())) == r);
    FUZZ_CHECK(guarded(roomy.data(), kFull, roomy.size()));

    // A smaller output: exactly that many bytes on the heap.
    std::vector<unsigned char> out(wanted, kGuard);
    const std::int32_t s = KW_RdcDecompressBound(in.data(), len, out.data(), wanted);
    if (r >= 0 && r <= wanted) {
        FUZZ_CHECK(s == r);
        FUZZ_CHECK(std::equal(out.begin(), out.begin() + r, full.begin()));
        FUZZ_CHECK(guarded(out.data(), static_cast<std::size_t>(r), wanted));
    } else {
        FUZZ_CHECK(s == -1);
    }
}

void round_trip(const std::string &data_s, int level) {
    const std::vector<unsigned char> data = heap(data_s.substr(0, kFull));
    const auto len = static_cast<std::uint16_t>(data.size());
    std::vector<unsigned char> packed(len);
    const std::uint16_t n = KW_RdcCompressLevel(data.data(), len, packed.data(), nullptr, level);
    FUZZ_CHECK(n <= len);
    FUZZ_CHECK((n == 0) == (len == 0));

    // The same bytes with a work area full of garbage, and level 1 and below
    // are the greedy parse itself.
    std::vector<std::uintptr_t> work(4096, 0xA5A5A5A5u);
    std::vector<unsigned char> again(len);
    FUZZ_CHECK(KW_RdcCompressLevel(data.data(), len, again.data(), work.data(), level) == n);
    FUZZ_CHECK(again == packed);
    if (level <= 1) {
        std::vector<void *> full(4096);
        FUZZ_CHECK(KW_RdcCompress(data.data(), len, again.data(), full.data()) == n);
        FUZZ_CHECK(again == packed);
    }

    if (len <= 18) {
        FUZZ_CHECK(packed == data);  // short inputs go verbatim
        return;
    }
    if (n == len && packed == data) {
        return;  // verbatim (a stream of exactly that length would expand to data too)
    }
    const std::vector<unsigned char> stream(packed.begin(), packed.begin() + n);
    FUZZ_CHECK(kwsupport::rdc_items(stream) == static_cast<long>(len));
    std::vector<unsigned char> out(len, kGuard);
    FUZZ_CHECK(KW_RdcDecompressBound(stream.data(), n, out.data(), len) == len);
    FUZZ_CHECK(out == data);
    std::vector<unsigned char> plain(len, kGuard);
    FUZZ_CHECK(KW_RdcDecompress(stream.data(), n, plain.data()) == len);
    FUZZ_CHECK(plain == data);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    kwfuzz::Reader in(data, size);
    const std::uint8_t pick = in.byte();
    const std::uint16_t wanted = in.u16();
    const std::string rest = in.rest();
    if ((pick & 1) == 0) {
        expand(rest.substr(0, kFull), (pick & 2) != 0 ? wanted : static_cast<std::uint16_t>(wanted % 256));
    } else {
        round_trip(rest, pick >> 4);  // levels 0 to 15: below 1 and above 9 included
    }
    return 0;
}
