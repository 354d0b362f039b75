// The password and group cache: entries keyed by user name, filled from
// getpwnam/getpwuid and initgroups+getgroups, refreshed on lookup once
// older than the configured lifetime, and the one process-wide instance.
#include "identity/passwd_cache.h"

#include <errno.h>
#include <grp.h>
#include <limits.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "config/param.h"
#include "core/allocation.h"
#include "diagnostics/debug_log.h"
#include "diagnostics/except.h"

namespace {

constexpr int kTableSize = 10;

passwd_cache *the_cache = nullptr;

// The process's supplementary groups, so that learning a user's groups
// (which installs them) can be undone. False when they cannot be read.
bool save_groups(gid_t *&list, int &count) {
    list = nullptr;
    count = getgroups(0, nullptr);
    if (count < 0) {
        return false;
    }
    list = new (torvel::or_die) gid_t[count > 0 ? count : 1];
    count = getgroups(count, list);
    if (count < 0) {
        delete[] list;
        list = nullptr;
        return false;
    }
    return true;
}

}  // namespace

int compute_user_hash(const MyString &name, int buckets) {
    return MyStringHash(name, buckets);
}

passwd_cache::passwd_cache()
    : refresh_interval(param_integer("PASSWD_CACHE_REFRESH", 300, INT_MIN, INT_MAX)),
      users_by_name(new (torvel::or_die) HashTable<MyString, uid_entry *>(
          kTableSize, compute_user_hash, DUPLICATES_REPLACE_VALUE)),
      groups_by_name(new (torvel::or_die) HashTable<MyString, group_entry *>(
          kTableSize, compute_user_hash, DUPLICATES_REPLACE_VALUE)) {}

passwd_cache::~passwd_cache() {
    reset();
    delete users_by_name;
    delete groups_by_name;
}

bool passwd_cache::too_old(time_t filled_at) const {
    // A lifetime of zero or less refreshes at every lookup, even within
    // the second the entry was filled.
    return refresh_interval <= 0 || time(nullptr) - filled_at > refresh_interval;
}

void passwd_cache::init_uid_entry(uid_entry *&entry) {
    entry = new (torvel::or_die) uid_entry;
    entry->uid = INT_MAX;
    entry->gid = INT_MAX;
    entry->filled_at = time(nullptr);
}

void passwd_cache::init_group_entry(group_entry *&entry) {
    entry = new (torvel::or_die) group_entry;
    entry->group_ids = nullptr;
    entry->group_count = 0;
    entry->filled_at = time(nullptr);
}

bool passwd_cache::cache_uid(const char *name) {
    if (name == nullptr) {
        return false;
    }
    errno = 0;
    struct passwd *record = getpwnam(name);
    if (record == nullptr) {
        const char *why = (errno == 0 || errno == ENOENT) ? "user not found" : strerror(errno);
        dprintf(D_ALWAYS, "passwd_cache::cache_uid(): getpwnam(\"%s\") failed: %s\n", name, why);
        return false;
    }
    return cache_uid(record);
}

bool passwd_cache::cache_uid(const struct passwd *record) {
    if (record == nullptr || record->pw_name == nullptr) {
        return false;
    }
    MyString key(record->pw_name);
    uid_entry *entry = nullptr;
    if (users_by_name->lookup(key, entry) != 0) {
        init_uid_entry(entry);
    }
    entry->uid = record->pw_uid;
    entry->gid = record->pw_gid;
    entry->filled_at = time(nullptr);
    users_by_name->insert(key, entry);
    return true;
}

