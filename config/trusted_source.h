// Whether a file may steer a process that has root privileges (effective
// uid 0): configuration sources, the directories they are listed from, and
// shared libraries named by configuration. Such a file must be owned by
// root or by the service account and writable by neither its group nor
// others; anyone else who can change it could make root run commands or
// load code. Without root privileges every file passes.
//
// Group-writable files are refused too: the group's members are other
// accounts, and nothing tells whether the administrator trusts them. The
// write bits of character devices (/dev/null) are ignored: writing to one
// does not change what reading it gives.
//
// Reads the environment, ConfigTab and the password database to learn the
// service account; never switches ids and never ends the process.
#ifndef TORVEL_CONFIG_TRUSTED_SOURCE_H_
#define TORVEL_CONFIG_TRUSTED_SOURCE_H_

#include <sys/stat.h>

class MyString;

// True while the effective uid is 0.
bool _torvel_root_privileges();

// Whether a file with this status may be trusted while root (always true
// without root privileges). On false, *reason (when given) says why, for a
// message such as "writable by others (mode 0666)".
bool _torvel_trusted_status(const struct stat &info, MyString *reason);

// The check above on an open descriptor. On a refusal prints
// "Configuration Error File <path>: not read while running as root: <reason>\n"
// on standard error and returns -1; 0 when trusted.
int _torvel_check_trusted_fd(int fd, const char *path);

// dlopen(path, flags), but while root only a library that passes the check,
// in a directory that passes it too (a library is loaded by name, so a
// directory that others can write would let them swap it after the check).
// Links are resolved first and the real path is what is checked and loaded;
// a name without '/' (which dlopen would search for) is refused while root.
// A refused library logs one D_ALWAYS line naming it and the reason, and
// gives null, as a library that cannot be opened does. The handle is
// dlopen's: the caller may dlclose it.
void *_torvel_dlopen_trusted(const char *path, int flags);

#endif  // TORVEL_CONFIG_TRUSTED_SOURCE_H_
