// The hand-over of brokered sockets across exec: _CB_inheritTo writes the
// table into this process's "CB_INHERIT<pid>" variable before an exec (after
// closing descriptors marked close-on-exec), and _CB_inheritFrom, run while
// the next program initialises the layer, takes the sockets back and
// removes the variable. Writes the process environment and the socket table.
#include "nbx/inherit.h"

#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "nbx/generic_log.h"
#include "nbx/nbx_ops.h"
#include "nbx/sock_table.h"

#define NBX_LOG_MODULE "inherit"

namespace {

void dump_socket(int fd, SockInfo *info) {
    char prefix[32];
    snprintf(prefix, sizeof prefix, "\t[fd=%d] ", fd);
    _CB_dumpSockInfo(info, D_FULL, prefix);
}

// Closes, through the layer, every brokered descriptor that would not
// survive the exec. Entries at or above _CB_maxfd are all empty.
void close_exec_doomed() {
    for (int fd = 0; fd < _CB_maxfd; ++fd) {
        if (_CB_fdInfo[fd].info == nullptr) continue;
        int flags = fcntl(fd, F_GETFD);
        if (flags < 0) {
            NBX_ERROR("_CB_inheritTo: fcntl(%d) failed", fd);
            NBX_close(fd);
        } else if (flags & FD_CLOEXEC) {
            NBX_LOG(D_FULL, "_CB_inheritTo: deleting fd %d because close-on-exec tag is set\n", fd);
            NBX_close(fd);
        }
    }
}

// A hand-over that cannot be made leaves no value behind: an older one
// would give the next program sockets this one no longer means.
int refuse(const char *name) {
    unsetenv(name);
    return -1;
}

// Number of records in a hand-over value ("$"-separated).
int count_records(const char *value) {
    int count = 1;
    for (const char *p = value; *p != '\0'; ++p) {
        if (*p == '$') ++count;
    }
    return count;
}

}  // namespace

extern "C" {

void _CB_inheritName(char *name) {
    snprintf(name, 32, "%s%ld", CB_INHERIT_PREFIX, static_cast<long>(getpid()));
}

int _CB_inheritTo(void) {
    char name[32];
    _CB_inheritName(name);
    NBX_LOG(D_FULL, "_CB_inheritTo(pid: %ld) env: %s\n", static_cast<long>(getpid()), name);
    close_exec_doomed();

    // One spare character for the "$" after the last record.
    char value[CB_INHERIT_VALUE_SIZE + 1];
    size_t length = 0;
    value[0] = '\0';
    int count = 0;
    for (int fd = 0; fd < _CB_maxfd; ++fd) {
        int type = _CB_fdInfo[fd].type;
        if (type != TCP && type != UDP) continue;
        if (++count > CB_INHERIT_MAX_SOCKETS) {
            NBX_ERROR("_CB_inheritTo: too many CB_sockets to inherit");
            return refuse(name);
        }
        char record[CB_SOCK_RECORD_SIZE];
        if (_CB_serializeSock(fd, _CB_fdInfo[fd].info, record) != 0) {
            NBX_ERROR("_CB_inheritTo: failed to serialize CB_socket");
            return refuse(name);
        }
        size_t record_length = strlen(record);
        if (length + record_length >= CB_INHERIT_VALUE_SIZE) {
            NBX_ERROR("_CB_inheritTo: CB_sockets do not fit in %d characters",
                      CB_INHERIT_VALUE_SIZE - 1);
            return refuse(name);
        }
        memcpy(value + length, record, record_length);
        length += record_length;
        value[length++] = '$';
        value[length] = '\0';
        dump_socket(fd, _CB_fdInfo[fd].info);
    }
    if (length > 0) value[--length] = '\0';
    if (setenv(name, value, 1) != 0) {
        NBX_ERROR("_CB_inheritTo: setenv() failed");
        return refuse(name);
    }
    return 0;
}

int _CB_inheritFrom(void) {
    char name[32];
    _CB_inheritName(name);
    NBX_LOG(D_FULL, "_CB_inheritFrom: env = %s\n", name);
    const char *value = getenv(name);
    if (value == nullptr || value[0] == '\0') {
        NBX_LOG(D_FULL, "_CB_inheritFrom: Nothing to inherit\n");
        return 0;
    }
    // The previous program never writes more: anything larger is not ours.
    if (strlen(value) >= CB_INHERIT_VALUE_SIZE) {
        NBX_ERROR("_CB_inheritFrom: value longer than %d characters refused",
                  CB_INHERIT_VALUE_SIZE - 1);
        return -1;
    }
    if (count_records(value) > CB_INHERIT_MAX_SOCKETS) {
        NBX_ERROR("_CB_inheritFrom: more than %d CB_sockets refused", CB_INHERIT_MAX_SOCKETS);
        return -1;
    }
    char copy[CB_INHERIT_VALUE_SIZE];
    snprintf(copy, sizeof copy, "%s", value);
    for (char *current = copy; current != nullptr;) {
        char *separator = strchr(current, '$');
        if (separator != nullptr) *separator = '\0';
        int fd = -1;
        SockInfo *info = _CB_unserializeSock(current, &fd);
        if (info == nullptr) {
            if (separator != nullptr) *separator = '$';
            NBX_ERROR("_CB_inheritFrom: failed to unserialize CB_socket cur_str: %s", current);
            return -1;
        }
        dump_socket(fd, info);
        current = separator != nullptr ? separator + 1 : nullptr;
    }
    unsetenv(name);
    return 0;
}

}  // extern "C"
