// The process-wide privilege state: which identity (root, the service
// account, the job's user, a file's owner) is in force, and whether user
// ids can be switched at all (only when the process started as root).
#ifndef TORVEL_IDENTITY_PRIVILEGES_H_
#define TORVEL_IDENTITY_PRIVILEGES_H_

#include <sys/types.h>

enum priv_state {
    PRIV_UNKNOWN = 0,
    PRIV_ROOT = 1,
    PRIV_TORVEL = 2,
    PRIV_USER = 3,
    PRIV_USER_FINAL = 4,
    PRIV_FILE_OWNER = 5,
};

// Switches to s and returns the state in force before. file and line are
// the caller's position (borrowed; kept for the history), log_switch
// non-zero records the switch.
priv_state _set_priv(priv_state s, const char *file, int line, int log_switch);
priv_state get_priv();

// Whether ids are switched: settled at the first call, true only when the
// real uid was 0 then.
int can_switch_ids();

// The real uid of the process.
uid_t get_my_uid();

// Login name of uid (of the effective uid when uid is negative), or null
// when the password database has none. Caller free()s.
char *my_username(int uid);

// "PRIV_UNKNOWN" ... "PRIV_FILE_OWNER", "PRIV_INVALID" for other values.
// Static text.
const char *priv_to_string(priv_state s);

// The ids used for PRIV_TORVEL (the service account).
uid_t get_torvel_uid();
gid_t get_torvel_gid();

#endif  // TORVEL_IDENTITY_PRIVILEGES_H_
