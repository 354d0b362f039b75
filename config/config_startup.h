// Configuration start-up: config() builds the process-wide macro table
// ConfigTab from, in rising precedence, platform facts, the global source,
// local sources and directories, "_torvel_" environment variables, the root
// source, and runtime and persistent settings, keeping the built-in macros
// (host, user, process ids) authoritative throughout. Calling it again
// discards the table and rebuilds it (a reconfiguration).
//
// Every failure here prints to standard error and ends the process with
// status 1; a placeholder value left in the configuration ends it through
// the fatal-error path (status 4). Process-wide, unlocked state.
#ifndef TORVEL_CONFIG_CONFIG_STARTUP_H_
#define TORVEL_CONFIG_CONFIG_STARTUP_H_

#include "core/my_string.h"
#include "core/string_list.h"

// The shipped placeholder text: a value containing it anywhere stops config().
constexpr char FORBIDDEN_CONFIG_VAL[] = "YOU_MUST_CHANGE_THIS_INVALID_TORVEL_CONFIGURATION_VALUE";

// Path (or command) of the global and root sources last read; "" when none.
extern MyString global_config_source;
extern MyString global_root_config_source;
// Every local source read by the last load, in reading order (" ,").
extern StringList local_config_sources;

// real_config(null, quiet), then the placeholder scan. A non-zero quiet
// shortens the message printed when no global source exists.
void config(int quiet = 0);
// real_config(host, 0) without the placeholder scan. A non-null host is the
// "hostname" macro and makes unreadable sources silently skipped.
void config_host(const char *host = nullptr);
// The loading sequence shared by both.
void real_config(const char *host, int quiet);

// Empties ConfigTab and creates the provenance table (first load).
void init_config();
// Frees every entry of ConfigTab, replaces the provenance table by a fresh
// one, and forgets the sources read.
void clear_config();

// (Re)computes the tilde: the home directory of the account named like the
// distribution ("torvel"), or null when there is none.
void init_tilde();
// init_tilde(), then the tilde. Owned here: never freed by callers; valid
// until the next init_tilde().
const char *get_tilde();
// The tilde as last computed, without looking it up again (null if unknown).
const char *_torvel_known_tilde();

#endif  // TORVEL_CONFIG_CONFIG_STARTUP_H_
