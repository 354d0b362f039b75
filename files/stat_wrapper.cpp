// StatWrapper: performs and remembers one status call by path, by
// descriptor or by name in an open directory (see stat_wrapper.h).
#include "files/stat_wrapper.h"

#include <errno.h>
#include <stdlib.h>
#include <string.h>

namespace {
// The call names; Retry tells the two kinds apart by these pointers.
const char kStatFn[] = "stat64";
const char kFstatFn[] = "fstat64";
const char kFstatatFn[] = "fstatat64";
}  // namespace

StatWrapper::StatWrapper(const char *p)
    : stat_fn(kStatFn), status(-1), error_number(0), fd(-1), path(nullptr) {
    memset(&stat_buf, 0, sizeof stat_buf);
    DoStat(p);
}

StatWrapper::StatWrapper(int descriptor)
    : stat_fn(kFstatFn), status(-1), error_number(0), fd(-1), path(nullptr) {
    memset(&stat_buf, 0, sizeof stat_buf);
    DoStat(descriptor);
}

StatWrapper::StatWrapper(int dir_fd, const char *name)
    : stat_fn(kFstatatFn), status(-1), error_number(0), fd(-1), path(nullptr) {
    memset(&stat_buf, 0, sizeof stat_buf);
    DoStat(dir_fd, name);
}

StatWrapper::~StatWrapper() {
    free(path);
}

int StatWrapper::DoStat(const char *p) {
    if (p != path) {
        char *copy = p != nullptr ? strdup(p) : nullptr;
        free(path);
        path = copy;
    }
    fd = -1;
    return stat_path();
}

int StatWrapper::DoStat(int descriptor) {
    free(path);
    path = nullptr;
    fd = descriptor;
    return stat_fd();
}

int StatWrapper::DoStat(int dir_fd, const char *name) {
    if (name != path) {
        char *copy = name != nullptr ? strdup(name) : nullptr;
        free(path);
        path = copy;
    }
    fd = dir_fd;
    return stat_at();
}

int StatWrapper::Retry() {
    if (stat_fn == kFstatFn) {
        return stat_fd();
    }
    return stat_fn == kFstatatFn ? stat_at() : stat_path();
}

int StatWrapper::stat_path() {
    stat_fn = kStatFn;
    if (path == nullptr) {
        status = -1;
        error_number = EINVAL;
        return status;
    }
    errno = 0;
    status = stat64(path, &stat_buf);
    error_number = errno;
    return status;
}

int StatWrapper::stat_fd() {
    stat_fn = kFstatFn;
    errno = 0;
    status = fstat64(fd, &stat_buf);
    error_number = errno;
    return status;
}

int StatWrapper::stat_at() {
    stat_fn = kFstatatFn;
    if (path == nullptr) {
        status = -1;
        error_number = EINVAL;
        return status;
    }
    errno = 0;
    status = fstatat64(fd, path, &stat_buf, 0);
    error_number = errno;
    return status;
}
