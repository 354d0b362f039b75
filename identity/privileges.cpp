// Switching between the privilege states: the process-wide record, the id
// calls behind each state, the history of switches and the descriptions of
// each identity.
//
// Every state sets all of its ids (effective uid and gid and supplementary
// groups), so no identity keeps groups of the one before; a switch made
// only for file access (the debug log's) may keep a list that differs from
// the state's own only in holding the state's effective gid, which grants
// the same access. PRIV_UNKNOWN puts back the ids the process had when it
// last left it. A switch makes only the calls that change something (every
// debug line switches to the service account and back, and an id call
// costs far more than the line's own work), judged by the ids the kernel
// holds when the switch starts, never by what an earlier switch left: the
// program may have changed them itself. The calls that need root take it
// first. Every id call is checked, and one that fails ends the process
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

// The effective ids in force. Read from the kernel at the start of every
// switch: the program may have changed them itself since the last switch
// (seteuid(0) in the embedding program), and a record taken on trust would
// skip a call the switch needs. Within the switch, the switch's own calls
// keep it; a step that cannot tell what another call did forgets it.
struct IdsInForce {
    bool known = false;
    uid_t euid = 0;
    gid_t egid = 0;
};

IdsInForce in_force;

void read_ids_in_force() {
    in_force.euid = geteuid();
    in_force.egid = getegid();
    in_force.known = true;
}

void forget_ids_in_force() {
    in_force.known = false;
}

void become_root() {
    if (in_force.known && in_force.euid == 0) {
        return;
    }
    in_force.known = false;
    check_call(seteuid(0), "seteuid", 0);
    read_ids_in_force();
}

void set_euid(uid_t uid) {
    if (in_force.known && in_force.euid == uid) {
        return;
    }
    // The real and saved uids are 0: from one uid other than 0, only 0
    // can be reached.
    if (uid != 0) {
        become_root();
    }
    in_force.known = false;
    check_call(seteuid(uid), "seteuid", static_cast<long>(uid));
    read_ids_in_force();
}

// Runs a call that needs effective uid 0 after taking it.
template <typename Call>
void as_root(Call call, const char *name, long id) {
    become_root();
    check_call(call(), name, id);
}

void set_egid(gid_t gid) {
    if (in_force.known && in_force.egid == gid) {
        return;
    }
    as_root([gid] { return setegid(gid); }, "setegid", static_cast<long>(gid));
    in_force.egid = gid;
}

// Whether every gid of a is in b, or is *extra when extra is given.
bool groups_within(int a_count, const gid_t *a, int b_count, const gid_t *b, const gid_t *extra) {
    for (int i = 0; i < a_count; ++i) {
        bool found =
            (extra != nullptr && a[i] == *extra) || std::find(b, b + b_count, a[i]) != b + b_count;
        if (!found) {
            return false;
        }
    }
    return true;
}

// How a switch treats the supplementary groups: the state's own list
// exactly, or (a switch only for file access) any list that grants the
// same access with the state's gid. The kernel tests the effective gid
// before the supplementary groups in every access check, so such a list
// may differ from the state's only in holding that gid.
enum class GroupRule { kExact, kSameAccess };

constexpr int kComparedGroups = 64;

// Whether the groups the kernel holds (never a record of them, so a list
// set elsewhere is never kept for its supposed access) serve as list with
// gid as the effective gid. A longer list than is compared is set again.
// The groups the switch under way read from the kernel before it made any
// call, when it did; taken by the state's first step, a group list step.
const IdSet *groups_just_read = nullptr;

bool groups_in_force_serve(int count, const gid_t *list, gid_t gid, GroupRule rule) {
    gid_t held_here[kComparedGroups];
    const gid_t *held = held_here;
    int held_count;
    if (groups_just_read != nullptr) {
        held = groups_just_read->groups;
        held_count = groups_just_read->group_count;
        groups_just_read = nullptr;
    } else {
        held_count = getgroups(kComparedGroups, held_here);
    }
    if (held_count < 0) {
        return false;
    }
    // The same set (the kernel keeps its own order), give or take gid for
    // a file-access switch.
    const gid_t *extra = rule == GroupRule::kSameAccess ? &gid : nullptr;
    return groups_within(held_count, held, count, list, extra) &&
           groups_within(count, list, held_count, held, extra);
}

// Installs list, to go with gid as the effective gid.
void set_group_list(int count, const gid_t *list, gid_t gid, GroupRule rule) {
    if (groups_in_force_serve(count, list, gid, rule)) {
        return;
    }
    as_root([count, list] { return setgroups(static_cast<size_t>(count), list); }, "setgroups",
            count);
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
            // Back to the ids the process had when it left this state.
            set_group_list(r.unknown_ids.group_count, r.unknown_ids.groups, r.unknown_ids.egid,
                           rule);
            set_egid(r.unknown_ids.egid);
            set_euid(r.unknown_ids.euid);
            break;
        case PRIV_ROOT:
            set_group_list(r.start_ids.group_count, r.start_ids.groups, r.my_gid, rule);
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

void _torvel_read_ids(IdSet &ids) {
    ids.euid = geteuid();
    ids.egid = getegid();
    // getgroups(0, ...) counts without storing, so an empty list asks
    // for the count first.
    int count = ids.group_room > 0 ? getgroups(ids.group_room, ids.groups) : -1;
    while (count < 0) {
        count = getgroups(0, nullptr);
        if (count < 0) {
            id_call_failed("getgroups", 0);
        }
        int room = count > 0 ? count : 1;
        gid_t *groups = static_cast<gid_t *>(realloc(ids.groups, sizeof(gid_t) * room));
        if (groups == nullptr) {
            _torvel_uids_fatal(__LINE__, "Out of memory. Aborting.");
        }
        ids.groups = groups;
        ids.group_room = room;
        count = getgroups(room, groups);  // -1 again if the list grew meanwhile
    }
    ids.group_count = count;
    ids.known = true;
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
        if (old == PRIV_UNKNOWN) {
            _torvel_read_ids(r.unknown_ids);
            in_force.euid = r.unknown_ids.euid;
            in_force.egid = r.unknown_ids.egid;
            in_force.known = true;
            if (s == PRIV_ROOT || s == PRIV_TORVEL) {
                groups_just_read = &r.unknown_ids;
            }
        } else {
            read_ids_in_force();
        }
        r.current_priv = s;
        switch_ids(s, rule);
        groups_just_read = nullptr;
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
