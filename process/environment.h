// Changing the process environment for this process and every child it
// starts afterwards. The NAME=value texts handed to putenv must live as long
// as the environment uses them, so the library keeps each one it installs in
// the process-wide table EnvVars (unlocked; single-threaded use, like the
// environment itself) and frees it only when that variable is set again or
// removed. Texts installed by others are never freed here.
//
// Contract violations (null names or values) stop the program through the
// platform's assertion mechanism, in every build.
#ifndef TORVEL_PROCESS_ENVIRONMENT_H_
#define TORVEL_PROCESS_ENVIRONMENT_H_

#include "config/hash_key.h"
#include "core/hash_table.h"

// Name -> the new[]'d NAME=value text currently installed for it. Owned by
// this module: callers only read it.
extern HashTable<HashKey, char *> EnvVars;

// Sets key to value; true on success, false (logged at D_ALWAYS) when
// putenv refuses. REQUIRES: key and value are not null.
bool SetEnv(const char *key, const char *value);
// Sets from one NAME=value text, split at its first '=' (the value may hold
// more). An empty text changes nothing and succeeds; null or a text without
// '=' fails (logged at D_ALWAYS).
bool SetEnv(const char *env_var);
// Removes the variable (every entry of that name); always true, also when it
// was not set. REQUIRES: env_var not null.
bool UnsetEnv(const char *env_var);
// The platform's getenv: borrowed from the environment, or null.
// REQUIRES: env_var not null.
const char *GetEnv(const char *env_var);

#endif  // TORVEL_PROCESS_ENVIRONMENT_H_
