/* Uses the installed library as an application would: its header, its
 * version and a call of each kind (a plain result, an output buffer). */
#include <stdio.h>
#include <string.h>

#include <kwutil.h>

int main(void) {
    char expected[32];
    unsigned char target[] = "config.ini";
    unsigned char pattern[] = "*.ini";
    unsigned char text[] = "_ab ab ab";
    unsigned char pat[] = "_ab";
    int32_t found;

    if (KW_versionNumber() != (uint32_t)(KW_VERSION_MAJOR * 10000 + KW_VERSION_MINOR * 100 + KW_VERSION_PATCH)) {
        fprintf(stderr, "library version %u, headers %d.%d.%d\n", (unsigned)KW_versionNumber(), KW_VERSION_MAJOR,
                KW_VERSION_MINOR, KW_VERSION_PATCH);
        return 1;
    }
    sprintf(expected, "%d.%d.%d", KW_VERSION_MAJOR, KW_VERSION_MINOR, KW_VERSION_PATCH);
    if (strcmp(KW_versionString(), expected) != 0) {
        fprintf(stderr, "version text %s, expected %s\n", KW_versionString(), expected);
        return 1;
    }
    if (KW_strcmp_wildcards(target, pattern) != 1) {
        fprintf(stderr, "config.ini does not match *.ini\n");
        return 1;
    }
    /* Index 0 of each buffer is the search's own slot. */
    found = KW_FastTextFind((int32_t)(sizeof text - 2), text, (int32_t)(sizeof pat - 2), pat);
    if (found != 3) {
        fprintf(stderr, "found %d times, expected 3\n", (int)found);
        return 1;
    }
    printf("kwutil %s: found and working\n", KW_versionString());
    return 0;
}
