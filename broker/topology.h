// Which hosts can reach which, as the broker is told by
// NBX_BROKER_PRIVATE_NETWORKS, and the way a client and a registered server
// meet that follows from it.
//
// The value lists networks as "address/prefix" (the form of the routing
// table), separated by blanks or commas. A network may be followed by the
// word "outbound": its hosts can open connections to public addresses (for
// example behind NAT). Every address outside the listed networks is public.
// A host reaches another when both are in the same listed network, or when
// the other is public and the first is public or in an outbound network.
#ifndef TORVEL_BROKER_TOPOLOGY_H_
#define TORVEL_BROKER_TOPOLOGY_H_

#include <netinet/in.h>
#include <stdint.h>

namespace nbx_broker {

const int kMaxPrivateNetworks = 64;

struct PrivateNetwork {
    uint32_t network;  // host byte order, already masked
    uint32_t mask;     // host byte order
    bool outbound;
};

struct Topology {
    PrivateNetwork networks[kMaxPrivateNetworks];
    int count = 0;
};

// How a client and a server meet.
enum Meeting {
    kMeetDirect,   // the client connects (or sends) to the server's physical address
    kMeetPassive,  // the server connects (or sends) out to the client
    kMeetRelay,    // both go through the broker
};

// Parses the value of NBX_BROKER_PRIVATE_NETWORKS into topology (null or
// empty: no private network). Returns 0, or -1 with the offending word in
// error.
// REQUIRES: error has room for error_size bytes.
int parse_private_networks(const char *text, Topology *topology, char *error, int error_size);

// Whether a host at from can open a connection to to (network byte order).
bool reaches(const Topology &topology, in_addr from, in_addr to);

// The way a client at client meets a server at server (physical addresses,
// network byte order); an unknown (zero) address always meets by relay.
Meeting choose_meeting(const Topology &topology, in_addr client, in_addr server);

// "direct", "passive" or "relay".
const char *meeting_name(Meeting meeting);

}  // namespace nbx_broker

#endif  // TORVEL_BROKER_TOPOLOGY_H_
