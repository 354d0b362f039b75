// recursive_chown: hands a whole tree from one owner to another, as root,
// children before their directory. Each path is held by an O_PATH
// descriptor opened without following a final link; its owner is checked
// and changed through that descriptor, and its entries are reached from
// it. So a symbolic link anywhere in the tree is changed itself (its
// target keeps its owner) and never descended into, and an entry swapped
// for a link while the walk runs is not followed either.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "diagnostics/debug_log.h"
#include "diagnostics/except.h"
#include "files/path_helpers.h"
#include "identity/privileges.h"

namespace {

struct ChownRequest {
    uid_t src_uid;
    uid_t dst_uid;
    gid_t dst_gid;
};

bool chown_entry(int parent_fd, const char *name, const char *path, const ChownRequest &req);

void log_failure(const char *path, const ChownRequest &req) {
    dprintf(D_ALWAYS, "Error: Unable to chown '%s' from %d to %d.%d\n", path,
            static_cast<int>(req.src_uid), static_cast<int>(req.dst_uid),
            static_cast<int>(req.dst_gid));
}

// Applies chown_entry to every entry of the directory held by dir_fd
// (printable name path); stops at the first failure.
bool chown_children(int dir_fd, const char *path, const ChownRequest &req) {
    int list_fd = openat(dir_fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (list_fd < 0) {
        return false;
    }
    DIR *dir = fdopendir(list_fd);
    if (dir == nullptr) {
        close(list_fd);
        return false;
    }
    bool ok = true;
    struct dirent *entry;
    while (ok) {
        errno = 0;
        entry = readdir(dir);
        if (entry == nullptr) {
            ok = errno == 0;
            break;
        }
        if (strcmp(entry->d_name, ".") == 0 || strcmp(entry->d_name, "..") == 0) {
            continue;
        }
        char *child = dircat(path, entry->d_name);
        ok = chown_entry(dirfd(dir), entry->d_name, child, req);
        delete[] child;
    }
    closedir(dir);
    return ok;
}

// The guarded change of the file held by fd (printable name path).
bool chown_held(int fd, const char *path, const ChownRequest &req) {
    ASSERT(get_priv() == PRIV_ROOT);
    struct stat64 buf;
    if (fstat64(fd, &buf) != 0) {
        dprintf(D_ALWAYS,
                "Attempting to chown '%s', but encountered an error inspecting it (errno %d)\n",
                path, errno);
        return false;
    }
    if (buf.st_uid != req.src_uid && buf.st_uid != req.dst_uid) {
        dprintf(D_ALWAYS,
                "Attempting to chown '%s' from %d to %d.%d, but the path was unexpectedly owned by "
                "%d\n",
                path, static_cast<int>(req.src_uid), static_cast<int>(req.dst_uid),
                static_cast<int>(req.dst_gid), static_cast<int>(buf.st_uid));
        return false;
    }
    // S_ISDIR of the entry itself: a link is never a directory here.
    if (S_ISDIR(buf.st_mode) && !chown_children(fd, path, req)) {
        return false;
    }
    // On an O_PATH descriptor of a link this changes the link itself.
    return fchownat(fd, "", req.dst_uid, req.dst_gid, AT_EMPTY_PATH) == 0;
}

// Opens name in parent_fd without following a final link and applies the
// guarded change; logs the failure of this path.
bool chown_entry(int parent_fd, const char *name, const char *path, const ChownRequest &req) {
    int fd = openat(parent_fd, name, O_PATH | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT) {
            dprintf(D_ALWAYS, "Attempting to chown '%s', but it doesn't appear to exist.\n", path);
        } else {
            dprintf(D_ALWAYS,
                    "Attempting to chown '%s', but encountered an error inspecting it (errno %d)\n",
                    path, errno);
        }
        log_failure(path, req);
        return false;
    }
    bool ok = chown_held(fd, path, req);
    close(fd);
    if (!ok) {
        log_failure(path, req);
    }
    return ok;
}

// The guarded change of the caller's path. Trailing separators are dropped
// first, since "link/" would make the open follow the link.
bool chown_top(const char *path, const ChownRequest &req) {
    size_t len = strlen(path);
    while (len > 1 && path[len - 1] == '/') {
        len--;
    }
    char *name = strndup(path, len);
    if (name == nullptr) {
        log_failure(path, req);
        return false;
    }
    bool ok = chown_entry(AT_FDCWD, name, path, req);
    free(name);
    return ok;
}

}  // namespace

bool recursive_chown(const char *path, uid_t src_uid, uid_t dst_uid, gid_t dst_gid,
                     bool allow_non_root) {
    ASSERT(path != nullptr);
    if (can_switch_ids()) {
        ChownRequest req = {src_uid, dst_uid, dst_gid};
        priv_state previous = _set_priv(PRIV_ROOT, __FILE__, __LINE__, 1);
        bool ok = chown_top(path, req);
        _set_priv(previous, __FILE__, __LINE__, 1);
        return ok;
    }
    if (allow_non_root) {
        dprintf(D_FULLDEBUG,
                "Unable to chown %s from %d to %d.%d.  Process lacks the ability to change UIDs "
                "(probably isn't root).  This is probably harmless.  Skipping chown attempt.\n",
                path, static_cast<int>(src_uid), static_cast<int>(dst_uid),
                static_cast<int>(dst_gid));
        return true;
    }
    dprintf(D_ALWAYS, "Error: Unable to chown %s to from %d %d.%d; we're not root.\n", path,
            static_cast<int>(src_uid), static_cast<int>(dst_uid), static_cast<int>(dst_gid));
    return false;
}

bool recursive_chown(const char *path, const char *user, const char *group) {
    return false;
}
