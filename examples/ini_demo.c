/* Opens an INI file (default: samples/app.ini), lists its lines with their
 * types, then looks up Database/Port and prints its value. */
#include <stdio.h>
#include <string.h>

#include "kwutil.h"

static const char *type_name(uint8_t t) {
    switch (t) {
    case INI_LINE_COMMENT: return "comment";
    case INI_LINE_SECTION: return "section";
    case INI_LINE_KEY: return "key";
    default: return "end";
    }
}

/* Print a line without its line end. */
static void print_line(const unsigned char *p) {
    size_t n = strcspn((const char *)p, "\n");
    printf("%.*s", (int)n, (const char *)p);
}

int main(int argc, char **argv) {
    const char *path = argc > 1 ? argv[1] : "samples/app.ini";
    KW_INI_STRUC ini;
    unsigned char found = 0;
    uint32_t rc;

    memset(&ini, 0, sizeof ini);
    rc = KW_ini_open(&ini, path, KW_INI_READWRITE, KW_INI_8BIT);
    if (rc != INI_OK) {
        fprintf(stderr, "%s: cannot open (status %u, line %u)\n", path, (unsigned)rc, (unsigned)ini.linenum);
        return 2;
    }
    printf("%s:\n", path);
    while (ini.linetype != INI_LINE_NONE) {
        printf("  %3u %-8s ", (unsigned)ini.linenum, type_name(ini.linetype));
        print_line(ini.pLine);
        printf("\n");
        KW_ini_next(&ini);
    }
    KW_ini_goto(&ini, 1);
    rc = KW_ini_find(&ini, (const unsigned char *)"database", (const unsigned char *)"PORT", &found);
    if (rc == INI_OK && found) {
        printf("database/port found on line %u: ", (unsigned)ini.linenum);
        print_line(ini.pValue);
        printf("\n");
    } else {
        printf("database/port not found\n");
    }
    KW_ini_close(&ini);
    return found ? 0 : 1;
}
