// Path and file helpers shared by the library: joining and splitting paths
// ('/' and '\\' both split), temporary files, tests on one path, an
// ownership change of a whole tree, an access test with the effective ids,
// renaming for log rotation and a whole-file lock on record locks.
//
// The library also defines the C names basename (as torvel_basename below)
// and flock (below), which take the place of the C library's functions of
// those names in every program linking the library. basename is not
// declared here, since <string.h> declares it differently in C++. The
// allocating dirname is only available as torvel_dirname: under the C name
// it would break every other caller of the platform's dirname.
#ifndef TORVEL_FILES_PATH_HELPERS_H_
#define TORVEL_FILES_PATH_HELPERS_H_

// <sys/file.h> first: it declares flock (noexcept in C++), and LOCK_*.
#include <sys/file.h>
#include <sys/types.h>

// ---- Paths ----

// dir, a '/' unless dir already ends in one, and name. An empty dir yields
// name alone (never "/name"). Caller delete[]s.
// REQUIRES: dir and name not null.
char *dircat(const char *dir, const char *name);

// Pointer into path just after its last '/' or '\\' (path itself without
// one); "" (static) for null.
const char *torvel_basename(const char *path);

// Everything before the last '/' or '\\'; the separator alone when it is
// the first character; "." without a separator or for null. Caller free()s.
char *torvel_dirname(const char *path);

// True when path begins with '/' or '\\', or with a drive letter, ':' and
// '/' or '\\'; false for null.
bool fullpath(const char *path);

// ---- Temporary files ----

// The configuration value TMP_DIR, else TEMP_DIR, else "/tmp". Caller
// free()s.
char *temp_dir_path();

// Creates a new empty file of mode 0600 named "<dir>/tmp.<pid>.<time>" in
// temp_dir_path(), trying up to 9 successive times; the name is created
// exclusively, so an existing file or a planted link there is skipped,
// never opened. The path (malloc, caller free()s), or null.
char *create_temp_file();

// ---- Tests on one path ----

// Whether path is a directory (a link counts as its target). False for a
// missing path; other failures also log.
bool IsDirectory(const char *path);
// Whether path itself is a symbolic link whose target exists.
bool IsSymlink(const char *path);
// The owner and group of path; false (outputs untouched) when it cannot be
// examined.
bool GetIds(const char *path, uid_t *uid, gid_t *gid);

// Tests access by trying it with the effective ids: mode bits 4 read (a
// trial open), 2 write (a trial open for appending, so directories fail),
// 1 execute (any execute bit of the mode). 0 when allowed, else -1 with
// errno set (EINVAL for a null path or a mode of 8 or more).
int access_euid(const char *path, int mode);

// ---- Ownership ----

// Changes the owner of path and of everything below it from src_uid to
// dst_uid/dst_gid, children before their directory, as root. A path owned
// by neither src_uid nor dst_uid stops the change (what was changed stays
// changed, so a second run can finish it). Symbolic links are changed
// themselves, never followed or descended into. Without the ability to
// switch ids: true (nothing done) with allow_non_root, else false.
bool recursive_chown(const char *path, uid_t src_uid, uid_t dst_uid, gid_t dst_gid,
                     bool allow_non_root);
// The by-name form: does nothing and returns false.
bool recursive_chown(const char *path, const char *user, const char *group);

// ---- Files ----

// Renames old_path to new_path (atomically replacing it). 0, or -1 after a
// D_ALWAYS line.
int rotate_file(const char *old_path, const char *new_path);

// Returns mode; there is no other effect. Callers save and restore a mode
// with it around password-database lookups.
int SetSyscalls(int mode);

// A lock on the whole of fd's file, held as a record lock (so it is also
// seen by fcntl lockers and released when any descriptor of the file closes
// in this process). op: LOCK_SH 1, LOCK_EX 2, LOCK_UN 8, checked in that
// order, plus LOCK_NB 4 not to wait. 0, or -1 with errno (EINVAL when none
// of the three is set; EAGAIN or EACCES when LOCK_NB finds the lock held).
extern "C" int flock(int fd, int op) noexcept;

#endif  // TORVEL_FILES_PATH_HELPERS_H_
