// Sinful strings and address predicates: parsing and building
// "<a.b.c.d:port>" texts, dotted addresses with wildcards, networks, and the
// same-host, same-domain and same-network tests. Every parser copies at most
// a fixed number of characters into fixed buffers and refuses what does not
// fit. Static result buffers are overwritten by the next call of the same
// function.
#include "net/address_string.h"

#include <arpa/inet.h>
#include <ctype.h>
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <sys/socket.h>

#include "core/c_locale.h"
#include "diagnostics/debug_log.h"
#include "net/address_text.h"
#include "net/host_identity.h"
#include "net/resolver.h"

namespace {

// Longest dotted address is_ipaddr accepts, with a trailing wildcard.
const size_t kMaxDotted = 16;
// Host names longer than this are refused (DNS names are at most 253).
const size_t kMaxHostName = 255;
// Characters of a network text that is_valid_network reads.
const size_t kMaxNetwork = 31;
// Size of the static host buffers of string_to_ipstr and
// string_to_hostname.
const size_t kHostBufSize = 64;
// prt_fds stops adding members once its text is longer than this.
const size_t kFdTextLimit = 40;

// Copies text[0..length) into buf (size bytes) with a terminator; false
// when it does not fit.
bool copy_part(const char *text, size_t length, char *buf, size_t size) {
    if (length >= size) {
        return false;
    }
    memcpy(buf, text, length);
    buf[length] = '\0';
    return true;
}

// Reads a dotted text part by part with atoi semantics into the bytes of
// addr (at most four; missing parts stay 0).
void read_parts(const char *host, struct in_addr *addr) {
    unsigned char bytes[4] = {0, 0, 0, 0};
    const char *p = host;
    for (int i = 0; i < 4 && *p != '\0'; ++i) {
        long v = 0;
        // Parts are below 256 here: the host passed is_ipaddr.
        read_leading_decimal(p, strcspn(p, "."), 255, &v);
        bytes[i] = static_cast<unsigned char>(v);
        p += strcspn(p, ".");
        if (*p == '.') {
            ++p;
        }
    }
    memcpy(&addr->s_addr, bytes, 4);
}

// An address with 0.0.0.0 replaced by the local address.
struct in_addr or_local(struct in_addr addr) {
    if (addr.s_addr == htonl(INADDR_ANY)) {
        return *my_sin_addr();
    }
    return addr;
}

// The dotted text of addr in buf (at least 16 bytes).
const char *dotted(struct in_addr addr, char *buf) {
    const char *text = inet_ntop(AF_INET, &addr, buf, INET_ADDRSTRLEN);
    return text != nullptr ? text : "0.0.0.0";
}

char sinful_buf[40];

char *format_sinful(struct in_addr addr, uint16_t port_network_order) {
    char ip[INET_ADDRSTRLEN];
    const char *text = nullptr;
    if (addr.s_addr == htonl(INADDR_ANY)) {
        text = my_ip_string();
    }
    if (text == nullptr) {
        text = dotted(addr, ip);
    }
    snprintf(sinful_buf, sizeof sinful_buf, "<%s:%d>", text,
             static_cast<int>(ntohs(port_network_order)));
    return sinful_buf;
}

}  // namespace

// --- Predicates. ---

int is_ipaddr(const char *text, struct in_addr *addr) {
    if (text == nullptr) {
        return 0;
    }
    size_t length = strnlen(text, kMaxDotted + 1);
    if (length < 3 || length > kMaxDotted || text[0] == '*') {
        return 0;
    }
    char buf[kMaxDotted + 1];
    copy_part(text, length, buf, sizeof buf);
    if (buf[length - 1] == '*' || buf[length - 1] == '.') {
        buf[--length] = '\0';
        if (length > 0 && buf[length - 1] == '.') {
            buf[--length] = '\0';
        }
    }
    unsigned char bytes[4] = {255, 255, 255, 255};
    const char *p = buf;
    for (int part = 0; part < 4; ++part) {
        if (!is_digit(*p)) {
            return 0;
        }
        int value = 0;
        for (; is_digit(*p); ++p) {
            value = value * 10 + (*p - '0');
            if (value >= 256) {
                return 0;
            }
        }
        bytes[part] = static_cast<unsigned char>(value);
        if (*p == '\0') {
            if (addr != nullptr) {
                memcpy(&addr->s_addr, bytes, 4);
            }
            return 1;
        }
        if (*p != '.') {
            return 0;
        }
        ++p;
    }
    return 0;  // a fifth part
}

