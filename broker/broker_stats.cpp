// The status lines SIGUSR1 writes into the log: per role the connections
// held now and those refused or dropped since start (by NAK 57, NAK 111,
// another NAK; stalled, garbage, another reason), the registrations, the
// relays held now with the bytes relayed each way since start, and the
// descriptors in use against the limit. The counters are process-wide (one
// broker per process); the code that refuses, drops or relays calls the
// one-line hooks below.
#include <dirent.h>
#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <sys/resource.h>

#include "broker/broker.h"
#include "broker/broker_log.h"

namespace nbx_broker {

namespace {

enum Refusal { kNak57, kNak111, kNakOther, kStalled, kGarbage, kDropOther, kRefusals };

struct Counters {
    unsigned long long refused[3][kRefusals];  // by Role
    unsigned long long bytes[2][2];            // [udp][0: client to server, 1: back]
};

Counters counters;

const char * const kRoleNames[3] = {"local broker", "relay server", "destination broker"};

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

void log_role(Role role, int connections, const char *extra) {
    const unsigned long long *r = counters.refused[role];
    broker_log(
        "status %s: %d connections%s; refused: NAK 57 %llu, NAK 111 %llu, other NAK %llu; "
        "dropped: stalled %llu, garbage %llu, other %llu\n",
        kRoleNames[role], connections, extra, r[kNak57], r[kNak111], r[kNakOther], r[kStalled],
        r[kGarbage], r[kDropOther]);
}

}  // namespace

void stats_refused(Role role, int nak_error) {
    Refusal kind = nak_error == CB_NAK_PEER_NOT_REGISTERED ? kNak57
                   : nak_error == ECONNREFUSED             ? kNak111
                                                           : kNakOther;
    ++counters.refused[role][kind];
}

void stats_dropped(Role role, const char *why) {
    Refusal kind = strncmp(why, "stalled", 7) == 0   ? kStalled
                   : strncmp(why, "garbage", 7) == 0 ? kGarbage
                                                     : kDropOther;
    ++counters.refused[role][kind];
}

void stats_relayed(bool udp, int direction, long bytes) {
    if (bytes > 0) counters.bytes[udp ? 1 : 0][direction] += static_cast<unsigned long long>(bytes);
}

void broker_log_status(Broker *broker) {
    int controls[3] = {0, 0, 0};
    for (const Control *c = broker->controls; c != nullptr; c = c->next) ++controls[c->role];
    int tcp = 0, udp = 0, pending = 0, peers = 0;
    for (const Registration *r = broker->registrations; r != nullptr; r = r->next) {
        ++(r->udp ? udp : tcp);
        pending += r->pending_count;
        peers += r->peer_count;
    }
    char registrations[96];
    snprintf(registrations, sizeof registrations, ", %d TCP and %d UDP registrations", tcp, udp);
    log_role(kRoleInAgent, controls[kRoleInAgent], "");
    log_role(kRoleManager, controls[kRoleManager], registrations);
    log_role(kRoleDestination, controls[kRoleDestination], "");
    const unsigned long long(*b)[2] = counters.bytes;
    broker_log(
        "status relays: %d TCP streams, %d waiting for their server, %d UDP peers; bytes "
        "client to server TCP %llu UDP %llu, server to client TCP %llu UDP %llu\n",
        list_length(broker->splices), pending, peers, b[0][0], b[1][0], b[0][1], b[1][1]);
    rlimit limit = {};
    getrlimit(RLIMIT_NOFILE, &limit);
    broker_log("status descriptors: %d in use, limit %llu\n", descriptors_in_use(),
               static_cast<unsigned long long>(limit.rlim_cur));
}

}  // namespace nbx_broker
