// Switching between the privilege states: the process-wide record, the id
// calls behind each state, the history of switches and the descriptions of
// each identity.
//
// Every state sets all of its ids (effective uid and gid and supplementary
// groups), so no identity keeps groups of the one before; a switch made
// only for file access (the debug log's) may keep a list that differs from
// the state's own only in holding the state's effective gid, which grants
// the same access. The ids the last
// calls left in force are remembered, and a switch makes only the calls
// that change something (every debug line switches to the service account
// and back, and an id call costs far more than the line's own work); the
// calls that need root take it first. Every id call is checked: a call
// refused because the ids were changed behind the record's back is made
// again from effective uid 0, and one that still fails ends the process
// through the fatal-error path, since its caller would otherwise act under
// ids it did not ask for. Log lines written during a switch switch ids
// themselves (the debug log writes as the service account), so the steps
// re-take root after anything that may log.
#include "identity/privileges.h"

#include <errno.h>
#include <grp.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>

#include "diagnostics/debug_log.h"
#include "diagnostics/except.h"
#include "identity/passwd_cache.h"
#include "identity/privileges_internal.h"

namespace {

IdentityRecord the_record;

// Set once an id call has failed: the ids are then unknown, and the
// switches made while the failure is reported change none.
bool ids_broken = false;

[[noreturn]] void id_call_failed(const char *call, long id) {
    int error = errno;
    ids_broken = true;
    errno = error;
    _torvel_uids_fatal(__LINE__, "%s(%ld) failed while switching ids, errno: %d (%s)", call, id,
                       error, strerror(error));
}

void check_call(int result, const char *call, long id) {
    if (result != 0) {
        id_call_failed(call, id);
    }
}

// The ids in force as the last id calls left them; a part that is not
// known (before the first switch, after a call made elsewhere) is set by
// the next switch whatever it holds.
constexpr int kRememberedGroups = 32;
struct IdsInForce {
    bool euid_known = false;
    uid_t euid = 0;
    bool egid_known = false;
    gid_t egid = 0;
    bool groups_known = false;
    int group_count = 0;
    gid_t groups[kRememberedGroups] = {};
};

IdsInForce in_force;

void forget_ids_in_force() {
    in_force.euid_known = false;
    in_force.egid_known = false;
    in_force.groups_known = false;
}

void set_euid(uid_t uid) {
    if (in_force.euid_known && in_force.euid == uid) {
        return;
    }
    in_force.euid_known = false;
    int result = seteuid(uid);
    if (result != 0 && errno == EPERM && uid != 0) {
        // Another uid than the record's is in force: from uid 0 again.
        result = seteuid(0) == 0 ? seteuid(uid) : -1;
    }
    check_call(result, "seteuid", static_cast<long>(uid));
    in_force.euid_known = true;
    in_force.euid = uid;
}

void become_root() {
    set_euid(0);
}

// Runs a call that needs effective uid 0 after taking it. A refusal with
// the record saying root is in force means the ids were changed without
// it: the call is made again after an unconditional step to uid 0.
template <typename Call>
void as_root(Call call, const char *name, long id) {
    become_root();
    int result = call();
    if (result != 0 && errno == EPERM) {
        forget_ids_in_force();
        become_root();
        result = call();
    }
    check_call(result, name, id);
}

void set_egid(gid_t gid) {
    if (in_force.egid_known && in_force.egid == gid) {
        return;
    }
    in_force.egid_known = false;
    as_root([gid] { return setegid(gid); }, "setegid", static_cast<long>(gid));
    in_force.egid_known = true;
    in_force.egid = gid;
}

bool groups_in_force(int count, const gid_t *list) {
    return in_force.groups_known && in_force.group_count == count &&
           (count == 0 || memcmp(in_force.groups, list, sizeof(gid_t) * count) == 0);
}

// Whether list is in g, or is g's primary gid.
bool in_group_set(gid_t g, gid_t primary, int count, const gid_t *list) {
    return g == primary || std::find(list, list + count, g) != list + count;
}

// Whether the groups really in force, with gid as the effective gid, grant
// what list with gid grants: the same set once gid is added to each. The
// kernel tests the effective gid before the supplementary groups in every
// access check, so the two lists may differ only in holding gid itself.
// The list is asked of the kernel, not taken from the record, so a list
// set elsewhere is never kept for its supposed access; the record learns
// it.
bool groups_in_force_grant_as(int count, const gid_t *list, gid_t gid) {
    gid_t held[kRememberedGroups];
    int held_count = getgroups(kRememberedGroups, held);
    if (held_count < 0) {
        return false;  // more than the record holds: set the list
    }
    memcpy(in_force.groups, held, sizeof(gid_t) * static_cast<size_t>(held_count));
    in_force.group_count = held_count;
    in_force.groups_known = true;
    for (int i = 0; i < held_count; ++i) {
        if (!in_group_set(held[i], gid, count, list)) {
            return false;
        }
    }
    for (int i = 0; i < count; ++i) {
        if (!in_group_set(list[i], gid, held_count, held)) {
            return false;
        }
    }
    return true;
}

// How a switch treats the supplementary groups: the state's own list
// exactly, or (a switch only for file access) any list that grants the
// same access with the state's gid.
enum class GroupRule { kExact, kSameAccess };

// Installs list, to go with gid as the effective gid.
void set_group_list(int count, const gid_t *list, gid_t gid, GroupRule rule) {
    bool keep = rule == GroupRule::kSameAccess ? groups_in_force_grant_as(count, list, gid)
                                               : groups_in_force(count, list);
    if (keep) {
        return;
    }
    in_force.groups_known = false;
    as_root([count, list] { return setgroups(static_cast<size_t>(count), list); }, "setgroups",
            count);
    if (count <= kRememberedGroups) {
        if (count > 0) {
            memcpy(in_force.groups, list, sizeof(gid_t) * count);
        }
        in_force.group_count = count;
        in_force.groups_known = true;
    }
}

// The supplementary groups of name as the process's own; when they cannot
// be had (no name, or the lookup failed) only gid, so that no group of an
// earlier identity stays. Returns with effective uid 0, and the errno of
// the failed lookup (0 when there was none to report).
int install_user_groups(const char *name, gid_t gid) {
    // The cache sets the groups itself, and the final state's calls follow:
    // both need root whatever the record says, so these rarer switches take
    // it unconditionally.
    forget_ids_in_force();
    become_root();
    int error = 0;
    bool installed = false;
    if (name != nullptr) {
        installed = pcache()->init_groups(name);
        if (!installed) {
            error = errno != 0 ? errno : EINVAL;
        }
    }
    // The cache may have logged, and a log line switches ids.
    become_root();
    if (!installed) {
        set_group_list(1, &gid, gid, GroupRule::kExact);
    }
    return error;
}

// The job user's or file owner's ids for state s, as the effective ids
// (real ones too for PRIV_USER_FINAL). Logs the group failure afterwards.
void become_account(priv_state s, const char *name, uid_t uid, gid_t gid) {
    int error = install_user_groups(name, gid);
    if (s == PRIV_USER_FINAL) {
        forget_ids_in_force();
        check_call(setgid(gid), "setgid", static_cast<long>(gid));
        check_call(setuid(uid), "setuid", static_cast<long>(uid));
        uid_t ruid, euid, suid;
        gid_t rgid, egid, sgid;
        if (getresuid(&ruid, &euid, &suid) != 0 || getresgid(&rgid, &egid, &sgid) != 0 ||
            ruid != uid || euid != uid || suid != uid || rgid != gid || egid != gid ||
            sgid != gid) {
            id_call_failed("setuid", static_cast<long>(uid));
        }
    } else {
        set_egid(gid);
        set_euid(uid);
    }
    if (error == 0 || name == nullptr) {
        return;
    }
    int id = static_cast<int>(gid);
    if (s == PRIV_USER) {
        dprintf(D_ALWAYS, "set_user_egid - ERROR: initgroups(%s, %d) failed, errno: %s\n", name, id,
                strerror(error));
    } else if (s == PRIV_USER_FINAL) {
        dprintf(D_ALWAYS, "set_user_rgid - ERROR: initgroups(%s, %d) failed, errno: %d\n", name, id,
                error);
    } else {
        dprintf(D_ALWAYS, "set_owner_egid - ERROR: initgroups(%s, %d) failed, errno: %s\n", name,
                id, strerror(error));
    }
}

// A user or owner state without its ids would leave the process as root:
// the lines say which ids are missing, then the process ends.
void require_ids(priv_state s) {
    const IdentityRecord &r = the_record;
    if ((s == PRIV_USER || s == PRIV_USER_FINAL) && !r.user_ids_set) {
        bool final = s == PRIV_USER_FINAL;
        dprintf(D_ALWAYS, final ? "set_user_rgid() called when UserIds not inited!\n"
                                : "set_user_egid() called when UserIds not inited!\n");
        dprintf(D_ALWAYS, final ? "set_user_ruid() called when UserIds not inited!\n"
                                : "set_user_euid() called when UserIds not inited!\n");
        _torvel_uids_fatal(__LINE__, "cannot switch to %s: user ids are not initialized",
                           priv_to_string(s));
    }
    if (s == PRIV_FILE_OWNER && !r.owner_ids_set) {
        dprintf(D_ALWAYS, "set_owner_egid() called when OwnerIds not inited!\n");
        dprintf(D_ALWAYS, "set_owner_euid() called when OwnerIds not inited!\n");
        _torvel_uids_fatal(__LINE__, "cannot switch to %s: owner ids are not initialized",
                           priv_to_string(s));
    }
    if (static_cast<unsigned>(s) > PRIV_FILE_OWNER) {
        dprintf(D_ALWAYS, "set_priv: Unknown priv state %d\n", static_cast<int>(s));
        _torvel_uids_fatal(__LINE__, "cannot switch to unknown priv state %d", static_cast<int>(s));
    }
}

void switch_ids(priv_state s, GroupRule rule) {
    IdentityRecord &r = the_record;
    switch (s) {
        case PRIV_UNKNOWN:
            // Back to the ids the process had before its first switch.
            set_group_list(r.start_group_count, r.start_groups, r.start_egid, rule);
            set_egid(r.start_egid);
            set_euid(r.start_euid);
            break;
        case PRIV_ROOT:
            set_group_list(r.start_group_count, r.start_groups, r.my_gid, rule);
            set_egid(r.my_gid);
            become_root();
            break;
        case PRIV_TORVEL:
            set_group_list(r.service_group_count, r.service_groups, r.service_gid, rule);
            set_egid(r.service_gid);
            set_euid(r.service_uid);
            break;
        case PRIV_USER:
        case PRIV_USER_FINAL:
            become_account(s, r.user_name, r.user_uid, r.user_gid);
            break;
        case PRIV_FILE_OWNER:
            become_account(s, r.owner_name, r.owner_uid, r.owner_gid);
            break;
    }
}

}  // namespace

