// Stand-in for the privilege module until the real one (service account,
// user and owner ids, id switching, history) lands; that change deletes
// this file. It tracks the current state but switches NO ids: _set_priv
// only records the state. can_switch_ids, get_my_uid and my_username
// behave as the real ones, except that my_username asks getpwuid directly
// instead of the password cache.
#include "identity/privileges.h"

#include <pwd.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

namespace {
priv_state current_priv = PRIV_UNKNOWN;
bool switching_settled = false;
bool switching_allowed = true;
}  // namespace

priv_state _set_priv(priv_state s, const char *file, int line, int log_switch) {
    priv_state previous = current_priv;
    if (previous == PRIV_USER_FINAL) {
        return previous;
    }
    current_priv = s;
    return previous;
}

priv_state get_priv() {
    return current_priv;
}

int can_switch_ids() {
    if (!switching_settled) {
        if (getuid() != 0) {
            switching_allowed = false;
        }
        switching_settled = true;
    }
    return switching_allowed ? 1 : 0;
}

uid_t get_my_uid() {
    return getuid();
}

char *my_username(int uid) {
    uid_t wanted = uid < 0 ? geteuid() : static_cast<uid_t>(uid);
    struct passwd *entry = getpwuid(wanted);
    if (entry == nullptr || entry->pw_name == nullptr) {
        return nullptr;
    }
    return strdup(entry->pw_name);
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
