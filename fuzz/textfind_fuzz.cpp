// Wildcard comparison and text search, each against a plain loop.
//
// Asserts: KW_strcmp_wildcards gives what the positional rule gives, read
// straight from its description, and reads neither string past its zero
// (both are heap blocks of exactly their length plus the zero);
// KW_FastTextFind counts what a naive count counts, overlaps included, for
// every length (negative ones too), stores 0xFF and 0xFE in the two reserved
// slots and changes no other byte of either buffer.
//
// Input: a byte that picks the lengths' signs, then target/text and
// pattern, split at the first byte 0x00 (the wildcard strings) or at a
// length byte (the search).
#include <vector>

#include "fuzz_support.h"

namespace {

unsigned char wildcard_model(const std::string &target, const std::string &pattern) {
    const bool star = pattern.find('*') != std::string::npos;
    if (!star && target.size() != pattern.size()) {
        return 0;
    }
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] == '*') {
            return 1;
        }
        if (pattern[i] == '?') {
            continue;
        }
        if (i >= target.size() || pattern[i] != target[i]) {
            return 0;
        }
    }
    return 1;
}

std::int32_t count_model(const std::string &text, const std::string &pat) {
    if (pat.empty() || text.size() < pat.size()) {
        return 0;
    }
    std::int32_t n = 0;
    for (std::size_t i = 0; i + pat.size() <= text.size(); ++i) {
        n += text.compare(i, pat.size(), pat) == 0 ? 1 : 0;
    }
    return n;
}

void wildcard(const std::string &bytes) {
    const std::size_t cut = bytes.find('\0');
    const std::string target = bytes.substr(0, cut);
    const std::string pattern = cut == std::string::npos ? std::string() : bytes.substr(cut + 1);
    const std::string pat = pattern.substr(0, pattern.find('\0'));
    std::vector<unsigned char> t(target.begin(), target.end());
    t.push_back(0);
    std::vector<unsigned char> p(pat.begin(), pat.end());
    p.push_back(0);
    FUZZ_CHECK(KW_strcmp_wildcards(t.data(), p.data()) == wildcard_model(target, pat));
    FUZZ_CHECK(KW_strcmp_wildcards(t.data(), t.data()) == wildcard_model(target, target));
}

void search(std::uint8_t signs, const std::string &bytes) {
    kwfuzz::Reader in(reinterpret_cast<const std::uint8_t *>(bytes.data()), bytes.size());
    const std::string pat = in.bytes(in.byte());
    const std::string text = in.rest();
    std::vector<unsigned char> t(1 + text.size(), 0x11);
    std::memcpy(t.data() + 1, text.data(), text.size());
    std::vector<unsigned char> p(1 + pat.size(), 0x22);
    std::memcpy(p.data() + 1, pat.data(), pat.size());
    auto txtlen = static_cast<std::int32_t>(text.size());
    auto patlen = static_cast<std::int32_t>(pat.size());
    std::int32_t want = count_model(text, pat);
    if ((signs & 1) != 0) {
        txtlen = -1 - txtlen % 7;  // a negative length: nothing but the slots
        want = 0;
    }
    if ((signs & 2) != 0) {
        patlen = -patlen;
        want = 0;
    }
    FUZZ_CHECK(KW_FastTextFind(txtlen, t.data(), patlen, p.data()) == want);
    FUZZ_CHECK(t[0] == 0xFF && p[0] == 0xFE);
    FUZZ_CHECK(std::memcmp(t.data() + 1, text.data(), text.size()) == 0);
    FUZZ_CHECK(std::memcmp(p.data() + 1, pat.data(), pat.size()) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    kwfuzz::Reader in(data, size);
    const std::uint8_t pick = in.byte();
    const std::string rest = in.rest();
    if ((pick & 1) == 0) {
        wildcard(rest);
    } else {
        search(static_cast<std::uint8_t>(pick >> 1), rest);
    }
    return 0;
}