IdentityRecord &_torvel_identity() {
    return the_record;
}

void _torvel_uids_fatal(int line, const char *format, ...) {
    char message[1024];
    int error = errno;
    va_list args;
    va_start(args, format);
    vsnprintf(message, sizeof message, format, args);
    va_end(args);
    _EXCEPT_Line = line;
    _EXCEPT_File = "uids";
    _EXCEPT_Errno = error;
    _EXCEPT_("%s", message);
}

namespace {

// _set_priv, with the given rule for the groups.
priv_state switch_priv(priv_state s, const char *file, int line, int log_switch, GroupRule rule) {
    IdentityRecord &r = the_record;
    priv_state old = r.current_priv;
    if (s == old) {
        return old;
    }
    if (old == PRIV_USER_FINAL) {
        dprintf(D_ALWAYS, "warning: attempted switch out of PRIV_USER_FINAL\n");
        return PRIV_USER_FINAL;
    }
    _torvel_init_ids_once();
    if (can_switch_ids() && !ids_broken) {
        require_ids(s);
        r.current_priv = s;
        switch_ids(s, rule);
    } else {
        r.current_priv = s;
    }
    if (log_switch) {
        log_priv(old, r.current_priv, file, line);
    }
    return old;
}

}  // namespace

priv_state _set_priv(priv_state s, const char *file, int line, int log_switch) {
    return switch_priv(s, file, line, log_switch, GroupRule::kExact);
}

