// The status lines SIGUSR1 writes into the log: what each role holds now
// and the descriptors in use against the limit. Reads the broker's lists;
// changes nothing.
#include <dirent.h>
#include <sys/resource.h>

#include "broker/broker.h"
#include "diagnostics/debug_log.h"

namespace nbx_broker {

namespace {

template <class T>
int list_length(const T *head) {
    int n = 0;
    for (; head != nullptr; head = head->next) ++n;
    return n;
}

// Descriptors open in this process, or -1.
int descriptors_in_use() {
    DIR *dir = opendir("/proc/self/fd");
    if (dir == nullptr) return -1;
    int n = 0;
    while (readdir(dir) != nullptr) ++n;
    closedir(dir);
    return n - 3;  // ".", ".." and the directory's own
}

}  // namespace

void broker_log_status(Broker *broker) {
    int controls[3] = {0, 0, 0};
    for (const Control *c = broker->controls; c != nullptr; c = c->next) ++controls[c->role];
    int tcp = 0, udp = 0, pending = 0, peers = 0;
    for (const Registration *r = broker->registrations; r != nullptr; r = r->next) {
        ++(r->udp ? udp : tcp);
        pending += r->pending_count;
        peers += r->peer_count;
    }
    rlimit limit = {};
    getrlimit(RLIMIT_NOFILE, &limit);
    dprintf(D_ALWAYS, "status local broker: %d connections\n", controls[kRoleInAgent]);
    dprintf(D_ALWAYS, "status relay server: %d managers, %d TCP and %d UDP registrations\n",
            controls[kRoleManager], tcp, udp);
    dprintf(D_ALWAYS, "status destination broker: %d connections\n", controls[kRoleDestination]);
    dprintf(D_ALWAYS, "status relays: %d TCP streams, %d waiting for their server, %d UDP peers\n",
            list_length(broker->splices), pending, peers);
    dprintf(D_ALWAYS, "status descriptors: %d in use, limit %llu\n", descriptors_in_use(),
            static_cast<unsigned long long>(limit.rlim_cur));
}

}  // namespace nbx_broker
