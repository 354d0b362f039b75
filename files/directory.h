// Directory: walks the entries of one directory ("." and ".." skipped),
// keeping the status of the entry last returned. The stream is opened on
// first use and held until the object is destroyed.
#ifndef TORVEL_FILES_DIRECTORY_H_
#define TORVEL_FILES_DIRECTORY_H_

#include <dirent.h>
#include <sys/types.h>

#include "files/stat_info.h"
#include "identity/privileges.h"

class Directory {
 public:
    // REQUIRES: path is not null. Operations run as priv when ids can be
    // switched.
    Directory(const char *path, priv_state priv = PRIV_UNKNOWN);
    // Walks info's full path, whose owner is taken from info.
    Directory(StatInfo *info, priv_state priv = PRIV_UNKNOWN);
    ~Directory();

    // Owns its stream and path; a copy would close and free them twice.
    Directory(const Directory &) = delete;
    Directory &operator=(const Directory &) = delete;

    // Back to the first entry; false when the directory cannot be opened.
    bool Rewind();
    // Base name of the next entry, or null at the end. Borrowed: valid until
    // the next call.
    const char *Next();

    // Of the current entry: null, 0, false, false without one.
    const char *GetFullPath() const;
    off_t GetFileSize() const;
    bool IsDirectory() const;
    bool IsSymlink() const;
    const char *GetDirectoryPath() const { return curr_dir; }

 private:
    void initialize(priv_state priv);

    char *curr_dir;      // new[]
    StatInfo *current;   // owned
    bool switch_privs;
    priv_state work_priv;
    DIR *handle;
    uid_t dir_owner_uid;
    gid_t dir_owner_gid;
    bool dir_owner_known;
};

#endif  // TORVEL_FILES_DIRECTORY_H_
