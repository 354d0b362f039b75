// Framing and parsing of broker messages, and their log descriptions. One
// table gives each opcode its size, log name and field offsets; building,
// parsing and describing all read it, so the three cannot disagree.
// Multi-byte numbers are written and read byte by byte, big-endian.
#include "nbx/broker_message.h"

#include <arpa/inet.h>
#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include "nbx/bounded_text.h"
#include "nbx/generic_log.h"
#include "nbx/sock_table.h"

#define NBX_LOG_MODULE "client_util"

namespace {

// How a message's fields read in its log description.
enum Description {
    kNothing,   // the name alone
    kBind,      // BIND and CLIENT requests: canonical, mode, physical
    kCanon,     // canonical only
    kRelay,     // the relay server's address
    kConnect,   // CONNECT, INIT_COMM: canonical, mode, physical, destination
    kPhysical,  // a single address to connect or send to
    kForward,   // canonical and physical (TRIGGER_FWD adds the client)
    kDummy,     // sender -> receiver
    kNak,       // the error byte
};

// Offsets of the fields an opcode carries; -1 where it carries none.
struct Layout {
    char opcode;
    int size;
    const char *name;
    Description description;
    int canon;
    int mode;
    int phy;
    int dest;
    int error;
};

const Layout kLayouts[] = {
    {CB_TCP_BIND, 16, "TCP_BIND: ", kBind, 3, 9, 10, -1, -1},
    {CB_UDP_BIND, 16, "UDP_BIND: ", kBind, 3, 9, 10, -1, -1},
    {CB_TCP_CLIENT, 16, "TCP_CLIENT: ", kBind, 3, 9, 10, -1, -1},
    {CB_UDP_CLIENT, 16, "UDP_CLIENT: ", kBind, 3, 9, 10, -1, -1},
    {CB_BIND_OK, 9, "BIND_OK: ", kCanon, 3, -1, -1, -1, -1},
    {CB_RELAY_SERVER, 9, "RELAY_SERVER: ", kRelay, -1, -1, 3, -1, -1},
    {CB_LISTEN, 9, "LISTEN: ", kCanon, 3, -1, -1, -1, -1},
    {CB_CONNECT, 22, "CONNECT: ", kConnect, 3, 9, 10, 16, -1},
    {CB_ACTIVE_CONNECT, 9, "ACTIVE_CONNECT: ", kPhysical, -1, -1, 3, -1, -1},
    {CB_PASSIVE_CONNECT, 3, "PASSIVE_CONNECT", kNothing, -1, -1, -1, -1, -1},
    {CB_ACK, 3, "ACK", kNothing, -1, -1, -1, -1, -1},
    {CB_CONTACT_FWD, 15, "CONTACT_FWD: ", kForward, 3, -1, 9, -1, -1},
    {CB_CONTACT, 9, "CONTACT: ", kPhysical, -1, -1, 3, -1, -1},
    {CB_INIT_COMM, 22, "INIT_COMM: ", kConnect, 3, 9, 10, 16, -1},
    {CB_PASSIVE_INIT, 3, "PASSIVE_INIT", kNothing, -1, -1, -1, -1, -1},
    {CB_ACTIVE_INIT, 9, "ACTIVE_INIT: ", kPhysical, -1, -1, 3, -1, -1},
    {CB_TRIGGER_FWD, 21, "TRIGGER_FWD: ", kForward, 3, -1, 9, 15, -1},
    {CB_TRIGGER, 15, "TRIGGER: ", kForward, 3, -1, 9, -1, -1},
    {CB_DUMMY, 15, "DUMMY: ", kDummy, 3, -1, -1, 9, -1},
    {CB_DUMMY_ACK, 15, "DUMMY_ACK: ", kDummy, 3, -1, -1, 9, -1},
    {CB_TCP_DEL, 9, "TCP_DEL: ", kCanon, 3, -1, -1, -1, -1},
    {CB_UDP_DEL, 9, "UDP_DEL: ", kCanon, 3, -1, -1, -1, -1},
    {CB_HEARTBEAT, 3, "HEARTBEAT", kNothing, -1, -1, -1, -1, -1},
    {CB_NAK, 4, "NAK: ", kNak, -1, -1, -1, -1, 3},
    {CB_NEW_SOCK, 3, "NEW_SOCK", kNothing, -1, -1, -1, -1, -1},
};

const Layout *find_layout(char opcode) {
    for (const Layout &layout : kLayouts) {
        if (layout.opcode == opcode) return &layout;
    }
    return nullptr;
}

// The values of one message, in host form except that addresses and ports
// stay in network byte order as the callers hold them.
struct Fields {
    in_addr canon_ip;
    in_port_t canon_port;
    char mode;
    in_addr phy_ip;
    in_port_t phy_port;
    in_addr dest_ip;
    in_port_t dest_port;
    unsigned char error;
};

void put_address(unsigned char *at, in_addr ip, in_port_t port) {
    uint32_t host_ip = ntohl(ip.s_addr);
    uint16_t host_port = ntohs(port);
    at[0] = static_cast<unsigned char>(host_ip >> 24);
    at[1] = static_cast<unsigned char>(host_ip >> 16);
    at[2] = static_cast<unsigned char>(host_ip >> 8);
    at[3] = static_cast<unsigned char>(host_ip);
    at[4] = static_cast<unsigned char>(host_port >> 8);
    at[5] = static_cast<unsigned char>(host_port);
}

void get_address(const unsigned char *at, in_addr *ip, in_port_t *port) {
    uint32_t host_ip = (static_cast<uint32_t>(at[0]) << 24) | (static_cast<uint32_t>(at[1]) << 16) |
                       (static_cast<uint32_t>(at[2]) << 8) | at[3];
    uint16_t host_port = static_cast<uint16_t>((at[4] << 8) | at[5]);
    if (ip != nullptr) ip->s_addr = htonl(host_ip);
    if (port != nullptr) *port = htons(host_port);
}

// The description of one message for the log.
struct Text : BoundedText<256> {
    // One address in sinful form after a label ("canon=" ...) and before a
    // tail (usually the separating space).
    void address(const char *label, in_addr ip, in_port_t port, const char *tail) {
        add("%s%s%s", label, _ipport2str(ip, port), tail);
    }
};

// The mode as the log writes it; a sent CONNECT or INIT_COMM omits a mode
// that is neither 'A' nor 'B', everything else writes "N ".
const char *mode_text(char mode, bool omit_other) {
    if (mode == ACTIVE) return "A ";
    if (mode == PASSIVE) return "P ";
    return omit_other ? "" : "N ";
}

void describe(const Layout &layout, const Fields &f, bool sending, Text &out) {
    out.add("%s", layout.name);
    switch (layout.description) {
        case kNothing:
            break;
        case kBind:
            out.address(sending ? "official=" : "canon=", f.canon_ip, f.canon_port, " ");
            out.add("%s", mode_text(f.mode, false));
            out.address(sending ? "local=" : "phyAddr=", f.phy_ip, f.phy_port, " ");
            break;
        case kCanon:
            out.address("canon=", f.canon_ip, f.canon_port, " ");
            break;
        case kRelay:
            out.address("addr=", f.phy_ip, f.phy_port, " ");
            break;
        case kConnect:
            out.address("canon=", f.canon_ip, f.canon_port, " ");
            out.add("%s", mode_text(f.mode, sending));
            out.address("phyAddr=", f.phy_ip, f.phy_port, " ");
            out.address("dest=", f.dest_ip, f.dest_port, " ");
            break;
        case kPhysical:
            out.address("phyAddr=", f.phy_ip, f.phy_port, " ");
            break;
        case kForward:
            out.address("canon=", f.canon_ip, f.canon_port, " ");
            out.address("phyAddr=", f.phy_ip, f.phy_port, " ");
            if (layout.dest >= 0) {
                out.address("client=", f.dest_ip, f.dest_port, sending ? "" : " ");
            }
            break;
        case kDummy:
            out.address("", f.canon_ip, f.canon_port, " -> ");
            out.address("", f.dest_ip, f.dest_port, "");
            break;
        case kNak:
            if (f.error == CB_NAK_PEER_NOT_REGISTERED) {
                out.add("-> PEER_NOT_REGISTERED ");
            } else {
                out.add("-> %s", strerror(f.error));
            }
            break;
    }
}

}  // namespace