priv_state _torvel_set_priv_for_files(priv_state s, const char *file, int line) {
    return switch_priv(s, file, line, 0, GroupRule::kSameAccess);
}

priv_state get_priv() {
    return the_record.current_priv;
}

int can_switch_ids() {
    IdentityRecord &r = the_record;
    if (!r.switching_settled) {
        if (getuid() != 0) {
            r.switching_allowed = 0;
        }
        r.switching_settled = true;
    }
    return r.switching_allowed;
}

int is_root() {
    return getuid() == 0 ? 1 : 0;
}

const char *priv_to_string(priv_state s) {
    switch (s) {
        case PRIV_UNKNOWN:
            return "PRIV_UNKNOWN";
        case PRIV_ROOT:
            return "PRIV_ROOT";
        case PRIV_TORVEL:
            return "PRIV_TORVEL";
        case PRIV_USER:
            return "PRIV_USER";
        case PRIV_USER_FINAL:
            return "PRIV_USER_FINAL";
        case PRIV_FILE_OWNER:
            return "PRIV_FILE_OWNER";
    }
    return "PRIV_INVALID";
}

void log_priv(priv_state previous, priv_state now, const char *file, int line) {
    IdentityRecord &r = the_record;
    dprintf(D_PRIV, "%s --> %s at %s:%d\n", priv_to_string(previous), priv_to_string(now),
            file != nullptr ? file : "", line);
    PrivHistoryEntry &slot = r.history[r.history_next];
    slot.when = time(nullptr);
    slot.state = now;
    slot.file = file;
    slot.line = line;
    r.history_next = (r.history_next + 1) % kPrivHistorySize;
    if (r.history_count < kPrivHistorySize) {
        ++r.history_count;
    }
}

