// Test program linked with arg_splitter.o alone: splits argv[2] with the
// function named by argv[1] (_torvel_mkargv or its alias mkargv) and prints
// the words, one key=value line each, for objects_tests to check.
#include <stdio.h>
#include <string.h>

#include "core/mkargv.h"

int main(int argc, char **argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: %s _torvel_mkargv|mkargv LINE\n", argv[0]);
        return 2;
    }
    char line[256];
    snprintf(line, sizeof line, "%s", argv[2]);
    size_t length = strlen(line);

    char *words[sizeof line / 2 + 1];
    memset(words, 0xff, sizeof words);  // a missing terminator shows
    int count = -1;
    int result = strcmp(argv[1], "mkargv") == 0 ? mkargv(&count, words, line)
                                                : _torvel_mkargv(&count, words, line);
    printf("result=%d\ncount=%d\n", result, count);
    bool in_place = true;
    for (int i = 0; i < count; ++i) {
        in_place = in_place && words[i] >= line && words[i] < line + length;
        printf("word%d=%s\n", i, words[i]);
    }
    printf("in_place=%d\nterminated=%d\n", in_place ? 1 : 0,
           count >= 0 && words[count] == nullptr ? 1 : 0);
    return 0;
}
