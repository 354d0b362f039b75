// A peer of nbx_broker in a test: connections to its fixed ports on
// 127.0.0.1, messages framed by the library's own code, bounded reads shown
// as hex, the registration a server makes, and the broker itself started on
// the loopback address of a private network namespace. Test code only;
// meant for RunInChild bodies.
#ifndef TORVEL_TESTS_BROKER_BROKER_PEER_H_
#define TORVEL_TESTS_BROKER_BROKER_PEER_H_

#include <arpa/inet.h>
#include <poll.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "nbx/broker_message.h"
#include "tests/broker/broker_harness.h"
#include "tests/nbx/broker_test_support.h"
#include "tests/nbx/nbx_test_support.h"

namespace broker_peer {

using broker_test::Hex;
using nbx_test::ChildReport;

const int kInAgent = 65430;
const int kRelayServer = 65431;
const int kDestination = 65432;

inline CBAddr Loopback(int port) {
    return CBAddr{{htonl(INADDR_LOOPBACK)}, htons(static_cast<in_port_t>(port))};
}

// The bytes of one message built by the library's own framing.
inline std::string Message(char opcode, CBAddr canon = CBAddr{}, CBAddr physical = CBAddr{},
                           CBAddr destination = CBAddr{}) {
    char bytes[CB_MSG_MAX];
    int size = _CB_stripeMsg(bytes, opcode, canon.ip, canon.port, ACTIVE, physical.ip,
                             physical.port, destination.ip, destination.port, 0);
    return std::string(bytes, static_cast<size_t>(size));
}

inline int Connect(int port) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address;
    memset(&address, 0, sizeof address);
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<in_port_t>(port));
    if (connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

inline bool Send(int fd, const std::string &bytes) {
    return write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
}

// Reads up to want bytes (or until the broker closes) within seconds; hex.
// " <closed>" is appended when the broker closed the connection.
inline std::string Read(int fd, size_t want, int seconds) {
    std::string got;
    char buffer[256];
    for (;;) {
        if (got.size() >= want) return Hex(got.data(), got.size());
        pollfd wait = {fd, POLLIN, 0};
        if (poll(&wait, 1, seconds * 1000) <= 0) return Hex(got.data(), got.size()) + " <silent>";
        ssize_t n = read(fd, buffer, sizeof buffer);
        if (n <= 0) return Hex(got.data(), got.size()) + (got.empty() ? "<closed>" : " <closed>");
        got.append(buffer, static_cast<size_t>(n));
    }
}

// One request and the whole answer up to the broker's close.
inline std::string Ask(int port, const std::string &bytes) {
    int fd = Connect(port);
    if (fd < 0) return "<no connection>";
    Send(fd, bytes);
    std::string answer = Read(fd, 1000, 5);
    close(fd);
    return answer;
}

// A TCP registration made the way the library makes one: NEW_SOCK at the
// local broker, then TCP_BIND and LISTEN on a manager connection to the
// relay server it names. The manager descriptor, or -1; *port receives the
// canonical port.
inline int Register(ChildReport &r, int *port) {
    std::string relay = Ask(kInAgent, Message(CB_NEW_SOCK));
    CHILD_EXPECT_EQ(
        r, Hex(Message(CB_RELAY_SERVER, CBAddr{}, Loopback(kRelayServer)).data(), 9) + " <closed>",
        relay);
    int manager = Connect(kRelayServer);
    Send(manager, Message(CB_TCP_BIND, CBAddr{}, Loopback(5555)));
    std::string bound = broker_test::Bytes(Read(manager, 9, 5));
    if (bound.size() != 9 || bound[2] != CB_BIND_OK) {
        r.Fail(__LINE__, "no BIND_OK");
        close(manager);
        return -1;
    }
    *port = (static_cast<unsigned char>(bound[7]) << 8) | static_cast<unsigned char>(bound[8]);
    Send(manager, Message(CB_LISTEN, Loopback(*port)));
    CHILD_EXPECT_EQ(r, std::string("00 03 4d"), Read(manager, 3, 5));  // ACK
    return manager;
}

// Whether text written on one end of a relayed stream arrives whole at
// the other within five seconds.
inline bool Passes(int from, int to, const std::string &text) {
    return Send(from, text) && Read(to, text.size(), 5) == Hex(text.data(), text.size());
}

// A relayed stream made as the library makes one: a registration, a client
// at its canonical port, and the server connecting to the broker's
// listener that CONTACT names; bytes pass both ways.
struct Relay {
    int manager = -1;
    int client = -1;
    int server = -1;
};

// False (noted in r) when the stream could not be made.
inline bool MakeRelay(ChildReport &r, Relay *relay) {
    int port = 0;
    relay->manager = Register(r, &port);
    if (relay->manager < 0) return false;
    relay->client = Connect(port);
    std::string contact = broker_test::Bytes(Read(relay->manager, 9, 5));
    if (relay->client < 0 || contact.size() != 9 || contact[2] != CB_CONTACT) {
        r.Fail(__LINE__, "no CONTACT for the relayed client");
        return false;
    }
    int server = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in listener;
    memset(&listener, 0, sizeof listener);
    listener.sin_family = AF_INET;
    memcpy(&listener.sin_addr.s_addr, contact.data() + 3, 4);
    memcpy(&listener.sin_port, contact.data() + 7, 2);
    if (connect(server, reinterpret_cast<sockaddr *>(&listener), sizeof listener) != 0) {
        close(server);
        r.Fail(__LINE__, "can't reach the relay's listener");
        return false;
    }
    relay->server = server;
    bool both_ways = Passes(relay->client, server, "ping") && Passes(server, relay->client, "pong");
    if (!both_ways) r.Fail(__LINE__, "the relayed stream does not pass bytes");
    return both_ways;
}

// The command that runs the broker on 127.0.0.1 for both its sides in the
// foreground, with args added, through prefix (a program that execs the
// rest, such as prlimit).
inline std::vector<std::string> BrokerCommand(const std::vector<std::string> &args = {},
                                              const std::vector<std::string> &prefix = {}) {
    std::vector<std::string> argv = prefix;
    argv.insert(argv.end(), {broker_harness::BuiltProgram("nbx_broker"), "--public", "127.0.0.1",
                             "--private", "127.0.0.1", "--foreground"});
    argv.insert(argv.end(), args.begin(), args.end());
    return argv;
}

// That broker in the child's own network namespace, with env added to its
// environment, once it says it started. "" or why not.
inline std::string StartBroker(broker_harness::Daemon *broker, const std::vector<std::string> &env,
                               const std::vector<std::string> &args = {},
                               const std::vector<std::string> &prefix = {}) {
    std::string failure = broker_test::EnterPrivateNetwork();
    if (!failure.empty()) return failure;
    if (!broker->Start(BrokerCommand(args, prefix), broker_harness::Environment(env)) ||
        broker->WaitFor("nbx_broker started", 10).empty()) {
        return "the broker did not start: " + broker->all_output();
    }
    return "";
}

}  // namespace broker_peer

#endif  // TORVEL_TESTS_BROKER_BROKER_PEER_H_
