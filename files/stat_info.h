// StatInfo: one snapshot of a file's status, taken at construction (by
// path, by descriptor, or by name in an open directory). The
// status follows symbolic links; IsSymlink tells whether the path itself is
// one. A call refused with EACCES is retried once as the service account
// (a process-wide identity switch for the length of that call). Failures
// are reported by Error()/Errno(), never by ending the program.
#ifndef TORVEL_FILES_STAT_INFO_H_
#define TORVEL_FILES_STAT_INFO_H_

#include <sys/stat.h>
#include <sys/types.h>
#include <time.h>

class StatWrapper;

// STAT_FAILED is also the value before the status was taken.
enum si_error_t {
    STAT_OK = 0,
    STAT_NO_FILE = 1,  // no such file or bad descriptor
    STAT_FAILED = 2,   // any other failure
};

class StatInfo {
 public:
    // The last '/' or '\\' splits path into dir_path (kept up to and
    // including it) and base_name (what follows; null when nothing does).
    // A null path takes no status: STAT_FAILED with errno EINVAL.
    explicit StatInfo(const char *path);
    // REQUIRES: dir and name not null.
    StatInfo(const char *dir, const char *name);
    // The entry name of the directory open as dir_fd, named as by
    // StatInfo(dir, name) but reached through the descriptor, so that no
    // component of dir is looked up again. GetMode's second look goes by
    // the full path. REQUIRES: dir and name not null.
    StatInfo(int dir_fd, const char *dir, const char *name);
    explicit StatInfo(int fd);
    ~StatInfo();

    // Owns its path arrays; a copy would free them twice.
    StatInfo(const StatInfo &) = delete;
    StatInfo &operator=(const StatInfo &) = delete;

    si_error_t Error() const { return error; }
    int Errno() const { return error_number; }
    // Borrowed: valid while this object lives. Null when built from a
    // descriptor (and BaseName also when the path ends in a separator).
    const char *FullPath() const { return full_path; }
    const char *BaseName() const { return base_name; }
    const char *DirPath() const { return dir_path; }
    bool IsDirectory() const { return is_directory; }
    bool IsExecutable() const { return is_executable; }
    bool IsSymlink() const { return is_symlink; }
    uid_t GetOwner() const { return owner; }
    gid_t GetGroup() const { return group; }
    off_t GetFileSize() const { return size; }
    time_t GetAccessTime() const { return atime; }
    time_t GetModifyTime() const { return mtime; }
    time_t GetChangeTime() const { return ctime; }
    // When no status is held, takes it again first (of the path, or of the
    // descriptor for an object built from one); 0 if that fails too.
    mode_t GetMode();

 private:
    void stat_file(const char *path);
    void stat_file(int fd);
    // name in the directory open as dir_fd (AT_FDCWD: a path).
    void stat_entry(int dir_fd, const char *name);
    // Completes a status call: the permission retry, the failure report or
    // the facts. link_name (in dir_fd) is what the link test examines; null
    // for a descriptor.
    void finish(StatWrapper &call, int dir_fd, const char *link_name);
    void reset();
    // The facts of a status taken; link says whether the path is a link.
    void keep(const struct stat64 &buf, bool link);

    si_error_t error;
    int error_number;
    bool is_directory;
    bool is_executable;
    bool is_symlink;
    time_t atime;
    time_t mtime;
    time_t ctime;
    uid_t owner;
    gid_t group;
    bool mode_valid;
    mode_t mode;
    off_t size;
    char *dir_path;   // new[]
    char *base_name;  // new[]
    char *full_path;  // new[]
    int fd_;          // the descriptor; -1 when built from a path
};

// dir with a '/' added unless it already ends in one; an empty dir stays
// empty (a relative name needs no separator in front). Caller delete[]s.
// REQUIRES: dir not null.
char *make_dirpath(const char *dir);

#endif  // TORVEL_FILES_STAT_INFO_H_
