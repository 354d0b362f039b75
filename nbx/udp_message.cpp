// Datagrams the layer reads from brokered UDP sockets while it waits: the
// in-band control messages of the channel handshake (a DUMMY for this
// socket is answered with a DUMMY_ACK, a DUMMY_ACK is reported to the
// waiting handshake) and data, which waits in the socket's receive buffer
// until the application reads it. Also the DUMMY exchange a TRIGGER from
// the broker starts.
//
// A datagram is a control message only when it is longer than 2 bytes, its
// first two bytes (big-endian) equal its length, its third byte is the
// opcode and it is exactly CB_DUMMY_SIZE bytes long.
#include <errno.h>
#include <poll.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include "nbx/broker_message.h"
#include "nbx/connection.h"
#include "nbx/generic_log.h"
#include "nbx/sock_table.h"
#include "nbx/udp_channel.h"
#include "nbx/wrappers.h"

#define NBX_LOG_MODULE "async_event"

namespace {

// An address field (4 bytes address, 2 bytes port, network order) at data.
void read_address(const char *data, struct in_addr *ip, in_port_t *port) {
    memcpy(&ip->s_addr, data, 4);
    memcpy(port, data + 4, 2);
}

// The two addresses of a DUMMY or DUMMY_ACK (sender from offset 3,
// receiver from offset 9); the sender also goes to the caller's optional
// outputs.
void read_dummy_addresses(const char *data, struct in_addr *from_ip, in_port_t *from_port,
                          struct in_addr *to_ip, in_port_t *to_port, struct in_addr *sender_ip,
                          in_port_t *sender_port) {
    read_address(data + 3, from_ip, from_port);
    read_address(data + 9, to_ip, to_port);
    if (sender_ip != nullptr) *sender_ip = *from_ip;
    if (sender_port != nullptr) *sender_port = *from_port;
}

bool is_control(const char *data, int size) {
    if (size <= 2) return false;
    int field = (static_cast<unsigned char>(data[0]) << 8) | static_cast<unsigned char>(data[1]);
    return field == size;
}

// Buffers a data datagram (or drops it when the buffer is full).
int buffer_data(SockInfo *info, const char *data, int size, const struct sockaddr *source,
                socklen_t source_length) {
    if (info->rcv_count >= CB_UDP_RCV_BUF_MAX) {
        NBX_LOG(D_BASIC, "Warning!!! UDP msg just received was dropped b/c rcv buf is full\n");
        return CB_UDP_DATA;
    }
    CBDatagram *datagram = static_cast<CBDatagram *>(calloc(1, sizeof(CBDatagram)));
    if (datagram == nullptr) NBX_ABORT("failed to malloc");
    datagram->data = static_cast<char *>(malloc(size > 0 ? static_cast<size_t>(size) : 1));
    if (datagram->data == nullptr) NBX_ABORT("failed to malloc");
    memcpy(datagram->data, data, static_cast<size_t>(size));
    datagram->size = size;
    if (source != nullptr) {
        size_t copied =
            source_length < sizeof datagram->from ? source_length : sizeof datagram->from;
        memcpy(&datagram->from, source, copied);
    }
    if (info->rcv_buf_tail == nullptr) {
        info->rcv_buf_head = datagram;
    } else {
        info->rcv_buf_tail->next = datagram;
    }
    info->rcv_buf_tail = datagram;
    info->rcv_count++;
    char canon[CB_ADDR_TEXT_SIZE];
    _CB_addrText(canon, info->canon.ip, info->canon.port);
    if (source != nullptr && source->sa_family == AF_INET) {
        const struct sockaddr_in *from =
            reinterpret_cast<const struct sockaddr_in *>(&datagram->from);
        NBX_LOG(D_FULL, "handleUDPmsg() [UDP packet to %s] Data(%d) received from %s\n", canon,
                size, _ipport2str(from->sin_addr, from->sin_port));
    } else {
        NBX_LOG(D_FULL, "handleUDPmsg() [UDP packet to %s] Data(%d) received\n", canon, size);
    }
    return CB_UDP_DATA;
}

// A DUMMY for this socket: answer it and remember the sender.
int answer_dummy(int fd, SockInfo *info, struct in_addr sender_ip, in_port_t sender_port,
                 const char *sender_text, const char *receiver_text, const struct sockaddr *source,
                 socklen_t source_length) {
    char ack[CB_MSG_MAX];
    struct in_addr none = {};
    int size = _CB_stripeMsg(ack, CB_DUMMY_ACK, info->canon.ip, info->canon.port, 0, none, 0,
                             sender_ip, sender_port, 0);
    if (source == nullptr ||
        __real_sendto(fd, ack, static_cast<size_t>(size), 0, source, source_length) < 0) {
        NBX_ERROR("handleUDPmsg: received [DUMMY: %d] %s -> %s, sendto(DUMMY_ACK) failed", fd,
                  sender_text, receiver_text);
        return -1;
    }
    const struct sockaddr_in *from = reinterpret_cast<const struct sockaddr_in *>(source);
    if (_CB_addRcvr(info, sender_ip, sender_port, from->sin_addr, from->sin_port) != 0) {
        NBX_ERROR("handleUDPmsg(): _CB_addRcvr() failed: Can't add the receiver");
        return -1;
    }
    return CB_UDP_DUMMY_ANSWERED;
}

// Waits up to seconds for fd to become readable: 1 readable, 0 nothing in
// time, -1 error (not EINTR, which repeats the wait with what is left).
int wait_readable(int fd, int seconds) {
    struct timespec start;
    clock_gettime(CLOCK_MONOTONIC, &start);
    long long limit = static_cast<long long>(seconds) * 1000;
    for (;;) {
        struct timespec now;
        clock_gettime(CLOCK_MONOTONIC, &now);
        long long spent =
            (now.tv_sec - start.tv_sec) * 1000LL + (now.tv_nsec - start.tv_nsec) / 1000000;
        long long left = limit - spent;
        if (left < 0) left = 0;
        struct pollfd wait = {fd, POLLIN, 0};
        int ready = poll(&wait, 1, static_cast<int>(left));
        if (ready > 0) return 1;
        if (ready == 0) return 0;
        if (errno != EINTR) return -1;
    }
}

// One DUMMY to the peer after a TRIGGER.
void send_dummy(int fd, const SockInfo *info, struct in_addr canon_ip, in_port_t canon_port,
                const struct sockaddr_in &physical) {
    char dummy[CB_MSG_MAX];
    struct in_addr none = {};
    int size = _CB_stripeMsg(dummy, CB_DUMMY, info->canon.ip, info->canon.port, 0, none, 0,
                             canon_ip, canon_port, 0);
    if (__real_sendto(fd, dummy, static_cast<size_t>(size), 0,
                      reinterpret_cast<const sockaddr *>(&physical), sizeof physical) < 0) {
        NBX_ERROR("handleTrigger: sendto() failed");
    }
}

}  // namespace

