// Learning the ids behind each identity: the service account (from the
// distribution's account or the TORVEL_IDS pair), the process's own ids,
// the job's user and a file's owner, and the login names that go with
// them. All lookups go through the password cache. Writes the process-wide
// identity record; a service account that cannot be settled ends the
// process with status 1.
#include <errno.h>
#include <limits.h>
#include <pwd.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <unistd.h>

#include "config/distribution.h"
#include "config/param.h"
#include "config/well_known_names.h"
#include "diagnostics/debug_log.h"
#include "identity/passwd_cache.h"
#include "identity/privileges.h"
#include "identity/privileges_internal.h"

namespace {

IdentityRecord &record() {
    return _torvel_identity();
}

char *copy_or_die(const char *text) {
    char *copy = strdup(text);
    if (copy == nullptr) {
        _torvel_uids_fatal(__LINE__, "Out of memory. Aborting.");
    }
    return copy;
}

// One decimal int, as "%d" reads it; false when absent or out of range.
bool parse_int(const char *&text, int &value) {
    char *end = nullptr;
    errno = 0;
    long number = strtol(text, &end, 10);
    if (end == text || errno == ERANGE || number < INT_MIN || number > INT_MAX) {
        return false;
    }
    value = static_cast<int>(number);
    text = end;
    return true;
}

// "<uid>.<gid>", as "%d.%d" reads it (text after the gid is ignored).
bool parse_ids(const char *text, int &uid, int &gid) {
    if (!parse_int(text, uid) || *text != '.') {
        return false;
    }
    ++text;
    return parse_int(text, gid);
}

[[noreturn]] void bad_ids(const char *ids_name, const char *where, const char *value,
                          char *to_free) {
    const char *distro = myDistro->Get();
    fprintf(stderr, "ERROR: badly formed value in %s ", ids_name);
    fprintf(stderr, "%s variable (%s).\n", where, value);
    fprintf(stderr, "Please set %s to ", ids_name);
    fprintf(stderr, "the '.' seperated uid, gid pair that\n");
    fprintf(stderr, "should be used by %s.\n", distro);
    free(to_free);
    exit(1);
}

[[noreturn]] void unknown_ids_uid(const char *ids_name, const char *where, int uid, char *to_free) {
    const char *distro = myDistro->Get();
    fprintf(stderr, "ERROR: the uid specified in %s ", ids_name);
    fprintf(stderr, "%s variable (%d)\n", where, uid);
    fprintf(stderr, "does not exist in your password information.\n");
    fprintf(stderr, "Please set %s to ", ids_name);
    fprintf(stderr, "the '.' seperated uid, gid pair that\n");
    fprintf(stderr, "should be used by %s.\n", distro);
    free(to_free);
    exit(1);
}

// The service account's supplementary groups, learned once so that the
// frequent switches to it need no lookup; its gid alone when they cannot
// be had.
void learn_service_groups(IdentityRecord &r) {
    free(r.service_groups);
    r.service_groups = nullptr;
    r.service_group_count = 0;
    // Reading a user's groups installs them for a moment, which needs
    // root: a process that gave its effective uid away before its ids were
    // learned takes uid 0 back for the lookup (its real uid is 0).
    uid_t euid = geteuid();
    bool lent = euid != 0 && seteuid(0) == 0;
    int count = pcache()->num_groups(r.service_name);
    if (count > 0) {
        gid_t *list = static_cast<gid_t *>(malloc(sizeof(gid_t) * static_cast<size_t>(count)));
        if (list != nullptr && pcache()->get_groups(r.service_name, count, list)) {
            r.service_groups = list;
            r.service_group_count = count;
        } else {
            free(list);
        }
    }
    if (lent && seteuid(euid) != 0) {
        _torvel_uids_fatal(__LINE__, "seteuid(%ld) failed after learning groups, errno: %d",
                           static_cast<long>(euid), errno);
    }
    if (r.service_groups != nullptr) {
        return;
    }
    r.service_groups = static_cast<gid_t *>(malloc(sizeof(gid_t)));
    if (r.service_groups == nullptr) {
        _torvel_uids_fatal(__LINE__, "Out of memory. Aborting.");
    }
    r.service_groups[0] = r.service_gid;
    r.service_group_count = 1;
}

// The real ids, the ids before any switch, and the ids of the account
// named like the distribution (INT_MAX when there is none).
void learn_own_and_account_ids(IdentityRecord &r, const char *distro) {
    if (!r.start_ids.known) {
        _torvel_read_ids(r.start_ids);  // once per process: before any switch
    }
    r.my_uid = getuid();
    r.my_gid = getgid();
    r.account_uid = INT_MAX;
    r.account_gid = INT_MAX;
    uid_t found_uid;
    gid_t found_gid;
    if (pcache()->get_user_ids(distro, found_uid, found_gid)) {
        r.account_uid = found_uid;
        r.account_gid = found_gid;
    }
}

// The distribution's ids variable: its value from the environment, else
// from the configuration, read as a uid and gid whose uid has a name.
struct IdsSetting {
    const char *name = nullptr;
    const char *where = "environment";
    char *from_config = nullptr;  // malloc, or null
    const char *value = nullptr;  // null when set in neither place
    int uid = 0;
    int gid = 0;
    char *account = nullptr;  // malloc: the password name of uid, or null
};

// Fills ids; a value that is badly formed or names an unknown uid ends the
// process with status 1.
void read_ids_setting(IdsSetting &ids) {
    ids.name = EnvGetName(ENVIRON_IDS);
    ids.value = getenv(ids.name);
    if (ids.value == nullptr) {
        ids.from_config = param(ids.name);
        ids.value = ids.from_config;
        ids.where = "config file";
    }
    if (ids.value == nullptr) {
        return;
    }
    if (!parse_ids(ids.value, ids.uid, ids.gid)) {
        bad_ids(ids.name, ids.where, ids.value, ids.from_config);
    }
    if (!pcache()->get_user_name(static_cast<uid_t>(ids.uid), ids.account)) {
        unknown_ids_uid(ids.name, ids.where, ids.uid, ids.from_config);
    }
}

// A process that switches ids: the service account is the ids setting,
// else the distribution's account; without either the process ends with
// status 1.
void settle_switched_service(IdentityRecord &r, IdsSetting &ids, const char *distro) {
    if (ids.value != nullptr) {
        r.service_uid = static_cast<uid_t>(ids.uid);
        r.service_gid = static_cast<gid_t>(ids.gid);
        r.service_name = ids.account;
        ids.account = nullptr;
    } else if (r.account_uid != static_cast<uid_t>(INT_MAX)) {
        r.service_uid = r.account_uid;
        r.service_gid = r.account_gid;
        r.service_name = copy_or_die(distro);
    } else {
        fprintf(stderr,
                "Can't find \"%s\" in the password file and %s not defined in %s_config or "
                "as an environment variable.\n",
                distro, ids.name, distro);
        free(ids.from_config);
        exit(1);
    }
    learn_service_groups(r);
}

// A process that does not switch ids is its own service account.
void settle_own_service(IdentityRecord &r, const IdsSetting &ids) {
    r.service_uid = r.my_uid;
    r.service_gid = r.my_gid;
    if (!pcache()->get_user_name(r.my_uid, r.service_name)) {
        r.service_name = copy_or_die("Unknown");
    }
    if (ids.value != nullptr && static_cast<uid_t>(ids.uid) == r.my_uid) {
        r.account_uid = r.my_uid;
        r.account_gid = r.my_gid;
    }
}

// The job user's ids and name, after the checks every setter shares.
int record_user(uid_t uid, gid_t gid, const char *name, bool quiet) {
    IdentityRecord &r = record();
    if (uid == 0 || gid == 0) {
        dprintf(D_ALWAYS, "ERROR: Attempt to initialize user_priv with root privileges rejected\n");
        return 0;
    }
    if (get_my_uid() != 0) {
        // Not root: the only user this process can be is itself, and a
        // given name would no longer match the ids.
        uid = r.my_uid;
        gid = r.my_gid;
        name = nullptr;
    }
    if (r.user_ids_set && r.user_uid != uid && !quiet) {
        dprintf(D_ALWAYS, "warning: setting UserUid to %d, was %d previosly\n",
                static_cast<int>(uid), static_cast<int>(r.user_uid));
    }
    // Copied before the old name is freed: name may be that very text.
    char *new_name = nullptr;
    if (name != nullptr) {
        new_name = copy_or_die(name);
    } else {
        pcache()->get_user_name(uid, new_name);
    }
    free(r.user_name);
    r.user_name = new_name;
    r.user_uid = uid;
    r.user_gid = gid;
    r.user_ids_set = true;
    return 1;
}

int init_user_ids_with(const char *name, bool quiet) {
    if (get_my_uid() != 0) {
        IdentityRecord &r = record();
        return record_user(r.my_uid, r.my_gid, nullptr, quiet);
    }
    if (name == nullptr) {
        return 0;
    }
    if (strcasecmp(name, "nobody") == 0) {
        return init_nobody_ids(quiet ? 1 : 0);
    }
    uid_t uid;
    gid_t gid;
    if (pcache()->get_user_uid(name, uid) && pcache()->get_user_gid(name, gid)) {
        endpwent();
        return record_user(uid, gid, name, quiet);
    }
    if (!quiet) {
        dprintf(D_ALWAYS, "%s not in passwd file\n", name);
    }
    endpwent();
    return 0;
}

}  // namespace

