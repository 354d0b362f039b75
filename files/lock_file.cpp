// lock_file: flock with retry on EINTR and the IGNORE_NFS_LOCK_ERRORS
// tolerance for ENOLCK. Also built alone into the relocatable object
// file_lock, so it calls nothing but flock, param and dprintf (which the
// program linking that object supplies) and the C library. flock is found
// at link time: the C library's, or the library's own when it has one.
#include "files/lock_file.h"

#include <errno.h>
#include <stdlib.h>
#include <sys/file.h>

#include "config/param.h"
#include "diagnostics/debug_log.h"

namespace {
// The flock operation for a lock type, or -1 for an unknown type.
int lock_operation(int type) {
    switch (type) {
        case SHARED_LOCK:
            return LOCK_SH;
        case EXCLUSIVE_LOCK:
            return LOCK_EX;
        case RELEASE_LOCK:
        case 8:
            return LOCK_UN;
        default:
            return -1;
    }
}

// True when IGNORE_NFS_LOCK_ERRORS is defined and begins with Y, y, T or t.
bool ignore_nfs_lock_errors() {
    char *value = param("IGNORE_NFS_LOCK_ERRORS");
    if (value == nullptr) {
        return false;
    }
    char first = value[0];
    free(value);
    return first == 'Y' || first == 'y' || first == 'T' || first == 't';
}
}  // namespace

extern "C" int lock_file(int fd, int type, bool do_block) {
    int operation = lock_operation(type);
    if (operation < 0) {
        return -1;
    }
    if (!do_block) {
        operation |= LOCK_NB;
    }
    for (;;) {
        if (flock(fd, operation) == 0) {
            return 0;
        }
        if (errno != EINTR) {
            break;
        }
    }
    if (errno != ENOLCK) {
        return -1;
    }
    if (ignore_nfs_lock_errors()) {
        // Called whatever the category: the object carries no debug globals.
        (dprintf)(D_FULLDEBUG, "Ignoring error ENOLCK on fd %i\n", fd);
        return 0;
    }
    // Reading the configuration may have changed errno.
    errno = ENOLCK;
    return -1;
}
