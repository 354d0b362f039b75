// The address substitution for outgoing ClassAd attributes: an attribute
// that carries an address and names the host's default address is rewritten
// to name the local address of the connection it travels on. Also the
// subsystem-name accessor the network code shares.
#ifndef TORVEL_NET_DEFAULT_IP_H_
#define TORVEL_NET_DEFAULT_IP_H_

class Stream;

// Sets *new_expr to null, or, when attr names an address attribute
// ("MyAddress", "TransferSocket", "Capability", "ClaimId", or a name of 6 or
// more characters ending in "IpAddr" in any case) and expr holds the
// default address as a whole dotted address, to a copy of expr whose first
// such occurrence is replaced by the stream's local address. Caller free()s
// *new_expr. REQUIRES: attr, expr and new_expr are not null.
void ConvertDefaultIPToSocketIP(const char *attr, const char *expr, char **new_expr, Stream &s);

// The same on *expr in place: a rewritten text replaces it and the old one
// is free()d. REQUIRES: *expr is a malloc'd text.
void ConvertDefaultIPToSocketIP(const char *attr, char **expr, Stream &s);

// Whether attr is such an address attribute, and whether s rewrites the
// default address at all (the default and local addresses are known and
// differ, and the local one is not the loopback address).
bool CarriesAddress(const char *attr);
bool RewritesDefaultIP(Stream &s);

// The process-wide subsystem name (mySubSystem).
const char *get_mySubSystem();

#endif  // TORVEL_NET_DEFAULT_IP_H_
