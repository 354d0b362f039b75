// Whole-file locks with retry on interruption and an optional tolerance for
// locking failures on network file systems. Also built alone into the
// relocatable object file_lock, for programs that supply flock, param and
// dprintf themselves; the function has C linkage so its name stays plain.
#ifndef TORVEL_FILES_LOCK_FILE_H_
#define TORVEL_FILES_LOCK_FILE_H_

#ifndef __cplusplus
#include <stdbool.h>
#endif

// Lock types. A type of 8 is also taken as a release.
#define SHARED_LOCK 0
#define EXCLUSIVE_LOCK 1
#define RELEASE_LOCK 2

#ifdef __cplusplus
extern "C" {
#endif

// Takes (SHARED_LOCK, EXCLUSIVE_LOCK) or releases (RELEASE_LOCK, 8) the lock
// on the whole file open as fd, waiting for a held lock when do_block is
// true. Interrupted calls are retried. Returns 0 on success, and also for an
// ENOLCK failure when the configuration value IGNORE_NFS_LOCK_ERRORS begins
// with Y, y, T or t (logged at D_FULLDEBUG); -1 otherwise, with errno as the
// lock call left it (EWOULDBLOCK for a non-blocking request on a held lock),
// and -1 at once for any other type.
int lock_file(int fd, int type, bool do_block);

#ifdef __cplusplus
}
#endif

#endif  // TORVEL_FILES_LOCK_FILE_H_
