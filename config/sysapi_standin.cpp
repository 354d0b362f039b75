// Stand-in for platform identification, until the platform-name module lands
// (it replaces this file). It asks uname once and translates only the names
// this library is built for: "x86_64" and the i*86 family for the
// architecture, "Linux" and "Darwin" for the system. Any other machine name
// is kept unchanged, any other system becomes sysname followed by release.
#include "config/sysapi.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/utsname.h>

namespace {

char *uname_arch = nullptr;
char *uname_opsys = nullptr;
char *torvel_arch = nullptr;
char *torvel_opsys = nullptr;
bool arch_inited = false;

void ensure_arch() {
    if (!arch_inited) {
        init_arch();
    }
}

}  // namespace

void init_arch() {
    struct utsname buf;
    if (uname(&buf) < 0) {
        return;
    }
    free(uname_arch);
    free(uname_opsys);
    free(torvel_arch);
    free(torvel_opsys);
    uname_arch = strdup(buf.machine);
    uname_opsys = strdup(buf.sysname);
    torvel_arch = sysapi_translate_arch(buf.machine, buf.sysname);
    torvel_opsys = sysapi_translate_opsys(buf.sysname, buf.release, buf.version);
    arch_inited = torvel_arch != nullptr && torvel_opsys != nullptr;
}

char *sysapi_translate_arch(const char *machine, const char *sysname) {
    if (strcmp(machine, "x86_64") == 0) {
        return strdup("X86_64");
    }
    if (strcmp(machine, "i686") == 0 || strcmp(machine, "i586") == 0 ||
        strcmp(machine, "i486") == 0 || strcmp(machine, "i386") == 0) {
        return strdup("INTEL");
    }
    return strdup(machine);
}

char *sysapi_translate_opsys(const char *sysname, const char *release, const char *version) {
    if (strcmp(sysname, "Linux") == 0 || strcmp(sysname, "linux") == 0) {
        return strdup("LINUX");
    }
    if (strcmp(sysname, "Darwin") == 0) {
        return strdup("OSX");
    }
    size_t size = strlen(sysname) + strlen(release) + 1;
    char *result = static_cast<char *>(malloc(size));
    if (result != nullptr) {
        snprintf(result, size, "%s%s", sysname, release);
    }
    return result;
}

const char *sysapi_torvel_arch() {
    ensure_arch();
    return torvel_arch;
}

const char *sysapi_opsys() {
    ensure_arch();
    return torvel_opsys;
}

const char *sysapi_uname_arch() {
    ensure_arch();
    return uname_arch;
}

const char *sysapi_uname_opsys() {
    ensure_arch();
    return uname_opsys;
}
