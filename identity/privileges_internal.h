// The one process-wide identity record shared by the switching code
// (privileges.cpp) and the code that learns ids (account_ids.cpp). Not for
// use outside identity/.
#ifndef TORVEL_IDENTITY_PRIVILEGES_INTERNAL_H_
#define TORVEL_IDENTITY_PRIVILEGES_INTERNAL_H_

#include <sys/types.h>
#include <time.h>

#include "identity/privileges.h"

struct PrivHistoryEntry {
    time_t when;
    priv_state state;
    const char *file;  // borrowed from the caller (static text)
    int line;
};

constexpr int kPrivHistorySize = 32;

// Effective ids and supplementary groups, as read from the kernel.
struct IdSet {
    bool known = false;
    uid_t euid = 0;
    gid_t egid = 0;
    gid_t *groups = nullptr;  // malloc, kept for the process's life
    int group_count = 0;
    int group_room = 0;  // slots in groups
};

struct IdentityRecord {
    priv_state current_priv = PRIV_UNKNOWN;
    int switching_allowed = 1;
    bool switching_settled = false;
    bool service_ids_set = false;
    uid_t my_uid = 0;
    gid_t my_gid = 0;
    uid_t service_uid = 0;
    gid_t service_gid = 0;
    uid_t account_uid = 0;
    gid_t account_gid = 0;
    char *service_name = nullptr;     // malloc
    gid_t *service_groups = nullptr;  // malloc: the service account's groups
    int service_group_count = 0;
    bool user_ids_set = false;
    uid_t user_uid = 0;
    gid_t user_gid = 0;
    char *user_name = nullptr;  // malloc, or null
    bool owner_ids_set = false;
    uid_t owner_uid = 0;
    gid_t owner_gid = 0;
    char *owner_name = nullptr;      // malloc, or null
    char *real_user_name = nullptr;  // malloc, computed once
    PrivHistoryEntry history[kPrivHistorySize] = {};
    int history_next = 0;
    int history_count = 0;
    char identifier_text[256] = {};

    // The effective ids and groups in force when the ids were learned
    // (before any switch), whose groups PRIV_ROOT puts back.
    IdSet start_ids;
    // Those in force when the process last left PRIV_UNKNOWN, which a
    // switch back to it puts back: a program that manages its own ids
    // keeps them across the library's switches (every debug line makes
    // two).
    IdSet unknown_ids;
};

IdentityRecord &_torvel_identity();

// Fills ids from the kernel (growing its group list as needed).
void _torvel_read_ids(IdSet &ids);

// init_torvel_ids unless it has run.
void _torvel_init_ids_once();

// Ends the process through the fatal-error path with the source name
// "uids".
[[noreturn]] void _torvel_uids_fatal(int line, const char *format, ...)
    __attribute__((format(printf, 2, 3)));

#endif  // TORVEL_IDENTITY_PRIVILEGES_INTERNAL_H_
