// Publishing configuration values into an attribute list: the names listed
// by <SUBSYS>_EXPRS / <SUBSYS>_ATTRS (and the prefixed forms), then the
// version and platform strings.
#include "config/config_fill_ad.h"

#include <stdlib.h>

#include "classad/attr_list.h"
#include "config/param.h"
#include "config/subsystem.h"
#include "config/well_known_names.h"
#include "core/my_string.h"
#include "core/string_list.h"
#include "version/torvel_version.h"

namespace {

// Appends the names listed by the key to names.
void collect_names(StringList &names, const MyString &key) {
    char *value = param(key.Value());
    if (value != nullptr) {
        names.initializeFromString(value);
        free(value);
    }
}

// The value of <prefix>_<name> when a prefix is given and that is defined,
// else of <name>. Caller free()s; null when undefined.
char *prefixed_value(const char *prefix, const char *name) {
    if (prefix != nullptr) {
        MyString key;
        key.sprintf("%s_%s", prefix, name);
        char *value = param(key.Value());
        if (value != nullptr) {
            return value;
        }
    }
    return param(name);
}

}  // namespace

void config_fill_ad(AttrList *ad, const char *prefix) {
    if (ad == nullptr) {
        return;
    }
    StringList names(nullptr, " ,");
    MyString key;
    key.sprintf("%s_EXPRS", mySubSystem);
    collect_names(names, key);
    key.sprintf("%s_ATTRS", mySubSystem);
    collect_names(names, key);
    if (prefix != nullptr) {
        key.sprintf("%s_%s_EXPRS", prefix, mySubSystem);
        collect_names(names, key);
        key.sprintf("%s_%s_ATTRS", prefix, mySubSystem);
        collect_names(names, key);
    }

    MyString assignment;
    names.rewind();
    const char *name;
    while ((name = names.next()) != nullptr) {
        if (name[0] == '\0') {
            continue;  // a list ending in a blank or comma
        }
        char *value = prefixed_value(prefix, name);
        if (value == nullptr) {
            continue;
        }
        assignment.sprintf("%s = %s", name, value);
        ad->Insert(assignment.Value(), true);
        free(value);
    }

    assignment.sprintf("%s=\"%s\"", AttrGetName(ATTRNAME_VERSION), TorvelVersion());
    ad->Insert(assignment.Value(), true);
    assignment.sprintf("%s=\"%s\"", AttrGetName(ATTRNAME_PLATFORM), TorvelPlatform());
    ad->Insert(assignment.Value(), true);
}
