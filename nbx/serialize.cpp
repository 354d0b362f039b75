// One hand-over record per brokered descriptor: writing a table entry as
// text before an exec, and reading it back into the table of the next
// program. The reader trusts nothing: every number is range-checked, every
// address must be dotted "<a.b.c.d:port>", and every descriptor it names
// must be open in this process, not yet managed, and a socket of the kind
// the record says, or the record is refused whole. Writes the socket table;
// records are calloc()ed and owned by the table.
#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include "nbx/generic_log.h"
#include "nbx/inherit.h"
#include "nbx/sock_table.h"
#include "nbx/wrappers.h"

#define NBX_LOG_MODULE "serialize"

namespace {

const char kInvalid[] = "_CB_unserializeSock: invalid string passed to unserialize";
const int kMaxDigits = 9;  // keeps every parsed number far from overflow

// Bounded writer for one record; remembers whether anything was cut.
struct RecordWriter {
    char *out;
    size_t size;
    size_t length = 0;
    bool fits = true;

    RecordWriter(char *buffer, size_t buffer_size) : out(buffer), size(buffer_size) {
        out[0] = '\0';
    }

    void add(const char *format, ...) __attribute__((format(printf, 2, 3))) {
        if (!fits) return;
        va_list args;
        va_start(args, format);
        int used = vsnprintf(out + length, size - length, format, args);
        va_end(args);
        if (used < 0 || static_cast<size_t>(used) >= size - length) {
            fits = false;
            out[length] = '\0';
            return;
        }
        length += static_cast<size_t>(used);
    }
};

const char *status_letter(int status) {
    switch (status) {
        case CREATED:
            return "N";
        case BOUND:
            return "B";
        case LISTENING:
            return "L";
        case PASSIVE_CONNECTING:
            return "P";
        case CONNECTED:
            return "C";
        case CONN_FAILED:
            return "F";
        default:
            return nullptr;  // NONE, ACTIVE_CONNECTING and anything else
    }
}

int status_from_letter(char letter) {
    switch (letter) {
        case 'B':
            return BOUND;
        case 'C':
            return CONNECTED;
        case 'F':
            return CONN_FAILED;
        case 'L':
            return LISTENING;
        case 'N':
            return CREATED;
        case 'P':
            return PASSIVE_CONNECTING;
        default:
            return -1;
    }
}

// Reads an unsigned decimal of 1 to kMaxDigits digits at *text.
bool read_number(const char **text, long *value) {
    const char *p = *text;
    long result = 0;
    int digits = 0;
    while (*p >= '0' && *p <= '9') {
        if (++digits > kMaxDigits) return false;
        result = result * 10 + (*p - '0');
        ++p;
    }
    if (digits == 0) return false;
    *value = result;
    *text = p;
    return true;
}

// Reads "<a.b.c.d:port>" at *text into address (network byte order).
bool read_address(const char **text, CBAddr *address) {
    const char *p = *text;
    if (*p++ != '<') return false;
    unsigned char bytes[4];
    for (int i = 0; i < 4; ++i) {
        long part;
        if (!read_number(&p, &part) || part > 255) return false;
        bytes[i] = static_cast<unsigned char>(part);
        if (*p++ != (i < 3 ? '.' : ':')) return false;
    }
    long port;
    if (!read_number(&p, &port) || port > 65535 || *p++ != '>') return false;
    memcpy(&address->ip.s_addr, bytes, 4);
    address->port = htons(static_cast<in_port_t>(port));
    *text = p;
    return true;
}

bool expect(const char **text, char c) {
    if (**text != c) return false;
    ++*text;
    return true;
}

// True when fd is open in this process and an AF_INET socket of kind.
bool is_inet_socket(int fd, int kind) {
    if (fcntl(fd, F_GETFD) < 0) return false;
    int value = 0;
    socklen_t length = sizeof value;
    if (__real_getsockopt(fd, SOL_SOCKET, SO_TYPE, &value, &length) != 0 ||
        length != sizeof value || value != kind) {
        return false;
    }
    length = sizeof value;
    return __real_getsockopt(fd, SOL_SOCKET, SO_DOMAIN, &value, &length) == 0 &&
           length == sizeof value && value == AF_INET;
}

// True when fd may join the table: in range, unmanaged, not waiting in a
// queue, open, and a socket of kind.
bool is_free_socket(long fd, int kind) {
    return fd >= 0 && fd < _NBX_max_no_fds && _CB_fdInfo[fd].type == NOT_DEFINED &&
           !_CB_isHiddenFd(static_cast<int>(fd)) && is_inet_socket(static_cast<int>(fd), kind);
}

bool same_open_file(int a, int b) {
    struct stat sa, sb;
    return fstat(a, &sa) == 0 && fstat(b, &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

// "fd#!owner": fd is one more descriptor of owner's socket.
SockInfo *take_alias(long fd, const char *rest, int *fd_out) {
    long owner;
    if (!read_number(&rest, &owner) || *rest != '\0') {
        NBX_ERROR("%s", kInvalid);
        return nullptr;
    }
    if (owner >= fd || !_CB_inTable(static_cast<int>(owner)) || _CB_fdInfo[owner].info == nullptr ||
        (_CB_fdInfo[owner].type != TCP && _CB_fdInfo[owner].type != UDP) ||
        _CB_fdInfo[owner].info->owner != owner) {
        NBX_ERROR("_CB_unserializeSock: fd %ld names %ld, which owns no CB_socket", fd, owner);
        return nullptr;
    }
    FdInfo &entry = _CB_fdInfo[owner];
    int kind = entry.type == TCP ? SOCK_STREAM : SOCK_DGRAM;
    if (!is_free_socket(fd, kind) ||
        !same_open_file(static_cast<int>(fd), static_cast<int>(owner))) {
        NBX_ERROR(
            "_CB_unserializeSock: fd %ld is not an open, unmanaged socket shared "
            "with fd %ld",
            fd, owner);
        return nullptr;
    }
    _CB_fdInfo[fd].type = entry.type;
    _CB_fdInfo[fd].info = entry.info;
    entry.info->refs++;
    _CB_raisemaxfd(static_cast<int>(fd));
    *fd_out = static_cast<int>(fd);
    return entry.info;
}

bool queued(const SockInfo *info, long fd) {
    for (const CBConn *conn = info->conn_q_head; conn != nullptr; conn = conn->next) {
        if (conn->fd == fd) return true;
    }
    return false;
}

void append_conn(SockInfo *info, int fd, const CBAddr &peer) {
    CBConn *conn = static_cast<CBConn *>(calloc(1, sizeof(CBConn)));
    if (conn == nullptr) NBX_ABORT("malloc failed");
    conn->fd = fd;
    conn->ip = peer.ip;
    conn->port = peer.port;
    if (info->conn_q_tail == nullptr) {
        info->conn_q_head = conn;
    } else {
        info->conn_q_tail->next = conn;
    }
    info->conn_q_tail = conn;
}

// Reads the queued connections "fd|<ip:port>*fd|<ip:port>..." into info.
// Tokens are separated by "|" or "*"; a number opens an entry and an address
// completes it.
bool unserializeConns(const char *text, SockInfo *info, int fd, int manager) {
    char copy[CB_SOCK_RECORD_SIZE];
    snprintf(copy, sizeof copy, "%s", text);  // the record is shorter
    long pending = -1;
    char *save = nullptr;
    for (char *token = strtok_r(copy, "|*", &save); token != nullptr;
         token = strtok_r(nullptr, "|*", &save)) {
        const char *p = token;
        if (*p == '<') {
            CBAddr peer;
            if (pending < 0) {
                NBX_ERROR("unserializeConns: <ip:port> at unexpected time");
                return false;
            }
            if (!read_address(&p, &peer) || *p != '\0') {
                NBX_ERROR("unserializeConns: failed to parse <ip:port> of conn, token: '%s'",
                          token);
                return false;
            }
            append_conn(info, static_cast<int>(pending), peer);
            pending = -1;
            continue;
        }
        long conn_fd;
        if (!read_number(&p, &conn_fd) || *p != '\0') {
            NBX_ERROR("unserializeConns: invalid token '%s'", token);
            return false;
        }
        if (pending >= 0) {
            NBX_ERROR("unserializeConns: incomplete conns");
            return false;
        }
        if (conn_fd == fd || conn_fd == manager || queued(info, conn_fd) ||
            !is_free_socket(conn_fd, SOCK_STREAM)) {
            NBX_ERROR("unserializeConns: fd %ld is not an open, unmanaged TCP socket", conn_fd);
            return false;
        }
        pending = conn_fd;
    }
    if (pending >= 0) {
        NBX_ERROR("unserializeConns: incomplete conns");
        return false;
    }
    return true;
}

// Reads the fields after "fd#" of an owner record into info. On failure
// logs why; info may hold part of the record.
bool read_owner_fields(const char *p, long fd, SockInfo *info, int *type) {
    long manager;
    bool negative = *p == '-';
    if (negative) ++p;
    if (!read_number(&p, &manager) || !expect(&p, '#')) {
        NBX_ERROR("%s", kInvalid);
        return false;
    }
    manager = negative ? -manager : manager;
    if ((p[0] != 'T' && p[0] != 'U') || p[1] != '#') {
        NBX_ERROR("%s", kInvalid);
        return false;
    }
    *type = p[0] == 'T' ? TCP : UDP;
    p += 2;
    if (!read_address(&p, &info->canon) || !expect(&p, '#')) {
        NBX_ERROR("_CB_unserializeSock: failed to parse <cip:cport>: cur_str is '%s'", p);
        return false;
    }
    if (*p != '#') {
        CBAddr peer;
        if (!read_address(&p, &peer) || *p != '#') {
            NBX_ERROR("_CB_unserializeSock: failed to parse <peer>: cur_str is '%s'", p);
            return false;
        }
        info->connected = static_cast<CBAddr *>(malloc(sizeof(CBAddr)));
        if (info->connected == nullptr) NBX_ABORT("malloc failed");
        *info->connected = peer;
    }
    ++p;
    if ((p[0] != 'a' && p[0] != 'p' && p[0] != 'n') || p[1] != '#' ||
        status_from_letter(p[2]) < 0 || p[3] != '#') {
        NBX_ERROR("%s", kInvalid);
        return false;
    }
    info->mode = p[0] == 'a' ? ACTIVE : PASSIVE;
    info->status = status_from_letter(p[2]);
    p += 4;
    if (!read_address(&p, &info->phyAddr) || !expect(&p, '#')) {
        NBX_ERROR("_CB_unserializeSock: failed to parse <cip:cport>: cur_str is '%s'", p);
        return false;
    }
    if (manager != -1 && manager != NEED_RECOVER &&
        (manager == fd || !is_free_socket(manager, SOCK_STREAM))) {
        NBX_ERROR("_CB_unserializeSock: manager %ld is not an open, unmanaged TCP socket", manager);
        return false;
    }
    info->manager = static_cast<int>(manager);
    if (!is_free_socket(fd, *type == TCP ? SOCK_STREAM : SOCK_DGRAM)) {
        NBX_ERROR("_CB_unserializeSock: fd %ld is not an open, unmanaged %s socket", fd,
                  *type == TCP ? "TCP" : "UDP");
        return false;
    }
    if (*p != '\0' && !unserializeConns(p, info, static_cast<int>(fd), info->manager)) {
        NBX_ERROR("unserializeConns failed");
        return false;
    }
    return true;
}

}  // namespace

extern "C" {

int _CB_serializeSock(int fd, SockInfo *info, char *out) {
    RecordWriter writer(out, CB_SOCK_RECORD_SIZE);
    if (fd != info->owner) {
        writer.add("%d#!%d", fd, info->owner);
        return writer.fits ? 0 : -1;
    }
    int type = _CB_fdInfo[fd].type;
    const char *status = status_letter(info->status);
    if ((type != TCP && type != UDP) || status == nullptr) {
        out[0] = '\0';
        return -1;
    }
    writer.add("%d#%d#%s#", fd, info->manager, type == TCP ? "T" : "U");
    writer.add("%s#", _ipport2str(info->canon.ip, info->canon.port));
    if (info->connected != nullptr) {
        writer.add("%s", _ipport2str(info->connected->ip, info->connected->port));
    }
    writer.add("#%s#", info->mode == ACTIVE ? "a" : info->mode == PASSIVE ? "p" : "n");
    writer.add("%s#", status);
    writer.add("%s#", _ipport2str(info->phyAddr.ip, info->phyAddr.port));
    for (const CBConn *conn = info->conn_q_head; conn != nullptr; conn = conn->next) {
        writer.add("%d|", conn->fd);
        writer.add("%s%s", _ipport2str(conn->ip, conn->port), conn->next ? "*" : "");
    }
    if (!writer.fits) {
        out[0] = '\0';
        return -1;
    }
    return 0;
}

SockInfo *_CB_unserializeSock(const char *text, int *fd_out) {
    if (strlen(text) >= CB_SOCK_RECORD_SIZE) {
        NBX_ERROR("_CB_unserializeSock: record longer than %d characters", CB_SOCK_RECORD_SIZE - 1);
        return nullptr;
    }
    const char *p = text;
    long fd;
    if (!read_number(&p, &fd) || !expect(&p, '#')) {
        NBX_ERROR("%s", kInvalid);
        return nullptr;
    }
    if (!_CB_inTable(static_cast<int>(fd))) {
        NBX_ERROR("_CB_unserializeSock: fd %ld is outside the table", fd);
        return nullptr;
    }
    if (*p == '!') {
        return take_alias(fd, p + 1, fd_out);
    }
    SockInfo *info = static_cast<SockInfo *>(calloc(1, sizeof(SockInfo)));
    if (info == nullptr) NBX_ABORT("malloc failed");
    info->owner = static_cast<int>(fd);
    info->refs = 1;
    int type = NOT_DEFINED;
    if (!read_owner_fields(p, fd, info, &type)) {
        _CB_freeSockInfo(info);
        return nullptr;
    }
    _CB_fdInfo[fd].type = type;
    _CB_fdInfo[fd].info = info;
    _CB_raisemaxfd(static_cast<int>(fd));
    if (info->manager >= 0) {
        _CB_fdInfo[info->manager].type = MANAGER;
        _CB_fdInfo[info->manager].info = info;
        _CB_raisemaxfd(info->manager);
    }
    *fd_out = static_cast<int>(fd);
    return info;
}

}  // extern "C"
