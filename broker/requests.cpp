// What the broker does with each whole message, by the role of the
// connection it came on: NEW_SOCK at the local broker; BIND, LISTEN,
// HEARTBEAT and deletions at the relay server; CONNECT, INIT_COMM and the
// ACK of a passive connect at the destination broker. An opcode a role
// does not expect is a protocol error and drops the connection.
#include <errno.h>
#include <string.h>

#include "broker/broker.h"
#include "broker/broker_log.h"
#include "broker/topology.h"

namespace nbx_broker {

namespace {

// The fields of one parsed message; addresses in network byte order.
struct Request {
    char opcode;
    CBAddr canon;
    char mode;
    CBAddr physical;
    CBAddr destination;
};

const CBAddr kNoAddress = {{0}, 0};

// A request to the local or destination broker ends with its answer; a
// manager connection stays.
bool send_nak(Broker *broker, Control *control, int error) {
    if (control->role != kRoleManager) control->close_when_flushed = true;
    stats_refused(control->role, error);
    return control_send(broker, control, CB_NAK, kNoAddress, 0, kNoAddress,
                        static_cast<unsigned char>(error));
}

void answer_new_sock(Broker *broker, Control *control) {
    CBAddr relay = {broker->config.private_ip, htons(kRelayServerPort)};
    control->close_when_flushed = true;
    control_send(broker, control, CB_RELAY_SERVER, kNoAddress, 0, relay, 0);
}

void answer_bind(Broker *broker, Control *control, const Request &request) {
    if (control->registration != nullptr) {
        send_nak(broker, control, EISCONN);
        return;
    }
    bool udp = request.opcode == CB_UDP_BIND;
    Registration *registration =
        registration_create(broker, udp, request.canon, request.physical, request.mode, control);
    if (registration == nullptr) {
        int error = errno;
        broker_log("%s registration of %s refused: %s\n", udp ? "UDP" : "TCP",
                   address_text(request.physical.ip, request.physical.port), strerror(error));
        send_nak(broker, control, error);
        return;
    }
    control->registration = registration;
    CBAddr canonical = {broker->config.public_ip,
                        htons(static_cast<in_port_t>(registration->port))};
    broker_log("%s %s registered as port %d\n", udp ? "UDP" : "TCP",
               address_text(request.physical.ip, request.physical.port), registration->port);
    control_send(broker, control, CB_BIND_OK, canonical, 0, kNoAddress, 0);
}

void answer_listen(Broker *broker, Control *control, const Request &request) {
    Registration *registration = control->registration;
    if (registration == nullptr || registration->udp ||
        ntohs(request.canon.port) != registration->port) {
        send_nak(broker, control, EINVAL);
        return;
    }
    if (registration_listen(broker, registration) != 0) {
        send_nak(broker, control, errno);
        return;
    }
    control_send(broker, control, CB_ACK, kNoAddress, 0, kNoAddress, 0);
}

void forget_registration(Broker *broker, Control *control, const Request &request) {
    Registration *registration = control->registration;
    if (registration == nullptr || ntohs(request.canon.port) != registration->port ||
        registration->udp != (request.opcode == CB_UDP_DEL)) {
        return;
    }
    control->registration = nullptr;
    registration->manager = nullptr;
    registration_free(broker, registration);
}

// The registered server a CONNECT or INIT_COMM names, or null after
// answering NAK.
Registration *find_server(Broker *broker, Control *control, const Request &request) {
    bool udp = request.opcode == CB_INIT_COMM;
    Registration *server = registration_find(broker, udp, request.destination);
    if (server == nullptr) {
        send_nak(broker, control, CB_NAK_PEER_NOT_REGISTERED);
        return nullptr;
    }
    if (!udp && !server->listening) {
        send_nak(broker, control, ECONNREFUSED);
        return nullptr;
    }
    return server;
}

// How the client of request meets server, logged.
Meeting meet(Broker *broker, const Request &request, Registration *server) {
    Meeting meeting =
        choose_meeting(broker->config.topology, request.physical.ip, server->physical.ip);
    char client[32];
    strcpy(client, address_text(request.physical.ip, request.physical.port));
    broker_log("%s from %s to port %d: %s\n",
               request.opcode == CB_CONNECT ? "CONNECT" : "INIT_COMM", client, server->port,
               meeting_name(meeting));
    return meeting;
}

// Where an active client goes: the server itself, or for a relay the
// canonical port, where the broker takes it in.
CBAddr active_target(Broker *broker, Registration *server, Meeting meeting) {
    if (meeting != kMeetRelay) return server->physical;
    return CBAddr{broker->config.public_ip, htons(static_cast<in_port_t>(server->port))};
}

void answer_connect(Broker *broker, Control *control, const Request &request) {
    Registration *server = find_server(broker, control, request);
    if (server == nullptr) return;
    Meeting meeting = meet(broker, request, server);
    if (meeting == kMeetPassive) {
        passive_wait(server, control, request.physical);
        control_send(broker, control, CB_PASSIVE_CONNECT, kNoAddress, 0, kNoAddress, 0);
        return;
    }
    control->close_when_flushed = true;
    control_send(broker, control, CB_ACTIVE_CONNECT, kNoAddress, 0,
                 active_target(broker, server, meeting), 0);
}

// The client of a passive connect listens now: the server is told to
// connect out to it.
void passive_acknowledged(Broker *broker, Control *control) {
    Registration *server = control->passive_server;
    CBAddr client = control->passive_client;
    passive_forget(control);
    control_drop(broker, control, nullptr);
    if (server->manager == nullptr) return;
    control_send(broker, server->manager, CB_CONTACT, kNoAddress, 0, client, 0);
}

void answer_init_comm(Broker *broker, Control *control, const Request &request) {
    Registration *server = find_server(broker, control, request);
    if (server == nullptr) return;
    Meeting meeting = meet(broker, request, server);
    control->close_when_flushed = true;
    if (meeting == kMeetPassive) {
        // The answer is sent (and the request closed) first: the client waits
        // for the server's DUMMY only once it has read PASSIVE_INIT.
        Control *manager = server->manager;
        control_send(broker, control, CB_PASSIVE_INIT, kNoAddress, 0, kNoAddress, 0);
        if (manager != nullptr) {
            control_send(broker, manager, CB_TRIGGER, request.canon, 0, request.physical, 0);
        }
        return;
    }
    control_send(broker, control, CB_ACTIVE_INIT, kNoAddress, 0,
                 active_target(broker, server, meeting), 0);
}

void handle_manager(Broker *broker, Control *control, const Request &request) {
    switch (request.opcode) {
        case CB_TCP_BIND:
        case CB_UDP_BIND:
            answer_bind(broker, control, request);
            return;
        case CB_LISTEN:
            answer_listen(broker, control, request);
            return;
        case CB_TCP_DEL:
        case CB_UDP_DEL:
            forget_registration(broker, control, request);
            return;
        case CB_HEARTBEAT:
        case CB_DUMMY:
        case CB_DUMMY_ACK:
            return;  // liveness only; nothing is answered
        default:
            control_drop(broker, control, "unexpected message");
    }
}

void handle_destination(Broker *broker, Control *control, const Request &request) {
    if (control->passive_server != nullptr) {
        if (request.opcode == CB_ACK) {
            passive_acknowledged(broker, control);
        } else {
            control_drop(broker, control, "no ACK for PASSIVE_CONNECT");
        }
        return;
    }
    if (request.opcode == CB_CONNECT) {
        answer_connect(broker, control, request);
    } else if (request.opcode == CB_INIT_COMM) {
        answer_init_comm(broker, control, request);
    } else {
        control_drop(broker, control, "unexpected message");
    }
}

}  // namespace

void handle_message(Broker *broker, Control *control, const unsigned char *bytes, int size) {
    Request request = {};
    if (_CB_unstripeMsg(size, reinterpret_cast<const char *>(bytes), &request.opcode,
                        &request.canon.ip, &request.canon.port, &request.mode, &request.physical.ip,
                        &request.physical.port, &request.destination.ip, &request.destination.port,
                        nullptr) != 0) {
        control_drop(broker, control, "garbage received");
        return;
    }
    switch (control->role) {
        case kRoleInAgent:
            if (request.opcode == CB_NEW_SOCK) {
                answer_new_sock(broker, control);
            } else {
                control_drop(broker, control, "unexpected message");
            }
            return;
        case kRoleManager:
            handle_manager(broker, control, request);
            return;
        case kRoleDestination:
            handle_destination(broker, control, request);
            return;
    }
}

}  // namespace nbx_broker
