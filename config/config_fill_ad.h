// Publishing selected configuration values into an attribute list (in
// practice a ClassAd): the names listed by <SUBSYS>_EXPRS and
// <SUBSYS>_ATTRS (and their <prefix>_<SUBSYS>_ forms), plus the version and
// platform strings.
#ifndef TORVEL_CONFIG_CONFIG_FILL_AD_H_
#define TORVEL_CONFIG_CONFIG_FILL_AD_H_

class AttrList;

// Nothing happens for a null ad. With a prefix, a listed name takes the
// value of <prefix>_<name> when that is defined, else of <name>; undefined
// names are skipped. Every insertion replaces an attribute of that name.
void config_fill_ad(AttrList *ad, const char *prefix = nullptr);

#endif  // TORVEL_CONFIG_CONFIG_FILL_AD_H_
