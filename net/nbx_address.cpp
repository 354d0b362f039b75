// The brokering layer's address functions: sinful strings with host names,
// the layer's log in place of the debug log, the system resolver in place of
// the NO_DNS-aware one, and the host's interface addresses read with
// SIOCGIFCONF. Parsers copy into fixed buffers and refuse what does not fit.
#include "net/nbx_address.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <net/if.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include "nbx/generic_log.h"
#include "nbx/sock_table.h"
#include "net/address_string.h"
#include "net/address_text.h"

#define NBX_LOG_MODULE "address"

namespace {

// Host names longer than this are refused.
const size_t kMaxHostName = 255;
// Size of the static host buffers of _str2ipstr and _str2host, and the
// characters of official names _same_host compares.
const size_t kNbxHostBufSize = 50;
const size_t kMaxDotted = 16;
// _prtfds stops adding members once its text is longer than this.
const size_t kFdTextLimit = 40;
// Interface-list buffer: first size and growth step.
const int kIfconfFirstSize = 4000;
const int kIfconfStep = 400;
// Interfaces _myIP asks _all_myIP for.
const int kMyIpSlots = 10;

char sin_text[40];

char *format_sin(struct in_addr addr, in_port_t port) {
    const unsigned char *b = reinterpret_cast<const unsigned char *>(&addr.s_addr);
    snprintf(sin_text, sizeof sin_text, "<%u.%u.%u.%u:%d>", b[0], b[1], b[2], b[3],
             static_cast<int>(ntohs(port)));
    return sin_text;
}

// Reads the interface list into a malloc'd buffer, asking again with a
// larger buffer until two answers have the same length. Null (logged) on
// failure; *length receives the bytes used.
char *read_ifconf(int fd, int *length) {
    int size = kIfconfFirstSize;
    int last = -1;
    for (;;) {
        char *buffer = static_cast<char *>(malloc(static_cast<size_t>(size)));
        if (buffer == nullptr) {
            NBX_ERROR("_all_myIP: malloc failed");
            return nullptr;
        }
        struct ifconf conf;
        conf.ifc_len = size;
        conf.ifc_buf = buffer;
        if (ioctl(fd, SIOCGIFCONF, &conf) < 0) {
            if (errno != EINVAL || last >= 0) {
                NBX_ERROR("_all_myIP: ioctl(SIOCGIFCONF) failed");
                free(buffer);
                return nullptr;
            }
        } else if (conf.ifc_len == last) {
            *length = conf.ifc_len;
            return buffer;
        } else {
            last = conf.ifc_len;
        }
        free(buffer);
        size += kIfconfStep;
    }
}

// The interface name of entry without an alias suffix (":n").
// REQUIRES: name has room for IFNAMSIZ + 1 characters.
void interface_name(const struct ifreq &entry, char *name) {
    memcpy(name, entry.ifr_name, IFNAMSIZ);
    name[IFNAMSIZ] = '\0';
    char *alias = strchr(name, ':');
    if (alias != nullptr) {
        *alias = '\0';
    }
}

// Whether the interface name is up: 1 or 0, -1 when its flags cannot be
// read (logged).
int interface_up(int fd, const char *name) {
    struct ifreq flags;
    memset(&flags, 0, sizeof flags);
    memcpy(flags.ifr_name, name, IFNAMSIZ);
    if (ioctl(fd, SIOCGIFFLAGS, &flags) < 0) {
        NBX_ERROR("_all_myIP: ioctl(SIOCGIFFLAGS) failed");
        return -1;
    }
    return (flags.ifr_flags & IFF_UP) != 0 ? 1 : 0;
}

}  // namespace

