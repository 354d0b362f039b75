// Helper program for the runtime and persistent configuration tests: runs
// as a program of subsystem argv[1] and carries out the steps that follow,
// in order, printing one line per result on standard output.
//
//   dynamic_config_probe SUBSYS STEP...
//     load                config(0)
//     setp ADMIN TEXT     set_persistent_config -> "setp ADMIN=<result>"
//     setr ADMIN TEXT     set_runtime_config    -> "setr ADMIN=<result>"
//     write PATH TEXT     replaces the file PATH by TEXT
//     get NAME            "NAME=value [file:line]" or "NAME undefined"
//
// A TEXT of "-" stands for a null configuration text.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "config/config_startup.h"
#include "config/dynamic_config.h"
#include "config/param.h"
#include "core/my_string.h"

const char *mySubSystem = "TOOL";

namespace {

char *text_arg(const char *text) {
    return strcmp(text, "-") == 0 ? nullptr : strdup(text);
}

void print_param(const char *name) {
    char *value = param(name);
    if (value == nullptr) {
        printf("%s undefined\n", name);
        return;
    }
    MyString file;
    int line = -1;
    param_get_location(name, file, line);
    printf("%s=%s [%s:%d]\n", name, value, file.Value(), line);
    free(value);
}

// Carries out the step at argv[i]; returns the index of the next step, or
// -1 for an unknown or incomplete step.
int run_step(int argc, char **argv, int i) {
    const char *step = argv[i];
    if (strcmp(step, "load") == 0) {
        config(0);
        return i + 1;
    }
    if (strcmp(step, "get") == 0 && i + 1 < argc) {
        print_param(argv[i + 1]);
        return i + 2;
    }
    if (i + 2 >= argc) {
        return -1;
    }
    if (strcmp(step, "setp") == 0 || strcmp(step, "setr") == 0) {
        char *admin = strdup(argv[i + 1]);
        char *text = text_arg(argv[i + 2]);
        int rc =
            step[3] == 'p' ? set_persistent_config(admin, text) : set_runtime_config(admin, text);
        printf("%s %s=%d\n", step, argv[i + 1], rc);
        return i + 3;
    }
    if (strcmp(step, "write") == 0) {
        FILE *f = fopen(argv[i + 1], "w");
        if (f == nullptr) {
            return -1;
        }
        bool written = fputs(argv[i + 2], f) >= 0;
        return fclose(f) == 0 && written ? i + 3 : -1;
    }
    return -1;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc < 2) {
        return 2;
    }
    mySubSystem = argv[1];
    for (int i = 2; i < argc;) {
        fflush(stdout);
        i = run_step(argc, argv, i);
        if (i < 0) {
            fprintf(stderr, "dynamic_config_probe: bad step\n");
            return 2;
        }
    }
    fflush(stdout);
    return 0;
}