extern "C" {

int _CB_msgSize(char opcode) {
    const Layout *layout = find_layout(opcode);
    return layout == nullptr ? -1 : layout->size;
}

int printOP(char opcode, char *name) {
    const Layout *layout = find_layout(opcode);
    if (layout == nullptr) {
        name[0] = '\0';
        NBX_LOG(D_BASIC, "unexpected opcode passed to printOP\n");
        return -1;
    }
    snprintf(name, CB_OPNAME_SIZE, "%s", layout->name);
    return 0;
}

int _CB_stripeMsg(char *buffer, char opcode, struct in_addr canon_ip, in_port_t canon_port,
                  char mode, struct in_addr phy_ip, in_port_t phy_port, struct in_addr dest_ip,
                  in_port_t dest_port, unsigned char error) {
    const Layout *layout = find_layout(opcode);
    if (layout == nullptr) NBX_ABORT("_CB_stripeMsg: invalid opcode passed\n");
    unsigned char *out = reinterpret_cast<unsigned char *>(buffer);
    out[0] = static_cast<unsigned char>(layout->size >> 8);
    out[1] = static_cast<unsigned char>(layout->size);
    out[2] = static_cast<unsigned char>(opcode);
    if (layout->canon >= 0) put_address(out + layout->canon, canon_ip, canon_port);
    if (layout->mode >= 0) out[layout->mode] = static_cast<unsigned char>(mode);
    if (layout->phy >= 0) put_address(out + layout->phy, phy_ip, phy_port);
    if (layout->dest >= 0) put_address(out + layout->dest, dest_ip, dest_port);
    if (layout->error >= 0) out[layout->error] = error;

    Fields fields = {canon_ip, canon_port, mode, phy_ip, phy_port, dest_ip, dest_port, error};
    Text description;
    describe(*layout, fields, true, description);
    NBX_LOG(D_FULL, "*send* %s\n", description.text);
    return layout->size;
}

int _CB_unstripeMsg(int size, const char *buffer, char *opcode, struct in_addr *canon_ip,
                    in_port_t *canon_port, char *mode, struct in_addr *phy_ip, in_port_t *phy_port,
                    struct in_addr *dest_ip, in_port_t *dest_port, unsigned char *error) {
    if (size < CB_MSG_HEADER) {
        NBX_LOG(D_BASIC, "_CB_unstripeMsg: message of %d bytes has no opcode\n", size);
        return -1;
    }
    const unsigned char *in = reinterpret_cast<const unsigned char *>(buffer);
    const Layout *layout = find_layout(static_cast<char>(in[2]));
    if (layout == nullptr) {
        NBX_LOG(D_BASIC, "_CB_unstripeMsg: unknown opcode\n");
        return -1;
    }
    // The fields sit at fixed offsets: a message cut short would have them
    // read from bytes that never arrived.
    if (size < layout->size) {
        NBX_LOG(D_BASIC, "_CB_unstripeMsg: %c message of %d bytes is shorter than %d\n",
                layout->opcode, size, layout->size);
        return -1;
    }
    Fields f = {};
    if (layout->canon >= 0) get_address(in + layout->canon, &f.canon_ip, &f.canon_port);
    if (layout->mode >= 0) f.mode = static_cast<char>(in[layout->mode]);
    if (layout->phy >= 0) get_address(in + layout->phy, &f.phy_ip, &f.phy_port);
    if (layout->dest >= 0) get_address(in + layout->dest, &f.dest_ip, &f.dest_port);
    if (layout->error >= 0) f.error = in[layout->error];

    if (opcode != nullptr) *opcode = layout->opcode;
    if (layout->canon >= 0) {
        if (canon_ip != nullptr) *canon_ip = f.canon_ip;
        if (canon_port != nullptr) *canon_port = f.canon_port;
    }
    if (layout->mode >= 0 && mode != nullptr) *mode = f.mode;
    if (layout->phy >= 0) {
        if (phy_ip != nullptr) *phy_ip = f.phy_ip;
        if (phy_port != nullptr) *phy_port = f.phy_port;
    }
    if (layout->dest >= 0) {
        if (dest_ip != nullptr) *dest_ip = f.dest_ip;
        if (dest_port != nullptr) *dest_port = f.dest_port;
    }
    if (layout->error >= 0 && error != nullptr) *error = f.error;

    Text description;
    describe(*layout, f, false, description);
    NBX_LOG(D_FULL, "*recv* %s\n", description.text);
    return 0;
}

}  // extern "C"
