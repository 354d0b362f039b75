// Keeping the broker registrations alive: HEARTBEAT on every live manager
// connection, the periodic flush of UDP receiver lists, and the recovery
// of sockets whose manager connection was lost (a new manager connection
// and the old registration repeated), with the application's handler
// called when the broker stays away too long.
#include <errno.h>
#include <time.h>

#include "nbx/async_event.h"
#include "nbx/broker_client.h"
#include "nbx/broker_message.h"
#include "nbx/generic_log.h"
#include "nbx/sock_table.h"
#include "nbx/udp_channel.h"

#define NBX_LOG_MODULE "heartbeat"

namespace {

// The record of fd when fd is the owner of a brokered socket, else null.
SockInfo *owned_record(int fd) {
    const FdInfo &entry = _CB_fdInfo[fd];
    if ((entry.type != TCP && entry.type != UDP) || entry.info == nullptr) return nullptr;
    return entry.info->owner == fd ? entry.info : nullptr;
}

// Closes a manager connection that failed; the socket waits for recovery.
void lose_manager(SockInfo *info) {
    int saved = errno;
    _CB_rmManager(info->manager);
    info->manager = NEED_RECOVER;
    errno = saved;
}

// Closes a manager connection for good: the socket leaves recovery.
void drop_manager(SockInfo *info) {
    int saved = errno;
    _CB_rmManager(info->manager);
    errno = saved;
}

// What to log at each failing step of a request to the manager.
struct RequestErrors {
    const char *send_failed;
    const char *no_answer;
    const char *unexpected;
};

// Ends a request to the manager whose send returned sent: the answer must be
// expected. A failed send or a missing answer keeps the socket waiting for
// recovery; an unexpected answer drops the manager for good. 0 on the
// expected answer, else -1 after logging the step's error.
int finish_request(SockInfo *info, int sent, char expected, const RequestErrors &errors) {
    if (sent < 0) {
        NBX_ERROR("%s", errors.send_failed);
        lose_manager(info);
        return -1;
    }
    char opcode = 0;
    int got = _CBrecv(info->manager, &opcode, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                      nullptr, nullptr);
    if (got <= 0) {
        NBX_ERROR("%s", errors.no_answer);
        lose_manager(info);
        return -1;
    }
    if (opcode == expected) return 0;
    NBX_ERROR("%s", errors.unexpected);
    drop_manager(info);
    return -1;
}

int recover(SockInfo *info) {
    switch (info->status) {
        case BOUND:
        case CONNECTED:
            return rebind(info);
        case LISTENING:
            if (rebind(info) != 0) return -1;
            return relisten(info);
        default:
            return 0;
    }
}

}  // namespace

extern "C" {

void _CB_triggerHeartBeat(time_t now) {
    NBX_LOG(D_FULL, "-----Triggering Heartbeat (time: %d)-----\n", static_cast<int>(now));
    bool failed = false;
    struct in_addr none = {};
    for (int fd = 0; fd < _CB_maxfd; ++fd) {
        SockInfo *info = owned_record(fd);
        if (info == nullptr || info->manager < 0) continue;
        if (_CBsend(info->manager, CB_HEARTBEAT, none, 0, 0, none, 0, none, 0, 0) < 0) {
            NBX_ERROR("_CB_triggerHeartBeat: can't send HEARTBEAT for the clent: _CBsend failed");
            _CB_dumpSockInfo(info, D_BASIC, "\t");
            lose_manager(info);
            failed = true;
        }
    }
    if (failed) {
        if (_Broker_down_since == 0) _Broker_down_since = now;
        _CB_recoverNBXsockets();
        return;
    }
    if (now - _CB_lastFlush > CB_FLUSH_INTERVAL) {
        for (int fd = 0; fd < _CB_maxfd; ++fd) {
            SockInfo *info = owned_record(fd);
            if (info != nullptr && _CB_fdInfo[fd].type == UDP) _CB_delRcvrs(info);
        }
        _CB_lastFlush = now;
    }
    NBX_LOG(D_FULL, "-----Heartbeat Done-----\n");
}

int _CB_recoverNBXsockets(void) {
    for (int fd = 0; fd < _CB_maxfd; ++fd) {
        SockInfo *info = owned_record(fd);
        if (info == nullptr || info->manager != NEED_RECOVER) continue;
        if (recover(info) == 0) continue;
        time_t now = _CB_now();
        NBX_ERROR("_CB_recoverNBXsockets() failed - bailing out");
        _CB_lastRecovery = now;
        if (_Broker_down_app_callback != nullptr && now - _Broker_down_since >= _Broker_down_max) {
            NBX_LOG(D_BASIC,
                    "Can't recover from Broker failure within %d seconds, calling application's "
                    "registered handler\n",
                    _Broker_down_max);
            _Broker_down_app_callback();
        }
        return -1;
    }
    _CB_lastRecovery = 0;
    _Broker_down_since = 0;
    return 0;
}

int rebind(SockInfo *info) {
    if (info->manager != NEED_RECOVER) {
        NBX_ERROR("rebind: info->manager is not NEED_RECOVER\n");
        return -1;
    }
    CBConversation conversation;  // the new manager connection and BIND
    if (_CB_newManager(info) < 0) {
        NBX_ERROR("rebind: _CB_newManager() failed\n");
        info->manager = NEED_RECOVER;
        return -1;
    }
    bool udp = _CB_fdInfo[info->owner].type == UDP;
    if (udp) _CB_delRcvrs(info);
    struct in_addr none = {};
    int sent =
        _CBsend(info->manager, udp ? CB_UDP_BIND : CB_TCP_BIND, info->canon.ip, info->canon.port,
                info->mode, info->phyAddr.ip, info->phyAddr.port, none, 0, 0);
    return finish_request(
        info, sent, CB_BIND_OK,
        {"rebind: _CBsend(BIND) failed\n", "rebind: BIND req. sent. Could not get the result\n",
         "rebind: Unexpected msg received. Not going to retry again\n"});
}

int relisten(SockInfo *info) {
    CBConversation conversation;
    struct in_addr none = {};
    int sent =
        _CBsend(info->manager, CB_LISTEN, info->canon.ip, info->canon.port, 0, none, 0, none, 0, 0);
    return finish_request(
        info, sent, CB_ACK,
        {"relisten: _CBsend(LISTEN) failed", "relisten: LISTEN sent, but _CBCrecv failed",
         "Unexpected msg received. Not going to retry again"});
}

}  // extern "C"
