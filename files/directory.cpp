// Directory: walking one directory, its size, and the removal ladder for
// files and trees (as the identity asked for, as the owner, and as the
// owner after opening up every subdirectory). Switches the process-wide
// privilege state and always switches back; runs /bin/rm as a child.
//
// Links are never followed out of a tree. The directory is opened without
// following a final link, and every entry below it is reached relative to
// an open directory descriptor: status, unlink and chmod use the *at()
// calls, subdirectories are opened from their parent's descriptor, and
// /bin/rm runs inside the entry's directory on "./<name>". A name swapped
// for a link while a walk runs is thus the link itself, never its target.
#include "files/directory.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/allocation.h"
#include "core/my_string.h"
#include "core/status_string.h"
#include "core/strnewp.h"
#include "diagnostics/debug_log.h"
#include "diagnostics/except.h"
#include "files/path_helpers.h"
#include "process/my_popen.h"

namespace {

// Opens a directory without following a final link: a link there gives
// ENOTDIR, not its target.
const int kAnchorFlags = O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

// Something other than a directory (a link to one included), or nothing,
// is now at the entry. False when that cannot be told: the removal ladder,
// whose /bin/rm never follows a link it is handed, then goes on.
bool no_longer_a_directory(int dir_fd, const char *name) {
    struct stat64 buf;
    if (fstatat64(dir_fd, name, &buf, AT_SYMLINK_NOFOLLOW) != 0) {
        return errno == ENOENT || errno == ENOTDIR;
    }
    return !S_ISDIR(buf.st_mode);
}

// Nothing is left at the entry, not even a dangling link. The status (with
// its permission retry) decides; the look without following catches a
// link whose target is gone.
bool entry_gone(int dir_fd, const char *dir, const char *name) {
    StatInfo info(dir_fd, dir, name);
    if (info.Error() != STAT_NO_FILE) {
        return false;
    }
    struct stat64 buf;
    return fstatat64(dir_fd, name, &buf, AT_SYMLINK_NOFOLLOW) != 0;
}

// The owner of an entry: a link's own owner, else that of the file. A name
// the process may not even look at is tried once more through the status
// (with its permission retry), as GetIds would.
bool owner_of(int dir_fd, const char *dir, const char *name, uid_t *uid, gid_t *gid) {
    struct stat64 buf;
    if (fstatat64(dir_fd, name, &buf, AT_SYMLINK_NOFOLLOW) == 0) {
        *uid = buf.st_uid;
        *gid = buf.st_gid;
        return true;
    }
    StatInfo info(dir_fd, dir, name);
    if (info.Error() != STAT_OK) {
        if (info.Error() != STAT_NO_FILE) {
            dprintf(D_ALWAYS, "GetIds: Error in stat(%s), errno: %d (%s)\n", info.FullPath(),
                    info.Errno(), strerror(info.Errno()));
        }
        return false;
    }
    *uid = info.GetOwner();
    *gid = info.GetGroup();
    return true;
}

// Runs as the file owner uid.gid. New owner ids only take effect when the
// state is entered, so a process already running as another file owner
// steps out first. False when the state could not be entered.
bool become_owner(uid_t uid, gid_t gid) {
    if (get_priv() == PRIV_FILE_OWNER &&
        (get_file_owner_uid() != uid || get_file_owner_gid() != gid)) {
        _set_priv(PRIV_ROOT, __FILE__, __LINE__, 1);
    }
    uninit_file_owner_ids();
    set_file_owner_ids(uid, gid);
    _set_priv(PRIV_FILE_OWNER, __FILE__, __LINE__, 1);
    return get_priv() == PRIV_FILE_OWNER;
}

// The last component of path (trailing '/'s already gone) is "." or "..".
bool ends_in_dot(const char *path) {
    const char *last = strrchr(path, '/');
    last = last != nullptr ? last + 1 : path;
    return strcmp(last, ".") == 0 || strcmp(last, "..") == 0;
}

// path without trailing '/'s (new[]); "/" stays "/". Null for null.
char *without_trailing_slashes(const char *path) {
    if (path == nullptr) {
        return nullptr;
    }
    size_t len = strlen(path);
    while (len > 1 && path[len - 1] == '/') {
        len--;
    }
    char *copy = new (torvel::or_die) char[len + 1];
    memcpy(copy, path, len);
    copy[len] = '\0';
    return copy;
}

// path without trailing '/'s (new[]); null for "", "/" and paths ending in
// "." or "..", which are never removed.
char *removable_path(const char *path) {
    char *copy = without_trailing_slashes(path);
    if (copy == nullptr) {
        return nullptr;
    }
    if (copy[0] == '\0' || strcmp(copy, "/") == 0 || ends_in_dot(copy)) {
        delete[] copy;
        return nullptr;
    }
    return copy;
}

}  // namespace

