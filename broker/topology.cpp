// Parsing of the private-network list and the reachability rules that pick
// how a client and a server meet. Pure functions over a Topology value.
#include "broker/topology.h"

#include <arpa/inet.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include "core/string_list.h"

namespace nbx_broker {

namespace {

// "a.b.c.d/n" with n from 0 to 32 in decimal digits only.
bool parse_network(const char *word, PrivateNetwork *out) {
    const char *slash = strchr(word, '/');
    if (slash == nullptr || slash == word || slash - word > 15) return false;
    char address_text[16];
    memcpy(address_text, word, static_cast<size_t>(slash - word));
    address_text[slash - word] = '\0';
    in_addr address;
    if (inet_aton(address_text, &address) == 0) return false;
    const char *digits = slash + 1;
    if (*digits == '\0' || strlen(digits) > 2 || strspn(digits, "0123456789") != strlen(digits)) {
        return false;
    }
    long length = strtol(digits, nullptr, 10);
    if (length > 32) return false;
    out->mask = length == 0 ? 0u : 0xffffffffu << (32 - length);
    out->network = ntohl(address.s_addr) & out->mask;
    out->outbound = false;
    return true;
}

// Index of the listed network holding address, or -1 for a public address.
int network_of(const Topology &topology, in_addr address) {
    uint32_t host = ntohl(address.s_addr);
    for (int i = 0; i < topology.count; ++i) {
        const PrivateNetwork &net = topology.networks[i];
        if ((host & net.mask) == net.network) return i;
    }
    return -1;
}

}  // namespace

int parse_private_networks(const char *text, Topology *topology, char *error, int error_size) {
    topology->count = 0;
    if (text == nullptr) return 0;
    StringList words(text, " ,");
    words.rewind();
    for (char *word = words.next(); word != nullptr; word = words.next()) {
        if (strcasecmp(word, "outbound") == 0 && topology->count > 0) {
            topology->networks[topology->count - 1].outbound = true;
            continue;
        }
        PrivateNetwork network;
        if (topology->count == kMaxPrivateNetworks || !parse_network(word, &network)) {
            snprintf(error, static_cast<size_t>(error_size), "%s", word);
            return -1;
        }
        topology->networks[topology->count++] = network;
    }
    return 0;
}

bool reaches(const Topology &topology, in_addr from, in_addr to) {
    int from_net = network_of(topology, from);
    int to_net = network_of(topology, to);
    if (to_net >= 0) return from_net == to_net;
    return from_net < 0 || topology.networks[from_net].outbound;
}

Meeting choose_meeting(const Topology &topology, in_addr client, in_addr server) {
    if (client.s_addr == 0 || server.s_addr == 0) return kMeetRelay;
    if (reaches(topology, client, server)) return kMeetDirect;
    if (reaches(topology, server, client)) return kMeetPassive;
    return kMeetRelay;
}

const char *meeting_name(Meeting meeting) {
    switch (meeting) {
        case kMeetDirect:
            return "direct";
        case kMeetPassive:
            return "passive";
        case kMeetRelay:
            return "relay";
    }
    return "relay";
}

}  // namespace nbx_broker