bool passwd_cache::cache_groups(const char *name) {
    if (name == nullptr) {
        return false;
    }
    gid_t gid;
    if (!get_user_gid(name, gid)) {
        dprintf(D_ALWAYS, "cache_groups(): get_user_gid() failed! errno=%s\n", strerror(errno));
        return false;
    }
    // initgroups installs the user's groups on this process; the ones in
    // force are put back afterwards so that a lookup changes no ids.
    gid_t *saved = nullptr;
    int saved_count = 0;
    if (!save_groups(saved, saved_count)) {
        dprintf(D_ALWAYS, "cache_groups(): getgroups() failed! errno=%s\n", strerror(errno));
        return false;
    }
    if (initgroups(name, gid) != 0) {
        dprintf(D_ALWAYS, "passwd_cache: initgroups() failed! errno=%s\n", strerror(errno));
        delete[] saved;
        return false;
    }
    gid_t *list = nullptr;
    int count = 0;
    bool read = save_groups(list, count);
    int error = errno;
    if (setgroups(static_cast<size_t>(saved_count), saved) != 0) {
        // The process would keep the user's groups; it must not go on.
        _EXCEPT_Line = __LINE__;
        _EXCEPT_File = "uids";
        _EXCEPT_Errno = errno;
        _EXCEPT_("passwd_cache: cannot restore the process's groups, errno: %d", errno);
    }
    delete[] saved;
    if (!read) {
        dprintf(D_ALWAYS, "cache_groups(): getgroups() failed! errno=%s\n", strerror(error));
        return false;
    }
    MyString key(name);
    group_entry *entry = nullptr;
    if (groups_by_name->lookup(key, entry) != 0) {
        init_group_entry(entry);
    }
    delete[] entry->group_ids;
    entry->group_ids = list;
    entry->group_count = static_cast<size_t>(count);
    entry->filled_at = time(nullptr);
    groups_by_name->insert(key, entry);
    return true;
}

bool passwd_cache::lookup_uid(const char *name, uid_entry *&entry) {
    if (name == nullptr) {
        return false;
    }
    MyString key(name);
    if (users_by_name->lookup(key, entry) != 0) {
        return false;
    }
    if (too_old(entry->filled_at)) {
        // A failed refill keeps the old entry, which is served stale.
        cache_uid(name);
        return users_by_name->lookup(key, entry) == 0;
    }
    return true;
}

bool passwd_cache::lookup_group(const char *name, group_entry *&entry) {
    if (name == nullptr) {
        return false;
    }
    MyString key(name);
    if (groups_by_name->lookup(key, entry) != 0) {
        return false;
    }
    if (too_old(entry->filled_at)) {
        cache_groups(name);
        return groups_by_name->lookup(key, entry) == 0;
    }
    return true;
}

bool passwd_cache::lookup_uid_entry(const char *name, uid_entry *&entry) {
    if (lookup_uid(name, entry)) {
        return true;
    }
    if (!cache_uid(name)) {
        return false;
    }
    // Just filled: read as it is, or a lifetime of zero or less would
    // fill it a second time.
    if (users_by_name->lookup(MyString(name), entry) == 0) {
        return true;
    }
    dprintf(D_ALWAYS, "Failed to cache user info for user %s\n", name);
    return false;
}

bool passwd_cache::get_user_uid(const char *name, uid_t &uid) {
    uid_entry *entry = nullptr;
    if (!lookup_uid_entry(name, entry)) {
        return false;
    }
    uid = entry->uid;
    return true;
}

bool passwd_cache::get_user_gid(const char *name, gid_t &gid) {
    uid_entry *entry = nullptr;
    if (!lookup_uid_entry(name, entry)) {
        return false;
    }
    gid = entry->gid;
    return true;
}

bool passwd_cache::get_user_ids(const char *name, uid_t &uid, gid_t &gid) {
    uid_entry *entry = nullptr;
    if (!lookup_uid_entry(name, entry)) {
        return false;
    }
    uid = entry->uid;
    gid = entry->gid;
    return true;
}

