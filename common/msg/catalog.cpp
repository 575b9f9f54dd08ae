// The catalog format at work: KW_MsgOpen and KW_MsgClose (their contracts
// are in kwutil.h) and the handle they fill, which the formatting calls read.
//
// An image is checked before anything in it is trusted: the formatting calls
// later index the offset array and the text area with the header's counts and
// compare 7-byte keys at every offset, so those must all lie inside the image.
// A valid catalog passes every check and opens exactly as the format says.
//
// Every copy of a handle points at the same block, and a handle has no room
// for a count of its copies: closing one can clear only its own signature.
#include <cstdlib>
#include <cstring>

#include "msg/catalog.h"
#include "platform/bytes.h"
#include "platform/file.h"

namespace kw::msg {

using plat::load_be16;

namespace {

constexpr std::int64_t kMaxCatalog = 0xFFFF;  // lengths and offsets are 16-bit

// Fill a handle from an image whose offsets are already native: the header
// copied, then the image's addresses in bytes 24 to 31.
void write_handle(KW_MSG_CATALOG *h, unsigned char *image) noexcept {
    unsigned char *b = h->_;
    std::memmove(b, image, kHeaderSize);  // the handle may be the built-in image itself
    const unsigned char *off = image + kHeaderSize;
    std::memcpy(b + kAddrAt, &off, sizeof off);
    if constexpr (kTwoAddresses) {
        const unsigned char *txt = off + load_be16(image + offsetof(KW_CATALOG_HEADER, arraysize));
        std::memcpy(b + offsetof(KW_CATALOG_HEADER, pTxt), &txt, sizeof txt);
    }
}

// The header's promises against the image behind it. length is the file's
// length, or 0 for a built-in image whose length only its header tells.
bool image_is_sound(const unsigned char *image, std::uint32_t length, bool builtin) noexcept {
    const auto *h = reinterpret_cast<const KW_CATALOG_HEADER *>(image);
    if (!has_signature(image)) {
        return false;  // no formatting call or close would ever accept it
    }
    // Close gives a file's block back and leaves a built-in image alone by
    // this byte alone, so it must tell the truth about where the image lives.
    if ((h->IsCFileGenerate != 0) != builtin) {
        return false;
    }
    const std::uint32_t num_msgs = load_be16(h->num_msgs);
    const std::uint32_t arraysize = load_be16(h->arraysize);
    const std::uint32_t txtsize = load_be16(h->txtsize);
    if (arraysize != 2 * num_msgs) {
        return false;
    }
    const std::uint32_t total = std::uint32_t{kHeaderSize} + arraysize + txtsize;
    // A file must be exactly header, array and texts: close hands its block
    // back with the size computed from these counts.
    if (builtin ? total > kMaxCatalog : total != length) {
        return false;
    }
    const unsigned char *txt = image + kHeaderSize + arraysize;
    if (txtsize > 0 && txt[txtsize - 1] != 0) {
        return false;  // every text must end inside the text area
    }
    if (num_msgs > 0 && txtsize == 0) {
        return false;
    }
    for (std::uint32_t k = 0; k < num_msgs; ++k) {
        // Room for a whole key and a terminator: lookups compare 7 bytes.
        if (std::size_t{load_be16(image + kHeaderSize + 2 * k)} + kKeyLen >= txtsize) {
            return false;
        }
    }
    return true;
}

void offsets_to_native(unsigned char *image) noexcept {
    const std::uint16_t num_msgs = load_be16(image + offsetof(KW_CATALOG_HEADER, num_msgs));
    unsigned char *entry = image + kHeaderSize;
    for (std::uint16_t k = 0; k < num_msgs; ++k, entry += 2) {
        plat::store16(entry, load_be16(entry));
    }
}

void give_back(KW_ALLOC_MEM alloc_mem, KW_FREE_MEM free_mem, std::uint16_t size, unsigned char *block) noexcept {
    if (free_mem != nullptr) {
        free_mem(size, block);
    } else if (alloc_mem == nullptr) {
        std::free(block);
    }
    // alloc_mem without free_mem: the block is the caller's allocator's, and
    // there is no way to hand it back; it is kept rather than misreleased.
}

enum class Load { none, loaded, refused };

// Read a catalog file into a fresh block. none: the file cannot be opened;
// refused: it was opened but cannot be trusted (its block, if any, given back).
Load load_file(const char *name, KW_ALLOC_MEM alloc_mem, KW_FREE_MEM free_mem, unsigned char **image) noexcept {
    plat::InFile f(name);
    if (!f.is_open()) {
        return Load::none;
    }
    const std::int64_t length = f.length();
    // Too short for a header (an empty file included), or too long for the
    // 16-bit length: refused before anything is read.
    if (length < static_cast<std::int64_t>(kHeaderSize) || length > kMaxCatalog) {
        return Load::refused;
    }
    const auto size = static_cast<std::uint16_t>(length);
    unsigned char *block = nullptr;
    if (alloc_mem != nullptr) {
        if (alloc_mem(size, &block) != 0) {
            block = nullptr;
        }
    } else {
        block = static_cast<unsigned char *>(std::malloc(size));
    }
    if (block == nullptr) {
        return Load::refused;
    }
    if (!f.read(block, size) || !image_is_sound(block, size, false)) {
        give_back(alloc_mem, free_mem, size, block);
        return Load::refused;
    }
    *image = block;
    return Load::loaded;
}

}  // namespace
}  // namespace kw::msg

extern "C" KW_API uint32_t KW_MsgOpen(const char *pCatalogName, PKW_MSG_CATALOG pDefault, KW_ALLOC_MEM alloc_mem,
                                      KW_FREE_MEM free_mem, PKW_MSG_CATALOG pCatalog) {
    using namespace kw::msg;
    if (pCatalog == nullptr) {
        return KW_MSG_ERR;
    }
    unsigned char *image = nullptr;
    if (pCatalogName != nullptr && pCatalogName[0] != '\0') {
        switch (load_file(pCatalogName, alloc_mem, free_mem, &image)) {
            case Load::loaded:
                break;
            case Load::refused:
                return KW_MSG_ERR;  // a file that exists is never replaced by the built-in catalog
            case Load::none:
                break;
        }
    }
    if (image == nullptr) {
        if (pDefault == nullptr) {
            return KW_MSG_ERR;
        }
        image = pDefault->_;
        if (!image_is_sound(image, 0, true)) {
            return KW_MSG_ERR;
        }
    }
    offsets_to_native(image);
    write_handle(pCatalog, image);
    return 0;
}

extern "C" KW_API uint32_t KW_MsgClose(PKW_MSG_CATALOG pCatalog, KW_FREE_MEM free_mem) {
    using namespace kw::msg;
    Catalog cat;
    if (pCatalog == nullptr || !read_handle(pCatalog, cat)) {
        return KW_MSG_ERR;
    }
    if (cat.builtin) {
        return 0;  // the application's own data
    }
    auto *block = const_cast<unsigned char *>(cat.pOff - kHeaderSize);
    const auto size = static_cast<std::uint16_t>(kHeaderSize + cat.arraysize + cat.txtsize);
    if (free_mem != nullptr) {
        free_mem(size, block);
    } else {
        std::free(block);
    }
    // This copy must not reach the freed block again: without its signature
    // every later call refuses it, a second close included. Other copies
    // cannot be reached from here.
    std::memset(pCatalog->_, 0, 4);
    return 0;
}
