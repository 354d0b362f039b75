// Helper program for the configuration start-up tests: loads the
// configuration as a program of subsystem TOOL would, then prints what the
// tests ask about, one line per item, on standard output.
//
//   config_probe [options] NAME...
//     --host H         config_host(H) instead of config(0)
//     --no-scan        config_host(null): no host, no placeholder scan
//     --quiet          config(1)
//     --twice          load twice in this process (a reconfiguration)
//     --fork-reconfig  load, fork, and let the child load again and print
//     --where          add the provenance of each NAME
//     --sources        print GLOBAL=, ROOT= and LOCALS= (sources read)
//     --env            NAMEs are environment variables, read after loading
//     --ad / --ad=P    fill an attribute list (prefix P) and print its
//                      attributes NAME instead of configuration values
//     --pids           print GETPID= and GETPPID= of the printing process
//
// Lines: "NAME=value" or "NAME undefined"; with --where " [file:line]" is
// appended; --env gives "NAME=value" or "NAME unset"; --ad gives the
// attribute's text or "NAME absent".
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include "classad/attr_list.h"
#include "config/config_fill_ad.h"
#include "config/config_startup.h"
#include "config/param.h"
#include "core/my_string.h"

const char *mySubSystem = "TOOL";

namespace {

struct Options {
    const char *host = nullptr;
    bool use_host = false;
    bool quiet = false;
    bool twice = false;
    bool fork_reconfig = false;
    bool where = false;
    bool sources = false;
    bool env = false;
    bool ad = false;
    const char *ad_prefix = nullptr;
    bool pids = false;
};

void load(const Options &opts) {
    if (opts.use_host) {
        config_host(opts.host);
    } else {
        config(opts.quiet ? 1 : 0);
    }
}

void print_param(const char *name, bool where) {
    char *value = param(name);
    if (value != nullptr) {
        printf("%s=%s", name, value);
    } else {
        printf("%s undefined", name);
    }
    free(value);
    if (where) {
        MyString file;
        int line = -1;
        param_get_location(name, file, line);
        printf(" [%s:%d]", file.Value(), line);
    }
    printf("\n");
}

void print_ad(const Options &opts, int count, char **names) {
    AttrList ad;
    config_fill_ad(&ad, opts.ad_prefix);
    for (int i = 0; i < count; i++) {
        char *text = ad.sPrintExpr(nullptr, 0, names[i]);
        if (text != nullptr) {
            printf("%s\n", text);
        } else {
            printf("%s absent\n", names[i]);
        }
        free(text);
    }
}

void print_results(const Options &opts, int count, char **names) {
    if (opts.pids) {
        printf("GETPID=%d\nGETPPID=%d\n", static_cast<int>(getpid()), static_cast<int>(getppid()));
    }
    if (opts.sources) {
        char *locals = local_config_sources.print_to_string();
        printf("GLOBAL=%s\nROOT=%s\nLOCALS=%s\n", global_config_source.Value(),
               global_root_config_source.Value(), locals != nullptr ? locals : "");
        free(locals);
    }
    if (opts.ad) {
        print_ad(opts, count, names);
        return;
    }
    for (int i = 0; i < count; i++) {
        if (opts.env) {
            const char *value = getenv(names[i]);
            if (value != nullptr) {
                printf("%s=%s\n", names[i], value);
            } else {
                printf("%s unset\n", names[i]);
            }
        } else {
            print_param(names[i], opts.where);
        }
    }
}

// Parses the options; returns the index of the first NAME, or -1.
int parse_options(int argc, char **argv, Options &opts) {
    int i = 1;
    for (; i < argc && strncmp(argv[i], "--", 2) == 0; i++) {
        const char *arg = argv[i];
        if (strcmp(arg, "--host") == 0 && i + 1 < argc) {
            opts.use_host = true;
            opts.host = argv[++i];
        } else if (strcmp(arg, "--no-scan") == 0) {
            opts.use_host = true;
        } else if (strcmp(arg, "--quiet") == 0) {
            opts.quiet = true;
        } else if (strcmp(arg, "--twice") == 0) {
            opts.twice = true;
        } else if (strcmp(arg, "--fork-reconfig") == 0) {
            opts.fork_reconfig = true;
        } else if (strcmp(arg, "--where") == 0) {
            opts.where = true;
        } else if (strcmp(arg, "--sources") == 0) {
            opts.sources = true;
        } else if (strcmp(arg, "--env") == 0) {
            opts.env = true;
        } else if (strcmp(arg, "--ad") == 0) {
            opts.ad = true;
        } else if (strncmp(arg, "--ad=", 5) == 0) {
            opts.ad = true;
            opts.ad_prefix = arg + 5;
        } else if (strcmp(arg, "--pids") == 0) {
            opts.pids = true;
        } else {
            fprintf(stderr, "config_probe: unknown option %s\n", arg);
            return -1;
        }
    }
    return i;
}

}  // namespace

int main(int argc, char **argv) {
    Options opts;
    int first = parse_options(argc, argv, opts);
    if (first < 0) {
        return 2;
    }
    load(opts);
    if (opts.twice) {
        load(opts);
    }
    if (opts.fork_reconfig) {
        fflush(stdout);
        pid_t child = fork();
        if (child < 0) {
            perror("fork");
            return 2;
        }
        if (child > 0) {
            int status = 0;
            waitpid(child, &status, 0);
            return WIFEXITED(status) ? WEXITSTATUS(status) : 3;
        }
        load(opts);
    }
    print_results(opts, argc - first, argv + first);
    fflush(stdout);
    return 0;
}