int is_valid_network(const char *text, struct in_addr *network, struct in_addr *mask) {
    if (text == nullptr) {
        return 0;
    }
    char buf[kMaxNetwork + 1];
    copy_part(text, strnlen(text, kMaxNetwork), buf, sizeof buf);
    char *slash = strchr(buf, '/');
    if (slash == nullptr) {
        return 0;
    }
    *slash = '\0';
    const char *mask_text = slash + 1;
    if (!is_ipaddr(buf, network)) {
        return 0;
    }
    struct in_addr dotted_mask;
    if (is_ipaddr(mask_text, &dotted_mask)) {
        if (mask != nullptr) {
            *mask = dotted_mask;
        }
        return 1;
    }
    // A prefix length: 1 to 32 decimal, nothing else after it.
    long bits = 0;
    size_t digits = strspn(mask_text, "0123456789");
    if (digits == 0 || mask_text[digits] != '\0' ||
        !read_leading_decimal(mask_text, digits, 32, &bits) || bits == 0) {
        dprintf(D_SECURITY, "ISVALIDNETWORK: malformed netmask: %s\n", mask_text);
        return 0;
    }
    if (mask != nullptr) {
        uint32_t host_mask = bits == 32 ? 0xffffffffu : ~(0xffffffffu >> bits);
        mask->s_addr = htonl(host_mask);
    }
    return 1;
}

int is_valid_sinful(const char *text) {
    if (text == nullptr || text[0] != '<' || strchr(text, '>') == nullptr) {
        return 0;
    }
    char host[kMaxDotted + 1];
    const char *colon = nullptr;
    if (!read_sinful_host(text, host, sizeof host, &colon) || host[0] == '\0') {
        return 0;
    }
    return is_ipaddr(host, nullptr);
}

int same_host(const char *a, const char *b) {
    if (a == nullptr || b == nullptr) {
        dprintf(D_ALWAYS, "Warning: attempting to compare null hostnames in same_host.\n");
        return 0;
    }
    return same_official_name(a, b, torvel_gethostbyname, kHostBufSize);
}

int host_in_domain(const char *host, const char *domain) {
    return ends_in_domain(host, domain, strcasecmp);
}

int is_priv_net(uint32_t address) {
    return (address & 0xff000000u) == 0x0a000000u ||  // 10.0.0.0/8
           (address & 0xfff00000u) == 0xac100000u ||  // 172.16.0.0/12
           (address & 0xffff0000u) == 0xc0a80000u;    // 192.168.0.0/16
}

int in_same_net(uint32_t a, uint32_t b) {
    unsigned char x[4], y[4];
    memcpy(x, &a, 4);
    memcpy(y, &b, 4);
    size_t leading = x[0] < 128 ? 1 : (x[0] >= 192 ? 3 : 2);
    return memcmp(x, y, leading) == 0 ? 1 : 0;
}

// --- Conversions. ---

int string_to_sin(const char *text, struct sockaddr_in *sin) {
    char host[kMaxHostName + 1];
    const char *colon = nullptr;
    if (sin == nullptr || !read_sinful_host(text, host, sizeof host, &colon)) {
        return 0;
    }
    struct in_addr addr;
    if (is_ipaddr(host, nullptr)) {
        read_parts(host, &addr);
    } else {
        // A host name; one the resolver does not know is refused rather than
        // read as a half-filled dotted address.
        struct hostent *entry = torvel_gethostbyname(host);
        if (entry == nullptr || entry->h_addrtype != AF_INET || entry->h_length != 4 ||
            entry->h_addr_list == nullptr || entry->h_addr_list[0] == nullptr) {
            return 0;
        }
        memcpy(&addr.s_addr, entry->h_addr_list[0], 4);
    }
    // The port runs to the character before the last (the closing '>').
    const char *port_text = colon + 1;
    size_t port_length = strlen(port_text);
    if (port_length > 0) {
        --port_length;
    }
    if (port_text[0] == '-') {
        return 0;
    }
    long port = 0;
    if (!read_leading_decimal(port_text, port_length, 65535, &port)) {
        return 0;
    }
    memset(sin, 0, sizeof *sin);
    sin->sin_family = AF_INET;
    sin->sin_addr = addr;
    sin->sin_port = htons(static_cast<uint16_t>(port));
    return 1;
}

char *sin_to_string(const struct sockaddr_in *sin) {
    if (sin == nullptr) {
        sinful_buf[0] = '\0';
        return sinful_buf;
    }
    return format_sinful(sin->sin_addr, sin->sin_port);
}

char *ipport_to_string(uint32_t ip, uint16_t port) {
    struct in_addr addr;
    addr.s_addr = ip;
    return format_sinful(addr, port);
}

char *sock_to_string(int fd) {
    struct sockaddr_in sin;
    socklen_t length = sizeof sin;
    memset(&sin, 0, sizeof sin);
    if (getsockname(fd, reinterpret_cast<struct sockaddr *>(&sin), &length) != 0) {
        return sin_to_string(nullptr);
    }
    return sin_to_string(&sin);
}

char *sin_to_hostname(const struct sockaddr_in *sin, char ***aliases) {
    if (sin == nullptr) {
        return nullptr;
    }
    struct in_addr addr = or_local(sin->sin_addr);
    struct hostent *entry = torvel_gethostbyaddr(&addr, sizeof addr, AF_INET);
    if (entry == nullptr) {
        return nullptr;
    }
    if (aliases != nullptr) {
        *aliases = entry->h_aliases;
    }
    return entry->h_name;
}

