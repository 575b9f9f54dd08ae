// The default memory callbacks, installed when the caller gives none.
#include <cstdlib>

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

}  // namespace kw::ini
