// The default memory callbacks, installed when the caller gives none, and
// the blocks the engine obtains and gives back through the handle's callbacks.
#include <cstdlib>
#include <cstring>

#include "ini/ini_internal.h"

namespace kw::ini {

std::uint32_t alloc__mem(std::uint16_t Size, unsigned char **ppBuf) {
    *ppBuf = static_cast<unsigned char *>(std::malloc(Size));
    return *ppBuf == nullptr ? 1u : 0u;
}

std::uint32_t free__mem(std::uint16_t /*Size*/, unsigned char *pBuf) {
    std::free(pBuf);
    return 0;
}

}  // namespace kw::ini

namespace kw::ini {

std::uint32_t obtain(KW_INI_INTERNAL *pX, std::uint16_t size, unsigned char **block) noexcept {
    *block = nullptr;
    const std::uint32_t status = pX->alloc_mem(size, block);
    if (status != 0) {
        *block = nullptr;
        return status;
    }
    return *block == nullptr ? 1u : 0u;
}

void give_back(KW_INI_INTERNAL *pX, std::uint16_t size, void *block) noexcept {
    // A caller that set alloc_mem but no free_mem keeps its blocks: there is
    // nothing sound to call.
    if (block != nullptr && pX->free_mem != nullptr) {
        pX->free_mem(size, static_cast<unsigned char *>(block));
    }
}

std::uint32_t grow_text(KW_INI_INTERNAL *x) noexcept {
    if (x->txtsize + std::uint32_t{kTextStep} > 0xFFFFu) {
        return INI_ERR_TEXT_FULL;
    }
    const auto newsize = static_cast<std::uint16_t>(x->txtsize + kTextStep);
    unsigned char *block = nullptr;
    if (std::uint32_t status = obtain(x, newsize, &block); status != 0) {
        return status;
    }
    // Only the used text is copied: the rest of a caller's buffer is the
    // caller's business, and ours is zero past the text anyway.
    const std::uint16_t usedbytes = used(x);
    std::memcpy(block, x->pTxt, usedbytes);
    std::memset(block + usedbytes, 0, static_cast<std::size_t>(newsize - usedbytes));
    if ((x->owned & kOwnsText) != 0) {
        give_back(x, x->txtsize, x->pTxt);
    }
    x->owned = static_cast<std::uint8_t>(x->owned | kOwnsText);
    x->pTxt = block;
    x->txtsize = newsize;
    x->remain = static_cast<std::uint16_t>(x->remain + kTextStep);
    return INI_OK;
}

}  // namespace kw::ini
