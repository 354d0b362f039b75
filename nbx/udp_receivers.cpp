// The receiver list of a brokered UDP socket: for each canonical peer
// address, the physical address to which its datagrams are sent. Entries
// are malloc()ed, owned by the record, and freed with it or by a flush.
#include <stdlib.h>

#include "nbx/generic_log.h"
#include "nbx/sock_table.h"
#include "nbx/udp_channel.h"

#define NBX_LOG_MODULE "data"

extern "C" {

int _CB_addRcvr(SockInfo *info, struct in_addr canon_ip, in_port_t canon_port,
                struct in_addr phy_ip, in_port_t phy_port) {
    if (_CB_getRcvr(info, canon_ip, canon_port) != nullptr) return 0;
    CBRcver *rcver = static_cast<CBRcver *>(calloc(1, sizeof(CBRcver)));
    if (rcver == nullptr) NBX_ABORT("malloc failed");
    rcver->canon.ip = canon_ip;
    rcver->canon.port = canon_port;
    rcver->phy.ip = phy_ip;
    rcver->phy.port = phy_port;
    rcver->next = info->rcvers;
    if (info->rcvers != nullptr) info->rcvers->prev = rcver;
    info->rcvers = rcver;
    return 0;
}

CBRcver *_CB_getRcvr(SockInfo *info, struct in_addr canon_ip, in_port_t canon_port) {
    for (CBRcver *r = info->rcvers; r != nullptr; r = r->next) {
        if (r->canon.ip.s_addr == canon_ip.s_addr && r->canon.port == canon_port) return r;
    }
    return nullptr;
}

void _CB_delRcvrs(SockInfo *info) {
    CBRcver *r = info->rcvers;
    while (r != nullptr) {
        CBRcver *next = r->next;
        free(r);
        r = next;
    }
    info->rcvers = nullptr;
}

}  // extern "C"
