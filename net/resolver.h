// The system's resolver calls as the whole library makes them, with the
// NO_DNS mode: when the configuration's NO_DNS begins with 'T', 't' or '1'
// no name service is used, names are derived from addresses
// ("10-1-2-3.<DEFAULT_DOMAIN_NAME>") and addresses from names. NO_DNS is
// read at every call.
//
// Process-wide state: the static host entries and buffers returned under
// NO_DNS; each call overwrites the previous entry.
#ifndef TORVEL_NET_RESOLVER_H_
#define TORVEL_NET_RESOLVER_H_

#include <netdb.h>
#include <netinet/in.h>
#include <stddef.h>
#include <sys/socket.h>

// Whether NO_DNS is on now.
int _torvel_no_dns();

// gethostbyname, gethostbyaddr and gethostname, unchanged when NO_DNS is
// off. Entries belong to the resolver (or to this file under NO_DNS) and
// are overwritten by the next call. torvel_gethostname returns 0 on
// success, -1 on failure.
struct hostent *torvel_gethostbyname(const char *name);
struct hostent *torvel_gethostbyaddr(const void *addr, socklen_t length, int type);
int torvel_gethostname(char *name, size_t size);

// The NO_DNS name of addr, "a-b-c-d.<DEFAULT_DOMAIN_NAME>", written into
// buf (size bytes, always terminated). 0 on success, -1 without a domain.
int convert_ip_to_hostname(struct in_addr addr, char *buf, int size);

// The address of a NO_DNS name: slot 0 of list points at a static address
// (overwritten by the next call), slot 1 becomes null. -1 with fewer than 2
// slots, without DEFAULT_DOMAIN_NAME, or when the name does not encode an
// address.
int convert_hostname_to_ip(const char *name, char **list, int slots);

#endif  // TORVEL_NET_RESOLVER_H_
