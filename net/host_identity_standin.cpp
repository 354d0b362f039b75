// Stand-in for host name and address discovery, until the network-identity
// module lands (it replaces this file). It asks gethostname and the local
// resolver (getaddrinfo) only, has no NO_DNS mode, logs nothing and never
// ends the process: a name that cannot be read becomes "localhost", an
// address that cannot be found becomes 0.0.0.0. Among a name's addresses
// the first one outside 127.0.0.0/8 is preferred.
#include "net/host_identity.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#include "config/param.h"

namespace {

char *local_hostname = nullptr;       // malloc
char *local_full_hostname = nullptr;  // malloc
struct in_addr local_sin_addr;
bool hostnames_known = false;
bool ipaddr_known = false;
char ip_string[16];

void discover_hostname() {
    char buf[64];
    if (gethostname(buf, sizeof buf) != 0 || buf[0] == '\0') {
        strcpy(buf, "localhost");
    }
    buf[sizeof buf - 1] = '\0';
    free(local_hostname);
    free(local_full_hostname);
    local_full_hostname = nullptr;
    char *dot = strchr(buf, '.');
    if (dot != nullptr) {
        local_full_hostname = strdup(buf);
        *dot = '\0';
    }
    local_hostname = strdup(buf);
    hostnames_known = true;
    if (local_full_hostname == nullptr) {
        init_full_hostname();
    }
}

// The resolver's canonical name for name, or null (malloc).
char *canonical_name(const char *name) {
    struct addrinfo hints;
    memset(&hints, 0, sizeof hints);
    hints.ai_family = AF_INET;
    hints.ai_flags = AI_CANONNAME;
    struct addrinfo *result = nullptr;
    if (getaddrinfo(name, nullptr, &hints, &result) != 0 || result == nullptr) {
        return nullptr;
    }
    char *canon = result->ai_canonname != nullptr ? strdup(result->ai_canonname) : nullptr;
    freeaddrinfo(result);
    return canon;
}

// First address of name outside 127.0.0.0/8, else its first address, else
// 0.0.0.0.
struct in_addr lookup_address(const char *name) {
    struct in_addr chosen;
    chosen.s_addr = htonl(INADDR_ANY);
    struct addrinfo hints;
    memset(&hints, 0, sizeof hints);
    hints.ai_family = AF_INET;
    struct addrinfo *result = nullptr;
    if (getaddrinfo(name, nullptr, &hints, &result) != 0) {
        return chosen;
    }
    bool have_any = false;
    for (struct addrinfo *ai = result; ai != nullptr; ai = ai->ai_next) {
        struct in_addr addr = reinterpret_cast<struct sockaddr_in *>(ai->ai_addr)->sin_addr;
        bool loopback = (ntohl(addr.s_addr) >> 24) == 127;
        if (!have_any || !loopback) {
            chosen = addr;
            have_any = true;
        }
        if (!loopback) {
            break;
        }
    }
    freeaddrinfo(result);
    return chosen;
}

}  // namespace

const char *my_hostname() {
    if (!hostnames_known) {
        discover_hostname();
    }
    return local_hostname;
}

const char *my_full_hostname() {
    if (!hostnames_known) {
        discover_hostname();
    }
    return local_full_hostname;
}

const char *my_ip_string() {
    if (!ipaddr_known) {
        init_ipaddr(0);
    }
    const char *text = inet_ntop(AF_INET, &local_sin_addr, ip_string, sizeof ip_string);
    return text;
}

void init_full_hostname() {
    if (local_hostname == nullptr) {
        discover_hostname();
        return;
    }
    char *full = canonical_name(local_hostname);
    if (full == nullptr || strchr(full, '.') == nullptr) {
        free(full);
        full = nullptr;
        char *domain = param("DEFAULT_DOMAIN_NAME");
        if (domain != nullptr) {
            const char *sep = domain[0] == '.' ? "" : ".";
            size_t size = strlen(local_hostname) + strlen(sep) + strlen(domain) + 1;
            full = static_cast<char *>(malloc(size));
            snprintf(full, size, "%s%s%s", local_hostname, sep, domain);
            free(domain);
        }
    }
    free(local_full_hostname);
    local_full_hostname = full != nullptr ? full : strdup(local_hostname);
}

void init_ipaddr(int config_done) {
    if (local_hostname == nullptr) {
        discover_hostname();
    }
    if (config_done) {
        char *iface = param("NETWORK_INTERFACE");
        struct in_addr addr;
        if (iface != nullptr && inet_aton(iface, &addr) != 0) {
            local_sin_addr = addr;
            ipaddr_known = true;
        }
        free(iface);
    }
    if (ipaddr_known) {
        return;
    }
    local_sin_addr = lookup_address(local_full_hostname != nullptr ? local_full_hostname
                                                                   : local_hostname);
    ipaddr_known = true;
}
