// The process-wide cache in front of the password and group databases:
// user name to uid and primary gid, and user name to supplementary groups,
// each entry refreshed on the next lookup once it is older than the
// PASSWD_CACHE_REFRESH lifetime (read once, when the cache is built; zero
// or less refreshes at every lookup). Filling a group entry needs root: it
// installs the user's groups with initgroups to read them, then puts the
// process's own groups back, so a lookup never changes the process's ids;
// init_groups is the one call that installs them. Accounts are indexed by
// name and by uid, so a lookup costs the same among 100,000 cached
// accounts as among ten. Single-threaded; one cache per process (pcache).
#ifndef TORVEL_IDENTITY_PASSWD_CACHE_H_
#define TORVEL_IDENTITY_PASSWD_CACHE_H_

#include <pwd.h>
#include <sys/types.h>
#include <time.h>

#include "core/my_string.h"
#include "core/text_index.h"

struct uid_entry {
    uid_t uid;
    gid_t gid;
    time_t filled_at;
};

struct group_entry {
    gid_t *group_ids;  // owned by the cache (new[])
    size_t group_count;
    time_t filled_at;
};

// Bucket of a user name; the same function as MyStringHash. (The cache's
// own indexes use a hash that spreads similar names apart.)
int compute_user_hash(const MyString &name, int buckets);

class passwd_cache {
 public:
    passwd_cache();
    ~passwd_cache();
    passwd_cache(const passwd_cache &) = delete;
    passwd_cache &operator=(const passwd_cache &) = delete;

    // The ids of user name; false when the password database has none.
    bool get_user_uid(const char *name, uid_t &uid);
    bool get_user_gid(const char *name, gid_t &gid);
    bool get_user_ids(const char *name, uid_t &uid, gid_t &gid);
    // The name of uid from the cache (whatever its age) or the database.
    // name is a new text the caller free()s; false and null when none.
    bool get_user_name(uid_t uid, char *&name);

    // Number of supplementary groups of name, or -1.
    int num_groups(const char *name);
    // Copies the groups of name into list (size slots); false when list is
    // too small or the groups cannot be had.
    bool get_groups(const char *name, size_t size, gid_t *list);
    // Installs the groups of name as the process's supplementary groups.
    bool init_groups(const char *name);

    // (Re)fill entries from the databases.
    bool cache_uid(const char *name);
    bool cache_uid(const struct passwd *record);
    bool cache_groups(const char *name);

    // The cached entry (owned by the cache), refreshed when too old; false
    // when not cached.
    bool lookup_uid(const char *name, uid_entry *&entry);
    bool lookup_group(const char *name, group_entry *&entry);
    // As lookup_uid, filling a missing entry from the database first.
    bool lookup_uid_entry(const char *name, uid_entry *&entry);

    // Seconds since the entry was filled, -1 when not cached.
    int get_uid_entry_age(const char *name);
    int get_group_entry_age(const char *name);

    // Fresh entries stamped now; the caller owns them (delete).
    void init_uid_entry(uid_entry *&entry);
    void init_group_entry(group_entry *&entry);

    // Removes and frees every entry.
    void reset();

 private:
    struct UserRecord;
    struct GroupRecord;

    bool too_old(time_t filled_at) const;
    UserRecord *find_user(const char *name) const;
    GroupRecord *find_group(const char *name) const;
    // The group entry of name, filled when missing; null (logged) when the
    // groups cannot be had.
    group_entry *filled_group_entry(const char *name);
    // Files record under its uid (afresh when the uid changed).
    void index_uid(UserRecord *record);

    time_t refresh_interval;
    TextIndex<UserRecord *, nullptr> users_by_name;
    TextIndex<UserRecord *, nullptr> users_by_uid;  // any record of each uid
    TextIndex<GroupRecord *, nullptr> groups_by_name;
    // Every record, newest first: the cache owns them.
    UserRecord *users = nullptr;
    GroupRecord *groups = nullptr;
};

// The cache, built on first use. Owned by the process: never delete it,
// use delete_passwd_cache.
passwd_cache *pcache();
// Empties the cache.
void clear_passwd_cache();
// Destroys the cache; the next pcache() builds a new one.
void delete_passwd_cache();

#endif  // TORVEL_IDENTITY_PASSWD_CACHE_H_
