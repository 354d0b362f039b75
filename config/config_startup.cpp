// The configuration loading sequence (config, config_host, real_config), the
// table's set-up and clearing, the tilde, and the placeholder scan that
// refuses to run while a shipped placeholder value is still configured.
// Fills ConfigTab, creates and replaces the provenance table extra_info,
// and keeps the records of the sources read.
#include "config/config_startup.h"

#include <pwd.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include "config/builtin_macros.h"
#include "config/config_sources.h"
#include "config/distribution.h"
#include "config/dynamic_config.h"
#include "config/macro_table.h"
#include "config/net_remap.h"
#include "config/param.h"
#include "config/param_provenance.h"
#include "config/well_known_names.h"
#include "core/allocation.h"
#include "diagnostics/except.h"
#include "net/host_identity.h"

extern char **environ;

MyString global_config_source;
MyString global_root_config_source;
StringList local_config_sources(nullptr, " ,");

namespace {

char *tilde = nullptr;  // malloc
bool first_config = true;
// Cleared for the rest of the process by TORVEL_CONFIG=ONLY_ENV.
bool global_config_required = true;

// The fatal-error path formats its message into a buffer of this size; the
// placeholder report is cut to fit it.
constexpr size_t kFatalMessageSize = 8192;

[[noreturn]] void missing_global_source(int quiet) {
    if (quiet) {
        fprintf(stderr, "%s error: can't find config source.\n", myDistro->GetCap());
        exit(1);
    }
    const char *name = myDistro->Get();
    fprintf(stderr, "\nNeither the environment variable %s_CONFIG,\n", myDistro->GetUc());
    fprintf(stderr, "/etc/%s/, nor ~%s/ contain a %s_config source.\n", name, name, name);
    fprintf(stderr, "Either set %s_CONFIG to point to a valid config source,\n", myDistro->GetUc());
    fprintf(stderr, "or put a \"%s_config\" file in /etc/%s or ~%s/\n", name, name, name);
    fprintf(stderr, "Exiting.\n\n");
    exit(1);
}

void read_global_source(int quiet) {
    char *source = find_global();
    if (source == nullptr) {
        missing_global_source(quiet);
    }
    process_config_source(source, "global config source", nullptr, 1);
    global_config_source = source;
    free(source);
}

void insert_host_names(const char *host) {
    _torvel_insert_internal("hostname", host != nullptr ? host : my_hostname());
    _torvel_insert_internal("full_hostname", my_full_hostname());
    if (tilde != nullptr) {
        _torvel_insert_internal("tilde", tilde);
    }
}

// The local directories are looked up before and after the local files; a
// list changed by a local file is read a second time only if it was
// defined before.
void read_local_sources(const char *host) {
    char *dirs_before = param("LOCAL_CONFIG_DIR");
    if (dirs_before != nullptr) {
        process_directory(dirs_before, host);
    }
    process_locals("LOCAL_CONFIG_FILE", host);
    char *dirs_after = param("LOCAL_CONFIG_DIR");
    if (dirs_before != nullptr && dirs_after != nullptr && strcmp(dirs_before, dirs_after) != 0) {
        process_directory(dirs_after, host);
    }
    free(dirs_before);
    free(dirs_after);
}

// One "_torvel_" environment entry; the special name START_owner (exact
// case) sets START to an ownership test.
void apply_environment_entry(const char *entry, size_t prefix_length) {
    char *copy = strdup(entry);
    if (copy == nullptr) {
        EXCEPT("Out of memory!");
    }
    char *eq = strchr(copy, '=');
    if (eq != nullptr) {
        *eq = '\0';
        const char *name = copy + prefix_length;
        const char *value = eq + 1;
        if (strcmp(name, "START_owner") == 0) {
            MyString start;
            start.sprintf("Owner == \"%s\"", value);
            if (insert("START", start.Value(), ConfigTab, CONFIG_TABLE_SIZE) == 0) {
                extra_info->AddEnvironmentParam("START");
            }
        } else if (name[0] != '\0') {
            // A name the table refuses (too long) leaves no record either.
            if (insert(name, value, ConfigTab, CONFIG_TABLE_SIZE) == 0) {
                extra_info->AddEnvironmentParam(name);
            }
        }
    }
    free(copy);
}

void apply_environment_overrides() {
    MyString prefix;
    prefix.sprintf("_%s_", myDistro->Get());
    for (char **entry = environ; entry != nullptr && *entry != nullptr; entry++) {
        if (strncasecmp(*entry, prefix.Value(), prefix.Length()) == 0) {
            apply_environment_entry(*entry, prefix.Length());
        }
    }
}

void read_root_source(const char *root, const char *host) {
    process_config_source(root, "global root config source", host, 1);
    reinsert_specials(host);
    process_locals("LOCAL_ROOT_CONFIG_FILE", host);
}

// Appends text to report when it fits whole (terminator included).
bool append_if_fits(char *report, size_t &used, const char *text) {
    size_t length = strlen(text);
    if (used + length + 1 > kFatalMessageSize) {
        return false;
    }
    memcpy(report + used, text, length + 1);
    used += length;
    return true;
}

// Ends the process when any raw value contains FORBIDDEN_CONFIG_VAL, naming
// each such macro with its origin. Lines that would overflow the
// fatal-error buffer are left out.
void check_placeholders() {
    char report[kFatalMessageSize];
    report[0] = '\0';
    size_t used = 0;
    append_if_fits(report, used,
                   "The following configuration macros appear to contain default values "
                   "that must be changed before Torvel will run.  These macros are:\n");
    bool found = false;
    bool full = false;
    MacroTableCursor *iter = hash_iter_begin(ConfigTab, CONFIG_TABLE_SIZE);
    for (; !hash_iter_done(iter); hash_iter_next(iter)) {
        const char *name = hash_iter_key(iter);
        if (strstr(hash_iter_value(iter), FORBIDDEN_CONFIG_VAL) == nullptr) {
            continue;
        }
        found = true;
        if (full) {
            continue;
        }
        MyString file;
        int line = -1;
        param_get_location(name, file, line);
        MyString entry;
        entry.sprintf("   %s (found on line %d of %s)\n", name, line, file.Value());
        full = !append_if_fits(report, used, entry.Value());
    }
    hash_iter_delete(&iter);
    if (found) {
        EXCEPT("%s", report);
    }
}

}  // namespace