Directory::Directory(const char *path, priv_state priv) {
    initialize(path, priv);
    ASSERT(curr_dir);
    anchor_name_ = without_trailing_slashes(path);
    if (priv == PRIV_FILE_OWNER) {
        EXCEPT(
            "Programmer error: Directory object instantiated with PRIV_FILE_OWNER requested, "
            "but no StatInfo object!");
    }
}

Directory::Directory(StatInfo *info, priv_state priv) {
    ASSERT(info);
    initialize(info->FullPath(), priv);
    ASSERT(curr_dir);
    anchor_name_ = without_trailing_slashes(info->FullPath());
    dir_owner_uid = info->GetOwner();
    dir_owner_gid = info->GetGroup();
    dir_owner_known = true;
}

Directory::Directory(int parent_fd, StatInfo *info, priv_state priv) {
    ASSERT(info);
    initialize(info->FullPath(), priv);
    ASSERT(curr_dir && info->BaseName());
    parent_fd_ = parent_fd;
    anchor_name_ = strnewp(info->BaseName());
    dir_owner_uid = info->GetOwner();
    dir_owner_gid = info->GetGroup();
    dir_owner_known = true;
}

Directory::~Directory() {
    delete[] curr_dir;
    delete[] anchor_name_;
    delete current;
    if (handle != nullptr) {
        closedir(handle);  // dir_fd_ is then the stream's descriptor
    } else if (dir_fd_ >= 0) {
        close(dir_fd_);
    }
}

void Directory::initialize(const char *path, priv_state priv) {
    curr_dir = strnewp(path);
    current = nullptr;
    handle = nullptr;
    dir_owner_uid = 0;
    dir_owner_gid = 0;
    dir_owner_known = false;
    parent_fd_ = AT_FDCWD;
    anchor_name_ = nullptr;
    dir_fd_ = -1;
    if (can_switch_ids()) {
        work_priv = priv;
        switch_privs = priv != PRIV_UNKNOWN;
    } else {
        work_priv = PRIV_TORVEL;
        switch_privs = false;
    }
}

bool Directory::open_anchor() {
    if (dir_fd_ < 0) {
        dir_fd_ = openat(parent_fd_, anchor_name_, kAnchorFlags);
    }
    return dir_fd_ >= 0;
}