void _torvel_init_ids_once() {
    if (!record().service_ids_set) {
        init_torvel_ids();
    }
}

void init_torvel_ids() {
    IdentityRecord &r = record();
    const char *distro = myDistro->Get();
    learn_own_and_account_ids(r, distro);
    IdsSetting ids;
    read_ids_setting(ids);
    free(r.service_name);
    r.service_name = nullptr;
    if (can_switch_ids()) {
        settle_switched_service(r, ids, distro);
    } else {
        settle_own_service(r, ids);
    }
    free(ids.account);
    free(ids.from_config);
    endpwent();
    r.service_ids_set = true;
}

uid_t get_torvel_uid() {
    _torvel_init_ids_once();
    return record().service_uid;
}

gid_t get_torvel_gid() {
    _torvel_init_ids_once();
    return record().service_gid;
}

const char *get_torvel_username() {
    _torvel_init_ids_once();
    return record().service_name;
}

uid_t get_real_torvel_uid() {
    _torvel_init_ids_once();
    return record().account_uid;
}

gid_t get_real_torvel_gid() {
    _torvel_init_ids_once();
    return record().account_gid;
}

uid_t get_my_uid() {
    _torvel_init_ids_once();
    return record().my_uid;
}

gid_t get_my_gid() {
    _torvel_init_ids_once();
    return record().my_gid;
}

