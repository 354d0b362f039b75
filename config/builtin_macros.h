// The built-in macros of ConfigTab: platform facts, host names and address,
// user name, subsystem and process ids. Start-up re-inserts them after every
// stage so that no source can override them (ARCH, OPSYS and their UNAME_
// forms excepted). Every insertion here is recorded as internal in the
// provenance table.
#ifndef TORVEL_CONFIG_BUILTIN_MACROS_H_
#define TORVEL_CONFIG_BUILTIN_MACROS_H_

// Inserts "ARCH", "UNAME_ARCH", "OPSYS", "UNAME_OPSYS" (each when known) and
// "subsystem".
void fill_attributes();

// Inserts "tilde" (when known), "hostname" (host, else the local host
// name), "full_hostname", "subsystem", "username" (when known), "pid",
// "ppid" and "ip_address". The process ids are those of the first call.
void reinsert_specials(const char *host);

// Inserts FILESYSTEM_DOMAIN and UID_DOMAIN as the full host name unless
// they are defined.
void check_domain_attributes();

// Inserts name = value into ConfigTab when both are non-null, without a
// provenance record.
void config_insert(const char *name, const char *value);

// Inserts name = value into ConfigTab and records it as internal.
void _torvel_insert_internal(const char *name, const char *value);

#endif  // TORVEL_CONFIG_BUILTIN_MACROS_H_
