// The exec road of the brokering layer: hand the socket table over in the
// environment, then exec through the wrapper (which, entered from the
// dispatch, reaches the system). Writes the process environment.
#include <errno.h>
#include <stdarg.h>
#include <stdlib.h>
#include <unistd.h>

#include "nbx/generic_log.h"
#include "nbx/inherit.h"
#include "nbx/nbx_ops.h"
#include "nbx/sock_table.h"
#include "nbx/wrappers.h"

#define NBX_LOG_MODULE "execv"

extern char **environ;

namespace {

const int kExeclFirstRoom = 20;
const int kExeclGrowth = 5;

}  // namespace

extern "C" {

void inheritCBsockets(void) {
    if (!_CB_initialized) _CB_initialize();
    _CB_inheritTo();
}

int NBX_execv(const char *path, char * const argv[]) {
    inheritCBsockets();
    return __wrap_execv(path, argv);
}

int NBX_execve(const char *path, char * const argv[], char * const envp[]) {
    char **environment_before = environ;
    inheritCBsockets();
    // Adding the hand-over variable may have moved the environment array; a
    // caller that passed its own environment gets it as it is now.
    char * const *pass = envp == environment_before ? environ : envp;
    return __wrap_execve(path, argv, pass);
}

int NBX_execl(const char *path, const char *arg, ...) {
    int room = kExeclFirstRoom;
    char **argv = static_cast<char **>(malloc(room * sizeof(char *)));
    if (argv == nullptr) NBX_ABORT("malloc failed");
    va_list args;
    va_start(args, arg);
    int count = 0;
    const char *current = arg;
    for (;;) {
        if (count == room) {
            room += kExeclGrowth;
            char **grown = static_cast<char **>(realloc(argv, room * sizeof(char *)));
            if (grown == nullptr) NBX_ABORT("realloc failed");
            argv = grown;
        }
        argv[count++] = const_cast<char *>(current);
        if (current == nullptr) break;
        current = va_arg(args, const char *);
    }
    va_end(args);
    inheritCBsockets();
    int result = __wrap_execv(path, argv);
    int saved_errno = errno;
    free(argv);
    errno = saved_errno;
    return result;
}

}  // extern "C"
