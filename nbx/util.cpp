// Upkeep of the brokering layer's socket table: the highest descriptor in
// use, releasing records, hidden descriptors, the one-line record dump, the
// broker-down handler, and the two address helpers the table's log lines
// and hand-over records need (sinful text of an address, private-network
// test), and the layer's clock. _ipport2str writes one static buffer.
#include <arpa/inet.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include "nbx/bounded_text.h"
#include "nbx/generic_log.h"
#include "nbx/sock_table.h"

#define NBX_LOG_MODULE "util"

int (*_CB_clockRead)(clockid_t id, struct timespec *now) = clock_gettime;

namespace {

const long long kNanos = 1000000000LL;

long long nanos(clockid_t id) {
    struct timespec now = {0, 0};
    if (_CB_clockRead(id, &now) != 0) return 0;
    return static_cast<long long>(now.tv_sec) * kNanos + now.tv_nsec;
}

}  // namespace

time_t _CB_now(void) {
    // Wall time minus monotonic time, taken once: afterwards only the
    // monotonic clock moves the result.
    static long long offset = 0;
    static bool have_offset = false;
    if (!have_offset) {
        offset = nanos(CLOCK_REALTIME) - nanos(CLOCK_MONOTONIC);
        have_offset = true;
    }
    return static_cast<time_t>((nanos(CLOCK_MONOTONIC) + offset) / kNanos);
}

namespace {

// Room for the dump text: the text is cut once it passes kDumpLimit, and
// the longest piece added after a check is one address entry or "...".
const size_t kDumpLimit = 994;
const size_t kDumpSize = 1100;

// The dump of one record, with the list separator trimmed at the end.
struct TextBuffer : BoundedText<kDumpSize> {
    // Replaces the last character (the list separator "*") by replacement.
    void replace_last(const char *replacement) {
        if (length > 0) text[--length] = '\0';
        add("%s", replacement);
    }
};

const char *status_name(int status) {
    switch (status) {
        case NONE:
            return "NONE";
        case CREATED:
            return "CREATED";
        case BOUND:
            return "BOUND";
        case LISTENING:
            return "LISTENING";
        case PASSIVE_CONNECTING:
            return "PASSIVE_CONNECTING";
        case CONNECTED:
            return "CONNECTED";
        case CONN_FAILED:
            return "CONN_FAILED";
        default:
            return "Invalid";
    }
}

// Adds "conn_q:" and the queued connections; false when the text was cut.
bool add_conn_q(TextBuffer &out, const SockInfo *info) {
    out.add("conn_q:");
    if (info->conn_q_head == nullptr) {
        out.add("Empty ");
        return true;
    }
    for (const CBConn *conn = info->conn_q_head; conn != nullptr; conn = conn->next) {
        if (out.length > kDumpLimit) {
            out.add("...");
            return false;
        }
        out.add("%d|", conn->fd);
        out.add("%s*", _ipport2str(conn->ip, conn->port));
    }
    out.replace_last(" ");
    return true;
}

void add_receivers(TextBuffer &out, const SockInfo *info) {
    out.add("Rcvers:");
    if (info->rcvers == nullptr) {
        out.add("Empty");
        return;
    }
    for (const CBRcver *r = info->rcvers; r != nullptr; r = r->next) {
        if (out.length > kDumpLimit) {
            out.add("...");
            return;
        }
        out.add("%s*", _ipport2str(r->canon.ip, r->canon.port));
    }
    out.replace_last("");
}

}  // namespace

extern "C" {

void _CB_raisemaxfd(int fd) {
    if (fd + 1 > _CB_maxfd) _CB_maxfd = fd + 1;
}

void _CB_setmaxfd(int fd) {
    if (_CB_maxfd == 0) return;
    int index = fd - 1;
    if (index >= _NBX_max_no_fds) index = _NBX_max_no_fds - 1;
    for (; index >= 0; --index) {
        if (_CB_fdInfo[index].type != NOT_DEFINED) {
            _CB_maxfd = index + 1;
            return;
        }
    }
    NBX_LOG(D_FULL, "_CB_setmaxfd: no NBX or mng socket remained\n");
    _Broker_down_since = 0;
    _CB_maxfd = 0;
}

void _CB_freeConnQ(SockInfo *info) {
    CBConn *conn = info->conn_q_head;
    while (conn != nullptr) {
        CBConn *next = conn->next;
        free(conn);
        conn = next;
    }
    info->conn_q_head = nullptr;
    info->conn_q_tail = nullptr;
}

void _CB_freeSockInfo(SockInfo *info) {
    if (info == nullptr) return;
    _CB_freeConnQ(info);
    CBRcver *rcver = info->rcvers;
    while (rcver != nullptr) {
        CBRcver *next = rcver->next;
        free(rcver);
        rcver = next;
    }
    CBDatagram *datagram = info->rcv_buf_head;
    while (datagram != nullptr) {
        CBDatagram *next = datagram->next;
        free(datagram->data);
        free(datagram);
        datagram = next;
    }
    free(info->connected);
    free(info);
}

int _CB_isHiddenFd(int fd) {
    for (int i = 0; i < _CB_maxfd; ++i) {
        const SockInfo *info = _CB_fdInfo[i].info;
        if (info == nullptr) continue;
        for (const CBConn *conn = info->conn_q_head; conn != nullptr; conn = conn->next) {
            if (conn->fd == fd) return 1;
        }
    }
    return 0;
}

void _CB_dumpSockInfo(SockInfo *info, int level, const char *prefix) {
    if (info == nullptr) return;
    TextBuffer out;
    out.add("refs=%d ", static_cast<int>(info->refs));
    out.add("owner=%d ", info->owner);
    out.add("mnger=%d ", info->manager);
    out.add("canon=%s ", _ipport2str(info->canon.ip, info->canon.port));
    bool tcp = _CB_inTable(info->owner) && _CB_fdInfo[info->owner].type == TCP;
    out.add("%s", tcp ? "TCP " : "UDP ");
    out.add("%s", info->mode == ACTIVE ? "ACTIVE " : "PASSIVE ");
    out.add("%s ", status_name(info->status));
    out.add("phyAddr=%s ", _ipport2str(info->phyAddr.ip, info->phyAddr.port));
    if (info->connected != nullptr) {
        out.add("connected=%s ", _ipport2str(info->connected->ip, info->connected->port));
    }
    if (add_conn_q(out, info)) {
        add_receivers(out, info);
    }
    NBX_LOG(level, "%s%s\n", prefix != nullptr ? prefix : "", out.text);
}

void NBX_Broker_down_callback_set(void (*handler)(void), int seconds) {
    _Broker_down_since = 0;
    _Broker_down_app_callback = handler;
    _Broker_down_max = seconds;
}

char *_ipport2str(struct in_addr ip, in_port_t port) {
    static char text[32];
    const unsigned char *bytes = reinterpret_cast<const unsigned char *>(&ip.s_addr);
    snprintf(text, sizeof text, "<%u.%u.%u.%u:%d>", bytes[0], bytes[1], bytes[2], bytes[3],
             static_cast<int>(ntohs(port)));
    return text;
}

int _priv_net(in_addr_t address) {
    return (address & 0xff000000u) == 0x0a000000u ||  // 10.0.0.0/8
           (address & 0xfff00000u) == 0xac100000u ||  // 172.16.0.0/12
           (address & 0xffff0000u) == 0xc0a80000u;    // 192.168.0.0/16
}

}  // extern "C"