bool Directory::open_handle() {
    int fd;
    if (dir_fd_ >= 0) {
        // The directory already held, whatever its name is now.
        fd = openat(dir_fd_, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    } else {
        fd = openat(parent_fd_, anchor_name_, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    }
    if (fd < 0) {
        return false;
    }
    handle = fdopendir(fd);
    if (handle == nullptr) {
        int error = errno;
        close(fd);
        errno = error;
        return false;
    }
    if (dir_fd_ >= 0) {
        close(dir_fd_);
    }
    dir_fd_ = fd;
    return true;
}

bool Directory::gone() {
    struct stat64 buf;
    if (fstatat64(parent_fd_, anchor_name_, &buf, AT_SYMLINK_NOFOLLOW) == 0) {
        return false;
    }
    return errno == ENOENT || errno == ENOTDIR;
}

void Directory::remember(SavedPriv &saved) {
    saved.state = get_priv();
    saved.owner_known = saved.state == PRIV_FILE_OWNER;
    saved.owner_uid = saved.owner_known ? get_file_owner_uid() : 0;
    saved.owner_gid = saved.owner_known ? get_file_owner_gid() : 0;
}

bool Directory::enter(SavedPriv &saved) {
    remember(saved);
    if (!switch_privs) {
        return true;
    }
    if (work_priv == PRIV_FILE_OWNER) {
        // Another object may have made someone else the file owner since.
        return setOwnerPriv(nullptr);
    }
    _set_priv(work_priv, __FILE__, __LINE__, 1);
    return true;
}

void Directory::leave(const SavedPriv &saved) {
    if (!switch_privs) {
        return;
    }
    if (saved.owner_known) {
        become_owner(saved.owner_uid, saved.owner_gid);
    } else {
        _set_priv(saved.state, __FILE__, __LINE__, 1);
    }
}

bool Directory::setOwnerPriv(const Entry *entry) {
    uid_t uid = 0;
    gid_t gid = 0;
    if (entry != nullptr) {
        if (!owner_of(entry->dir_fd, entry->dir, entry->name, &uid, &gid)) {
            dprintf(D_ALWAYS, "Directory::setOwnerPriv() -- failed to find owner of %s\n",
                    entry->path);
            return false;
        }
        return becomeOwnerOf(entry->path, uid, gid);
    }
    if (!dir_owner_known) {
        struct stat64 buf;
        bool known = dir_fd_ >= 0
                         ? fstat64(dir_fd_, &buf) == 0
                         : fstatat64(parent_fd_, anchor_name_, &buf, AT_SYMLINK_NOFOLLOW) == 0;
        if (!known) {
            dprintf(D_ALWAYS, "Directory::setOwnerPriv() -- failed to find owner of %s\n",
                    curr_dir);
            return false;
        }
        dir_owner_uid = buf.st_uid;
        dir_owner_gid = buf.st_gid;
        dir_owner_known = true;
    }
    return becomeOwnerOf(curr_dir, dir_owner_uid, dir_owner_gid);
}

bool Directory::becomeOwnerOf(const char *path, uid_t uid, gid_t gid) {
    if (uid == 0 || gid == 0) {
        dprintf(D_ALWAYS,
                "Directory::setOwnerPriv(): NOT changing priv state to owner of \"%s\" (%d.%d), "
                "that's root!\n",
                path, static_cast<int>(uid), static_cast<int>(gid));
        return false;
    }
    return become_owner(uid, gid);
}

bool Directory::Rewind() {
    delete current;
    current = nullptr;
    SavedPriv saved;
    if (!enter(saved)) {
        return false;
    }
    if (handle == nullptr) {
        errno = 0;
        if (!open_handle()) {
            int error = errno;
            if (!switch_privs) {
                dprintf(D_ALWAYS, "Can't open directory \"%s\" as %s, errno: %d (%s)\n", curr_dir,
                        priv_to_string(get_priv()), error, strerror(error));
                leave(saved);
                return false;
            }
            if (!setOwnerPriv(nullptr)) {
                dprintf(D_ALWAYS, "Directory::Rewind(): failed to find owner of \"%s\"\n",
                        curr_dir);
                leave(saved);
                return false;
            }
            errno = 0;
            if (!open_handle()) {
                error = errno;
                dprintf(D_ALWAYS, "Can't open directory \"%s\" as owner, errno: %d (%s)", curr_dir,
                        error, strerror(error));
                leave(saved);
                return false;
            }
            work_priv = PRIV_FILE_OWNER;
        }
    }
    rewinddir(handle);
    leave(saved);
    return true;
}

const char *Directory::Next() {
    delete current;
    current = nullptr;
    SavedPriv saved;
    if (!enter(saved)) {
        return nullptr;
    }
    if (handle == nullptr && !Rewind()) {
        leave(saved);
        return nullptr;
    }
    struct dirent *entry;
    while (current == nullptr && (entry = readdir(handle)) != nullptr) {
        if (strcmp(entry->d_name, ".") == 0 || strcmp(entry->d_name, "..") == 0) {
            continue;
        }
        StatInfo *info = new (torvel::or_die) StatInfo(dir_fd_, curr_dir, entry->d_name);
        switch (info->Error()) {
            case STAT_OK:
                current = info;
                break;
            case STAT_NO_FILE:
                delete info;  // vanished since it was read
                break;
            case STAT_FAILED:
                dprintf(D_FULLDEBUG, "Directory::stat() failed for \"%s\", errno: %d (%s)\n",
                        info->FullPath(), info->Errno(), strerror(info->Errno()));
                delete info;
                break;
        }
    }
    leave(saved);
    return current != nullptr ? current->BaseName() : nullptr;
}

const char *Directory::GetFullPath() const {
    return current != nullptr ? current->FullPath() : nullptr;
}

off_t Directory::GetFileSize() const {
    return current != nullptr ? current->GetFileSize() : 0;
}

bool Directory::IsDirectory() const {
    return current != nullptr && current->IsDirectory();
}

bool Directory::IsSymlink() const {
    return current != nullptr && current->IsSymlink();
}

long long Directory::GetDirectorySize() {
    SavedPriv saved;
    if (!enter(saved)) {
        return 0;
    }
    long long total = 0;
    Rewind();
    while (Next() != nullptr) {
        if (current->IsDirectory()) {
            if (!current->IsSymlink()) {
                // Built on the entry's status, so it knows its owner.
                Directory sub(dir_fd_, current, work_priv);
                total += sub.GetDirectorySize();
            }
        } else {
            total += current->GetFileSize();
        }
    }
    leave(saved);
    return total;
}

bool Directory::Find_Named_Entry(const char *name) {
    if (name == nullptr) {
        return false;
    }
    SavedPriv saved;
    if (!enter(saved)) {
        return false;
    }
    bool found = false;
    Rewind();
    const char *entry;
    while (!found && (entry = Next()) != nullptr) {
        found = strcmp(entry, name) == 0;
    }
    leave(saved);
    return found;
}

bool Directory::Remove_Entire_Directory() {
    SavedPriv saved;
    if (!enter(saved)) {
        return false;
    }
    if (!Rewind()) {
        leave(saved);
        return gone();  // nothing to remove is no failure
    }
    bool all = true;
    while (Next() != nullptr) {
        if (!Remove_Current_File()) {
            all = false;
        }
    }
    leave(saved);
    return all;
}

bool Directory::Remove_Entry(const char *name) {
    if (name == nullptr || name[0] == '\0' || strchr(name, '/') != nullptr ||
        strcmp(name, ".") == 0 || strcmp(name, "..") == 0) {
        dprintf(D_ALWAYS,
                "Directory::Remove_Entry(): \"%s\" is not an entry of \"%s\", not removed\n",
                name != nullptr ? name : "(null)", curr_dir);
        return false;
    }
    SavedPriv saved;
    if (!enter(saved)) {
        return false;
    }
    errno = 0;
    bool opened = open_anchor();
    if (!opened) {
        int error = errno;
        dprintf(D_ALWAYS, "Can't open directory \"%s\" as %s, errno: %d (%s)\n", curr_dir,
                priv_to_string(get_priv()), error, strerror(error));
    }
    leave(saved);
    if (!opened) {
        return gone();  // the directory and so its entry are gone
    }
    char *path = dircat(curr_dir, name);
    Entry entry = {dir_fd_, curr_dir, name, path};
    bool ok = do_remove(entry, false);
    delete[] path;
    return ok;
}

bool Directory::Remove_Full_Path(const char *path) {
    char *target = removable_path(path);
    if (target == nullptr) {
        dprintf(D_ALWAYS, "Directory::Remove_Full_Path(): refusing to remove \"%s\"\n",
                path != nullptr ? path : "(null)");
        return false;
    }
    // The entry is reached through its directory, opened once.
    char *slash = strrchr(target, '/');
    const char *name = slash != nullptr ? slash + 1 : target;
    char *dir = slash == nullptr ? strnewp(".") : slash == target ? strnewp("/") : nullptr;
    if (dir == nullptr) {
        dir = new (torvel::or_die) char[slash - target + 1];
        memcpy(dir, target, static_cast<size_t>(slash - target));
        dir[slash - target] = '\0';
    }
    SavedPriv saved;
    bool ok = false;
    if (enter(saved)) {
        int dir_fd = open(dir, O_PATH | O_DIRECTORY | O_CLOEXEC);
        int error = errno;
        leave(saved);
        if (dir_fd >= 0) {
            Entry entry = {dir_fd, dir, name, target};
            ok = do_remove(entry, false);
            close(dir_fd);
        } else {
            ok = error == ENOENT || error == ENOTDIR;  // already gone
        }
    }
    delete[] dir;
    delete[] target;
    return ok;
}

bool Directory::Remove_Current_File() {
    if (current == nullptr) {
        return false;
    }
    Entry entry = {dir_fd_, curr_dir, current->BaseName(), current->FullPath()};
    return do_remove(entry, true);
}

bool Directory::Recursive_Chown(uid_t src_uid, uid_t dst_uid, gid_t dst_gid, bool allow_non_root) {
    return recursive_chown(curr_dir, src_uid, dst_uid, dst_gid, allow_non_root);
}

bool Directory::Recursive_Chown(const char *user, const char *group) {
    return false;
}

bool Directory::do_remove(const Entry &entry, bool use_current) {
    bool is_dir;
    if (use_current) {
        is_dir = current != nullptr && current->IsDirectory() && !current->IsSymlink();
    } else {
        StatInfo info(entry.dir_fd, entry.dir, entry.name);
        is_dir = info.Error() == STAT_OK && info.IsDirectory() && !info.IsSymlink();
    }
    return is_dir ? do_remove_dir(entry) : do_remove_file(entry);
}

bool Directory::do_remove_file(const Entry &entry) {
    SavedPriv saved;
    if (!enter(saved)) {
        return false;
    }
    errno = 0;
    int rc = unlinkat(entry.dir_fd, entry.name, 0);
    if (rc != 0 && errno == EACCES) {
        if (switch_privs && work_priv == PRIV_ROOT) {
            if (!setOwnerPriv(&entry)) {
                dprintf(D_ALWAYS,
                        "Directory::do_remove_file(): Failed to unlink(%s) as %s and can't find "
                        "file owner, giving up\n",
                        entry.path, priv_to_string(get_priv()));
                leave(saved);
                return false;
            }
        }
        errno = 0;
        rc = unlinkat(entry.dir_fd, entry.name, 0);
    }
    bool ok = rc == 0 || errno == ENOENT;
    leave(saved);
    return ok;
}

void Directory::rmdirAttempt(const Entry &entry, priv_state priv) {
    SavedPriv saved;
    remember(saved);
    if (switch_privs) {
        switch (priv) {
            case PRIV_FILE_OWNER:
                if (!setOwnerPriv(&entry)) {
                    dprintf(D_FULLDEBUG,
                            "Not attempting to remove %s as its owner: the owner cannot be "
                            "switched to\n",
                            entry.path);
                    return;
                }
                break;
            case PRIV_ROOT:
            case PRIV_TORVEL:
            case PRIV_USER:
                _set_priv(priv, __FILE__, __LINE__, 1);
                break;
            case PRIV_UNKNOWN:
                break;
            default:
                EXCEPT(
                    "Programmer error: Directory::rmdirAttempt() called with unexpected "
                    "priv_state (%d: %s)",
                    static_cast<int>(priv), priv_to_string(priv));
        }
    }
    MyString who(priv_identifier(get_priv()));
    dprintf(D_FULLDEBUG, "Attempting to remove %s as %s\n", entry.path, who.Value());
    // Run inside the entry's directory on the bare name, so that no path
    // above the entry is looked up again; "./" keeps a name beginning with
    // '-' from being read as options.
    MyString arg;
    arg.sprintf("./%s", entry.name);
    char *argv[] = {const_cast<char *>("/bin/rm"), const_cast<char *>("-rf"),
                    const_cast<char *>(arg.Value()), nullptr};
    int rc = my_spawnv_in(entry.dir_fd, "/bin/rm", argv);
    leave(saved);
    if (rc != 0) {
        MyString reason;
        if (rc < 0) {
            reason.sprintf("my_spawnl returned %d", rc);
        } else {
            reason = "/bin/rm ";
            statusString(rc, reason);
        }
        dprintf(D_FULLDEBUG, "Removing \"%s\" as %s failed: %s\n", entry.path, who.Value(),
                reason.Value());
    }
}

bool Directory::do_remove_dir(const Entry &entry) {
    if (no_longer_a_directory(entry.dir_fd, entry.name)) {
        return do_remove_file(entry);  // became a link or a file, or went
    }
    rmdirAttempt(entry, work_priv);
    if (entry_gone(entry.dir_fd, entry.dir, entry.name)) {
        return true;
    }
    if (switch_privs) {
        dprintf(D_FULLDEBUG, "Removing %s as %s failed, trying again as file owner\n", entry.path,
                priv_to_string(get_priv()));
        rmdirAttempt(entry, PRIV_FILE_OWNER);
        if (entry_gone(entry.dir_fd, entry.dir, entry.name)) {
            return true;
        }
        dprintf(D_FULLDEBUG, "WARNING: %s still exists after trying to remove it as the owner\n",
                entry.path);
    }
    MyString who(switch_privs ? "directory owner" : priv_identifier(get_priv()));
    StatInfo info(entry.dir_fd, entry.dir, entry.name);
    Directory opened(entry.dir_fd, &info, PRIV_FILE_OWNER);
    dprintf(D_FULLDEBUG, "Attempting to chmod(0700) %s and all subdirs\n", entry.path);
    if (!opened.chmodDirectories(0700)) {
        dprintf(D_ALWAYS, "Failed to chmod(0700) %s and all subdirs\n", entry.path);
        dprintf(D_ALWAYS, "Can't remove \"%s\" as %s, giving up!\n", entry.path, who.Value());
        return false;
    }
    rmdirAttempt(entry, PRIV_FILE_OWNER);
    if (entry_gone(entry.dir_fd, entry.dir, entry.name)) {
        return true;
    }
    dprintf(D_ALWAYS, "After chmod(), still can't remove \"%s\" as %s, giving up!\n", entry.path,
            who.Value());
    return false;
}

bool Directory::chmodDirectories(mode_t mode) {
    SavedPriv saved;
    remember(saved);
    if (switch_privs) {
        if (!setOwnerPriv(nullptr)) {
            dprintf(D_ALWAYS, "Directory::chmodDirectories(): failed to find owner of \"%s\"\n",
                    curr_dir);
            return false;
        }
    }
    dprintf(D_FULLDEBUG, "Attempting to chmod %s as %s\n", curr_dir, priv_identifier(get_priv()));
    // Not through a link: it may have been swapped in since the walk saw a
    // directory here.
    if (fchmodat(parent_fd_, anchor_name_, mode, AT_SYMLINK_NOFOLLOW) != 0) {
        int error = errno;
        dprintf(D_ALWAYS, "chmod(%s) failed: %s (errno %d)\n", curr_dir, strerror(error), error);
        leave(saved);
        return false;
    }
    bool result = true;
    while (Next() != nullptr) {
        if (current->IsDirectory() && !current->IsSymlink()) {
            Directory sub(dir_fd_, current, work_priv);
            if (!sub.chmodDirectories(mode)) {
                result = false;
            }
        }
    }
    leave(saved);
    return result;
}
