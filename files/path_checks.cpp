// Tests on one path: IsDirectory, IsSymlink and GetIds (each a StatInfo,
// with its permission retry), and access_euid, which tries the access with
// the effective ids and so takes the status without any identity switch.
#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "diagnostics/debug_log.h"
#include "files/path_helpers.h"
#include "files/stat_info.h"

namespace {

// A trial open with the effective ids. It never creates the file (it may
// have gone since its status was taken) and never waits on a FIFO or takes
// a terminal.
bool try_open(const char *path, int flags) {
    int fd = open(path, flags | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == 0) {
            dprintf(D_ALWAYS,
                    "WARNING: fopen() failed, but errno is still 0!  Beware of misleading error "
                    "messages\n");
        }
        return false;
    }
    close(fd);
    return true;
}

}  // namespace

bool IsDirectory(const char *path) {
    if (path == nullptr) {
        return false;
    }
    StatInfo info(path);
    if (info.Error() == STAT_FAILED) {
        dprintf(D_ALWAYS, "IsDirectory: Error in stat(%s), errno: %d\n", path, info.Errno());
    }
    return info.Error() == STAT_OK && info.IsDirectory();
}

bool IsSymlink(const char *path) {
    if (path == nullptr) {
        return false;
    }
    StatInfo info(path);
    if (info.Error() == STAT_FAILED) {
        dprintf(D_ALWAYS, "IsSymlink: Error in stat(%s), errno: %d\n", path, info.Errno());
    }
    return info.Error() == STAT_OK && info.IsSymlink();
}

bool GetIds(const char *path, uid_t *uid, gid_t *gid) {
    if (path == nullptr) {
        return false;
    }
    StatInfo info(path);
    if (info.Error() == STAT_FAILED) {
        dprintf(D_ALWAYS, "GetIds: Error in stat(%s), errno: %d (%s)\n", path, info.Errno(),
                strerror(info.Errno()));
    }
    if (info.Error() != STAT_OK) {
        return false;
    }
    *uid = info.GetOwner();
    *gid = info.GetGroup();
    return true;
}

int access_euid(const char *path, int mode) {
    errno = 0;
    if (path == nullptr || mode < 0 || mode >= 8) {
        errno = EINVAL;
        return -1;
    }
    struct stat64 buf;
    if (stat64(path, &buf) != 0) {
        if (errno == 0) {
            dprintf(D_ALWAYS,
                    "WARNING: stat() failed, but errno is still 0!  Beware of misleading error "
                    "messages\n");
        }
        return -1;
    }
    if ((mode & R_OK) && !try_open(path, O_RDONLY)) {
        return -1;
    }
    if ((mode & W_OK) && !try_open(path, O_WRONLY | O_APPEND)) {
        return -1;
    }
    if ((mode & X_OK) && (buf.st_mode & 0111) == 0) {
        errno = EACCES;
        return -1;
    }
    return 0;
}
