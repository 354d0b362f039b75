// Platform identification: the machine and system names from uname and their
// translations into the configuration's ARCH and OPSYS values. Computed once
// per process; the returned strings belong to this module.
#ifndef TORVEL_CONFIG_SYSAPI_H_
#define TORVEL_CONFIG_SYSAPI_H_

// Identifies the platform (again). Called by the accessors when needed.
void init_arch();

// New strings (malloc; caller frees).
char *sysapi_translate_arch(const char *machine, const char *sysname);
char *sysapi_translate_opsys(const char *sysname, const char *release, const char *version);

// Translated architecture ("X86_64"), translated system ("LINUX"), raw
// machine name ("x86_64") and raw system name ("Linux"); null when unknown.
// Owned here: never freed by callers.
const char *sysapi_torvel_arch();
const char *sysapi_opsys();
const char *sysapi_uname_arch();
const char *sysapi_uname_opsys();

#endif  // TORVEL_CONFIG_SYSAPI_H_
