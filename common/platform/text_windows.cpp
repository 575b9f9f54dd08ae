#include <cstring>

#include "platform/text.h"

namespace kw::plat {

// The runtime's own _strupr: it follows the application's LC_CTYPE locale,
// as Windows programs expect of it; in the default "C" locale it changes
// only a to z, like fold.
void strupr(char *s) noexcept {
    _strupr(s);
}

}  // namespace kw::plat
