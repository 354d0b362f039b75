// Test program linked with file_lock.o alone. It supplies what the object
// expects from its program:
//   flock   scripted by argv[3]: a comma-separated list of outcomes, one per
//           call (0, EINTR, ENOLCK, EWOULDBLOCK; the last repeats), or "real"
//           for the kernel's flock
//   param   IGNORE_NFS_LOCK_ERRORS from the environment, in a fresh heap
//           block large enough to be mapped on its own, so that freeing it
//           shows in the allocator's statistics
//   dprintf records its calls
// Usage: file_lock_probe TYPE BLOCK SCRIPT [PATH]; PATH defaults to
// /dev/null. Prints key=value lines for objects_tests.
#include <errno.h>
#include <fcntl.h>
#include <malloc.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "files/lock_file.h"

namespace {
std::vector<int> script;  // errno per call, 0 = success
bool real_flock = false;
std::string operations;
int flock_calls = 0;

int param_calls = 0;
std::string param_names;
constexpr size_t kParamBlock = 1 << 20;  // above the allocator's mmap threshold

int dprintf_calls = 0;
int dprintf_flags = 0;
char dprintf_text[256];

int errno_from_name(const std::string &name) {
    if (name == "0") return 0;
    if (name == "EINTR") return EINTR;
    if (name == "ENOLCK") return ENOLCK;
    if (name == "EWOULDBLOCK") return EWOULDBLOCK;
    return -1;
}
}  // namespace

extern "C" int flock(int fd, int operation) noexcept {
    if (!operations.empty()) {
        operations += ',';
    }
    operations += std::to_string(operation);
    int call = flock_calls++;
    if (real_flock) {
        return static_cast<int>(syscall(SYS_flock, fd, operation));
    }
    int error = script[static_cast<size_t>(call) < script.size() ? call : script.size() - 1];
    if (error == 0) {
        return 0;
    }
    errno = error;
    return -1;
}

extern "C" char *param(const char *name) {
    ++param_calls;
    if (!param_names.empty()) {
        param_names += ',';
    }
    param_names += name;
    const char *value = getenv(name);
    if (value == nullptr) {
        return nullptr;
    }
    char *copy = static_cast<char *>(malloc(kParamBlock));
    if (copy == nullptr) {
        return nullptr;
    }
    snprintf(copy, kParamBlock, "%s", value);
    return copy;
}

extern "C" int dprintf(int flags, const char *format, ...) {
    ++dprintf_calls;
    dprintf_flags = flags;
    va_list args;
    va_start(args, format);
    vsnprintf(dprintf_text, sizeof dprintf_text, format, args);
    va_end(args);
    return 0;
}

int main(int argc, char **argv) {
    if (argc < 4) {
        fprintf(stderr, "usage: %s TYPE BLOCK SCRIPT [PATH]\n", argv[0]);
        return 2;
    }
    int type = atoi(argv[1]);
    bool block = atoi(argv[2]) != 0;
    std::string list = argv[3];
    if (list == "real") {
        real_flock = true;
    } else {
        size_t start = 0;
        for (;;) {
            size_t comma = list.find(',', start);
            int error = errno_from_name(list.substr(start, comma - start));
            if (error < 0) {
                fprintf(stderr, "unknown outcome in %s\n", argv[3]);
                return 2;
            }
            script.push_back(error);
            if (comma == std::string::npos) {
                break;
            }
            start = comma + 1;
        }
    }
    const char *path = argc > 4 ? argv[4] : "/dev/null";
    int fd = open(path, O_RDONLY);
    if (fd < 0) {
        perror(path);
        return 2;
    }
    printf("fd=%d\n", fd);  // also sets up stdout before the heap is measured

    size_t mapped_before = mallinfo2().hblkhd;
    errno = 0;
    int result = lock_file(fd, type, block);
    int error = errno;
    size_t mapped_after = mallinfo2().hblkhd;

    printf("result=%d\nerrno=%d\nflock_calls=%d\noperations=%s\n", result, error, flock_calls,
           operations.c_str());
    printf("param_calls=%d\nparam_names=%s\nparam_leaked=%d\n", param_calls, param_names.c_str(),
           mapped_after != mapped_before ? 1 : 0);
    printf("dprintf_calls=%d\ndprintf_flags=%#x\ndprintf_text=%s\n", dprintf_calls,
           static_cast<unsigned>(dprintf_flags), dprintf_text);
    close(fd);
    return 0;
}
