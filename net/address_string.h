// Sinful strings ("<a.b.c.d:port>") and the address predicates built on
// them: building, testing and taking apart endpoint texts, dotted addresses
// with wildcards, networks with masks, private networks, same host, same
// domain and same network.
//
// Every text parsed here may come from outside (configuration, ClassAd
// attributes, claim ids, peers): each parser bounds what it copies and
// refuses malformed text by its result. Only is_valid_network logs (a zero
// prefix length); the rest never log except display_from.
//
// Texts returned from static buffers are overwritten by the next call of the
// same function; heap results say so and are released with free().
#ifndef TORVEL_NET_ADDRESS_STRING_H_
#define TORVEL_NET_ADDRESS_STRING_H_

#include <netinet/in.h>
#include <stdint.h>
#include <sys/select.h>

// --- Conversions. ---

// Fills sin (family AF_INET, address and port in network byte order) from a
// sinful text. The host is a dotted address or a name the resolver knows.
// 1 on success, 0 when text is null, has no ':' after its first character,
// names an unknown host or carries a port outside 0..65535.
int string_to_sin(const char *text, struct sockaddr_in *sin);

// "<a.b.c.d:port>"; 0.0.0.0 stands for the local address (my_ip_string).
// "" for a null address. Static buffer.
char *sin_to_string(const struct sockaddr_in *sin);

// The sinful text of fd's local address, "" when getsockname fails. Static
// buffer (that of sin_to_string).
char *sock_to_string(int fd);

// The sinful text of an address and port, both in network byte order.
// Static buffer.
char *ipport_to_string(uint32_t ip, uint16_t port);

// The official name of the address (0.0.0.0 meaning the local address), or
// null when none is found; when aliases is not null it receives the alias
// list. Both belong to the resolver and are overwritten by its next call.
char *sin_to_hostname(const struct sockaddr_in *sin, char ***aliases);

// Logs one D_ALWAYS line naming the peer ("from NULL source" for null).
void display_from(const struct sockaddr_in *from);

// The local address without its last part ("10.1.2" for 10.1.2.3), or ""
// when no local address is known. Caller free()s.
char *calc_subnet_name();

// The parts of a sinful text. string_to_port: the port, or 0 when the text
// is not a valid sinful string or has no usable port. string_to_ip: the
// address in network byte order, 0 when not valid. string_to_ipstr: the
// host part (static 64-byte buffer), null when not valid.
// string_to_hostname: the official name of the host (static 64-byte
// buffer), null when not valid or not found.
int string_to_port(const char *text);
uint32_t string_to_ip(const char *text);
char *string_to_ipstr(const char *text);
char *string_to_hostname(const char *text);

// The decimal port after the first ':' ("<10.0.0.1:9000>" gives 9000); -1
// for null text, no ':', no digits, or a value not below 2^31.
int getPortFromAddr(const char *text);

// The host of "<host:port>" or "name@host:port"; null for null, empty or
// hostless text. Caller free()s.
char *getHostFromAddr(const char *text);

// The sinful part of a claim id ("<a.b.c.d:p>#..."), or null when it has no
// '#' or the part is not a valid sinful string. Caller free()s.
char *getAddrFromClaimId(const char *text);

// fd's local address (0.0.0.0 replaced by the local address) in a static
// buffer; null with a D_ALWAYS line when getsockname fails.
struct sockaddr_in *getSockAddr(int fd);

// "<3 7 >": the members of fds below count (count is capped at
// FD_SETSIZE), cut with "...>" past 40 characters; "<>" for a null set.
// Static buffer.
char *prt_fds(int count, fd_set *fds);

// --- Predicates. ---

// Whether text is a dotted address with optional wildcard: 3 to 16
// characters, not starting with '*', one to four parts below 256; a trailing
// "*", "." or ".*" is dropped and missing parts become 255. When addr is
// not null the four bytes are stored in it (network order).
int is_ipaddr(const char *text, struct in_addr *addr);

// Whether text is "address/mask" or "address/prefix-length" (at most 31
// characters are read). Fills network and mask (network order) when given.
int is_valid_network(const char *text, struct in_addr *network, struct in_addr *mask);

// Whether text is "<" dotted-address ":" ... ">" (host names refused).
int is_valid_sinful(const char *text);

// 1 when both names denote the same host, 0 when not (or a name is null),
// -1 when a name cannot be resolved.
int same_host(const char *a, const char *b);

// 1 when domain equals, ignoring case, some tail of host.
int host_in_domain(const char *host, const char *domain);

// 1 for an address (host byte order) in 10/8, 172.16/12 or 192.168/16.
int is_priv_net(uint32_t address);

// 1 when the leading bytes of a and b (network byte order) agree: one byte
// when a's first byte is below 128, three from 192 on, two otherwise.
int in_same_net(uint32_t a, uint32_t b);

#endif  // TORVEL_NET_ADDRESS_STRING_H_
