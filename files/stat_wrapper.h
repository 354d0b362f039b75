// StatWrapper: one status call (stat64 by path or fstat64 by descriptor)
// with its result and errno kept, so that the same call can be repeated
// later, for instance under another identity. Touches no process-wide state.
#ifndef TORVEL_FILES_STAT_WRAPPER_H_
#define TORVEL_FILES_STAT_WRAPPER_H_

#include <sys/stat.h>
#include <sys/types.h>

class StatWrapper {
 public:
    // Both make the call at once. A null path is refused without a call
    // (status -1, errno EINVAL).
    explicit StatWrapper(const char *path);
    explicit StatWrapper(int fd);
    ~StatWrapper();

    // Owns its copy of the path; a copy would free it twice.
    StatWrapper(const StatWrapper &) = delete;
    StatWrapper &operator=(const StatWrapper &) = delete;

    // Make the call on path (copied) or fd, which Retry then repeats.
    // Return the call's result, 0 or -1.
    int DoStat(const char *path);
    int DoStat(int fd);
    // Repeats the last call, by path or by descriptor as it was made.
    int Retry();

    // Static text: "stat64" or "fstat64".
    const char *GetStatFn() const { return stat_fn; }
    int GetStatus() const { return status; }
    int GetErrno() const { return error_number; }
    // Meaningful only when GetStatus() is 0. Borrowed: lives with this object.
    const struct stat64 &GetStatBuf() const { return stat_buf; }

 private:
    int stat_path();
    int stat_fd();

    struct stat64 stat_buf;
    const char *stat_fn;
    int status;
    int error_number;
    int fd;
    char *path;  // strdup'd; null when built from a descriptor
};

#endif  // TORVEL_FILES_STAT_WRAPPER_H_
