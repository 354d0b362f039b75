// Helper program for the brokering-layer tests: started by exec through the
// layer, it prints what it received, one item per line: "pid=", "argc=",
// "arg=" per argument, "env=" per environment entry, and "sigpipe=ignored"
// or "sigpipe=default". Exits 0. It never uses the brokering layer itself.
#include <signal.h>
#include <stdio.h>
#include <unistd.h>

const char *mySubSystem = "TOOL";

extern char **environ;

int main(int argc, char **argv) {
    printf("pid=%ld\n", static_cast<long>(getpid()));
    printf("argc=%d\n", argc);
    for (int i = 0; i < argc; ++i) printf("arg=%s\n", argv[i]);
    for (char **entry = environ; *entry != nullptr; ++entry) printf("env=%s\n", *entry);
    struct sigaction action;
    sigaction(SIGPIPE, nullptr, &action);
    printf("sigpipe=%s\n", action.sa_handler == SIG_IGN ? "ignored" : "default");
    return 0;
}
