// Stand-in for the well-known name tables, until the distribution and
// platform-name module lands (it replaces this file). It builds the names
// from the same formats and kinds, but keeps no sanity indices and never
// logs: an index outside a table simply yields null.
#include "config/well_known_names.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "config/distribution.h"

namespace {

// Kinds: 0 = the format itself, 1 = lower-case, 2 = upper-case,
// 3 = capitalised distribution name in place of the "%s".
struct NameEntry {
    const char *format;
    int kind;
    char *cached;
};

NameEntry attr_names[] = {
    {"%sLoadAvg", 3, nullptr},      {"%sAdmin", 3, nullptr},
    {"%sPlatform", 3, nullptr},     {"Total%sLoadAvg", 3, nullptr},
    {"%sVersion", 3, nullptr},
};

NameEntry env_names[] = {
    {"%s_INHERIT", 2, nullptr},     {"%s_STACK_SIZE", 2, nullptr},
    {"%s_CORESIZE", 2, nullptr},    {"GZIP", 0, nullptr},
    {"PVM_ROOT", 0, nullptr},       {"%s_IDS", 2, nullptr},
    {"PATH", 0, nullptr},           {"%s_ID", 2, nullptr},
    {"SCHEDD_NAME", 0, nullptr},    {"%s_CORE_SIZE", 2, nullptr},
    {"_%s_NOCHECK", 2, nullptr},    {"PARALLEL_SHADOW_SINFUL", 0, nullptr},
    {"_%s_LOWPORT", 1, nullptr},    {"_%s_HIGHPORT", 1, nullptr},
    {"%s_CONFIG", 2, nullptr},      {"%s_CONFIG_ROOT", 2, nullptr},
    {"RENDEZVOUS_DIRECTORY", 0, nullptr}, {"DAEMON_DEATHTIME", 0, nullptr},
    {"%s_PARENT_ID", 2, nullptr},
};

const char *build_name(NameEntry &entry) {
    if (entry.cached != nullptr) {
        return entry.cached;
    }
    const char *fill = nullptr;
    switch (entry.kind) {
        case 0: entry.cached = strdup(entry.format); return entry.cached;
        case 1: fill = myDistro->Get(); break;
        case 2: fill = myDistro->GetUc(); break;
        case 3: fill = myDistro->GetCap(); break;
        default: return nullptr;
    }
    size_t size = strlen(entry.format) + strlen(fill) + 1;
    entry.cached = static_cast<char *>(malloc(size));
    if (entry.cached != nullptr) {
        snprintf(entry.cached, size, entry.format, fill);
    }
    return entry.cached;
}

void clear_cache(NameEntry *table, size_t count) {
    for (size_t i = 0; i < count; i++) {
        free(table[i].cached);
        table[i].cached = nullptr;
    }
}

constexpr size_t kAttrCount = sizeof attr_names / sizeof attr_names[0];
constexpr size_t kEnvCount = sizeof env_names / sizeof env_names[0];

}  // namespace

int AttrInit() {
    clear_cache(attr_names, kAttrCount);
    return 0;
}

int EnvInit() {
    clear_cache(env_names, kEnvCount);
    return 0;
}

const char *AttrGetName(TORVEL_ATTR which) {
    if (static_cast<unsigned>(which) >= kAttrCount) {
        return nullptr;
    }
    return build_name(attr_names[which]);
}

const char *EnvGetName(TORVEL_ENVIRON which) {
    if (static_cast<unsigned>(which) >= kEnvCount) {
        return nullptr;
    }
    return build_name(env_names[which]);
}
