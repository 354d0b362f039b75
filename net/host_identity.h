// The local host's identity: short and fully qualified names and the IPv4
// address chosen for it. Discovered once, on first use, and kept for the
// rest of the process; configuration start-up refines both after the
// configuration is read. A host whose name cannot be read, or whose address
// cannot be found on the first try, ends the process (status 4).
//
// Process-wide state: local_hostname, local_full_hostname, local_sin_addr,
// local_ip_addr and their flags, and a static buffer for the dotted text.
#ifndef TORVEL_NET_HOST_IDENTITY_H_
#define TORVEL_NET_HOST_IDENTITY_H_

#include <netdb.h>
#include <netinet/in.h>
#include <stdint.h>

// The host name without domain, and the fully qualified name. Owned here:
// callers never free them; valid until the names are derived again.
const char *my_hostname();
const char *my_full_hostname();

// The chosen address in host byte order, and as an in_addr (network byte
// order; points at process-wide state).
uint32_t my_ip_addr();
struct in_addr *my_sin_addr();

// The chosen address in dotted form, in a static buffer overwritten by the
// next call; null when it cannot be formed.
const char *my_ip_string();

// Derives the fully qualified name again (DEFAULT_DOMAIN_NAME may have
// become known since).
void init_full_hostname();

// Chooses the local address. With config_done set, a valid
// NETWORK_INTERFACE from the configuration replaces the current choice.
void init_ipaddr(int config_done);

// The fully qualified form of name, or null when the resolver does not know
// it. When addr is not null, also stores the best of the name's addresses
// (first public, else last private, else 127.0.0.1; 0.0.0.0 on failure).
// Caller delete[]s.
char *get_full_hostname(const char *name, struct in_addr *addr = nullptr);

// The fully qualified name from an entry already looked up: its official
// name or first alias holding a '.', else name (or the official name) with
// DEFAULT_DOMAIN_NAME. Null for a null entry. Caller delete[]s.
char *get_full_hostname_from_hostent(struct hostent *entry, const char *name);

// Forgets every discovered name and address, as at process start. For
// programs (and tests) that change the host's identity under a running
// process.
void _torvel_forget_host_identity();

#endif  // TORVEL_NET_HOST_IDENTITY_H_