bool passwd_cache::get_user_name(uid_t uid, char *&name) {
    MyString key;
    uid_entry *entry = nullptr;
    bool found = false;
    users_by_name->startIterations();
    while (users_by_name->iterate(key, entry)) {
        if (entry->uid == uid) {
            found = true;
            break;
        }
    }
    users_by_name->startIterations();
    if (found) {
        name = strdup(key.Value());
        return name != nullptr;
    }
    struct passwd *record = getpwuid(uid);
    if (record == nullptr || record->pw_name == nullptr) {
        name = nullptr;
        return false;
    }
    cache_uid(record);
    name = strdup(record->pw_name);
    return name != nullptr;
}

int passwd_cache::num_groups(const char *name) {
    group_entry *entry = nullptr;
    if (!lookup_group(name, entry)) {
        if (!cache_groups(name) || groups_by_name->lookup(MyString(name), entry) != 0) {
            dprintf(D_ALWAYS, "Failed to cache info for user %s\n", name != nullptr ? name : "");
            return -1;
        }
    }
    return static_cast<int>(entry->group_count);
}

bool passwd_cache::get_groups(const char *name, size_t size, gid_t *list) {
    group_entry *entry = nullptr;
    if (!lookup_group(name, entry)) {
        if (!cache_groups(name) || groups_by_name->lookup(MyString(name), entry) != 0) {
            dprintf(D_ALWAYS, "Failed to cache info for user %s\n", name != nullptr ? name : "");
            return false;
        }
    }
    if (size < entry->group_count) {
        dprintf(D_ALWAYS, "Inadequate size for gid list!\n");
        return false;
    }
    if (entry->group_count > 0) {
        memcpy(list, entry->group_ids, entry->group_count * sizeof(gid_t));
    }
    return true;
}

bool passwd_cache::init_groups(const char *name) {
    int count = num_groups(name);
    if (count <= 0) {
        dprintf(D_ALWAYS, "passwd_cache: getgroups( %s ) failed.\n", name != nullptr ? name : "");
        return false;
    }
    gid_t *list = new (torvel::or_die) gid_t[count];
    bool ok = get_groups(name, static_cast<size_t>(count), list);
    if (!ok) {
        dprintf(D_ALWAYS, "passwd_cache: getgroups( %s ) failed.\n", name);
    } else if (setgroups(static_cast<size_t>(count), list) != 0) {
        dprintf(D_ALWAYS, "passwd_cache: setgroups( %s ) failed.\n", name);
        ok = false;
    }
    delete[] list;
    return ok;
}

int passwd_cache::get_uid_entry_age(const char *name) {
    uid_entry *entry = nullptr;
    if (name == nullptr || users_by_name->lookup(MyString(name), entry) != 0) {
        return -1;
    }
    return static_cast<int>(time(nullptr) - entry->filled_at);
}

int passwd_cache::get_group_entry_age(const char *name) {
    group_entry *entry = nullptr;
    if (name == nullptr || groups_by_name->lookup(MyString(name), entry) != 0) {
        return -1;
    }
    return static_cast<int>(time(nullptr) - entry->filled_at);
}

void passwd_cache::reset() {
    uid_entry *user = nullptr;
    users_by_name->startIterations();
    while (users_by_name->iterate(user)) {
        delete user;
    }
    users_by_name->clear();
    group_entry *group = nullptr;
    groups_by_name->startIterations();
    while (groups_by_name->iterate(group)) {
        delete[] group->group_ids;
        delete group;
    }
    groups_by_name->clear();
}

passwd_cache *pcache() {
    if (the_cache == nullptr) {
        // Making the cache reads a parameter whose log line can switch ids,
        // and learning the ids makes the cache: that inner one may already
        // be in place when this constructor returns.
        passwd_cache *made = new (torvel::or_die) passwd_cache();
        if (the_cache == nullptr) {
            the_cache = made;
        } else {
            delete made;
        }
    }
    return the_cache;
}

void clear_passwd_cache() {
    pcache()->reset();
}

void delete_passwd_cache() {
    delete the_cache;
    the_cache = nullptr;
}
