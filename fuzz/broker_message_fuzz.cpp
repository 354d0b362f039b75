// Fuzz target for the parsing side of broker messages. The input is taken
// apart twice: as one message of exactly the input's size (a datagram), and
// as a byte stream read message by message from a socket pair (a broker
// connection). A message that parses must frame back to the same bytes: the
// fields it delivers rebuild its layout exactly. Nothing is kept between
// inputs; the layer's log is off.
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#include "nbx/broker_client.h"
#include "nbx/broker_message.h"
#include "nbx/generic_log.h"
#include "nbx/wrappers.h"

const char *mySubSystem = "TOOL";

namespace {

// Larger inputs say nothing new and would not fit a socket pair's buffer.
const size_t kMaxInput = 4096;

struct Fields {
    char opcode;
    in_addr canon_ip;
    in_port_t canon_port;
    char mode;
    in_addr phy_ip;
    in_port_t phy_port;
    in_addr dest_ip;
    in_port_t dest_port;
    unsigned char error;
};

// Rebuilds a parsed message and compares it with the bytes it came from.
void CheckRoundTrip(const Fields &f, const char *bytes, size_t size) {
    char rebuilt[CB_MSG_MAX];
    int length = _CB_stripeMsg(rebuilt, f.opcode, f.canon_ip, f.canon_port, f.mode, f.phy_ip,
                               f.phy_port, f.dest_ip, f.dest_port, f.error);
    if (length != _CB_msgSize(f.opcode) || length < CB_MSG_HEADER ||
        static_cast<size_t>(length) > size) {
        abort();
    }
    // The size field of the input is not the layout's when it was longer.
    if (memcmp(rebuilt + 2, bytes + 2, static_cast<size_t>(length) - 2) != 0) abort();
}

void ParseDatagram(const uint8_t *data, size_t size) {
    // An exact-size heap copy: any read past the input is caught.
    char *bytes = static_cast<char *>(malloc(size == 0 ? 1 : size));
    if (bytes == nullptr) return;
    if (size > 0) memcpy(bytes, data, size);
    Fields f = {};
    if (_CB_unstripeMsg(static_cast<int>(size), bytes, &f.opcode, &f.canon_ip, &f.canon_port,
                        &f.mode, &f.phy_ip, &f.phy_port, &f.dest_ip, &f.dest_port, &f.error) == 0) {
        CheckRoundTrip(f, bytes, size);
    }
    free(bytes);
}

void ParseStream(const uint8_t *data, size_t size) {
    int pair[2];
    if (socketpair(AF_UNIX, SOCK_STREAM, 0, pair) != 0) return;
    if (size > 0 && __real_write(pair[1], data, size) != static_cast<ssize_t>(size)) abort();
    __real_close(pair[1]);
    // Each call consumes at least the two size bytes, so this ends; a refused
    // size leaves its body to be read as the next message.
    for (size_t calls = 0; calls <= size; ++calls) {
        Fields f = {};
        int got = _CBrecv(pair[0], &f.opcode, &f.canon_ip, &f.canon_port, &f.mode, &f.phy_ip,
                          &f.phy_port, &f.dest_ip, &f.dest_port, &f.error);
        if (got == 0) break;
        if (got > CB_MSG_MAX) abort();
        if (got > 0) {
            char framed[CB_MSG_MAX];
            int length = _CB_stripeMsg(framed, f.opcode, f.canon_ip, f.canon_port, f.mode, f.phy_ip,
                                       f.phy_port, f.dest_ip, f.dest_port, f.error);
            if (length > got) abort();
        }
    }
    __real_close(pair[0]);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    Generic_log_enabled = 0;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size > kMaxInput) return 0;
    ParseDatagram(data, size);
    ParseStream(data, size);
    return 0;
}