extern "C" {

int _valid_ip(const char *text, struct in_addr *addr) {
    return is_ipaddr(text, addr);
}

int _valid_sin(const char *text) {
    return text != nullptr && text[0] == '<' && strchr(text, ':') != nullptr &&
                   strchr(text, '>') != nullptr
               ? 1
               : 0;
}

int _str2sin(const char *text, struct sockaddr_in *sin) {
    if (text == nullptr || sin == nullptr) {
        return -1;
    }
    if (text[0] == '\0' || strchr(text + 1, ':') == nullptr) {
        NBX_ERROR("could not find ':' in the string passed");
        return -1;
    }
    char host[kMaxHostName + 1];
    const char *colon = nullptr;
    if (!read_sinful_host(text, host, sizeof host, &colon)) {
        return -1;
    }
    if (_valid_ip(host, nullptr)) {
        // A dotted host never reaches the resolver: read as the library does.
        return string_to_sin(text, sin) ? 0 : -1;
    }
    struct hostent *entry = gethostbyname(host);
    if (entry == nullptr || entry->h_addrtype != AF_INET || entry->h_length != 4 ||
        entry->h_addr_list == nullptr || entry->h_addr_list[0] == nullptr) {
        return -1;
    }
    const char *port_text = colon + 1;
    size_t port_length = strlen(port_text);
    if (port_length > 0) {
        --port_length;  // the closing '>'
    }
    long port = 0;
    if (port_text[0] == '-' || !read_leading_decimal(port_text, port_length, 65535, &port)) {
        return -1;
    }
    memset(sin, 0, sizeof *sin);
    sin->sin_family = AF_INET;
    memcpy(&sin->sin_addr.s_addr, entry->h_addr_list[0], 4);
    sin->sin_port = htons(static_cast<uint16_t>(port));
    return 0;
}

char *_sin2str(const struct sockaddr_in *sin) {
    if (sin == nullptr) {
        sin_text[0] = '\0';
        return sin_text;
    }
    return format_sin(sin->sin_addr, sin->sin_port);
}

char *_fd2str(int fd) {
    struct sockaddr_in sin;
    socklen_t length = sizeof sin;
    memset(&sin, 0, sizeof sin);
    if (getsockname(fd, reinterpret_cast<struct sockaddr *>(&sin), &length) != 0) {
        return _sin2str(nullptr);
    }
    return _sin2str(&sin);
}

char *_sin2host(const struct sockaddr_in *sin, char ***aliases) {
    if (sin == nullptr) {
        return nullptr;
    }
    struct hostent *entry = gethostbyaddr(&sin->sin_addr, sizeof sin->sin_addr, AF_INET);
    if (entry == nullptr) {
        return nullptr;
    }
    if (aliases != nullptr) {
        *aliases = entry->h_aliases;
    }
    return entry->h_name;
}

void _display_from(const struct sockaddr_in *from) {
    if (from == nullptr) {
        NBX_ERROR("from NULL source");
        return;
    }
    int port = ntohs(from->sin_port);
    char *name = _sin2host(from, nullptr);
    if (name != nullptr) {
        NBX_LOG(D_BASIC, "from %s, port %d\n", name, port);
    } else {
        char ip[INET_ADDRSTRLEN];
        inet_ntop(AF_INET, &from->sin_addr, ip, sizeof ip);
        NBX_LOG(D_BASIC, "from (%s), port %d\n", ip, port);
    }
}

char *_subnet(void) {
    struct in_addr addr;
    if (_myIP(&addr) < 0) {
        return strdup("");
    }
    char ip[INET_ADDRSTRLEN];
    inet_ntop(AF_INET, &addr, ip, sizeof ip);
    char *last = strrchr(ip, '.');
    if (last != nullptr) {
        *last = '\0';
    }
    return strdup(ip);
}

int _same_host(const char *a, const char *b) {
    if (a == nullptr || b == nullptr) {
        return -1;
    }
    return same_official_name(a, b, gethostbyname, kNbxHostBufSize);
}

int _in_domain(const char *host, const char *domain) {
    return ends_in_domain(host, domain, strcmp);
}

int _str2port(const char *text) {
    if (!_valid_sin(text)) {
        return -1;
    }
    const char *digits = strchr(text, ':') + 1;
    const char *end = strrchr(text, '>');
    size_t length = end > digits ? static_cast<size_t>(end - digits) : strlen(digits);
    long port = 0;
    if (!read_leading_decimal(digits, length, 65535, &port)) {
        return -1;
    }
    return static_cast<int>(port);
}

in_addr_t _str2ip(const char *text) {
    if (!_valid_sin(text)) {
        return static_cast<in_addr_t>(-1);
    }
    char host[kMaxDotted + 1];
    const char *colon = nullptr;
    if (strchr(text + 1, ':') == nullptr) {
        NBX_ERROR("_valid_ip(\"%s\") is true, but can't find ':'", text);
        return 0;
    }
    struct in_addr addr;
    if (!read_sinful_host(text, host, sizeof host, &colon) || !_valid_ip(host, &addr)) {
        return 0;
    }
    return addr.s_addr;
}

char *_str2ipstr(const char *text) {
    static char result[kNbxHostBufSize];
    const char *colon = nullptr;
    if (!_valid_sin(text) || !read_sinful_host(text, result, sizeof result, &colon)) {
        return nullptr;
    }
    return result;
}

char *_str2host(const char *text) {
    static char result[kNbxHostBufSize];
    struct sockaddr_in sin;
    if (!_valid_sin(text) || _str2sin(text, &sin) != 0) {
        return nullptr;
    }
    const char *name = _sin2host(&sin, nullptr);
    if (name == nullptr) {
        return nullptr;
    }
    snprintf(result, sizeof result, "%s", name);
    return result;
}

int _same_net(in_addr_t a, in_addr_t b) {
    return in_same_net(a, b);
}

char *_prtfds(int count, fd_set *fds) {
    static char text[64];
    if (fds == nullptr) {
        snprintf(text, sizeof text, "NULL");
    } else {
        format_fd_set(count, fds, kFdTextLimit, text, sizeof text);
    }
    return text;
}

char *_ip2host(struct in_addr addr) {
    struct hostent *entry = gethostbyaddr(&addr, sizeof addr, AF_INET);
    return entry != nullptr ? entry->h_name : nullptr;
}

int _is_loopback(struct in_addr addr) {
    return addr.s_addr == htonl(INADDR_LOOPBACK) ? 1 : 0;
}

char *_ip2str(struct in_addr addr) {
    static char text[24];
    const unsigned char *b = reinterpret_cast<const unsigned char *>(&addr.s_addr);
    snprintf(text, sizeof text, "<%u.%u.%u.%u>", b[0], b[1], b[2], b[3]);
    return text;
}

int _all_myIP(struct in_addr *list, int *count) {
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    if (fd >= 0) {
        // Set apart from the type: the brokering layer reads the type.
        fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
    if (fd < 0) {
        NBX_ERROR("_all_myIP: socket creation");
        return -1;
    }
    int length = 0;
    char *buffer = read_ifconf(fd, &length);
    if (buffer == nullptr) {
        close(fd);
        return -1;
    }
    int capacity = *count;
    int found = 0;
    int result = 0;
    char previous[IFNAMSIZ + 1] = "";
    for (int offset = 0; offset + static_cast<int>(sizeof(struct ifreq)) <= length;
         offset += static_cast<int>(sizeof(struct ifreq))) {
        struct ifreq entry;
        memcpy(&entry, buffer + offset, sizeof entry);
        if (entry.ifr_addr.sa_family != AF_INET) {
            continue;
        }
        char name[IFNAMSIZ + 1];
        interface_name(entry, name);
        if (strcmp(name, previous) == 0) {
            continue;
        }
        memcpy(previous, name, sizeof previous);
        struct sockaddr_in addr;
        memcpy(&addr, &entry.ifr_addr, sizeof addr);
        int up = interface_up(fd, name);
        if (up < 0) {
            result = -1;
            break;
        }
        if (up == 0) {
            continue;
        }
        if (found >= capacity) {
            NBX_ERROR("_all_myIP: caller did not pass enough space");
            result = -1;
            break;
        }
        list[found++] = addr.sin_addr;
    }
    free(buffer);
    close(fd);
    if (result == 0) {
        *count = found;
    }
    return result;
}

int _myIP(struct in_addr *addr) {
    struct in_addr list[kMyIpSlots];
    int count = kMyIpSlots;
    if (_all_myIP(list, &count) != 0) {
        NBX_ERROR("_myIP: _all_myIP failed");
        return -1;
    }
    int result = -1;
    for (int i = 0; i < count; ++i) {
        if (_is_loopback(list[i])) {
            continue;
        }
        if (!_priv_net(ntohl(list[i].s_addr))) {
            *addr = list[i];
            return 0;
        }
        *addr = list[i];
        result = 1;
    }
    return result;
}

}  // extern "C"
