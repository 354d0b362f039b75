// Fuzz target for the address-string parsers: the input bytes, copied to a
// NUL-terminated buffer, are read as a dotted address, a network, a sinful
// string, a claim id and a "name@host:port" endpoint, by the library's
// functions and by the brokering layer's counterparts. Two properties are
// checked: an accepted dotted address prints back to a text that parses to
// the same address, and a parsed sinful string prints back to one that
// parses to the same address and port. Texts whose host is not a dotted
// address are never handed to the functions that would ask the resolver.
// Heap results are freed; nothing survives between inputs.
#include <arpa/inet.h>
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "diagnostics/debug_log.h"
#include "net/address_string.h"
#include "net/nbx_address.h"

const char *mySubSystem = "TOOL";

namespace {

const size_t kMaxInput = 4096;

void check_dotted(const char *text) {
    struct in_addr addr;
    if (!is_ipaddr(text, &addr)) {
        return;
    }
    char printed[INET_ADDRSTRLEN];
    struct in_addr again;
    if (inet_ntop(AF_INET, &addr, printed, sizeof printed) == nullptr ||
        !is_ipaddr(printed, &again) || again.s_addr != addr.s_addr) {
        abort();
    }
}

void check_sinful(const char *text) {
    if (!is_valid_sinful(text)) {
        return;
    }
    string_to_port(text);
    string_to_ip(text);
    string_to_ipstr(text);
    struct sockaddr_in sin;
    if (!string_to_sin(text, &sin) || sin.sin_addr.s_addr == htonl(INADDR_ANY)) {
        return;  // 0.0.0.0 would print as the local address
    }
    struct sockaddr_in again;
    const char *printed = sin_to_string(&sin);
    if (!string_to_sin(printed, &again) || again.sin_addr.s_addr != sin.sin_addr.s_addr ||
        again.sin_port != sin.sin_port) {
        abort();
    }
    struct sockaddr_in layer;
    if (_str2sin(text, &layer) != 0 || layer.sin_addr.s_addr != sin.sin_addr.s_addr) {
        abort();
    }
}

void check_layer_forms(const char *text) {
    _valid_sin(text);
    _str2port(text);
    _str2ipstr(text);
    // _str2ip reads only the dotted host; host names are left unresolved.
    _str2ip(text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size > kMaxInput) {
        return 0;
    }
    // Debug lines are dropped rather than kept in memory across inputs.
    _torvel_dprintf_works = 1;
    DebugFlags = 0;

    char *text = static_cast<char *>(malloc(size + 1));
    if (text == nullptr) {
        return 0;
    }
    memcpy(text, data, size);
    text[size] = '\0';

    check_dotted(text);
    struct in_addr network, mask;
    is_valid_network(text, &network, &mask);
    check_sinful(text);
    check_layer_forms(text);
    getPortFromAddr(text);
    free(getHostFromAddr(text));
    free(getAddrFromClaimId(text));
    const char *half = text + size / 2;
    host_in_domain(text, half);
    _in_domain(text, half);

    free(text);
    return 0;
}
