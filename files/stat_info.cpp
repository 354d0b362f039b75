// StatInfo: takes one file's status through a StatWrapper, retries a call
// refused with EACCES as the service account, and keeps the facts (see
// stat_info.h). The retry switches the process-wide privilege state and
// switches it back before returning.
#include "files/stat_info.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>

#include "core/allocation.h"
#include "core/strnewp.h"
#include "diagnostics/debug_log.h"
#include "diagnostics/except.h"
#include "files/path_helpers.h"
#include "files/stat_wrapper.h"
#include "identity/privileges.h"

namespace {

// Whether name in dir_fd itself, its final link not followed, is a
// symbolic link.
bool is_link(int dir_fd, const char *name) {
    struct stat64 buf;
    return fstatat64(dir_fd, name, &buf, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(buf.st_mode);
}

}  // namespace

StatInfo::StatInfo(const char *path)
    : dir_path(nullptr), base_name(nullptr), full_path(nullptr), fd_(-1) {
    reset();
    if (path == nullptr) {
        error_number = EINVAL;
        return;
    }
    full_path = strnewp(path);
    dir_path = strnewp(path);
    const char *last = nullptr;
    for (const char *p = path; *p != '\0'; p++) {
        if (*p == '/' || *p == '\\') {
            last = p;
        }
    }
    if (last != nullptr && last[1] != '\0') {
        base_name = strnewp(last + 1);
        dir_path[last - path + 1] = '\0';
    }
    stat_file(full_path);
}

StatInfo::StatInfo(const char *dir, const char *name)
    : dir_path(nullptr), base_name(nullptr), full_path(nullptr), fd_(-1) {
    ASSERT(dir != nullptr && name != nullptr);
    dir_path = make_dirpath(dir);
    base_name = strnewp(name);
    full_path = dircat(dir, name);
    stat_file(full_path);
}

StatInfo::StatInfo(int dir_fd, const char *dir, const char *name)
    : dir_path(nullptr), base_name(nullptr), full_path(nullptr), fd_(-1) {
    ASSERT(dir != nullptr && name != nullptr);
    dir_path = make_dirpath(dir);
    base_name = strnewp(name);
    full_path = dircat(dir, name);
    stat_entry(dir_fd, name);
}

StatInfo::StatInfo(int fd) : dir_path(nullptr), base_name(nullptr), full_path(nullptr), fd_(fd) {
    stat_file(fd);
}

StatInfo::~StatInfo() {
    delete[] dir_path;
    delete[] base_name;
    delete[] full_path;
}

mode_t StatInfo::GetMode() {
    if (!mode_valid) {
        if (full_path != nullptr) {
            stat_file(full_path);
        } else if (fd_ >= 0) {
            stat_file(fd_);
        }
    }
    return mode;
}

void StatInfo::reset() {
    error = STAT_FAILED;
    error_number = 0;
    is_directory = is_executable = is_symlink = mode_valid = false;
    atime = mtime = ctime = 0;
    owner = 0;
    group = 0;
    mode = 0;
    size = 0;
}

void StatInfo::stat_file(const char *path) {
    stat_entry(AT_FDCWD, path);
}

void StatInfo::stat_entry(int dir_fd, const char *name) {
    // For a name that is not a link, the record without following gives
    // the very record a following call would, so one call gives both the
    // facts and the link bit. Links and failures take the full road below.
    struct stat64 buf;
    if (fstatat64(dir_fd, name, &buf, AT_SYMLINK_NOFOLLOW) == 0 && !S_ISLNK(buf.st_mode)) {
        reset();
        keep(buf, false);
        return;
    }
    if (dir_fd == AT_FDCWD) {
        StatWrapper call(name);
        finish(call, dir_fd, name);
    } else {
        StatWrapper call(dir_fd, name);
        finish(call, dir_fd, name);
    }
}

void StatInfo::stat_file(int fd) {
    StatWrapper call(fd);
    finish(call, AT_FDCWD, nullptr);
}

void StatInfo::finish(StatWrapper &call, int dir_fd, const char *link_name) {
    reset();
    bool link = false;
    if (call.GetStatus() == 0) {
        link = link_name != nullptr && is_link(dir_fd, link_name);
    } else {
        error_number = call.GetErrno();
        if (error_number == EACCES) {
            // The link test runs under the same identity as the call that
            // succeeded, since the same directories must be searched.
            priv_state previous = _set_priv(PRIV_TORVEL, __FILE__, __LINE__, 1);
            if (call.Retry() == 0) {
                link = link_name != nullptr && is_link(dir_fd, link_name);
            } else {
                error_number = call.GetErrno();
            }
            _set_priv(previous, __FILE__, __LINE__, 1);
        }
    }
    if (call.GetStatus() != 0) {
        if (error_number == ENOENT || error_number == EBADF) {
            error = STAT_NO_FILE;
        } else if (full_path != nullptr) {
            dprintf(D_FULLDEBUG, "StatInfo::%s(%s) failed, errno: %d = %s\n", call.GetStatFn(),
                    full_path, error_number, strerror(error_number));
        } else {
            dprintf(D_FULLDEBUG, "StatInfo::%s(fd=%d) failed, errno: %d = %s\n", call.GetStatFn(),
                    fd_, error_number, strerror(error_number));
        }
        return;
    }
    keep(call.GetStatBuf(), link);
}

void StatInfo::keep(const struct stat64 &buf, bool link) {
    error = STAT_OK;
    atime = buf.st_atime;
    mtime = buf.st_mtime;
    ctime = buf.st_ctime;
    size = buf.st_size;
    mode = buf.st_mode;
    owner = buf.st_uid;
    group = buf.st_gid;
    mode_valid = true;
    is_directory = S_ISDIR(buf.st_mode);
    is_executable = (buf.st_mode & 0111) != 0;
    is_symlink = link;
}

char *make_dirpath(const char *dir) {
    ASSERT(dir != nullptr);
    size_t len = strlen(dir);
    char *result = new (torvel::or_die) char[len + 2];
    strcpy(result, dir);
    if (len > 0 && dir[len - 1] != '/') {
        result[len] = '/';
        result[len + 1] = '\0';
    }
    return result;
}
