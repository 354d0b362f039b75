// Rewrites the host's default address in outgoing address attributes to
// the local address of the connection an ad travels on, so a peer on that
// connection's network can reach back. Only a whole dotted address is
// replaced: the default address inside a longer number (10.0.0.1 inside
// 10.0.0.12) is left alone. Also the subsystem-name accessor.
#include "net/default_ip.h"

#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include "config/subsystem.h"
#include "core/c_locale.h"
#include "diagnostics/debug_log.h"
#include "diagnostics/except.h"
#include "net/host_identity.h"
#include "stream/stream.h"

namespace {

const char kIpAddrSuffix[] = "IpAddr";

// Called for every attribute of every ad sent: lengths are compared before
// any text.
bool carries_address(const char *attr) {
    struct Name {
        const char *text;
        size_t length;
    };
    static const Name kNames[] = {
        {"MyAddress", 9}, {"TransferSocket", 14}, {"Capability", 10}, {"ClaimId", 7}};
    size_t length = strlen(attr);
    for (const Name &name : kNames) {
        if (name.length == length && memcmp(attr, name.text, length) == 0) {
            return true;
        }
    }
    size_t suffix = sizeof kIpAddrSuffix - 1;
    return length >= suffix && (attr[length - 1] | 0x20) == 'r' &&
           strcasecmp(attr + length - suffix, kIpAddrSuffix) == 0;
}

// The first occurrence of address in text that stands alone: not preceded
// by a digit or '.', not followed by a digit or by '.' and a digit.
const char *find_address(const char *text, const char *address) {
    size_t length = strlen(address);
    for (const char *at = strstr(text, address); at != nullptr; at = strstr(at + 1, address)) {
        bool joined_before = at > text && (is_digit(at[-1]) || at[-1] == '.');
        const char *after = at + length;
        bool joined_after = is_digit(after[0]) || (after[0] == '.' && is_digit(after[1]));
        if (!joined_before && !joined_after) {
            return at;
        }
    }
    return nullptr;
}

}  // namespace

void ConvertDefaultIPToSocketIP(const char *attr, const char *expr, char **new_expr_string,
                                Stream &s) {
    *new_expr_string = nullptr;
    if (!carries_address(attr) || !RewritesDefaultIP(s)) {
        return;
    }
    const char *my = my_ip_string();
    const char *sock = s.my_ip_str();
    const char *at = find_address(expr, my);
    if (at == nullptr) {
        return;
    }
    size_t before = static_cast<size_t>(at - expr);
    size_t my_length = strlen(my), sock_length = strlen(sock);
    size_t after = strlen(at + my_length);
    *new_expr_string = static_cast<char *>(malloc(before + sock_length + after + 1));
    ASSERT(*new_expr_string);
    memcpy(*new_expr_string, expr, before);
    memcpy(*new_expr_string + before, sock, sock_length);
    memcpy(*new_expr_string + before + sock_length, at + my_length, after + 1);
    dprintf(D_NETWORK,
            "Replaced default IP %s with connection IP %s in outgoing ClassAd attribute %s.\n", my,
            sock, attr);
}

void ConvertDefaultIPToSocketIP(const char *attr, char **expr, Stream &s) {
    char *new_expr = nullptr;
    ConvertDefaultIPToSocketIP(attr, *expr, &new_expr, s);
    if (new_expr != nullptr) {
        free(*expr);
        *expr = new_expr;
    }
}

bool CarriesAddress(const char *attr) {
    return carries_address(attr);
}

// The stream's side first: the default address is formatted anew at each
// call.
bool RewritesDefaultIP(Stream &s) {
    const char *sock = s.my_ip_str();
    if (sock == nullptr || strcmp(sock, "127.0.0.1") == 0) {
        return false;
    }
    const char *my = my_ip_string();
    return my != nullptr && strcmp(my, sock) != 0;
}

const char *get_mySubSystem() {
    return mySubSystem;
}
