// The built-in macros of ConfigTab (platform facts, host names and address,
// user name, subsystem, process ids) and plain insertion for callers
// outside the configuration code. The process ids are taken once per
// process, at the first re-insert, and kept across reconfigurations.
#include "config/builtin_macros.h"

#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include "config/config_startup.h"
#include "config/macro_table.h"
#include "config/param.h"
#include "config/param_provenance.h"
#include "config/subsystem.h"
#include "config/sysapi.h"
#include "diagnostics/debug_log.h"
#include "identity/privileges.h"
#include "net/host_identity.h"

namespace {

bool process_ids_known = false;
unsigned int first_pid = 0;
unsigned int first_ppid = 0;
bool warned_no_username = false;

void insert_if_known(const char *name, const char *value) {
    if (value != nullptr) {
        _torvel_insert_internal(name, value);
    }
}

void insert_number(const char *name, unsigned int number) {
    char text[16];
    snprintf(text, sizeof text, "%u", number);
    _torvel_insert_internal(name, text);
}

void insert_username() {
    char *user = my_username(-1);
    if (user != nullptr) {
        _torvel_insert_internal("username", user);
        free(user);
    } else if (!warned_no_username) {
        warned_no_username = true;
        dprintf(D_ALWAYS,
                "ERROR: can't find username of current user! "
                "BEWARE: $(USERNAME) will be undefined\n");
    }
}

}  // namespace

void _torvel_insert_internal(const char *name, const char *value) {
    if (insert(name, value, ConfigTab, CONFIG_TABLE_SIZE) == 0 && extra_info != nullptr) {
        extra_info->AddInternalParam(name);
    }
}

void fill_attributes() {
    insert_if_known("ARCH", sysapi_torvel_arch());
    insert_if_known("UNAME_ARCH", sysapi_uname_arch());
    insert_if_known("OPSYS", sysapi_opsys());
    insert_if_known("UNAME_OPSYS", sysapi_uname_opsys());
    _torvel_insert_internal("subsystem", mySubSystem);
}

void reinsert_specials(const char *host) {
    insert_if_known("tilde", _torvel_known_tilde());
    _torvel_insert_internal("hostname", host != nullptr ? host : my_hostname());
    _torvel_insert_internal("full_hostname", my_full_hostname());
    _torvel_insert_internal("subsystem", mySubSystem);
    insert_username();
    if (!process_ids_known) {
        process_ids_known = true;
        first_pid = static_cast<unsigned int>(getpid());
        first_ppid = static_cast<unsigned int>(getppid());
    }
    insert_number("pid", first_pid);
    insert_number("ppid", first_ppid);
    insert_if_known("ip_address", my_ip_string());
}

void check_domain_attributes() {
    const char *domain_keys[] = {"FILESYSTEM_DOMAIN", "UID_DOMAIN"};
    for (const char *key : domain_keys) {
        char *value = param(key);
        if (value == nullptr) {
            _torvel_insert_internal(key, my_full_hostname());
        }
        free(value);
    }
}

void config_insert(const char *name, const char *value) {
    if (name != nullptr && value != nullptr) {
        insert(name, value, ConfigTab, CONFIG_TABLE_SIZE);
    }
}
