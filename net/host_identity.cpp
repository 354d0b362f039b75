// Discovery of the local host's names and IPv4 address, run lazily once per
// process and refined by configuration start-up (init_full_hostname once
// DEFAULT_DOMAIN_NAME is known, init_ipaddr(1) after each read). Lookups go
// through the library's resolver calls, so NO_DNS applies.
//
// Process-wide state, unlocked: the names (heap), the address in both byte
// orders, the three flags, and the static text of my_ip_string.
#include "net/host_identity.h"

#include <arpa/inet.h>
#include <errno.h>
#include <stdlib.h>
#include <string.h>

#include "config/param.h"
#include "core/allocation.h"
#include "core/strnewp.h"
#include "core/torvel_constants.h"
#include "diagnostics/debug_log.h"
#include "diagnostics/except.h"
#include "net/address_string.h"
#include "net/resolver.h"

namespace {

char *local_hostname = nullptr;       // malloc
char *local_full_hostname = nullptr;  // malloc
struct in_addr local_sin_addr;        // network byte order
uint32_t local_ip_addr = 0;           // host byte order
bool hostnames_known = false;
bool ipaddr_known = false;
bool sin_addr_found = false;

// Size of the buffer the host name is read into.
const size_t kHostBufSize = 64;

bool has_dot(const char *name) {
    return name != nullptr && strchr(name, '.') != nullptr;
}

void discover_hostname() {
    free(local_hostname);
    free(local_full_hostname);
    local_hostname = nullptr;
    local_full_hostname = nullptr;
    dprintf(D_HOSTNAME, "Finding local host information, calling gethostname()\n");
    char buf[kHostBufSize];
    memset(buf, 0, sizeof buf);
    if (torvel_gethostname(buf, sizeof buf) != 0) {
        EXCEPT("gethostname failed, errno = %d", errno);
    }
    buf[sizeof buf - 1] = '\0';
    if (buf[0] == '\0') {
        EXCEPT("gethostname succeeded, but hostbuf is empty");
    }
    char *dot = strchr(buf, '.');
    if (dot != nullptr) {
        local_full_hostname = strdup(buf);
        dprintf(D_HOSTNAME, "gethostname() returned fully qualified name \"%s\"\n", buf);
        *dot = '\0';
    } else {
        dprintf(D_HOSTNAME, "gethostname() returned a host with no domain \"%s\"\n", buf);
    }
    local_hostname = strdup(buf);
    if (local_full_hostname == nullptr) {
        init_full_hostname();
    }
    hostnames_known = true;
}

// The best of an entry's addresses: the first public one, else the last
// private one, else 127.0.0.1; 0.0.0.0 when none of them qualifies.
struct in_addr choose_address(const struct hostent *entry) {
    struct in_addr chosen;
    chosen.s_addr = htonl(INADDR_ANY);
    bool taken = false;
    if (entry->h_addrtype != AF_INET || entry->h_length != 4 || entry->h_addr_list == nullptr) {
        return chosen;
    }
    for (char **p = entry->h_addr_list; *p != nullptr; ++p) {
        struct in_addr addr;
        memcpy(&addr, *p, sizeof addr);
        char text[INET_ADDRSTRLEN];
        inet_ntop(AF_INET, &addr, text, sizeof text);
        dprintf(D_HOSTNAME, "Found IP addr in hostent: %s\n", text);
        uint32_t host_order = ntohl(addr.s_addr);
        if (host_order == INADDR_LOOPBACK) {
            if (!taken) {
                chosen = addr;
                taken = true;
            }
        } else if (is_priv_net(host_order)) {
            chosen = addr;
            taken = true;
        } else {
            return addr;
        }
    }
    return chosen;
}

// A new[] copy of a + b.
char *join(const char *a, const char *b) {
    size_t la = strlen(a), lb = strlen(b);
    char *result = new (torvel::or_die) char[la + lb + 1];
    memcpy(result, a, la);
    memcpy(result + la, b, lb + 1);
    return result;
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

uint32_t my_ip_addr() {
    if (!ipaddr_known) {
        init_ipaddr(0);
    }
    return local_ip_addr;
}

struct in_addr *my_sin_addr() {
    if (!ipaddr_known) {
        init_ipaddr(0);
    }
    return &local_sin_addr;
}

const char *my_ip_string() {
    static char text[IP_STRING_BUF_SIZE];
    if (!ipaddr_known) {
        init_ipaddr(0);
    }
    char formatted[INET_ADDRSTRLEN];
    const char *str = inet_ntop(AF_INET, &local_sin_addr, formatted, sizeof formatted);
    if (str == nullptr) {
        return nullptr;
    }
    ASSERT(strlen(str) < IP_STRING_BUF_SIZE);
    memcpy(text, str, strlen(str) + 1);
    return text;
}

void init_full_hostname() {
    if (local_hostname == nullptr) {
        discover_hostname();  // derives the full name itself
        return;
    }
    char *full = nullptr;
    if (!ipaddr_known) {
        full = get_full_hostname(local_hostname, &local_sin_addr);
        sin_addr_found = true;
        init_ipaddr(0);
    } else {
        full = get_full_hostname(local_hostname);
    }
    free(local_full_hostname);
    local_full_hostname = strdup(full != nullptr ? full : local_hostname);
    delete[] full;
}

void init_ipaddr(int config_done) {
    if (local_hostname == nullptr) {
        discover_hostname();
    }
    dprintf(D_HOSTNAME, "Trying to initialize local IP address (%s)\n",
            config_done ? "after reading config" : "config file not read");
    if (config_done) {
        char *iface = param("NETWORK_INTERFACE");
        if (iface == nullptr) {
            dprintf(D_HOSTNAME, "NETWORK_INTERFACE not in config file, using existing value\n");
        } else if (is_ipaddr(iface, &local_sin_addr)) {
            sin_addr_found = true;
            local_ip_addr = ntohl(local_sin_addr.s_addr);
            ipaddr_known = true;
            dprintf(D_HOSTNAME, "Using NETWORK_INTERFACE (%s) from config file for local IP addr\n",
                    iface);
        } else {
            dprintf(D_ALWAYS, "init_ipaddr: Invalid network interface string: \"%s\"\n", iface);
            dprintf(D_ALWAYS, "init_ipaddr: Using default interface.\n");
        }
        free(iface);
    }
    if (ipaddr_known) {
        return;
    }
    if (sin_addr_found) {
        dprintf(D_HOSTNAME, "Already found IP with gethostbyname()\n");
    } else {
        dprintf(D_HOSTNAME, "Have not found an IP yet, calling gethostbyname()\n");
        const char *name = local_full_hostname != nullptr ? local_full_hostname : local_hostname;
        char *full = get_full_hostname(name, &local_sin_addr);
        if (full == nullptr) {
            EXCEPT("gethostbyname(%s) failed, errno = %d", name, errno);
        }
        delete[] full;
        sin_addr_found = true;
    }
    local_ip_addr = ntohl(local_sin_addr.s_addr);
    ipaddr_known = true;
}

char *get_full_hostname(const char *name, struct in_addr *addr) {
    if (name == nullptr) {
        return nullptr;
    }
    bool dotted_name = has_dot(name);
    if (dotted_name && addr == nullptr) {
        dprintf(D_HOSTNAME, "Given name is fully qualified, done\n");
        return strnewp(name);
    }
    if (dotted_name) {
        dprintf(D_HOSTNAME, "Trying to find IP addr for \"%s\"\n", name);
    } else if (addr != nullptr) {
        dprintf(D_HOSTNAME, "Trying to find full hostname and IP addr for \"%s\"\n", name);
    } else {
        dprintf(D_HOSTNAME, "Trying to find full hostname for \"%s\"\n", name);
    }
    dprintf(D_HOSTNAME, "Calling gethostbyname(%s)\n", name);
    struct hostent *entry = torvel_gethostbyname(name);
    if (entry == nullptr) {
        int saved = errno;
        if (addr != nullptr) {
            addr->s_addr = htonl(INADDR_ANY);
        }
        dprintf(D_HOSTNAME, "gethostbyname() failed: %s (errno: %d)\n", strerror(saved), saved);
        return nullptr;
    }
    if (addr != nullptr) {
        *addr = choose_address(entry);
    }
    if (dotted_name) {
        return strnewp(name);
    }
    return get_full_hostname_from_hostent(entry, name);
}

char *get_full_hostname_from_hostent(struct hostent *entry, const char *name) {
    if (entry == nullptr) {
        dprintf(D_ALWAYS, "get_full_hostname_from_hostent() called with no hostent!\n");
        return nullptr;
    }
    dprintf(D_HOSTNAME, "Trying to find full hostname from hostent\n");
    if (has_dot(entry->h_name)) {
        dprintf(D_HOSTNAME, "Main name in hostent \"%s\" is fully qualified\n", entry->h_name);
        return strnewp(entry->h_name);
    }
    dprintf(D_HOSTNAME, "Main name in hostent \"%s\" contains no '.', checking aliases\n",
            entry->h_name != nullptr ? entry->h_name : "NULL");
    for (char **alias = entry->h_aliases; alias != nullptr && *alias != nullptr; ++alias) {
        dprintf(D_HOSTNAME, "Checking alias \"%s\"\n", *alias);
        if (has_dot(*alias)) {
            dprintf(D_HOSTNAME, "Alias \"%s\" is fully qualified\n", *alias);
            return strnewp(*alias);
        }
    }
    dprintf(D_HOSTNAME, "No host alias is fully qualified, looking for DEFAULT_DOMAIN_NAME\n");
    const char *base = name != nullptr ? name : entry->h_name;
    if (base == nullptr) {
        return nullptr;
    }
    char *domain = param("DEFAULT_DOMAIN_NAME");
    char *full = nullptr;
    if (domain != nullptr) {
        dprintf(D_HOSTNAME, "DEFAULT_DOMAIN_NAME is defined: \"%s\"\n", domain);
        char *with_dot = domain[0] == '.' ? nullptr : join(".", domain);
        full = join(base, with_dot != nullptr ? with_dot : domain);
        delete[] with_dot;
        free(domain);
        dprintf(D_HOSTNAME, "Full hostname for \"%s\" is \"%s\"\n", base, full);
    } else {
        dprintf(D_HOSTNAME, "DEFAULT_DOMAIN_NAME not defined\n");
        full = strnewp(base);
        dprintf(D_HOSTNAME, "Failed to find full hostname for \"%s\", returning \"%s\"\n", base,
                full);
    }
    return full;
}

void _torvel_forget_host_identity() {
    free(local_hostname);
    free(local_full_hostname);
    local_hostname = nullptr;
    local_full_hostname = nullptr;
    local_sin_addr.s_addr = 0;
    local_ip_addr = 0;
    hostnames_known = false;
    ipaddr_known = false;
    sin_addr_found = false;
}
