// The brokering layer's own address functions: the sinful-string and
// address helpers of net/address_string.h as that layer has them. They log
// through the layer's log (nbx/generic_log.h) instead of the debug log,
// resolve names with the system's resolver (NO_DNS never applies), never
// put the local address in place of 0.0.0.0, and accept host names in
// sinful strings. Also the list of the host's interface addresses.
//
// _ipport2str and _priv_net belong to the same family and are declared in
// nbx/sock_table.h. Static result buffers are overwritten by the next call
// of the same function.
#ifndef TORVEL_NET_NBX_ADDRESS_H_
#define TORVEL_NET_NBX_ADDRESS_H_

#include <netdb.h>
#include <netinet/in.h>
#include <sys/select.h>

extern "C" {

// Fills sin from "<host:port>" (a dotted address or a name the system
// resolver knows). 0 on success, -1 on failure.
int _str2sin(const char *text, struct sockaddr_in *sin);

// "<a.b.c.d:port>" with 0.0.0.0 kept as such; "" for null. Static buffer.
char *_sin2str(const struct sockaddr_in *sin);

// The sinful text of fd's local address, "" when getsockname fails. Static
// buffer (that of _sin2str).
char *_fd2str(int fd);

// The official name of the address, and its aliases when asked; null when
// unknown. Owned by the system resolver.
char *_sin2host(const struct sockaddr_in *sin, char ***aliases);

// Logs "from <name>, port <p>" (or "from (<a.b.c.d>), port <p>") at
// D_BASIC; a null address is logged as an error.
void _display_from(const struct sockaddr_in *from);

// The address of _myIP without its last part, or "" when it has none.
// Caller free()s.
char *_subnet(void);

// 1 same host, 0 different, -1 a name cannot be resolved (or is null).
int _same_host(const char *a, const char *b);

// 1 when domain equals some tail of host, case counting.
int _in_domain(const char *host, const char *domain);

// is_ipaddr under the layer's name.
int _valid_ip(const char *text, struct in_addr *addr);

// 1 when text begins with '<' and holds ':' and '>' (host names pass).
int _valid_sin(const char *text);

// The port of a sinful text (0 when none follows ':'), -1 when invalid.
int _str2port(const char *text);

// The address of a sinful text in network byte order; 0 when the host is
// not a dotted address; (in_addr_t)-1 when the text is invalid.
in_addr_t _str2ip(const char *text);

// The host part (static 50-byte buffer), null when invalid.
char *_str2ipstr(const char *text);

// The official name of the host of a sinful text (static 50-byte buffer),
// null when invalid or unknown.
char *_str2host(const char *text);

// in_same_net under the layer's name (addresses in network byte order).
int _same_net(in_addr_t a, in_addr_t b);

// prt_fds, but "NULL" for a null set. Static buffer.
char *_prtfds(int count, fd_set *fds);

// The official name of addr from the system's reverse lookup, or null.
// Static buffer of the C library's resolver (gethostbyaddr): overwritten by
// the next gethostbyname/gethostbyaddr call anywhere in the process; never
// freed by the caller. Not thread-safe.
char *_ip2host(struct in_addr addr);

// 1 when addr is 127.0.0.1.
int _is_loopback(struct in_addr addr);

// "<a.b.c.d>" without a port. Static buffer.
char *_ip2str(struct in_addr addr);

// The addresses of the host's interfaces that are up, in the order the
// system lists them (alias interfaces after the first of a name are
// skipped). *count holds the capacity of list on entry and the number
// found on return. 0 on success, -1 (logged) on failure, including too
// little room.
int _all_myIP(struct in_addr *list, int *count);

// The address the layer uses for this host: the first interface address
// that is neither 127.0.0.1 nor private (result 0), else the last private
// one (result 1); -1 when there is none besides 127.0.0.1.
int _myIP(struct in_addr *addr);

}  // extern "C"

#endif  // TORVEL_NET_NBX_ADDRESS_H_
