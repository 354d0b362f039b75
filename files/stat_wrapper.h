// StatWrapper: one status call (stat64 by path, fstat64 by descriptor, or
// fstatat64 of a name in an open directory) with its result and errno kept, so that the same call
// can be repeated later, for instance under another identity. Touches no process-wide state.
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
    // name (a final link followed) in the directory open as dir_fd, which
    // must stay open for Retry.
    StatWrapper(int dir_fd, const char *name);
    ~StatWrapper();

    // Owns its copy of the path; a copy would free it twice.
    StatWrapper(const StatWrapper &) = delete;
    StatWrapper &operator=(const StatWrapper &) = delete;

    // Make the call on path (copied) or fd, which Retry then repeats.
    // Return the call's result, 0 or -1.
    int DoStat(const char *path);
    int DoStat(int fd);
    int DoStat(int dir_fd, const char *name);
    // Repeats the last call, by path, descriptor or name as it was made.
    int Retry();

    // Static text: "stat64", "fstat64" or "fstatat64".
    const char *GetStatFn() const { return stat_fn; }
    int GetStatus() const { return status; }
    int GetErrno() const { return error_number; }
    // Meaningful only when GetStatus() is 0. Borrowed: lives with this object.
    const struct stat64 &GetStatBuf() const { return stat_buf; }

 private:
    int stat_path();
    int stat_fd();
    int stat_at();

    struct stat64 stat_buf;
    const char *stat_fn;
    int status;
    int error_number;
    int fd;      // the descriptor, or the directory of an fstatat64 call
    char *path;  // strdup'd (the name, for fstatat64); null for a descriptor
};

#endif  // TORVEL_FILES_STAT_WRAPPER_H_
