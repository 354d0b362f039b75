// Directory: walks the entries of one directory ("." and ".." skipped),
// keeping the status of the entry last returned, and removes files and
// whole trees under a chosen identity. The directory is opened on first use
// (without following a final link: a path that is a link is refused) and
// held until the object is destroyed; everything below it is reached
// through that descriptor and the descriptors of its subdirectories, so no
// component of a path can be swapped for a link under a walk or a removal.
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
    // priv is not PRIV_UNKNOWN; otherwise they never switch. Trailing '/'s
    // of path are ignored; a path that is a symbolic link cannot be walked.
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
    // GetFullPath's text is owned by the object (the current entry's
    // StatInfo): valid until the walk moves (Next, Rewind, and
    // GetDirectorySize, Find_Named_Entry and Remove_Entire_Directory, which
    // walk) or the object is destroyed; never freed by the caller.
    const char *GetFullPath() const;
    off_t GetFileSize() const;
    bool IsDirectory() const;
    bool IsSymlink() const;
    // The walked directory's path, a copy of the one given at construction.
    // Owned by the object for its whole life; never freed by the caller.
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
    // Removes path (trailing '/'s ignored, so a link is removed itself),
    // reached through a descriptor of its directory. False for an empty
    // path, "/", or one ending in "." or "..". A path that is already gone
    // counts as removed.
    bool Remove_Full_Path(const char *path);
    // Removes the current entry; false without one.
    bool Remove_Current_File();

    // recursive_chown of the directory (files/path_helpers.h).
    bool Recursive_Chown(uid_t src_uid, uid_t dst_uid, gid_t dst_gid, bool allow_non_root);
    // The by-name form: does nothing and returns false.
    bool Recursive_Chown(const char *user, const char *group);

 private:
    // One name in an open directory: dir_fd and name reach it, dir and
    // path (dir + "/" + name) are for messages and status records.
    struct Entry {
        int dir_fd;
        const char *dir;
        const char *name;
        const char *path;
    };

    // The state to return to, with the file owner's ids when that state is
    // PRIV_FILE_OWNER (a nested walk may have made someone else the owner).
    struct SavedPriv {
        priv_state state;
        bool owner_known;
        uid_t owner_uid;
        gid_t owner_gid;
    };

    // A subdirectory found by a walk: info's base name in the directory
    // open as parent_fd, which is borrowed and must outlive this object.
    Directory(int parent_fd, StatInfo *info, priv_state priv);
    void initialize(const char *path, priv_state priv);

    // Opens the directory itself (dir_fd_) when not yet open, without
    // following a final link. False with errno on failure.
    bool open_anchor();
    // Opens the stream for reading the directory held by dir_fd_.
    bool open_handle();
    // Nothing at all is at this directory's name any more.
    bool gone();

    // The state in force now.
    static void remember(SavedPriv &saved);
    // Switches to work_priv (as the owner of curr_dir for PRIV_FILE_OWNER)
    // when switch_privs, putting the state to return to in saved. False
    // (nothing switched) when the owner cannot be become.
    bool enter(SavedPriv &saved);
    // Back to saved, when switch_privs.
    void leave(const SavedPriv &saved);

    // Switches to the owner of entry, or of this directory when entry is
    // null; false (nothing switched) when the owner is unknown or root.
    bool setOwnerPriv(const Entry *entry);
    bool becomeOwnerOf(const char *path, uid_t uid, gid_t gid);

    bool do_remove(const Entry &entry, bool use_current);
    bool do_remove_file(const Entry &entry);
    bool do_remove_dir(const Entry &entry);
    // One run of /bin/rm -rf on entry as priv; the caller looks at the disk.
    void rmdirAttempt(const Entry &entry, priv_state priv);
    // Sets mode on this directory and every subdirectory below (links are
    // neither changed nor followed), each as its owner; true when all did.
    bool chmodDirectories(mode_t mode);

    char *curr_dir;     // new[]
    StatInfo *current;  // owned
    bool switch_privs;
    priv_state work_priv;
    DIR *handle;
    uid_t dir_owner_uid;
    gid_t dir_owner_gid;
    bool dir_owner_known;
    // The directory is anchor_name_ in parent_fd_ (AT_FDCWD for a path a
    // caller gave; borrowed otherwise).
    int parent_fd_;
    char *anchor_name_;  // new[]
    // The directory itself (O_PATH, or the stream's own descriptor once the
    // stream is open); -1 until opened.
    int dir_fd_;
};

#endif  // TORVEL_FILES_DIRECTORY_H_
