// The process-wide privilege state: which identity (root, the service
// account, the job's user, a file's owner) is in force, the ids of each,
// the switching of effective (and once, for good, real) user and group ids
// between them, and a short history of the switches. Ids are switched only
// when the process started with real uid 0; otherwise only the state is
// tracked. A switch whose id calls fail ends the process (status 4): it
// never goes on under ids it did not ask for. Single-threaded.
#ifndef TORVEL_IDENTITY_PRIVILEGES_H_
#define TORVEL_IDENTITY_PRIVILEGES_H_

#include <sys/types.h>

// A 32-bit enumeration: any int is a value (those outside 0 .. 5 are
// invalid states, which callers may still pass).
enum priv_state : int {
    PRIV_UNKNOWN = 0,
    PRIV_ROOT = 1,
    PRIV_TORVEL = 2,
    PRIV_USER = 3,
    PRIV_USER_FINAL = 4,
    PRIV_FILE_OWNER = 5,
};

// ---- Switching and state ----

// Switches to s and returns the state in force before. file and line are
// the caller's position (borrowed: must outlive the process's history, so
// pass __FILE__), log_switch non-zero records the switch. PRIV_UNKNOWN
// puts back the ids the process had before its first switch. Once in
// PRIV_USER_FINAL nothing changes any more.
priv_state _set_priv(priv_state s, const char *file, int line, int log_switch);
// As _set_priv without logging, for a switch made only to reach files as
// s (the debug log's): the supplementary groups really in force are kept
// when, with the effective gid of s, they grant exactly what the groups of
// s grant (they differ only in holding that gid), sparing two setgroups
// calls per switch and back. The switch back must be an exact _set_priv.
priv_state _torvel_set_priv_for_files(priv_state s, const char *file, int line);
priv_state get_priv();

// Whether ids are switched: settled at the first call, true only when the
// real uid was 0 then.
int can_switch_ids();
// Whether the real uid is 0.
int is_root();

// "PRIV_UNKNOWN" ... "PRIV_FILE_OWNER", "PRIV_INVALID" for other values.
// Static text.
const char *priv_to_string(priv_state s);

// Logs "<from> --> <to> at file:line" at D_PRIV and keeps it in the
// history of the last 32 switches.
void log_priv(priv_state previous, priv_state now, const char *file, int line);
// Logs whether ids are switched and the history, newest first.
void display_priv_log();

// ---- Identities ----

// Learns the service account (the distribution's account, or TORVEL_IDS
// from the environment or the configuration). Runs by itself on first
// need; a badly formed or unknown TORVEL_IDS, or a root process with
// neither, ends the process with status 1.
void init_torvel_ids();
// The ids used for PRIV_TORVEL (the service account).
uid_t get_torvel_uid();
gid_t get_torvel_gid();
// The service account's name. Owned by the module: never freed.
const char *get_torvel_username();
// The ids of the distribution's own account; INT_MAX when there is none.
uid_t get_real_torvel_uid();
gid_t get_real_torvel_gid();

// The real ids of the process.
uid_t get_my_uid();
gid_t get_my_gid();

// The job's user by name ("nobody" in any case uses init_nobody_ids); 1 on
// success. A process that is not root always records its own ids.
int init_user_ids(const char *name);
int init_user_ids_quiet(const char *name);
// The job's user by ids; root ids (0) are refused. 1 on success.
int set_user_ids(uid_t uid, gid_t gid);
int set_user_ids_quiet(uid_t uid, gid_t gid);
// The job's user becomes the account "nobody"; 1 on success.
int init_nobody_ids(int quiet);
// Forgets the job's user (the last ids and name stay, marked unset).
void uninit_user_ids();
// The job user's ids, or -1 (logged) when not set.
uid_t get_user_uid();
gid_t get_user_gid();
// The job user's login name, or null. Owned by the module: never freed.
const char *get_user_loginname();

// The owner of a file being handled; root is accepted. Always 1.
int set_file_owner_ids(uid_t uid, gid_t gid);
void uninit_file_owner_ids();
// The owner's ids, or -1 (logged) when not set.
uid_t get_file_owner_uid();
gid_t get_file_owner_gid();

// Name of the real uid, or "uid <n>"; computed once. Owned by the module.
const char *get_real_username();

// Login name of uid (of the effective uid when uid is negative), or null
// when the password database has none. Caller free()s.
char *my_username(int uid);
// Always null.
char *my_domainname();

// A readable description of the identity of s. Static buffer, overwritten
// by the next call. An unknown state, or a user or owner state whose ids
// are not set, ends the process (status 4).
const char *priv_identifier(priv_state s);

#endif  // TORVEL_IDENTITY_PRIVILEGES_H_
