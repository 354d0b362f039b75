// The brokered recvfrom and the reading of brokered UDP sockets. The layer
// reads those sockets itself during every wait (to catch the channel
// handshake), so the application's datagrams are handed out from the
// socket's receive buffer; the source of each becomes a receiver of its
// own, so a reply goes back where the datagram came from.
#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/select.h>

#include "nbx/generic_log.h"
#include "nbx/nbx_errno.h"
#include "nbx/nbx_ops.h"
#include "nbx/sock_table.h"
#include "nbx/udp_channel.h"
#include "nbx/wrappers.h"

#define NBX_LOG_MODULE "recv"

namespace {

// One pass of the layer's select for fd: waits without limit unless
// zero_wait, and buffers whatever datagrams arrive.
int wait_for_datagram(int fd, bool zero_wait) {
    struct timeval zero = {0, 0};
    return _CB_selectOne(fd, false, zero_wait ? &zero : nullptr);
}

// Hands out the first buffered datagram.
ssize_t deliver(int fd, SockInfo *info, void *buffer, size_t size, struct sockaddr *address,
                socklen_t *length) {
    CBDatagram *datagram = info->rcv_buf_head;
    info->rcv_buf_head = datagram->next;
    if (info->rcv_buf_head == nullptr) info->rcv_buf_tail = nullptr;
    info->rcv_count--;
    size_t copied =
        static_cast<size_t>(datagram->size) < size ? static_cast<size_t>(datagram->size) : size;
    if (copied > 0) memcpy(buffer, datagram->data, copied);
    ssize_t result = static_cast<ssize_t>(copied);
    if (address != nullptr && length != nullptr) {
        socklen_t room = *length < sizeof datagram->from ? *length : sizeof datagram->from;
        memcpy(address, &datagram->from, room);
        *length = sizeof datagram->from;
        const struct sockaddr_in *from =
            reinterpret_cast<const struct sockaddr_in *>(&datagram->from);
        if (datagram->from.sa_family == AF_INET &&
            _CB_addRcvr(info, from->sin_addr, from->sin_port, from->sin_addr, from->sin_port) !=
                0) {
            NBX_LOG(D_BASIC,
                    "UDPrecv: Can't add NonNBX receiver, %d bytes copied from CB rcv_buf\n",
                    static_cast<int>(copied));
            result = -1;
        }
    }
    free(datagram->data);
    free(datagram);
    if (result < 0) {
        _NBX_errno = NBX_ERRNO_UNKNOWN;
        return -1;
    }
    NBX_LOG(D_FULL, "UDPrecv: returning %d\n", static_cast<int>(result));
    _NBX_errno = NBX_ERRNO_NONE;
    return result;
}

}  // namespace

extern "C" {

ssize_t UDPrecv(int fd, void *buffer, size_t size, int flags, struct sockaddr *address,
                socklen_t *length) {
    NBX_LOG(D_FULL, "NBX_recv(%d[NBX, UDP])\n", fd);
    int status_flags = fcntl(fd, F_GETFL);
    if (status_flags < 0) {
        NBX_ERROR("UDPrecv: fcntl(%d, F_GETFL) failed", fd);
        _NBX_errno = NBX_ERRNO_SYSTEM;
        return -1;
    }
    bool wont_wait = (status_flags & O_NONBLOCK) != 0 || (flags & MSG_DONTWAIT) != 0;
    SockInfo *info = _CB_fdInfo[fd].info;
    // A caller that will not wait still gets what already arrived: one
    // zero-wait pass moves pending datagrams into the buffer.
    if (info->rcv_buf_head == nullptr && wont_wait) wait_for_datagram(fd, true);
    while (info->rcv_buf_head == nullptr) {
        if (wont_wait) {
            errno = EAGAIN;
            _NBX_errno = NBX_ERRNO_NONE;
            NBX_LOG(D_FULL, "UDPrecv: returning EAGAIN\n");
            return -1;
        }
        if (wait_for_datagram(fd, false) < 0 && errno != EINTR) {
            int saved = errno;
            NBX_ERROR("UDPrecv: _CB_select() failed");
            _NBX_errno = NBX_ERRNO_SYSTEM;
            errno = saved;
            return -1;
        }
    }
    return deliver(fd, info, buffer, size, address, length);
}

ssize_t NBX_recvfrom(int fd, void *buffer, size_t size, int flags, struct sockaddr *address,
                     socklen_t *length) {
    if (!_CB_initialized) _CB_initialize();
    if (fd < 0 || fd >= _NBX_max_no_fds) {
        NBX_LOG(D_BASIC, "NBX_recvfrom: fd is too big. Returning error...\n");
        errno = EBADF;
        _NBX_errno = NBX_ERRNO_INVALID_ARGUMENT;
        return -1;
    }
    // Datagrams the layer already read for a connected socket are handed out
    // first: the system's recvfrom would never see them again.
    const SockInfo *info = _CB_fdInfo[fd].type == UDP ? _CB_fdInfo[fd].info : nullptr;
    if (info != nullptr && (info->status != CONNECTED || info->rcv_buf_head != nullptr)) {
        return UDPrecv(fd, buffer, size, flags, address, length);
    }
    ssize_t got = __real_recvfrom(fd, buffer, size, flags, address, length);
    _NBX_errno = got < 0 ? NBX_ERRNO_SYSTEM : NBX_ERRNO_NONE;
    return got;
}

}  // extern "C"
