// Message catalogs: open a fuzzed catalog image (as a file, or as a built-in
// image), then format every message number it holds, a few that it does not
// and the not-found entry's, through every formatting call.
//
// Asserts: KW_MsgOpen accepts exactly the images that pass the documented
// checks, and hands back its block when it refuses one; every formatting
// call stays inside its buffers (each buffer is a heap block of exactly the
// size the contract asks for: the unbounded calls get the length that the
// bounded twin reports plus one, with flags bit 0 too; the packed list is
// padded to the largest size nine fields can take, 3 + 9 * 256 bytes); the
// bounded twins return
// the whole length, store a terminated prefix and write nothing past
// bufsize; the unbounded and bounded calls produce the same text; flags
// bit 0 drops exactly the first 11 characters; and close gives the block
// back.
//
// Input: flags, appID (2), list length (2), list, count of extra numbers,
// the numbers (2 each), then the catalog image.
#include <vector>

#include "fuzz_support.h"

#if !defined(__x86_64__) && !defined(__aarch64__)
#error "the variable arguments below rely on a number and an address sharing one 8-byte slot"
#endif

using kwfuzz::Ledger;
using kwfuzz::Reader;

namespace {

constexpr std::size_t kMaxList = 3 + 9 * 256;   // nine fields of 255 bytes
constexpr std::int32_t kLargest = 1 << 20;      // larger texts are only counted

std::uint16_t be16(const std::string &s, std::size_t at) {
    return static_cast<std::uint16_t>(static_cast<unsigned char>(s[at]) << 8 | static_cast<unsigned char>(s[at + 1]));
}

// The documented checks of an image.
bool acceptable(const std::string &img, bool builtin) {
    if (img.size() < 32 || img.size() > 0xFFFF) {
        return false;
    }
    if (img.compare(0, 4, "\x99\x99\x99\x99") != 0 || (img[6] != 0) != builtin) {
        return false;
    }
    const std::size_t num = be16(img, 8), array = be16(img, 10), txt = be16(img, 12);
    if (array != 2 * num || img.size() != 32 + array + txt) {
        return false;
    }
    for (std::size_t i = 0; i < num; ++i) {
        if (be16(img, 32 + 2 * i) + std::size_t{8} > txt) {
            return false;
        }
    }
    return txt == 0 ? num == 0 : img.back() == '\0';
}

// A heap block of exactly n bytes (at least one, so that n 0 has an address).
struct Block {
    explicit Block(std::size_t n) : size(n), p(static_cast<char *>(std::malloc(n == 0 ? 1 : n))) {
        std::memset(p, 0x5C, n == 0 ? 1 : n);
    }
    ~Block() { std::free(p); }
    Block(const Block &) = delete;
    Block &operator=(const Block &) = delete;
    std::size_t size;
    char *p;
};

struct Args {
    const unsigned char *padded;  // kMaxList bytes
    const unsigned char *list;    // exactly listsize bytes
    std::uint32_t listsize;
    const char *text[9];          // the variable arguments
};

// The bounded twin's answer at a few small sizes must be a terminated prefix
// of the whole text, with the whole length.
void check_prefixes(const std::string &whole, std::int32_t len, const auto &call) {
    for (const std::size_t size : {std::size_t{0}, std::size_t{1}, std::size_t{2}, std::size_t{8}, std::size_t{12},
                                   whole.size(), whole.size() + 1}) {
        Block out(size);
        FUZZ_CHECK(call(size == 0 ? nullptr : out.p, static_cast<std::uint32_t>(size)) == len);
        if (size > 0) {
            const std::size_t kept = std::min(whole.size(), size - 1);
            FUZZ_CHECK(std::memcmp(out.p, whole.data(), kept) == 0 && out.p[kept] == '\0');
        }
    }
}

void format_one(KW_MSG_CATALOG &h, unsigned char flags, const char app[3], std::uint16_t num, const Args &a) {
    const auto vcall = [&](unsigned char f, char *buf, std::uint32_t size) {
        char id[3] = {app[0], app[1], 0};
        return KW_MsgSnprintf(&h, f, buf, size, app[0] == 0 ? nullptr : id, num, a.text[0], a.text[1], a.text[2],
                              a.text[3], a.text[4], a.text[5], a.text[6], a.text[7], a.text[8]);
    };
    const auto rcall = [&](unsigned char f, char *buf, std::uint32_t size, const unsigned char *list,
                           std::uint32_t listsize) {
        char id[3] = {app[0], app[1], 0};
        return KW_MsgRSnprintf(&h, f, buf, size, app[0] == 0 ? nullptr : id, num, list, listsize);
    };

    // Variable arguments: every one is a text, which a number specifier reads
    // as the low 32 bits of the address (both are one 8-byte slot here).
    const std::int32_t vlen = vcall(flags, nullptr, 0);
    FUZZ_CHECK(vlen >= 0);
    if (vlen <= kLargest) {
        Block exact(static_cast<std::size_t>(vlen) + 1);
        char id[3] = {app[0], app[1], 0};
        FUZZ_CHECK(KW_MsgSprintf(&h, flags, exact.p, app[0] == 0 ? nullptr : id, num, a.text[0], a.text[1], a.text[2],
                                 a.text[3], a.text[4], a.text[5], a.text[6], a.text[7], a.text[8]) == vlen);
        const std::string whole(exact.p, static_cast<std::size_t>(vlen));
        FUZZ_CHECK(exact.p[vlen] == '\0');
        check_prefixes(whole, vlen, [&](char *buf, std::uint32_t size) { return vcall(flags, buf, size); });
        if ((flags & KW_MSG_STRIP_KEY) == 0) {
            Block stripped(static_cast<std::size_t>(vlen) + 1);
            const std::int32_t slen = vcall(KW_MSG_STRIP_KEY, stripped.p, static_cast<std::uint32_t>(vlen) + 1);
            FUZZ_CHECK(whole.size() <= 11 ? slen == 0 : whole.substr(11) == std::string(stripped.p, static_cast<std::size_t>(slen)));
        }
    }

    // Packed list: the bounded twin on the exact list never reads past it.
    Block small(16);
    const std::int32_t exact_len = rcall(flags, small.p, 16, a.list, a.listsize);
    FUZZ_CHECK(exact_len >= 0 || exact_len == KW_MSG_WRONG_APP);

    const std::int32_t rlen = rcall(flags, nullptr, 0, a.padded, kMaxList);
    FUZZ_CHECK(rlen >= 0 || rlen == KW_MSG_WRONG_APP);
    FUZZ_CHECK((rlen == KW_MSG_WRONG_APP) == (exact_len == KW_MSG_WRONG_APP));
    if (rlen == KW_MSG_WRONG_APP) {
        Block out(128);  // the invalid-table text with a 2-character appID
        char id[3] = {app[0], app[1], 0};
        FUZZ_CHECK(KW_MsgRSprintf(&h, flags, out.p, id, num, a.padded) == 0);
        const std::string text(out.p);
        FUZZ_CHECK(text.find("Invalid message table") != std::string::npos);
        check_prefixes(text, KW_MSG_WRONG_APP,
                       [&](char *buf, std::uint32_t size) { return rcall(flags, buf, size, a.padded, kMaxList); });
        return;
    }
    if (rlen <= kLargest) {
        Block exact(static_cast<std::size_t>(rlen) + 1);
        char id[3] = {app[0], app[1], 0};
        FUZZ_CHECK(KW_MsgRSprintf(&h, flags, exact.p, app[0] == 0 ? nullptr : id, num, a.padded) == rlen);
        FUZZ_CHECK(exact.p[rlen] == '\0');
        const std::string whole(exact.p, static_cast<std::size_t>(rlen));
        check_prefixes(whole, rlen,
                       [&](char *buf, std::uint32_t size) { return rcall(flags, buf, size, a.padded, kMaxList); });
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    Reader in(data, size);
    const std::uint8_t flags = in.byte();
    char app[3] = {static_cast<char>(in.byte()), static_cast<char>(in.byte()), 0};
    if (app[1] == 0) {
        app[0] = 0;  // no appID: the catalog's own
    }
    const std::string list = in.bytes(in.u16() % (kMaxList + 1));
    std::vector<std::uint16_t> numbers{0, 65535};
    for (std::uint8_t n = in.byte() % 8; n > 0; --n) {
        numbers.push_back(in.u16());
    }
    const std::string image = in.rest();
    const bool builtin = (flags & 2) != 0;

    Ledger::reset();
    KW_MSG_CATALOG h;
    std::memset(&h, 0xCC, sizeof h);
    const KW_MSG_CATALOG untouched = h;
    std::uint32_t st;
    Block img(image.size());  // a built-in image lives as long as its handle
    std::memcpy(img.p, image.data(), image.size());
    if (builtin) {
        // A built-in image must be complete: the caller vouches for its length.
        if (image.size() < 32 || image.size() != 32u + be16(image, 10) + be16(image, 12)) {
            return 0;
        }
        st = KW_MsgOpen(nullptr, reinterpret_cast<PKW_MSG_CATALOG>(img.p), nullptr, nullptr, &h);
    } else {
        const std::string path = kwfuzz::scratch_file("fuzz.cat");
        kwfuzz::write_file(path, image);
        st = KW_MsgOpen(path.c_str(), nullptr, &Ledger::alloc, &Ledger::release, &h);
    }
    FUZZ_CHECK(st == 0 || st == KW_MSG_ERR);
    FUZZ_CHECK((st == 0) == acceptable(image, builtin));
    if (st != 0) {
        FUZZ_CHECK(Ledger::clean());
        FUZZ_CHECK(std::memcmp(&h, &untouched, sizeof h) == 0);
        return 0;
    }

    // The numbers the catalog holds: the five digits after each key's ID.
    const std::size_t num = be16(image, 8), txt_at = 32 + std::size_t{be16(image, 10)};
    const bool ebcdic = image[4] == 2;
    for (std::size_t i = 0; i < num && i < 64; ++i) {
        const std::size_t at = txt_at + be16(image, 32 + 2 * i);
        unsigned value = 0;
        bool digits = true;
        for (std::size_t k = 2; k < 7; ++k) {
            unsigned char c = static_cast<unsigned char>(image[at + k]);
            c = ebcdic ? KW_xlate_EBC_ASC[c] : c;
            digits = digits && c >= '0' && c <= '9';
            value = value * 10 + (c - '0');
        }
        if (digits && value <= 65535) {
            numbers.push_back(static_cast<std::uint16_t>(value));
        }
    }

    Block padded(kMaxList);
    std::memset(padded.p, 0, kMaxList);
    std::memcpy(padded.p, list.data(), list.size());
    Block exact(list.size());
    std::memcpy(exact.p, list.data(), list.size());
    static const std::string long_text(300, 'x');
    Args a{reinterpret_cast<const unsigned char *>(padded.p), reinterpret_cast<const unsigned char *>(exact.p),
           static_cast<std::uint32_t>(list.size()),
           {"", "C:", "%1!s!", long_text.c_str(), "\xF0\xC1", "a", "bb", "ccc", "dddd"}};
    for (const std::uint16_t n : numbers) {
        format_one(h, flags & 1, app, n, a);
    }

    FUZZ_CHECK(KW_MsgClose(&h, builtin ? nullptr : &Ledger::release) == 0);
    FUZZ_CHECK(Ledger::clean());
    if (!builtin) {
        FUZZ_CHECK(KW_MsgClose(&h, &Ledger::release) == KW_MSG_ERR);
        char buf[4] = "abc";
        FUZZ_CHECK(KW_MsgSnprintf(&h, 0, buf, sizeof buf, nullptr, 1) == KW_MSG_BAD_HANDLE && buf[0] == 0);
    }
    return 0;
}
