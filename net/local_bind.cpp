// Port ranges from the configuration and binding sockets inside them. A
// range search starts at a point derived from the process id and tries
// every port of the range once; ports below 1024 are bound as root, and the
// previous privilege state is restored right after each attempt. Socket
// calls go through the library's socket-call wrappers.
#include "net/local_bind.h"

#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#include "config/param.h"
#include "diagnostics/debug_log.h"
#include "identity/privileges.h"

namespace {

const int kMaxPort = 65535;
const int kFirstUnprivilegedPort = 1024;
// Spreads the start points of processes started together.
const long long kSpreadFactor = 173;

// The decimal value of a configured port: leading digits after an optional
// sign; values beyond the port space are clamped to just outside it (so the
// range is refused) and non-numbers are 0.
int port_value(const char *text) {
    char *end = nullptr;
    errno = 0;
    long value = strtol(text, &end, 10);
    if (end == text) {
        return 0;
    }
    if (value > kMaxPort) {
        return kMaxPort + 1;
    }
    if (value < -(kMaxPort + 1)) {
        return -(kMaxPort + 1);
    }
    return static_cast<int>(value);
}

// Reads one pair of keys. Returns -1 when the low key is set without the
// high one (logged), 1 when both were read into low and high, 0 when the
// low key is not set.
int read_pair(const char *low_key, const char *high_key, int *low, int *high) {
    char *low_text = param(low_key);
    if (low_text == nullptr) {
        return 0;
    }
    char *high_text = param(high_key);
    if (high_text == nullptr) {
        dprintf(D_ALWAYS, "get_port_range - ERROR: %s defined but no %s.\n", low_key, high_key);
        free(low_text);
        return -1;
    }
    *low = port_value(low_text);
    *high = port_value(high_text);
    free(low_text);
    free(high_text);
    dprintf(D_NETWORK, "get_port_range - (%s,%s) is (%i,%i).\n", low_key, high_key, *low, *high);
    return 1;
}

// Binds fd to any address and port (host byte order); ports below 1024 as
// root.
int bind_port(int fd, int port) {
    struct sockaddr_in sin;
    memset(&sin, 0, sizeof sin);
    sin.sin_family = AF_INET;
    sin.sin_addr.s_addr = htonl(INADDR_ANY);
    sin.sin_port = htons(static_cast<uint16_t>(port));
    if (port >= kFirstUnprivilegedPort) {
        return bind(fd, reinterpret_cast<struct sockaddr *>(&sin), sizeof sin);
    }
    priv_state previous = _set_priv(PRIV_ROOT, __FILE__, __LINE__, 1);
    int result = bind(fd, reinterpret_cast<struct sockaddr *>(&sin), sizeof sin);
    int saved = errno;
    _set_priv(previous, __FILE__, __LINE__, 1);
    errno = saved;
    return result;
}

}  // namespace

int get_port_range(int outgoing, int *low, int *high) {
    int low_port = 0, high_port = 0;
    int found = outgoing ? read_pair("OUT_LOWPORT", "OUT_HIGHPORT", &low_port, &high_port)
                         : read_pair("IN_LOWPORT", "IN_HIGHPORT", &low_port, &high_port);
    if (found < 0) {
        return 0;
    }
    if (low_port == 0 && high_port == 0 &&
        read_pair("LOWPORT", "HIGHPORT", &low_port, &high_port) < 0) {
        return 0;
    }
    *low = low_port;
    *high = high_port;
    if (low_port < 0 || high_port < 0 || high_port < low_port || high_port > kMaxPort) {
        dprintf(D_ALWAYS, "get_port_range - ERROR: invalid port range (%d,%d)\n ", low_port,
                high_port);
        return 0;
    }
    if (low_port < kFirstUnprivilegedPort && high_port >= kFirstUnprivilegedPort) {
        dprintf(D_ALWAYS,
                "get_port_range - WARNING: port range (%d,%d) is mix of privileged and "
                "non-privileged ports!\n",
                low_port, high_port);
    }
    return low_port != 0 || high_port != 0 ? 1 : 0;
}

int _torvel_bind_all_interfaces() {
    char *value = param("BIND_ALL_INTERFACES");
    int all = value != nullptr && strchr("TYty", value[0]) != nullptr && value[0] != '\0';
    free(value);
    return all;
}

int _torvel_local_bind(int outgoing, int fd) {
    int low = 0, high = 0;
    if (get_port_range(outgoing, &low, &high)) {
        return bindWithin(fd, low, high);
    }
    struct sockaddr_in sin;
    memset(&sin, 0, sizeof sin);
    sin.sin_family = AF_INET;
    sin.sin_addr.s_addr = htonl(INADDR_ANY);
    sin.sin_port = htons(0);
    if (bind(fd, reinterpret_cast<struct sockaddr *>(&sin), sizeof sin) != 0) {
        dprintf(D_ALWAYS, "ERROR: bind(%s:%d) failed, errno: %d\n", "0.0.0.0", 0, errno);
        return 0;
    }
    return 1;
}

int bindWithin(int fd, int low, int high) {
    if (low < 0 || high > kMaxPort || high < low) {
        dprintf(D_ALWAYS,
                "_torvel_local_bind::bindWithin - failed to bind any port within (%d ~ %d)\n", low,
                high);
        return 0;
    }
    int count = high - low + 1;
    int start = low + static_cast<int>((static_cast<long long>(getpid()) * kSpreadFactor) % count);
    for (int tried = 0; tried < count; ++tried) {
        int port = start + tried;
        if (port > high) {
            port -= count;
        }
        if (bind_port(fd, port) == 0) {
            dprintf(D_NETWORK, "_torvel_local_bind - bound to %d...\n", port);
            return 1;
        }
        dprintf(D_NETWORK, "_torvel_local_bind - failed to bind: %s\n", strerror(errno));
    }
    dprintf(D_ALWAYS, "_torvel_local_bind::bindWithin - failed to bind any port within (%d ~ %d)\n",
            low, high);
    return 0;
}
