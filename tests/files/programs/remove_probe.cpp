// Helper for the Directory tests: drops every id to 4700 before the library
// settles whether ids can be switched, then removes the entry argv[2] of the
// directory argv[1] with a Directory asked to work as root, and prints the
// lines logged and the result. Exits 2 when it cannot drop its ids.
#include <stdio.h>
#include <unistd.h>

#include "config/subsystem.h"
#include "diagnostics/debug_log.h"
#include "files/directory.h"

const char *mySubSystem = "TOOL";

int main(int argc, char **argv) {
    if (argc != 3 || setgid(4700) != 0 || setuid(4700) != 0) {
        return 2;
    }
    DebugFP = stdout;
    DebugFlags = static_cast<int>(D_ALWAYS | D_FULLDEBUG | D_NOHEADER);
    _torvel_dprintf_works = 1;
    Directory dir(argv[1], PRIV_ROOT);
    bool removed = dir.Remove_Entry(argv[2]);
    printf("removed: %d\n", removed ? 1 : 0);
    return 0;
}
