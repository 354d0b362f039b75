// The local host's identity: short and fully qualified names and the IPv4
// address chosen for it. Discovered once, on first use, and kept for the
// rest of the process; configuration start-up refines both after the
// configuration is read.
#ifndef TORVEL_NET_HOST_IDENTITY_H_
#define TORVEL_NET_HOST_IDENTITY_H_

// The host name without domain, and the fully qualified name. Owned here:
// callers never free them; valid until the names are derived again.
const char *my_hostname();
const char *my_full_hostname();

// The chosen address in dotted form, in a static buffer overwritten by the
// next call; null when it cannot be formed.
const char *my_ip_string();

// Derives the fully qualified name again (DEFAULT_DOMAIN_NAME may have
// become known since).
void init_full_hostname();

// Chooses the local address. With config_done set, a valid
// NETWORK_INTERFACE from the configuration replaces the current choice.
void init_ipaddr(int config_done);

#endif  // TORVEL_NET_HOST_IDENTITY_H_
