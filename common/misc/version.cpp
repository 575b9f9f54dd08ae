// The library's own version, compiled in from the same generated header the
// caller's code sees, so a caller can compare the two at run time and notice
// a shared library older or newer than the headers it was built with.
#include "kwutil.h"

extern "C" KW_API uint32_t KW_versionNumber(void) {
    return KW_VERSION_MAJOR * 10000u + KW_VERSION_MINOR * 100u + KW_VERSION_PATCH;
}

extern "C" KW_API const char *KW_versionString(void) { return KW_VERSION_STRING; }
