// Word splitting in place: nothing is allocated, the words point into line.
#include "core/mkargv.h"

#include <ctype.h>

extern "C" int _torvel_mkargv(int *argc, char **argv, char *line) {
    int count = 0;
    bool in_word = false;
    for (char *p = line; *p != '\0'; ++p) {
        if (isspace(static_cast<unsigned char>(*p))) {
            *p = '\0';
            in_word = false;
        } else if (!in_word) {
            argv[count++] = p;
            in_word = true;
        }
    }
    argv[count] = nullptr;
    *argc = count;
    return 0;
}

extern "C" int mkargv(int *argc, char **argv, char *line) {
    return _torvel_mkargv(argc, argv, line);
}
