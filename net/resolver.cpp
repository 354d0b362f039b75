// The library's resolver calls and the NO_DNS name mapping. With NO_DNS off
// they are the system's gethostbyname, gethostbyaddr and gethostname; with
// it on, names are made from addresses ("10-1-2-3.example.org") and back,
// and the local host's name comes from NETWORK_INTERFACE, the route towards
// COLLECTOR_HOST, or the system's own name. The NO_DNS host entries are
// static and overwritten by the next call of the same kind.
#include "net/resolver.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#include "config/param.h"
#include "diagnostics/debug_log.h"
#include "net/address_string.h"

namespace {

// Host names handled here are cut to this many characters.
const size_t kNameLimit = 63;
const size_t kNameBufSize = 64;
// The port the route probe connects to; nothing is ever sent there.
const uint16_t kRouteProbePort = 1980;

void log_no_domain() {
    dprintf(D_HOSTNAME,
            "NO_DNS: DEFAULT_DOMAIN_NAME must be defined in your top-level config file\n");
}

// Copies at most kNameLimit characters of text, cut at its first stop
// character when stop is not NUL.
void bounded_name(const char *text, char stop, char *buf) {
    size_t length = strnlen(text, kNameLimit);
    if (stop != '\0') {
        const char *cut = static_cast<const char *>(memchr(text, stop, length));
        if (cut != nullptr) {
            length = static_cast<size_t>(cut - text);
        }
    }
    memcpy(buf, text, length);
    buf[length] = '\0';
}

// The NO_DNS name of the local address that the route to collector uses.
int hostname_from_route(const char *collector, char *name, size_t size) {
    char host[kNameBufSize];
    bounded_name(collector, ':', host);
    struct hostent *entry = torvel_gethostbyname(host);
    if (entry == nullptr || entry->h_addr_list == nullptr || entry->h_addr_list[0] == nullptr) {
        dprintf(D_HOSTNAME, "NO_DNS: Failed to get IP address of collector host '%s'\n", host);
        return -1;
    }
    struct sockaddr_in peer;
    memset(&peer, 0, sizeof peer);
    peer.sin_family = AF_INET;
    peer.sin_port = htons(kRouteProbePort);
    memcpy(&peer.sin_addr, entry->h_addr_list[0], sizeof peer.sin_addr);

    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    if (fd >= 0) {
        // Set apart from the type: the brokering layer reads the type.
        fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
    if (fd < 0) {
        dprintf(D_HOSTNAME, "NO_DNS: Failed to create socket, errno=%d (%s)\n", errno,
                strerror(errno));
        return -1;
    }
    int result = -1;
    struct sockaddr_in local;
    socklen_t length = sizeof local;
    // Connecting a datagram socket only selects the route.
    if (connect(fd, reinterpret_cast<struct sockaddr *>(&peer), sizeof peer) != 0) {
        int saved = errno;
        perror("connect");
        dprintf(D_HOSTNAME, "NO_DNS: Failed to bind socket, errno=%d (%s)\n", saved,
                strerror(saved));
    } else if (getsockname(fd, reinterpret_cast<struct sockaddr *>(&local), &length) != 0) {
        dprintf(D_HOSTNAME, "NO_DNS: Failed to get socket name, errno=%d (%s)\n", errno,
                strerror(errno));
    } else {
        result = convert_ip_to_hostname(local.sin_addr, name, static_cast<int>(size));
    }
    close(fd);
    return result;
}

// The NO_DNS name of the address the system's own host name resolves to.
int hostname_from_system(char *name, size_t size) {
    char host[kNameBufSize];
    if (gethostname(host, sizeof host) != 0) {
        dprintf(D_HOSTNAME, "Failed in determining hostname for this machine\n");
        return -1;
    }
    host[sizeof host - 1] = '\0';
    dprintf(D_HOSTNAME, "NO_DNS: Using gethostname()='%s' to determine hostname\n", host);
    struct hostent *entry = gethostbyname(host);
    if (entry == nullptr || entry->h_addrtype != AF_INET || entry->h_addr_list == nullptr ||
        entry->h_addr_list[0] == nullptr) {
        dprintf(D_HOSTNAME, "NO_DNS: gethostbyname() failed, errno=%d (%s)\n", errno,
                strerror(errno));
        return -1;
    }
    struct in_addr addr;
    memcpy(&addr, entry->h_addr_list[0], sizeof addr);
    return convert_ip_to_hostname(addr, name, static_cast<int>(size));
}

}  // namespace

int _torvel_no_dns() {
    char *value = param("NO_DNS");
    int on = value != nullptr && (value[0] == 'T' || value[0] == 't' || value[0] == '1');
    free(value);
    return on;
}

struct hostent *torvel_gethostbyname(const char *name) {
    if (!_torvel_no_dns()) {
        return gethostbyname(name);
    }
    static struct in_addr *addresses[2];
    static char *no_aliases[1] = {nullptr};
    static char official[kNameBufSize];
    static struct hostent entry;
    if (name == nullptr ||
        convert_hostname_to_ip(name, reinterpret_cast<char **>(addresses), 2) != 0) {
        return nullptr;
    }
    bounded_name(name, '\0', official);
    entry.h_name = official;
    entry.h_aliases = no_aliases;
    entry.h_addrtype = AF_INET;
    entry.h_length = 4;
    entry.h_addr_list = reinterpret_cast<char **>(addresses);
    return &entry;
}

struct hostent *torvel_gethostbyaddr(const void *addr, socklen_t length, int type) {
    if (!_torvel_no_dns()) {
        return gethostbyaddr(addr, length, type);
    }
    static char name[kNameBufSize];
    static char *no_aliases[1] = {nullptr};
    static struct hostent entry;
    if (addr == nullptr || type != AF_INET || length < sizeof(struct in_addr)) {
        return nullptr;
    }
    struct in_addr address;
    memcpy(&address, addr, sizeof address);
    if (convert_ip_to_hostname(address, name, sizeof name) != 0) {
        return nullptr;
    }
    entry.h_name = name;
    entry.h_aliases = no_aliases;
    entry.h_addrtype = AF_INET;
    entry.h_length = 0;
    entry.h_addr_list = nullptr;
    return &entry;
}

int torvel_gethostname(char *name, size_t size) {
    if (!_torvel_no_dns()) {
        return gethostname(name, size);
    }
    if (name == nullptr || size == 0) {
        return -1;
    }
    char *value = param("NETWORK_INTERFACE");
    if (value != nullptr) {
        dprintf(D_HOSTNAME, "NO_DNS: Using NETWORK_INTERFACE='%s' to determine hostname\n", value);
        char text[kNameBufSize];
        bounded_name(value, '\0', text);
        free(value);
        struct in_addr addr;
        if (!is_ipaddr(text, &addr)) {
            dprintf(D_HOSTNAME, "NO_DNS: NETWORK_INTERFACE is invalid: %s\n", text);
            return -1;
        }
        return convert_ip_to_hostname(addr, name, static_cast<int>(size));
    }
    value = param("COLLECTOR_HOST");
    if (value != nullptr) {
        dprintf(D_HOSTNAME, "NO_DNS: Using COLLECTOR_HOST='%s' to determine hostname\n", value);
        int result = hostname_from_route(value, name, size);
        free(value);
        return result;
    }
    return hostname_from_system(name, size);
}

int convert_ip_to_hostname(struct in_addr addr, char *buf, int size) {
    char *domain = param("DEFAULT_DOMAIN_NAME");
    if (domain == nullptr) {
        log_no_domain();
        return -1;
    }
    if (buf == nullptr || size <= 0) {
        free(domain);
        return -1;
    }
    size_t room = static_cast<size_t>(size);
    memset(buf, 0, room);
    char dotted[INET_ADDRSTRLEN];
    inet_ntop(AF_INET, &addr, dotted, sizeof dotted);
    strncpy(buf, dotted, room - 1);
    for (char *p = buf; *p != '\0'; ++p) {
        if (*p == '.') {
            *p = '-';
        }
    }
    size_t used = strlen(buf);
    snprintf(buf + used, room - used, ".%s", domain);
    free(domain);
    return 0;
}

int convert_hostname_to_ip(const char *name, char **list, int slots) {
    static struct in_addr address;
    if (list == nullptr || slots < 2) {
        return -1;
    }
    list[1] = nullptr;
    char *domain = param("DEFAULT_DOMAIN_NAME");
    if (domain == nullptr) {
        log_no_domain();
        return -1;
    }
    if (name == nullptr) {
        free(domain);
        return -1;
    }
    size_t length = strlen(name);
    const char *found = strstr(name, domain);
    free(domain);
    if (found != nullptr) {
        length = static_cast<size_t>(found - name);
        if (length > 0) {
            --length;  // the '.' before the domain
        }
    }
    char host[kNameBufSize];
    if (length > kNameLimit) {
        length = kNameLimit;
    }
    memcpy(host, name, length);
    host[length] = '\0';
    for (char *p = host; *p != '\0'; ++p) {
        if (*p == '-') {
            *p = '.';
        }
    }
    // A name that encodes no address is a failed lookup, not 255.255.255.255.
    if (inet_aton(host, &address) == 0) {
        return -1;
    }
    list[0] = reinterpret_cast<char *>(&address);
    return 0;
}