void display_priv_log() {
    const IdentityRecord &r = the_record;
    if (can_switch_ids()) {
        dprintf(D_ALWAYS, "running as root; privilege switching in effect\n");
    } else {
        dprintf(D_ALWAYS, "running as non-root; no privilege switching\n");
    }
    for (int i = 1; i <= r.history_count; ++i) {
        const PrivHistoryEntry &entry =
            r.history[(r.history_next - i + kPrivHistorySize) % kPrivHistorySize];
        char when[64];
        if (ctime_r(&entry.when, when) == nullptr) {
            snprintf(when, sizeof when, "%ld\n", static_cast<long>(entry.when));
        }
        dprintf(D_ALWAYS, "--> %s at %s:%d %s", priv_to_string(entry.state),
                entry.file != nullptr ? entry.file : "", entry.line, when);
    }
}

const char *priv_identifier(priv_state s) {
    IdentityRecord &r = the_record;
    char *text = r.identifier_text;
    size_t size = sizeof r.identifier_text;
    switch (s) {
        case PRIV_UNKNOWN:
            snprintf(text, size, "unknown user");
            break;
        case PRIV_ROOT:
            snprintf(text, size, "SuperUser (root)");
            break;
        case PRIV_TORVEL:
            _torvel_init_ids_once();
            snprintf(text, size, "Torvel daemon user '%s' (%d.%d)", r.service_name,
                     static_cast<int>(r.service_uid), static_cast<int>(r.service_gid));
            break;
        case PRIV_FILE_OWNER:
            if (!r.owner_ids_set) {
                _torvel_uids_fatal(__LINE__,
                                   "Programmer Error: priv_identifier() called for "
                                   "PRIV_FILE_OWNER, but owner ids are not initialized");
            }
            snprintf(text, size, "file owner '%s' (%d.%d)",
                     r.owner_name != nullptr ? r.owner_name : "unknown",
                     static_cast<int>(r.owner_uid), static_cast<int>(r.owner_gid));
            break;
        case PRIV_USER:
        case PRIV_USER_FINAL:
            if (!r.user_ids_set) {
                _torvel_uids_fatal(__LINE__,
                                   "Programmer Error: priv_identifier() called for %s, but user "
                                   "ids are not initialized",
                                   priv_to_string(s));
            }
            snprintf(text, size, "User '%s' (%d.%d)",
                     r.user_name != nullptr ? r.user_name : "unknown", static_cast<int>(r.user_uid),
                     static_cast<int>(r.user_gid));
            break;
        default:
            _torvel_uids_fatal(__LINE__, "Programmer error: unknown state (%d) in priv_identifier",
                               static_cast<int>(s));
    }
    return text;
}
