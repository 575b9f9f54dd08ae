// In-place translation through a 256-byte table.
#include "kwutil.h"

extern "C" KW_API void KW_strxlt(unsigned char *string, const unsigned char *table) {
    // The end test is made on each byte before it is translated.
    for (; *string != 0; ++string) {
        *string = table[*string];
    }
}

extern "C" KW_API void KW_memxlt(unsigned char *string, const unsigned char *table, uint32_t len) {
    for (uint32_t i = 0; i < len; ++i) {
        string[i] = table[string[i]];
    }
}
