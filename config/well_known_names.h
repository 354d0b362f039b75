// Attribute and environment-variable names that carry the distribution name
// ("TorvelVersion", "TORVEL_CONFIG", "_torvel_LOWPORT", ...). Each name is
// built from a format on first use and cached for the rest of the process.
#ifndef TORVEL_CONFIG_WELL_KNOWN_NAMES_H_
#define TORVEL_CONFIG_WELL_KNOWN_NAMES_H_

enum TORVEL_ATTR {
    ATTRNAME_LOAD_AVG = 0,
    ATTRNAME_ADMIN,
    ATTRNAME_PLATFORM,
    ATTRNAME_TOTAL_LOAD_AVG,
    ATTRNAME_VERSION,
};

enum TORVEL_ENVIRON {
    ENVIRON_INHERIT = 0,
    ENVIRON_STACK_SIZE,
    ENVIRON_CORESIZE,
    ENVIRON_GZIP,
    ENVIRON_PVM_ROOT,
    ENVIRON_IDS,
    ENVIRON_PATH,
    ENVIRON_ID,
    ENVIRON_SCHEDD_NAME,
    ENVIRON_CORE_SIZE,
    ENVIRON_NOCHECK,
    ENVIRON_PARALLEL_SHADOW_SINFUL,
    ENVIRON_LOWPORT,
    ENVIRON_HIGHPORT,
    ENVIRON_CONFIG,
    ENVIRON_CONFIG_ROOT,
    ENVIRON_RENDEZVOUS_DIRECTORY,
    ENVIRON_DAEMON_DEATHTIME,
    ENVIRON_PARENT_ID,
};

// Clear the name caches (names returned before become invalid), so the next
// lookups use the current distribution name; 0, or -1 with a message on
// standard error when a table is out of order.
int AttrInit();
int EnvInit();

// The name, built at first use. Owned by the table: callers never free it;
// valid until the next AttrInit or EnvInit. Null for an unknown entry or when
// memory runs out.
const char *AttrGetName(TORVEL_ATTR which);
const char *EnvGetName(TORVEL_ENVIRON which);

#endif  // TORVEL_CONFIG_WELL_KNOWN_NAMES_H_
