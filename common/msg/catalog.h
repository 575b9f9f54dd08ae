// The catalog header, KW_CATALOG_HEADER, and the library's view of a
// caller's KW_MSG_CATALOG handle. Opening and closing (catalog.cpp) are the
// only writers of a handle; the formatting calls read it with read_handle.
//
// A catalog file and a catalog image start with the same 32 bytes that an
// open handle holds. Counts are big-endian byte pairs in all three places;
// only the offset array of an image is turned into native order when it is
// opened. The handle is a caller's record of any alignment, so every field is
// read and written through memcpy or single bytes.
//
// Bytes 24 to 31 of a handle locate the image. A 4-byte address fits twice:
// pOff at 24 and pTxt at 28. An 8-byte address fits once: bytes 24 to 31 hold
// pOff, and pTxt is derived as pOff + arraysize. In a file these 8 bytes are
// never read.
#ifndef KW_MSG_CATALOG_H
#define KW_MSG_CATALOG_H

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "kwutil.h"
#include "platform/bytes.h"

namespace kw::msg {

struct KW_CATALOG_HEADER {
    unsigned char signature[4];   // four bytes of 0x99
    unsigned char encoding;       // 2: EBCDIC, anything else: ASCII
    unsigned char unicode_high_low;
    unsigned char IsCFileGenerate;  // nonzero: built into the application
    unsigned char flags;
    unsigned char num_msgs[2];    // big-endian
    unsigned char arraysize[2];   // big-endian, 2 * num_msgs
    unsigned char txtsize[2];     // big-endian
    unsigned char reserved[10];
    unsigned char pOff[4];        // handle only: see the note above
    unsigned char pTxt[4];
};

static_assert(sizeof(KW_CATALOG_HEADER) == 32);
static_assert(sizeof(KW_MSG_CATALOG) == 32);
static_assert(offsetof(KW_CATALOG_HEADER, encoding) == 4);
static_assert(offsetof(KW_CATALOG_HEADER, IsCFileGenerate) == 6);
static_assert(offsetof(KW_CATALOG_HEADER, num_msgs) == 8);
static_assert(offsetof(KW_CATALOG_HEADER, arraysize) == 10);
static_assert(offsetof(KW_CATALOG_HEADER, txtsize) == 12);
static_assert(offsetof(KW_CATALOG_HEADER, pOff) == 24);
static_assert(offsetof(KW_CATALOG_HEADER, pTxt) == 28);

inline constexpr std::size_t kHeaderSize = 32;
inline constexpr unsigned char kSignatureByte = 0x99;
inline constexpr std::uint8_t kEncodingEbcdic = 2;
inline constexpr std::size_t kKeyLen = 7;  // 2 characters of application ID, 5 digits

// Where a handle keeps the image's addresses, for either address width.
inline constexpr std::size_t kAddrAt = offsetof(KW_CATALOG_HEADER, pOff);
inline constexpr bool kTwoAddresses = sizeof(void *) == 4;
static_assert(sizeof(void *) == 4 || sizeof(void *) == 8, "a handle holds one 8-byte or two 4-byte addresses");
static_assert(kTwoAddresses ? (kAddrAt == 24 && offsetof(KW_CATALOG_HEADER, pTxt) == 28)
                            : (kAddrAt == 24 && kAddrAt + sizeof(void *) == sizeof(KW_MSG_CATALOG)),
              "pOff at 24 and pTxt at 28 with 4-byte addresses; one address in 24 to 31 with 8");

inline bool has_signature(const unsigned char *header) noexcept {
    return header[0] == kSignatureByte && header[1] == kSignatureByte && header[2] == kSignatureByte &&
           header[3] == kSignatureByte;
}

// What the formatting calls need to know of an open catalog, in native form.
struct Catalog {
    std::uint8_t encoding;
    bool builtin;                 // IsCFileGenerate nonzero
    std::uint16_t num_msgs;
    std::uint16_t arraysize;
    std::uint16_t txtsize;
    const unsigned char *pOff;    // num_msgs native 16-bit offsets, any alignment
    const unsigned char *pTxt;    // the text area
};

// Read an open handle. Returns false, leaving out untouched, when the handle
// does not carry the signature. Inline: every formatting call starts with it,
// and it is a handful of loads.
inline bool read_handle(const KW_MSG_CATALOG *h, Catalog &out) noexcept {
    const unsigned char *b = h->_;
    if (!has_signature(b)) {
        return false;
    }
    out.encoding = b[offsetof(KW_CATALOG_HEADER, encoding)];
    out.builtin = b[offsetof(KW_CATALOG_HEADER, IsCFileGenerate)] != 0;
    out.num_msgs = plat::load_be16(b + offsetof(KW_CATALOG_HEADER, num_msgs));
    out.arraysize = plat::load_be16(b + offsetof(KW_CATALOG_HEADER, arraysize));
    out.txtsize = plat::load_be16(b + offsetof(KW_CATALOG_HEADER, txtsize));
    std::memcpy(&out.pOff, b + kAddrAt, sizeof out.pOff);
    if constexpr (kTwoAddresses) {
        std::memcpy(&out.pTxt, b + offsetof(KW_CATALOG_HEADER, pTxt), sizeof out.pTxt);
    } else {
        out.pTxt = out.pOff + out.arraysize;
    }
    return true;
}

}  // namespace kw::msg

#endif