extern "C" {

int handleUDPmsg(int fd, const char *data, int size, const struct sockaddr *source,
                 socklen_t source_length, struct in_addr *sender_ip, in_port_t *sender_port) {
    SockInfo *info = _CB_fdInfo[fd].info;
    if (is_control(data, size)) {
        char opcode = data[2];
        if (opcode == CB_DUMMY && size == CB_DUMMY_SIZE) {
            if (info->status == CONNECTED) {
                NBX_LOG(D_FULL, "handleUDPmsg() DUMMY received for connected UDP\n");
                return CB_UDP_DUMMY_IGNORED;
            }
            struct in_addr from_ip, to_ip;
            in_port_t from_port, to_port;
            read_dummy_addresses(data, &from_ip, &from_port, &to_ip, &to_port, sender_ip,
                                 sender_port);
            char from_text[CB_ADDR_TEXT_SIZE], to_text[CB_ADDR_TEXT_SIZE];
            _CB_addrText(from_text, from_ip, from_port);
            _CB_addrText(to_text, to_ip, to_port);
            NBX_LOG(D_FULL, "*recv* [DUMMY: %d] %s -> %s\n", fd, from_text, to_text);
            if (to_ip.s_addr == info->canon.ip.s_addr && to_port == info->canon.port) {
                return answer_dummy(fd, info, from_ip, from_port, from_text, to_text, source,
                                    source_length);
            }
            NBX_LOG(D_FULL, "thandleUDPmsg() DUMMY to another guy\n");
            return CB_UDP_DUMMY_IGNORED;
        }
        if (opcode == CB_DUMMY_ACK && size == CB_DUMMY_SIZE) {
            struct in_addr from_ip, to_ip;
            in_port_t from_port, to_port;
            read_dummy_addresses(data, &from_ip, &from_port, &to_ip, &to_port, sender_ip,
                                 sender_port);
            char from_text[CB_ADDR_TEXT_SIZE];
            _CB_addrText(from_text, from_ip, from_port);
            NBX_LOG(D_FULL, "handleUDPmsg() *recv* [DUMMY_ACK: %d] %s -> %s\n", fd, from_text,
                    _ipport2str(to_ip, to_port));
            return CB_UDP_DUMMY_ACK;
        }
        if (opcode == CB_DUMMY) {
            NBX_LOG(D_FULL, "handleUDPmsg() DUMMY msg is not 15 bytes. Take it as data packet\n");
        } else if (opcode == CB_DUMMY_ACK) {
            NBX_LOG(D_FULL,
                    "handleUDPmsg(): DUMMY_ACK msg is not 15 bytes. Take it as data packet\n");
        } else {
            NBX_LOG(D_FULL,
                    "handleUDPmsg() size field of the msg matches the size of msg, but opcode is "
                    "neither DUMMY nor DUMMY_ACK. Taking it as DATA\n");
        }
    }
    return buffer_data(info, data, size, source, source_length);
}

int handleFDasyncMsg(int fd) {
    SockInfo *info = _CB_fdInfo[fd].info;
    char *buffer = static_cast<char *>(malloc(CB_UDP_READ_SIZE));
    if (buffer == nullptr) NBX_ABORT("malloc failed");
    struct sockaddr_in source;
    memset(&source, 0, sizeof source);
    socklen_t length = sizeof source;
    ssize_t got;
    if (info->status == CONNECTED && info->connected != nullptr) {
        got = __real_recv(fd, buffer, CB_UDP_READ_SIZE, MSG_DONTWAIT);
        source = _CB_sockaddr(info->connected->ip, info->connected->port);
    } else {
        got = __real_recvfrom(fd, buffer, CB_UDP_READ_SIZE, MSG_DONTWAIT,
                              reinterpret_cast<sockaddr *>(&source), &length);
    }
    if (got < 0) {
        NBX_ERROR("handleFDasyncMsg: fd(%d) for %s is ready, but recvfrom() failed", fd,
                  _ipport2str(info->canon.ip, info->canon.port));
        free(buffer);
        return -1;
    }
    int result =
        handleUDPmsg(fd, buffer, static_cast<int>(got), reinterpret_cast<sockaddr *>(&source),
                     sizeof source, nullptr, nullptr);
    free(buffer);
    return result < 0 ? -1 : 0;
}

int handleTrigger(int fd, struct in_addr canon_ip, in_port_t canon_port, struct in_addr phy_ip,
                  in_port_t phy_port) {
    SockInfo *info = _CB_fdInfo[fd].info;
    struct sockaddr_in physical = _CB_sockaddr(phy_ip, phy_port);
    char own[CB_ADDR_TEXT_SIZE];
    _CB_addrText(own, info->canon.ip, info->canon.port);
    char *buffer = static_cast<char *>(malloc(CB_UDP_READ_SIZE));
    if (buffer == nullptr) NBX_ABORT("malloc failed");
    int result = 0;
    bool acknowledged = false;
    for (int attempt = 1; attempt <= CB_TRIGGER_ATTEMPTS && !acknowledged && result == 0;
         ++attempt) {
        send_dummy(fd, info, canon_ip, canon_port, physical);
        for (;;) {
            int ready = wait_readable(fd, CB_TRIGGER_WAIT);
            if (ready < 0) {
                NBX_ERROR("handleTrigger(%s): DUMMY sent, but select() for DUMMY_ACK failed", own);
                result = -1;
                break;
            }
            if (ready == 0) break;  // the next attempt
            struct sockaddr_in source;
            memset(&source, 0, sizeof source);
            socklen_t length = sizeof source;
            ssize_t got = __real_recvfrom(fd, buffer, CB_UDP_READ_SIZE, MSG_DONTWAIT,
                                          reinterpret_cast<sockaddr *>(&source), &length);
            if (got < 0) {
                if (errno == EAGAIN || errno == EINTR) continue;
                NBX_ERROR("handleTrigger: recvfrom() failed");
                result = -1;
                break;
            }
            struct in_addr sender_ip = {};
            in_port_t sender_port = 0;
            int kind = handleUDPmsg(fd, buffer, static_cast<int>(got),
                                    reinterpret_cast<sockaddr *>(&source), sizeof source,
                                    &sender_ip, &sender_port);
            if (kind != CB_UDP_DUMMY_ACK || sender_ip.s_addr != canon_ip.s_addr ||
                sender_port != canon_port) {
                continue;
            }
            char peer[CB_ADDR_TEXT_SIZE];
            _CB_addrText(peer, canon_ip, canon_port);
            NBX_LOG(D_FULL, "handleTrigger: UDP channel opened by TRIGGER %s <-> %s Phys:%s\n", own,
                    peer, _ipport2str(source.sin_addr, source.sin_port));
            if (_CB_addRcvr(info, canon_ip, canon_port, phy_ip, phy_port) != 0) {
                NBX_ERROR("handleTrigger: _CB_addRcvr failed");
                result = -1;
            }
            acknowledged = true;
            break;
        }
    }
    free(buffer);
    if (result == 0 && !acknowledged) {
        NBX_LOG(D_FULL, "handleTrigger: could not get DUMMY_ACK\n");
    }
    return result;
}

}  // extern "C"
