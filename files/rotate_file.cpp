// Renaming a file into place for log rotation. rename replaces the target
// atomically: a reader of new_path sees the old file or the new one, never
// a missing or partial one.
#include <errno.h>
#include <stdio.h>

#include "diagnostics/debug_log.h"
#include "files/path_helpers.h"

int rotate_file(const char *old_path, const char *new_path) {
    if (rename(old_path, new_path) != 0) {
        int saved = errno;
        dprintf(D_ALWAYS, "rename(%s, %s) failed with errno %d\n", old_path, new_path, saved);
        errno = saved;
        return -1;
    }
    return 0;
}
