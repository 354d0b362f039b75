// StatWrapper: performs and remembers one status call by path or by
// descriptor (see stat_wrapper.h).
#include "files/stat_wrapper.h"

#include <errno.h>
#include <stdlib.h>
#include <string.h>

namespace {
// The call names; Retry tells the two kinds apart by these pointers.
const char kStatFn[] = "stat64";
const char kFstatFn[] = "fstat64";
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

int StatWrapper::Retry() {
    return stat_fn == kFstatFn ? stat_fd() : stat_path();
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
