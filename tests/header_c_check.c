/* Compiled as C99: the public header must be plain C. Also checks the
 * record sizes a C caller sees. */
#include "kwutil.h"

#include <stddef.h>

typedef char kw_check_ini_private[offsetof(KW_INI_STRUC, alloc_mem) == 80 ? 1 : -1];
typedef char kw_check_catalog_size[sizeof(KW_MSG_CATALOG) == 32 ? 1 : -1];

int main(void) {
    KW_INI_STRUC ini = {{0}, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    unsigned char pattern[] = "K?Y";
    unsigned char target[] = "KEY";
    (void)ini;
    return KW_strcmp_wildcards(target, pattern) == 1 && KW_xlate_dummy[65] == 65 ? 0 : 1;
}
