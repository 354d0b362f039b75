// The two tables of distribution-dependent names: ClassAd attribute names
// ("TorvelVersion") and environment-variable names ("TORVEL_CONFIG",
// "_torvel_LOWPORT"). Each name is built from its format and the current
// distribution name (myDistro) on first use and cached in the table; the
// Init functions empty the caches, so a changed distribution takes effect.
#include "config/well_known_names.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "config/distribution.h"
#include "diagnostics/debug_log.h"

namespace {

// How the "%s" of a format is filled.
enum NameKind {
    kAsIs = 0,         // no "%s": the format is the name
    kLowerCase = 1,    // "torvel"
    kUpperCase = 2,    // "TORVEL"
    kCapitalised = 3,  // "Torvel"
};

struct NameEntry {
    int sanity;          // the entry's own position, checked by the Init functions
    const char *format;  // at most one "%s"
    int kind;            // a NameKind
    const char *cached;  // null until first use
    bool owned;          // cached is a malloc'ed string of this table
};

NameEntry attr_names[] = {
    {ATTRNAME_LOAD_AVG, "%sLoadAvg", kCapitalised, nullptr, false},
    {ATTRNAME_ADMIN, "%sAdmin", kCapitalised, nullptr, false},
    {ATTRNAME_PLATFORM, "%sPlatform", kCapitalised, nullptr, false},
    {ATTRNAME_TOTAL_LOAD_AVG, "Total%sLoadAvg", kCapitalised, nullptr, false},
    {ATTRNAME_VERSION, "%sVersion", kCapitalised, nullptr, false},
};

NameEntry env_names[] = {
    {ENVIRON_INHERIT, "%s_INHERIT", kUpperCase, nullptr, false},
    {ENVIRON_STACK_SIZE, "%s_STACK_SIZE", kUpperCase, nullptr, false},
    {ENVIRON_CORESIZE, "%s_CORESIZE", kUpperCase, nullptr, false},
    {ENVIRON_GZIP, "GZIP", kAsIs, nullptr, false},
    {ENVIRON_PVM_ROOT, "PVM_ROOT", kAsIs, nullptr, false},
    {ENVIRON_IDS, "%s_IDS", kUpperCase, nullptr, false},
    {ENVIRON_PATH, "PATH", kAsIs, nullptr, false},
    {ENVIRON_ID, "%s_ID", kUpperCase, nullptr, false},
    {ENVIRON_SCHEDD_NAME, "SCHEDD_NAME", kAsIs, nullptr, false},
    {ENVIRON_CORE_SIZE, "%s_CORE_SIZE", kUpperCase, nullptr, false},
    {ENVIRON_NOCHECK, "_%s_NOCHECK", kUpperCase, nullptr, false},
    {ENVIRON_PARALLEL_SHADOW_SINFUL, "PARALLEL_SHADOW_SINFUL", kAsIs, nullptr, false},
    {ENVIRON_LOWPORT, "_%s_LOWPORT", kLowerCase, nullptr, false},
    {ENVIRON_HIGHPORT, "_%s_HIGHPORT", kLowerCase, nullptr, false},
    {ENVIRON_CONFIG, "%s_CONFIG", kUpperCase, nullptr, false},
    {ENVIRON_CONFIG_ROOT, "%s_CONFIG_ROOT", kUpperCase, nullptr, false},
    {ENVIRON_RENDEZVOUS_DIRECTORY, "RENDEZVOUS_DIRECTORY", kAsIs, nullptr, false},
    {ENVIRON_DAEMON_DEATHTIME, "DAEMON_DEATHTIME", kAsIs, nullptr, false},
    {ENVIRON_PARENT_ID, "%s_PARENT_ID", kUpperCase, nullptr, false},
};

constexpr int kAttrCount = sizeof attr_names / sizeof attr_names[0];
constexpr int kEnvCount = sizeof env_names / sizeof env_names[0];

// The format with its "%s" replaced by fill, in a new malloc'ed string;
// null when memory runs out.
char *fill_format(const char *format, const char *fill) {
    size_t size = strlen(format) + strlen(fill) + 1;
    char *name = static_cast<char *>(malloc(size));
    if (name != nullptr) {
        snprintf(name, size, format, fill);
    }
    return name;
}

const char *distribution_form(int kind) {
    switch (kind) {
        case kLowerCase:
            return myDistro->Get();
        case kUpperCase:
            return myDistro->GetUc();
        case kCapitalised:
            return myDistro->GetCap();
        default:
            return nullptr;
    }
}

void cache(NameEntry &entry, char *name) {
    entry.cached = name;
    entry.owned = name != nullptr;
}

// -1 after the message when an entry is out of place; otherwise empties
// every cache and returns 0.
int init_table(NameEntry *table, int count, const char *message) {
    for (int i = 0; i < count; i++) {
        if (table[i].sanity != i) {
            fputs(message, stderr);
            return -1;
        }
    }
    for (int i = 0; i < count; i++) {
        if (table[i].owned) {
            free(const_cast<char *>(table[i].cached));
        }
        table[i].cached = nullptr;
        table[i].owned = false;
    }
    return 0;
}

}  // namespace

int AttrInit() {
    return init_table(attr_names, kAttrCount, "Attribute sanity check failed!!\n");
}

int EnvInit() {
    return init_table(env_names, kEnvCount, "Environ sanity check failed!!\n");
}

const char *AttrGetName(TORVEL_ATTR which) {
    if (which < 0 || which >= kAttrCount) {
        return nullptr;
    }
    NameEntry &entry = attr_names[which];
    if (entry.cached == nullptr) {
        if (entry.kind == kAsIs) {
            entry.cached = entry.format;
        } else {
            const char *fill = distribution_form(entry.kind);
            if (fill != nullptr) {
                cache(entry, fill_format(entry.format, fill));
            }
        }
    }
    return entry.cached;
}

const char *EnvGetName(TORVEL_ENVIRON which) {
    if (which < 0 || which >= kEnvCount) {
        return nullptr;
    }
    NameEntry &entry = env_names[which];
    if (entry.cached == nullptr) {
        if (entry.kind == kAsIs) {
            cache(entry, strdup(entry.format));
        } else if (entry.kind == kLowerCase || entry.kind == kUpperCase) {
            cache(entry, fill_format(entry.format, distribution_form(entry.kind)));
        } else {
            dprintf(D_ALWAYS, "EnvGetName(): SHOULD NEVER HAPPEN!\n");
        }
    }
    return entry.cached;
}