int init_user_ids(const char *name) {
    return init_user_ids_with(name, false);
}

int init_user_ids_quiet(const char *name) {
    return init_user_ids_with(name, true);
}

int set_user_ids(uid_t uid, gid_t gid) {
    return record_user(uid, gid, nullptr, false);
}

int set_user_ids_quiet(uid_t uid, gid_t gid) {
    return record_user(uid, gid, nullptr, true);
}

int init_nobody_ids(int quiet) {
    uid_t uid;
    gid_t gid;
    if (!pcache()->get_user_uid("nobody", uid) || !pcache()->get_user_gid("nobody", gid)) {
        if (!quiet) {
            dprintf(D_ALWAYS, "Can't find UID for \"nobody\" in passwd file\n");
        }
        return 0;
    }
    if (uid == 0 || gid == 0) {
        return 0;
    }
    return record_user(uid, gid, "nobody", quiet != 0);
}

void uninit_user_ids() {
    record().user_ids_set = false;
}

uid_t get_user_uid() {
    if (!record().user_ids_set) {
        dprintf(D_ALWAYS, "get_user_uid() called when UserIds not inited!\n");
        return static_cast<uid_t>(-1);
    }
    return record().user_uid;
}

gid_t get_user_gid() {
    if (!record().user_ids_set) {
        dprintf(D_ALWAYS, "get_user_gid() called when UserIds not inited!\n");
        return static_cast<gid_t>(-1);
    }
    return record().user_gid;
}

const char *get_user_loginname() {
    return record().user_name;
}

int set_file_owner_ids(uid_t uid, gid_t gid) {
    IdentityRecord &r = record();
    if (r.owner_ids_set && r.owner_uid != uid) {
        dprintf(D_ALWAYS, "warning: setting OwnerUid to %d, was %d previosly\n",
                static_cast<int>(uid), static_cast<int>(r.owner_uid));
    }
    r.owner_uid = uid;
    r.owner_gid = gid;
    r.owner_ids_set = true;
    char *name = nullptr;
    pcache()->get_user_name(uid, name);
    free(r.owner_name);
    r.owner_name = name;
    return 1;
}

void uninit_file_owner_ids() {
    record().owner_ids_set = false;
}

uid_t get_file_owner_uid() {
    if (!record().owner_ids_set) {
        dprintf(D_ALWAYS, "get_file_owner_uid() called when OwnerIds not inited!\n");
        return static_cast<uid_t>(-1);
    }
    return record().owner_uid;
}

gid_t get_file_owner_gid() {
    if (!record().owner_ids_set) {
        dprintf(D_ALWAYS, "get_file_owner_gid() called when OwnerIds not inited!\n");
        return static_cast<gid_t>(-1);
    }
    return record().owner_gid;
}

const char *get_real_username() {
    IdentityRecord &r = record();
    if (r.real_user_name == nullptr) {
        uid_t uid = getuid();
        if (!pcache()->get_user_name(uid, r.real_user_name)) {
            char text[32];
            snprintf(text, sizeof text, "uid %d", static_cast<int>(uid));
            r.real_user_name = copy_or_die(text);
        }
    }
    return r.real_user_name;
}

char *my_username(int uid) {
    uid_t wanted = uid < 0 ? geteuid() : static_cast<uid_t>(uid);
    char *name = nullptr;
    pcache()->get_user_name(wanted, name);
    return name;
}

char *my_domainname() {
    return nullptr;
}
