// Commands the broker sends unasked on a socket's manager connection:
// CONTACT (connect to an address; the connection is an incoming one for a
// listening socket) and TRIGGER (punch a UDP channel to a peer). Late
// answers to earlier requests are ignored; a lost connection marks the
// socket for recovery and the broker as down.
#include <errno.h>
#include <time.h>

#include "nbx/async_event.h"
#include "nbx/broker_client.h"
#include "nbx/broker_message.h"
#include "nbx/connection.h"
#include "nbx/generic_log.h"
#include "nbx/sock_table.h"
#include "nbx/udp_channel.h"
#include "nbx/wrappers.h"

#define NBX_LOG_MODULE "ex_cmd"

namespace {

bool late_answer(char opcode) {
    switch (opcode) {
        case CB_BIND_OK:
        case CB_ACTIVE_CONNECT:
        case CB_PASSIVE_CONNECT:
        case CB_ACK:
        case CB_PASSIVE_INIT:
        case CB_ACTIVE_INIT:
        case CB_NAK:
            return true;
        default:
            return false;
    }
}

void handle_trigger(SockInfo *info, struct in_addr canon_ip, in_port_t canon_port,
                    struct in_addr phy_ip, in_port_t phy_port) {
    bool udp = _CB_inTable(info->owner) && _CB_fdInfo[info->owner].type == UDP;
    if (!udp) {
        NBX_LOG(D_FULL, "handleNBXcommand: TRIGGER received for TCP socket. Ignored!\n");
        return;
    }
    if (info->status == CONNECTED) {
        NBX_LOG(D_FULL, "handleNBXcommand: TRIGGER received for connected UDP. Ignored!\n");
        return;
    }
    handleTrigger(info->owner, canon_ip, canon_port, phy_ip, phy_port);
}

}  // namespace

extern "C" {

int handleNBXcommand(int manager) {
    SockInfo *info = _CB_fdInfo[manager].info;
    if (info == nullptr) return -1;
    char opcode = 0;
    struct in_addr canon_ip = {};
    struct in_addr phy_ip = {};
    in_port_t canon_port = 0;
    in_port_t phy_port = 0;
    int got = _CBrecv(manager, &opcode, &canon_ip, &canon_port, nullptr, &phy_ip, &phy_port,
                      nullptr, nullptr, nullptr);
    char canon[CB_ADDR_TEXT_SIZE];
    _CB_addrText(canon, info->canon.ip, info->canon.port);
    if (got <= 0) {
        NBX_ERROR("handleNBXcommand(%s): _CBrecv failed", canon);
        if (_Broker_down_since == 0) _Broker_down_since = _CB_now();
        _CB_rmManager(manager);
        info->manager = NEED_RECOVER;
        return -1;
    }
    if (late_answer(opcode)) {
        NBX_LOG(D_FULL, "handleNBXcommand(%s): Delayed synchronous msg received. Ignored\n", canon);
        return 0;
    }
    if (opcode == CB_CONTACT) return handleContact(info, phy_ip, phy_port);
    if (opcode == CB_TRIGGER) {
        handle_trigger(info, canon_ip, canon_port, phy_ip, phy_port);
        return 0;
    }
    NBX_ERROR("handleNBXcommand(%s): Unknown type of message received", canon);
    return -1;
}

int handleContact(SockInfo *info, struct in_addr ip, in_port_t port) {
    if (info->status != LISTENING) {
        NBX_ERROR("handleContact: status is not LISTENING, but CONTACT received");
        return -1;
    }
    int fd = __real_socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) {
        NBX_ERROR("handleContact: socket()");
        return -1;
    }
    struct sockaddr_in peer = _CB_sockaddr(ip, port);
    char peer_text[CB_ADDR_TEXT_SIZE];
    _CB_addrText(peer_text, ip, port);
    if (_CB_do_connect(fd, reinterpret_cast<sockaddr *>(&peer), sizeof peer, nullptr) != 0) {
        NBX_ERROR("handleContact: connection to %s failed", peer_text);
        _CB_closeKeepingErrno(fd);
        return -1;
    }
    _CB_queueConn(info, fd, ip, port);
    NBX_LOG(D_FULL, "handleContact: [connection accepted by CONTACT] %s <- %s\n",
            _ipport2str(info->canon.ip, info->canon.port), peer_text);
    return 0;
}

}  // extern "C"
