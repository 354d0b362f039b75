// The binary messages the layer exchanges with brokers: opcodes, their
// fixed sizes and field offsets, building a message into a buffer, taking
// one apart, and the one-line description written to the layer's log for
// every message sent or received.
//
// Layout: bytes 0-1 the total size (big-endian), byte 2 the opcode, then
// the opcode's fields at fixed offsets without padding. An address field is
// 4 bytes of IPv4 address and 2 bytes of port, both in network byte order.
// Every message has one fixed size; the largest is CB_MSG_MAX bytes.
//
// Building and parsing share one set of fields (opcode, canonical address
// and port, mode, physical address and port, destination address and port,
// error byte); each opcode uses some of them. Addresses and ports are always
// passed in network byte order. Received bytes are outside input: parsing
// never reads past the size it is given.
#ifndef TORVEL_NBX_BROKER_MESSAGE_H_
#define TORVEL_NBX_BROKER_MESSAGE_H_

#include <netinet/in.h>

#define CB_MSG_HEADER 3    // size (2 bytes) and opcode
#define CB_MSG_MAX 22      // the largest message
#define CB_OPNAME_SIZE 20  // room printOP needs, terminator included

// Byte a NAK carries when the peer is not registered with the destination
// broker (the character '9').
#define CB_NAK_PEER_NOT_REGISTERED 57

// The opcodes, one ASCII character each.
enum CBOpcode {
    CB_TCP_BIND = 'C',
    CB_UDP_BIND = 'D',
    CB_TCP_CLIENT = 'E',
    CB_UDP_CLIENT = 'F',
    CB_BIND_OK = 'G',
    CB_RELAY_SERVER = 'H',
    CB_LISTEN = 'I',
    CB_CONNECT = 'J',
    CB_ACTIVE_CONNECT = 'K',
    CB_PASSIVE_CONNECT = 'L',
    CB_ACK = 'M',
    CB_CONTACT_FWD = 'N',
    CB_CONTACT = 'O',
    CB_INIT_COMM = 'P',
    CB_PASSIVE_INIT = 'Q',
    CB_ACTIVE_INIT = 'R',
    CB_TRIGGER_FWD = 'S',
    CB_TRIGGER = 'T',
    CB_DUMMY = 'U',
    CB_DUMMY_ACK = 'V',
    CB_TCP_DEL = 'W',
    CB_UDP_DEL = 'X',
    CB_HEARTBEAT = 'Y',
    CB_NAK = 'Z',
    CB_NEW_SOCK = 'n',
};

extern "C" {

// The fixed size of an opcode's message, or -1 for a byte that is no
// opcode.
int _CB_msgSize(char opcode);

// Builds the message of opcode from the fields it uses into buffer, logs
// "*send* <description>" at D_FULL and returns the size. Fields the opcode
// does not use are ignored. An opcode that is not in the table is a
// programming error: the process ends through Generic_abort.
// REQUIRES: buffer has room for CB_MSG_MAX bytes.
int _CB_stripeMsg(char *buffer, char opcode, struct in_addr canon_ip, in_port_t canon_port,
                  char mode, struct in_addr phy_ip, in_port_t phy_port, struct in_addr dest_ip,
                  in_port_t dest_port, unsigned char error);

// Parses the size bytes at buffer: delivers the fields the opcode carries
// into the outputs that are not null (the others are left alone), logs
// "*recv* <description>" at D_FULL and returns 0. Returns -1, with a
// D_BASIC line, for fewer than CB_MSG_HEADER bytes, an unknown opcode, or
// fewer bytes than the opcode's layout needs. The size field inside the
// bytes is not consulted; bytes beyond the layout are ignored.
// REQUIRES: buffer holds at least size bytes.
int _CB_unstripeMsg(int size, const char *buffer, char *opcode, struct in_addr *canon_ip,
                    in_port_t *canon_port, char *mode, struct in_addr *phy_ip, in_port_t *phy_port,
                    struct in_addr *dest_ip, in_port_t *dest_port, unsigned char *error);

// Writes the opcode's log name ("CONNECT: ", "ACK", ...) into name and
// returns 0; for a byte that is no opcode logs "unexpected opcode passed to
// printOP" at D_BASIC, leaves name empty and returns -1.
// REQUIRES: name has room for CB_OPNAME_SIZE characters.
int printOP(char opcode, char *name);

}  // extern "C"

#endif  // TORVEL_NBX_BROKER_MESSAGE_H_
