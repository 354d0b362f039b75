// The password and group cache: entries keyed by user name (and user
// entries by uid too), filled from getpwnam/getpwuid and
// initgroups+getgroups, refreshed on lookup once older than the configured
// lifetime, and the one process-wide instance.
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

passwd_cache *the_cache = nullptr;

// A copy of text; the caller delete[]s it.
char *copy_name(const char *text) {
    size_t size = strlen(text) + 1;
    char *copy = new (torvel::or_die) char[size];
    memcpy(copy, text, size);
    return copy;
}

uint32_t name_hash(const char *name) {
    return _torvel_text_hash(name, false);
}

// Spreads uids that differ in any bits over the index's low bits.
uint32_t uid_hash(uid_t uid) {
    uint32_t h = static_cast<uint32_t>(uid) * 0x9e3779b1u;
    return h ^ (h >> 16);
}

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

struct passwd_cache::UserRecord {
    char *name;  // new[]
    uid_entry entry;
    uid_t indexed_uid;  // the uid it is filed under in users_by_uid
    UserRecord *next;
};

struct passwd_cache::GroupRecord {
    char *name;  // new[]
    group_entry entry;
    GroupRecord *next;
};

passwd_cache::passwd_cache()
    : refresh_interval(param_integer("PASSWD_CACHE_REFRESH", 300, INT_MIN, INT_MAX)) {}

passwd_cache::~passwd_cache() {
    reset();
}

passwd_cache::UserRecord *passwd_cache::find_user(const char *name) const {
    UserRecord * const *found = users_by_name.find(
        name_hash(name), [name](const UserRecord *r) { return strcmp(r->name, name) == 0; });
    return found != nullptr ? *found : nullptr;
}

passwd_cache::GroupRecord *passwd_cache::find_group(const char *name) const {
    GroupRecord * const *found = groups_by_name.find(
        name_hash(name), [name](const GroupRecord *r) { return strcmp(r->name, name) == 0; });
    return found != nullptr ? *found : nullptr;
}

void passwd_cache::index_uid(UserRecord *record) {
    users_by_uid.erase(uid_hash(record->indexed_uid),
                       [record](const UserRecord *r) { return r == record; });
    record->indexed_uid = record->entry.uid;
    users_by_uid.insert(uid_hash(record->indexed_uid), record);
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
    UserRecord *user = find_user(record->pw_name);
    if (user == nullptr) {
        user = new (torvel::or_die) UserRecord;
        user->name = copy_name(record->pw_name);
        user->indexed_uid = record->pw_uid;
        user->next = users;
        users = user;
        users_by_name.insert(name_hash(user->name), user);
        users_by_uid.insert(uid_hash(user->indexed_uid), user);
    }
    user->entry.uid = record->pw_uid;
    user->entry.gid = record->pw_gid;
    user->entry.filled_at = time(nullptr);
    if (user->indexed_uid != user->entry.uid) {
        index_uid(user);
    }
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
    GroupRecord *record = find_group(name);
    if (record == nullptr) {
        record = new (torvel::or_die) GroupRecord;
        record->name = copy_name(name);
        record->entry.group_ids = nullptr;
        record->next = groups;
        groups = record;
        groups_by_name.insert(name_hash(record->name), record);
    }
    delete[] record->entry.group_ids;
    record->entry.group_ids = list;
    record->entry.group_count = static_cast<size_t>(count);
    record->entry.filled_at = time(nullptr);
    return true;
}

bool passwd_cache::lookup_uid(const char *name, uid_entry *&entry) {
    if (name == nullptr) {
        return false;
    }
    // Records are never removed one by one: a refill keeps the record (a
    // failed one keeps it as it was, served stale).
    UserRecord *user = find_user(name);
    if (user == nullptr) {
        return false;
    }
    if (too_old(user->entry.filled_at)) {
        cache_uid(name);
    }
    entry = &user->entry;
    return true;
}

bool passwd_cache::lookup_group(const char *name, group_entry *&entry) {
    if (name == nullptr) {
        return false;
    }
    GroupRecord *record = find_group(name);
    if (record == nullptr) {
        return false;
    }
    if (too_old(record->entry.filled_at)) {
        cache_groups(name);
    }
    entry = &record->entry;
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
    UserRecord *user = find_user(name);
    if (user != nullptr) {
        entry = &user->entry;
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
    // Any cached record of the uid, whatever its age.
    UserRecord * const *found = users_by_uid.find(
        uid_hash(uid), [uid](const UserRecord *r) { return r->entry.uid == uid; });
    if (found != nullptr) {
        name = strdup((*found)->name);
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

group_entry *passwd_cache::filled_group_entry(const char *name) {
    group_entry *entry = nullptr;
    if (lookup_group(name, entry)) {
        return entry;
    }
    GroupRecord *record = cache_groups(name) ? find_group(name) : nullptr;
    if (record == nullptr) {
        dprintf(D_ALWAYS, "Failed to cache info for user %s\n", name != nullptr ? name : "");
        return nullptr;
    }
    return &record->entry;
}

int passwd_cache::num_groups(const char *name) {
    group_entry *entry = filled_group_entry(name);
    if (entry == nullptr) {
        return -1;
    }
    return static_cast<int>(entry->group_count);
}

bool passwd_cache::get_groups(const char *name, size_t size, gid_t *list) {
    group_entry *entry = filled_group_entry(name);
    if (entry == nullptr) {
        return false;
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
    UserRecord *user = name != nullptr ? find_user(name) : nullptr;
    if (user == nullptr) {
        return -1;
    }
    return static_cast<int>(time(nullptr) - user->entry.filled_at);
}

int passwd_cache::get_group_entry_age(const char *name) {
    GroupRecord *record = name != nullptr ? find_group(name) : nullptr;
    if (record == nullptr) {
        return -1;
    }
    return static_cast<int>(time(nullptr) - record->entry.filled_at);
}

void passwd_cache::reset() {
    users_by_name.clear();
    users_by_uid.clear();
    groups_by_name.clear();
    while (users != nullptr) {
        UserRecord *next = users->next;
        delete[] users->name;
        delete users;
        users = next;
    }
    while (groups != nullptr) {
        GroupRecord *next = groups->next;
        delete[] groups->name;
        delete[] groups->entry.group_ids;
        delete groups;
        groups = next;
    }
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
