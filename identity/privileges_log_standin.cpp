// Stand-in for the service account's ids until the real privilege module
// (which learns them from TORVEL_IDS or the torvel account) lands; that
// change deletes this file. Like the stand-in of _set_priv, which switches
// no ids, it answers as a process that cannot switch ids: the service
// account is the process's own real uid and gid.
#include <unistd.h>

#include "identity/privileges.h"

uid_t get_torvel_uid() {
    return getuid();
}

gid_t get_torvel_gid() {
    return getgid();
}
