// Stand-in for Directory, until the directory-walking module lands (it
// replaces this file). It walks without ever switching identity, logs
// nothing, and offers only the walking operations; removal, sizes and
// ownership changes come with the real module.
#include "files/directory.h"

#include <string.h>

#include "diagnostics/except.h"

Directory::Directory(const char *path, priv_state priv) {
    ASSERT(path);
    curr_dir = new char[strlen(path) + 1];
    strcpy(curr_dir, path);
    initialize(priv);
    dir_owner_uid = 0;
    dir_owner_gid = 0;
    dir_owner_known = false;
}

Directory::Directory(StatInfo *info, priv_state priv) {
    ASSERT(info);
    const char *path = info->FullPath() != nullptr ? info->FullPath() : "";
    curr_dir = new char[strlen(path) + 1];
    strcpy(curr_dir, path);
    initialize(priv);
    dir_owner_uid = info->GetOwner();
    dir_owner_gid = info->GetGroup();
    dir_owner_known = true;
}

Directory::~Directory() {
    delete[] curr_dir;
    delete current;
    if (handle != nullptr) {
        closedir(handle);
    }
}

void Directory::initialize(priv_state priv) {
    current = nullptr;
    handle = nullptr;
    switch_privs = false;
    work_priv = priv;
}

bool Directory::Rewind() {
    delete current;
    current = nullptr;
    if (handle == nullptr) {
        handle = opendir(curr_dir);
        if (handle == nullptr) {
            return false;
        }
    }
    rewinddir(handle);
    return true;
}

const char *Directory::Next() {
    delete current;
    current = nullptr;
    if (handle == nullptr && !Rewind()) {
        return nullptr;
    }
    struct dirent *entry;
    while ((entry = readdir(handle)) != nullptr) {
        if (strcmp(entry->d_name, ".") == 0 || strcmp(entry->d_name, "..") == 0) {
            continue;
        }
        StatInfo *info = new StatInfo(curr_dir, entry->d_name);
        if (info->Error() == STAT_OK) {
            current = info;
            return current->BaseName();
        }
        delete info;  // vanished or unreadable: skipped
    }
    return nullptr;
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