void display_from(const struct sockaddr_in *from) {
    if (from == nullptr) {
        dprintf(D_ALWAYS, "from NULL source\n");
        return;
    }
    struct in_addr addr = or_local(from->sin_addr);
    int port = ntohs(from->sin_port);
    struct hostent *entry = torvel_gethostbyaddr(&addr, sizeof addr, AF_INET);
    if (entry != nullptr && entry->h_name != nullptr) {
        dprintf(D_ALWAYS, "from %s, port %d\n", entry->h_name, port);
    } else {
        char ip[INET_ADDRSTRLEN];
        dprintf(D_ALWAYS, "from (%s), port %d\n", dotted(addr, ip), port);
    }
}

char *calc_subnet_name() {
    if (my_ip_addr() == 0) {
        return strdup("");
    }
    char ip[INET_ADDRSTRLEN];
    char *subnet = strdup(dotted(*my_sin_addr(), ip));
    if (subnet != nullptr) {
        char *last = strrchr(subnet, '.');
        if (last != nullptr) {
            *last = '\0';
        }
    }
    return subnet;
}

int string_to_port(const char *text) {
    if (!is_valid_sinful(text)) {
        return 0;
    }
    const char *digits = strchr(text, ':') + 1;
    const char *end = strrchr(text, '>');
    size_t length = end > digits ? static_cast<size_t>(end - digits) : strlen(digits);
    long port = 0;
    if (!read_leading_decimal(digits, length, 65535, &port)) {
        return 0;
    }
    return static_cast<int>(port);
}

uint32_t string_to_ip(const char *text) {
    if (!is_valid_sinful(text)) {
        return 0;
    }
    char host[kMaxDotted + 1];
    const char *colon = nullptr;
    struct in_addr addr;
    if (!read_sinful_host(text, host, sizeof host, &colon) || !is_ipaddr(host, &addr)) {
        return 0;
    }
    return addr.s_addr;
}

char *string_to_ipstr(const char *text) {
    static char result[kHostBufSize];
    const char *colon = nullptr;
    if (!is_valid_sinful(text) || !read_sinful_host(text, result, sizeof result, &colon)) {
        return nullptr;
    }
    return result;
}

char *string_to_hostname(const char *text) {
    static char result[kHostBufSize];
    struct sockaddr_in sin;
    if (!is_valid_sinful(text) || !string_to_sin(text, &sin)) {
        return nullptr;
    }
    const char *name = sin_to_hostname(&sin, nullptr);
    if (name == nullptr) {
        return nullptr;
    }
    snprintf(result, sizeof result, "%s", name);
    return result;
}

int getPortFromAddr(const char *text) {
    if (text == nullptr) {
        return -1;
    }
    const char *colon = strchr(text, ':');
    if (colon == nullptr || !is_digit(colon[1])) {
        return -1;
    }
    long port = 0;
    const char *digits = colon + 1;
    if (!read_leading_decimal(digits, strspn(digits, "0123456789"), 0x7fffffffL, &port)) {
        return -1;
    }
    return static_cast<int>(port);
}

char *getHostFromAddr(const char *text) {
    if (text == nullptr || text[0] == '\0') {
        return nullptr;
    }
    char *copy = strdup(text);
    if (copy == nullptr) {
        return nullptr;
    }
    char *colon = strchr(copy, ':');
    if (colon != nullptr) {
        *colon = '\0';
    }
    char *close = strrchr(copy, '>');
    if (close != nullptr) {
        *close = '\0';
    }
    char *at = strchr(copy, '@');
    const char *host = at != nullptr ? at + 1 : (copy[0] == '<' ? copy + 1 : copy);
    char *result = host[0] != '\0' ? strdup(host) : nullptr;
    free(copy);
    return result;
}

char *getAddrFromClaimId(const char *text) {
    if (text == nullptr) {
        return nullptr;
    }
    const char *hash = strchr(text, '#');
    if (hash == nullptr) {
        return nullptr;
    }
    char *address = strndup(text, static_cast<size_t>(hash - text));
    if (address != nullptr && !is_valid_sinful(address)) {
        free(address);
        address = nullptr;
    }
    return address;
}

struct sockaddr_in *getSockAddr(int fd) {
    static struct sockaddr_in sin;
    socklen_t length = sizeof sin;
    memset(&sin, 0, sizeof sin);
    if (getsockname(fd, reinterpret_cast<struct sockaddr *>(&sin), &length) != 0) {
        dprintf(D_ALWAYS, "failed getsockname(%d): %s\n", fd, strerror(errno));
        return nullptr;
    }
    if (sin.sin_addr.s_addr == htonl(INADDR_ANY)) {
        sin.sin_addr.s_addr = htonl(my_ip_addr());
    }
    return &sin;
}

char *prt_fds(int count, fd_set *fds) {
    static char text[64];
    if (fds == nullptr) {
        snprintf(text, sizeof text, "<>");
    } else {
        format_fd_set(count, fds, kFdTextLimit, text, sizeof text);
    }
    return text;
}
