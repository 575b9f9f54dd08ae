#include "platform/text.h"

namespace kw::plat {

void strupr(char *s) noexcept {
    for (; *s != '\0'; ++s) {
        *s = static_cast<char>(fold(static_cast<unsigned char>(*s)));
    }
}

}  // namespace kw::plat
