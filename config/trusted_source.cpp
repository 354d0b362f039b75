// The ownership and mode check of files that steer a root process:
// configuration sources, their directories and plug-in libraries.
#include "config/trusted_source.h"

#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <pwd.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "config/distribution.h"
#include "config/param.h"
#include "config/well_known_names.h"
#include "core/my_string.h"
#include "diagnostics/debug_log.h"
#include "files/path_helpers.h"

namespace {

// The service account's uid as far as it can be told without settling the
// process's identities: this check runs while start-up is still filling
// the table, and learning the ids then (or ending the process because none
// are known yet) would be wrong. TORVEL_IDS from the environment, else
// from what the table holds so far (every source read before passed this
// check), else the distribution's own account. False when none names one.
bool known_service_uid(uid_t *uid) {
    const char *ids_name = EnvGetName(ENVIRON_IDS);
    const char *value = getenv(ids_name);
    char *from_config = nullptr;
    if (value == nullptr) {
        from_config = param(ids_name);
        value = from_config;
    }
    bool known = false;
    if (value != nullptr) {
        char *end = nullptr;
        errno = 0;
        long parsed = strtol(value, &end, 10);
        known = end != value && errno == 0 && parsed >= 0 && parsed < INT_MAX;
        if (known) {
            *uid = static_cast<uid_t>(parsed);
        }
    } else {
        struct passwd *pw = getpwnam(myDistro->Get());
        if (pw != nullptr) {
            *uid = pw->pw_uid;
            known = true;
        }
    }
    free(from_config);
    return known;
}

bool trusted_owner(uid_t owner) {
    if (owner == 0) {
        return true;
    }
    uid_t service = 0;
    return known_service_uid(&service) && owner == service;
}

// Checks the real path of a library and of its directory. False with
// *reason set.
bool trusted_library(const char *real, MyString *reason) {
    struct stat info;
    if (stat(real, &info) != 0) {
        reason->sprintf("cannot be examined: %s", strerror(errno));
        return false;
    }
    if (!_torvel_trusted_status(info, reason)) {
        return false;
    }
    char *dir = torvel_dirname(real);
    bool trusted = stat(dir, &info) == 0;
    if (!trusted) {
        reason->sprintf("its directory %s cannot be examined: %s", dir, strerror(errno));
    } else if (!_torvel_trusted_status(info, reason)) {
        MyString detail(*reason);
        reason->sprintf("its directory %s is %s", dir, detail.Value());
        trusted = false;
    }
    free(dir);
    return trusted;
}

}  // namespace

bool _torvel_root_privileges() {
    return geteuid() == 0;
}

bool _torvel_trusted_status(const struct stat &info, MyString *reason) {
    if (!_torvel_root_privileges()) {
        return true;
    }
    MyString ignored;
    MyString &why = reason != nullptr ? *reason : ignored;
    if (!trusted_owner(info.st_uid)) {
        why.sprintf("owned by uid %d, which is neither root nor the service account",
                    static_cast<int>(info.st_uid));
        return false;
    }
    // Writing to a character device (/dev/null, /dev/zero) does not change
    // what reading it gives, so its write bits do not matter.
    if (!S_ISCHR(info.st_mode) && (info.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        why.sprintf("writable by others (mode %04o)", static_cast<unsigned>(info.st_mode & 07777));
        return false;
    }
    return true;
}

int _torvel_check_trusted_fd(int fd, const char *path) {
    if (!_torvel_root_privileges()) {
        return 0;
    }
    struct stat info;
    MyString reason;
    if (fstat(fd, &info) != 0) {
        reason.sprintf("cannot be examined: %s", strerror(errno));
    } else if (_torvel_trusted_status(info, &reason)) {
        return 0;
    }
    fprintf(stderr, "Configuration Error File <%s>: not read while running as root: %s\n", path,
            reason.Value());
    return -1;
}

void *_torvel_dlopen_trusted(const char *path, int flags) {
    if (path == nullptr) {
        return nullptr;
    }
    if (!_torvel_root_privileges()) {
        return dlopen(path, flags);
    }
    if (strchr(path, '/') == nullptr) {
        // dlopen would search the library path for it, and that search is
        // not checked here.
        dprintf(D_ALWAYS, "Library %s not loaded while running as root: not a path\n", path);
        return nullptr;
    }
    char *real = realpath(path, nullptr);
    if (real == nullptr) {
        return nullptr;  // does not exist: dlopen would fail as well
    }
    MyString reason;
    void *handle = nullptr;
    if (trusted_library(real, &reason)) {
        handle = dlopen(real, flags);
    } else {
        dprintf(D_ALWAYS, "Library %s (%s) not loaded while running as root: %s\n", path, real,
                reason.Value());
    }
    free(real);
    return handle;
}
