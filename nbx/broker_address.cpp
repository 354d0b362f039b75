// Where the local broker is: NBX_INAGENT, read at every call, unless it is
// no dotted address or names an address of one of this host's interfaces
// (a broker on the local machine counts as none). Writes one static
// address, overwritten by each call.
#include <arpa/inet.h>
#include <stdlib.h>
#include <string.h>

#include "nbx/broker_client.h"
#include "nbx/generic_log.h"
#include "net/nbx_address.h"

#define NBX_LOG_MODULE "get_NBX_env"

extern "C" struct sockaddr_in *getBroker(void) {
    static sockaddr_in broker;
    const char *agent = getenv("NBX_INAGENT");
    if (agent == nullptr) return nullptr;
    in_addr address;
    if (inet_aton(agent, &address) == 0) {
        NBX_ERROR("getBroker: inet_aton() with Broker's ip failed");
        return nullptr;
    }
    in_addr local[CB_MAX_LOCAL_ADDRESSES];
    int count = CB_MAX_LOCAL_ADDRESSES;
    if (_all_myIP(local, &count) != 0) {
        NBX_ERROR("getBroker: _all_myIP() failed");
        return nullptr;
    }
    for (int i = 0; i < count; ++i) {
        if (local[i].s_addr == address.s_addr) {
            NBX_LOG(D_FULL,
                    "getBroker: broker is on the local machine, act as if no broker given\n");
            return nullptr;
        }
    }
    memset(&broker, 0, sizeof broker);
    broker.sin_family = AF_INET;
    broker.sin_port = htons(CB_BROKER_PORT);
    broker.sin_addr = address;
    return &broker;
}
