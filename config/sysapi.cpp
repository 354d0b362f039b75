// Platform identification: the machine and system names that uname reports
// and their translations into the configuration's ARCH and OPSYS values
// ("x86_64" -> "X86_64", "Linux" -> "LINUX"). The four strings are computed
// once per process and owned here; init_arch() recomputes them.
#include "config/sysapi.h"

#include <stdlib.h>
#include <string.h>
#include <sys/utsname.h>

#include <initializer_list>

#include "diagnostics/except.h"

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

// A copy of text that the process cannot do without.
char *must_copy(const char *text) {
    char *copy = strdup(text);
    if (copy == nullptr) {
        EXCEPT("Out of memory!");
    }
    return copy;
}

bool is(const char *text, const char *wanted) {
    return strcmp(text, wanted) == 0;
}

bool begins(const char *text, const char *prefix) {
    return strncmp(text, prefix, strlen(prefix)) == 0;
}

bool is_one_of(const char *text, std::initializer_list<const char *> names) {
    for (const char *name : names) {
        if (is(text, name)) {
            return true;
        }
    }
    return false;
}

// The texts run together in a new malloc'ed string; null when memory runs out.
char *join(std::initializer_list<const char *> parts) {
    size_t size = 1;
    for (const char *part : parts) {
        size += strlen(part);
    }
    char *result = static_cast<char *>(malloc(size));
    if (result != nullptr) {
        result[0] = '\0';
        for (const char *part : parts) {
            strcat(result, part);
        }
    }
    return result;
}

const char *or_empty(const char *text) {
    return text == nullptr ? "" : text;
}

const char *arch_name(const char *machine, const char *sysname) {
    if (is(machine, "alpha")) return "ALPHA";
    if (is_one_of(machine, {"i86pc", "i686", "i586", "i486", "i386"})) return "INTEL";
    if (is(machine, "ia64")) return "IA64";
    if (is(machine, "x86_64")) return "X86_64";
    if (begins(sysname, "IRIX")) return "SGI";
    if (is(machine, "mips")) return "SGI";
    if (is(machine, "sun4u")) return "SUN4u";
    if (is_one_of(machine, {"sun4m", "sun4c", "sparc"})) return "SUN4x";
    if (is_one_of(machine, {"Power Macintosh", "ppc", "ppc32"})) return "PPC";
    if (is(machine, "ppc64")) return "PPC64";
    return machine;
}

char *solaris_name(const char *release) {
    if (is_one_of(release, {"2.9", "5.9"})) return strdup("SOLARIS29");
    if (is_one_of(release, {"2.8", "5.8"})) return strdup("SOLARIS28");
    if (is_one_of(release, {"2.7", "5.7"})) return strdup("SOLARIS27");
    if (is_one_of(release, {"5.6", "2.6"})) return strdup("SOLARIS26");
    if (is_one_of(release, {"5.5.1", "2.5.1"})) return strdup("SOLARIS251");
    if (is_one_of(release, {"5.5", "2.5"})) return strdup("SOLARIS25");
    return join({"SOLARIS", release});
}

char *hpux_name(const char *release) {
    if (is(release, "B.10.20")) return strdup("HPUX10");
    if (is_one_of(release, {"B.11.00", "B.11.11"})) return strdup("HPUX11");
    return join({"HPUX", release});
}

char *irix_name(const char *release) {
    if (is(release, "6.5")) return strdup("IRIX65");
    if (is(release, "6.2")) return strdup("IRIX62");
    return join({"IRIX", release});
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
    uname_arch = must_copy(buf.machine);
    uname_opsys = must_copy(buf.sysname);
    torvel_arch = sysapi_translate_arch(buf.machine, buf.sysname);
    torvel_opsys = sysapi_translate_opsys(buf.sysname, buf.release, buf.version);
    if (torvel_arch == nullptr || torvel_opsys == nullptr) {
        EXCEPT("Out of memory!");
    }
    arch_inited = true;
}

char *sysapi_translate_arch(const char *machine, const char *sysname) {
    return strdup(arch_name(or_empty(machine), or_empty(sysname)));
}

char *sysapi_translate_opsys(const char *sysname, const char *release, const char *version) {
    sysname = or_empty(sysname);
    release = or_empty(release);
    version = or_empty(version);
    if (is_one_of(sysname, {"Linux", "linux"})) return strdup("LINUX");
    if (is_one_of(sysname, {"SunOS", "solaris"})) return solaris_name(release);
    if (is(sysname, "OSF1")) return strdup("OSF1");
    if (is(sysname, "HP-UX")) return hpux_name(release);
    if (begins(sysname, "IRIX") || is(sysname, "irix")) return irix_name(release);
    if (is(sysname, "Darwin")) return strdup("OSX");
    // AIX reports its major number as the version and the minor as the
    // release ("AIX53"); other versions are named the same way.
    if (begins(sysname, "AIX")) return join({sysname, version, release});
    if (begins(sysname, "FreeBSD")) {
        char first[2] = {release[0], '\0'};
        return join({"FREEBSD", first});
    }
    return join({sysname, release});
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
