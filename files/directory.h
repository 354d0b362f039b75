// Directory: walks the entries of one directory ("." and ".." skipped),
// keeping the status of the entry last returned, and removes files and
// whole trees under a chosen identity. The stream is opened on first use
// and held until the object is destroyed.
//
// Removal is a ladder: first as the identity asked for, then as the owner
// of the directory, then, after opening up every subdirectory with mode
// 0700 as its owner, once more as the owner. Trees are removed by /bin/rm
// run as a child process. Symbolic links are removed themselves and never
// followed or descended into; root-owned files are never approached by
// switching to their owner. Every public operation leaves the process's
// privilege state as it found it. Not for concurrent use.
#ifndef TORVEL_FILES_DIRECTORY_H_
#define TORVEL_FILES_DIRECTORY_H_

#include <dirent.h>
#include <sys/types.h>

#include "files/stat_info.h"
#include "identity/privileges.h"

class Directory {
 public:
    // REQUIRES: path is not null, priv is not PRIV_FILE_OWNER (the process
    // ends otherwise). Operations run as priv when ids can be switched and
    // priv is not PRIV_UNKNOWN; otherwise they never switch.
    Directory(const char *path, priv_state priv = PRIV_UNKNOWN);
    // Walks info's full path, whose owner is taken from info. info is
    // borrowed for the call only.
    Directory(StatInfo *info, priv_state priv = PRIV_UNKNOWN);
    ~Directory();

    // Owns its stream and path; a copy would close and free them twice.
    Directory(const Directory &) = delete;
    Directory &operator=(const Directory &) = delete;

    // Back to the first entry; false when the directory cannot be opened
    // (also not as its owner, when switching).
    bool Rewind();
    // Base name of the next entry, or null at the end. Borrowed: valid until
    // the next call. Entries that vanish before their status is taken are
    // skipped.
    const char *Next();

    // Of the current entry: null, 0, false, false without one.
    const char *GetFullPath() const;
    off_t GetFileSize() const;
    bool IsDirectory() const;
    bool IsSymlink() const;
    const char *GetDirectoryPath() const { return curr_dir; }

    // Bytes in all files below the directory; directories count 0 and
    // links to directories are not descended into.
    long long GetDirectorySize();

    // Whether the directory has an entry called name (byte-exact); when it
    // has, that entry is the current one, else there is none.
    bool Find_Named_Entry(const char *name);

    // Removes every entry (the directory itself stays), trying each even
    // after a failure; true when all went. False when the directory cannot
    // be opened (true when it does not exist).
    bool Remove_Entire_Directory();
    // Removes the entry name of this directory. False for a name that is
    // empty, "." or "..", or holds a '/'.
    bool Remove_Entry(const char *name);
    // Removes path (trailing '/'s ignored, so a link is removed itself).
    // False for an empty path, "/", or one ending in "." or "..". A path
    // that is already gone counts as removed.
    bool Remove_Full_Path(const char *path);
    // Removes the current entry; false without one.
    bool Remove_Current_File();

    // recursive_chown of the directory (files/path_helpers.h).
    bool Recursive_Chown(uid_t src_uid, uid_t dst_uid, gid_t dst_gid, bool allow_non_root);
    // The by-name form: does nothing and returns false.
    bool Recursive_Chown(const char *user, const char *group);

 private:
    // The state to return to, with the file owner's ids when that state is
    // PRIV_FILE_OWNER (a nested walk may have made someone else the owner).
    struct SavedPriv {
        priv_state state;
        bool owner_known;
        uid_t owner_uid;
        gid_t owner_gid;
    };

    void initialize(priv_state priv);

    // The state in force now.
    static void remember(SavedPriv &saved);
    // Switches to work_priv (as the owner of curr_dir for PRIV_FILE_OWNER)
    // when switch_privs, putting the state to return to in saved. False
    // (nothing switched) when the owner cannot be become.
    bool enter(SavedPriv &saved);
    // Back to saved, when switch_privs.
    void leave(const SavedPriv &saved);

    // Switches to the owner of path; false (nothing switched) when the
    // owner is unknown or root.
    bool setOwnerPriv(const char *path);

    bool do_remove(const char *path, bool use_current);
    bool do_remove_file(const char *path);
    bool do_remove_dir(const char *path);
    // One run of /bin/rm -rf on path as priv; the caller looks at the disk.
    void rmdirAttempt(const char *path, priv_state priv);
    // Sets mode on this directory and every subdirectory below (links are
    // neither changed nor followed), each as its owner; true when all did.
    bool chmodDirectories(mode_t mode);

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
