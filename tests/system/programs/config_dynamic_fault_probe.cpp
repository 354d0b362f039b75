// A program for the tests from outside of runtime and persistent settings:
// it runs as subsystem argv[1] and carries out the steps that follow, in
// order, printing one line per result on standard output (flushed after
// every step, so a killed run still shows what it did).
//
//   config_dynamic_fault_probe SUBSYS STEP...
//     log                 debug lines from now on go to standard error
//     alarm               SIGALRM every 2 ms, its handler installed
//                         without SA_RESTART, so slow calls see EINTR
//     load                config(0)
//     loads N             config(0) N times, then "loaded N"
//     setp ADMIN TEXT     set_persistent_config -> "setp ADMIN=<result>"
//     setr ADMIN TEXT     set_runtime_config    -> "setr ADMIN=<result>"
//     get NAME            "NAME=value" or "NAME undefined"
//
// A TEXT of "-" stands for a null configuration text.
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/time.h>

#include "config/config_startup.h"
#include "config/dynamic_config.h"
#include "config/param.h"
#include "diagnostics/debug_log.h"

const char *mySubSystem = "TOOL";

namespace {

volatile sig_atomic_t alarms = 0;

void on_alarm(int) {
    alarms = alarms + 1;
}

bool start_alarms() {
    struct sigaction action;
    memset(&action, 0, sizeof action);
    action.sa_handler = on_alarm;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no SA_RESTART: interrupted calls fail with EINTR
    struct itimerval every {
        {0, 2000}, { 0, 2000 }
    };
    return sigaction(SIGALRM, &action, nullptr) == 0 &&
           setitimer(ITIMER_REAL, &every, nullptr) == 0;
}

int set_dynamic(const char *kind, const char *admin, const char *text) {
    char *owned_text = strcmp(text, "-") == 0 ? nullptr : strdup(text);
    char *owned_admin = strdup(admin);
    return strcmp(kind, "setp") == 0 ? set_persistent_config(owned_admin, owned_text)
                                     : set_runtime_config(owned_admin, owned_text);
}

// Carries out the step at argv[i]; the index of the next step, or -1.
int step(int argc, char **argv, int i) {
    const char *name = argv[i];
    int left = argc - i - 1;
    if (strcmp(name, "log") == 0) {
        DebugFP = stderr;
        DebugFlags = D_ALWAYS;
        _torvel_dprintf_works = 1;
        return i + 1;
    }
    if (strcmp(name, "alarm") == 0) {
        return start_alarms() ? i + 1 : -1;
    }
    if (strcmp(name, "load") == 0) {
        config(0);
        return i + 1;
    }
    if (strcmp(name, "loads") == 0 && left >= 1) {
        long count = strtol(argv[i + 1], nullptr, 10);
        for (long n = 0; n < count; n++) {
            config(0);
        }
        printf("loaded %ld\n", count);
        return i + 2;
    }
    if (strcmp(name, "get") == 0 && left >= 1) {
        char *value = param(argv[i + 1]);
        if (value != nullptr) {
            printf("%s=%s\n", argv[i + 1], value);
        } else {
            printf("%s undefined\n", argv[i + 1]);
        }
        free(value);
        return i + 2;
    }
    if ((strcmp(name, "setp") == 0 || strcmp(name, "setr") == 0) && left >= 2) {
        printf("%s %s=%d\n", name, argv[i + 1], set_dynamic(name, argv[i + 1], argv[i + 2]));
        return i + 3;
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
        i = step(argc, argv, i);
        fflush(stdout);
        if (i < 0) {
            fprintf(stderr, "config_dynamic_fault_probe: bad step\n");
            return 2;
        }
    }
    return 0;
}
