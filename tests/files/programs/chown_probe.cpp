// Helper for the recursive_chown tests: drops every id to 4700 before the
// library settles whether ids can be switched, then runs recursive_chown
// on argv[1] with and without allow_non_root and prints each result and
// the lines logged. Exits 2 when it cannot drop its ids.
#include <stdio.h>
#include <unistd.h>

#include "config/subsystem.h"
#include "diagnostics/debug_log.h"
#include "files/path_helpers.h"

const char *mySubSystem = "TOOL";

int main(int argc, char **argv) {
    if (argc != 2 || setgid(4700) != 0 || setuid(4700) != 0) {
        return 2;
    }
    DebugFP = stdout;
    DebugFlags = static_cast<int>(D_ALWAYS | D_FULLDEBUG | D_NOHEADER);
    _torvel_dprintf_works = 1;
    bool allowed = recursive_chown(argv[1], 4601, 4602, 4603, true);
    printf("allowed: %d\n", allowed ? 1 : 0);
    fflush(stdout);
    bool refused = recursive_chown(argv[1], 4601, 4602, 4603, false);
    printf("refused: %d\n", refused ? 1 : 0);
    return 0;
}
