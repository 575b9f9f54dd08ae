// In-place translation through a 256-byte table.
//
// KW_memxlt picks its path on every call (memxlt_paths.h): short buffers and
// buffers that overlap their table go byte by byte, the rest to the widest
// vector code the CPU runs. Nothing is remembered between calls.
#include "kwutil.h"
#include "xlat/memxlt_paths.h"

extern "C" KW_API void KW_strxlt(unsigned char *string, const unsigned char *table) {
    // The end test is made on each byte before it is translated. Byte by
    // byte on purpose: the string's length is unknown, and reading ahead of
    // the terminator is not allowed.
    for (; *string != 0; ++string) {
        *string = table[*string];
    }
}

extern "C" KW_API void KW_memxlt(unsigned char *string, const unsigned char *table, uint32_t len) {
    kw::xlat::memxlt(string, table, len);
}