void config(int quiet) {
    real_config(nullptr, quiet);
    check_placeholders();
}

void config_host(const char *host) {
    real_config(host, 0);
}

void real_config(const char *host, int quiet) {
    if (first_config) {
        first_config = false;
        init_config();
    } else {
        clear_config();
    }

    init_tilde();
    if (tilde != nullptr) {
        _torvel_insert_internal("tilde", tilde);
    }
    fill_attributes();

    const char *env = getenv(EnvGetName(ENVIRON_CONFIG));
    if (env != nullptr && strcasecmp(env, "ONLY_ENV") == 0) {
        global_config_required = false;
    }
    if (global_config_required) {
        read_global_source(quiet);
    }

    insert_host_names(host);
    read_local_sources(host);
    if (param_boolean("NET_REMAP_ENABLE", false)) {
        torvel_net_remap_config(false);
    }
    reinsert_specials(host);

    apply_environment_overrides();
    reinsert_specials(host);

    char *root = find_global_root();
    if (root != nullptr) {
        global_root_config_source = root;
        read_root_source(root, host);
    }
    reinsert_specials(host);

    // Root settings win over dynamic ones, so the root source is read again
    // after any dynamic source was applied.
    if (apply_dynamic_sources() == 1 && root != nullptr) {
        read_root_source(root, host);
    }
    free(root);

    char *domain = param("DEFAULT_DOMAIN_NAME");
    if (domain != nullptr) {
        init_full_hostname();
        free(domain);
    }
    init_ipaddr(1);
    reinsert_specials(host);
    check_domain_attributes();
}

void init_config() {
    clear_macro_table(ConfigTab, CONFIG_TABLE_SIZE);
    delete extra_info;
    extra_info = new (torvel::or_die) ExtraParamTable();
}

void clear_config() {
    clear_macro_table(ConfigTab, CONFIG_TABLE_SIZE);
    if (extra_info != nullptr) {
        delete extra_info;
        extra_info = new (torvel::or_die) ExtraParamTable();
    }
    global_config_source = "";
    global_root_config_source = "";
    local_config_sources.clearAll();
}

void init_tilde() {
    free(tilde);
    tilde = nullptr;
    struct passwd *pw = getpwnam(myDistro->Get());
    if (pw != nullptr && pw->pw_dir != nullptr) {
        tilde = strdup(pw->pw_dir);
    }
}

const char *get_tilde() {
    init_tilde();
    return tilde;
}

const char *_torvel_known_tilde() {
    return tilde;
}
