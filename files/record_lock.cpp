// flock on record locks: a lock on the whole file (from offset 0 to the
// end, however far the file grows) through fcntl. It takes the place of the
// C library's flock in programs linking the library, so its locks are the
// ones fcntl lockers and other hosts' lock managers see.
#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <unistd.h>

#include "files/path_helpers.h"

extern "C" int flock(int fd, int op) noexcept {
    struct flock lock;
    memset(&lock, 0, sizeof lock);
    if (op & LOCK_SH) {
        lock.l_type = F_RDLCK;
    } else if (op & LOCK_EX) {
        lock.l_type = F_WRLCK;
    } else if (op & LOCK_UN) {
        lock.l_type = F_UNLCK;
    } else {
        errno = EINVAL;
        return -1;
    }
    lock.l_whence = SEEK_SET;
    lock.l_start = 0;
    lock.l_len = 0;  // to the end
    return fcntl(fd, (op & LOCK_NB) ? F_SETLK : F_SETLKW, &lock);
}
