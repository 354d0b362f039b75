// SetEnv, UnsetEnv and GetEnv, and the process-wide table EnvVars of the
// NAME=value texts this library has handed to putenv. Writes the process
// environment (environ) and the table; single-threaded use only.
// The contracts are checked with the platform's assert in every build: a
// null name would otherwise be read through.
#undef NDEBUG
#include "process/environment.h"

#include <assert.h>
#include <errno.h>
#include <stdlib.h>
#include <string.h>

#include "core/allocation.h"
#include "diagnostics/debug_log.h"

extern char **environ;

HashTable<HashKey, char *> EnvVars(50, hashFunction, DUPLICATES_KEPT);

namespace {

// Frees the text this library installed for name, if any.
void forget_owned_text(const char *name) {
    char *old = nullptr;
    if (EnvVars.lookup(HashKey(name), old) == 0) {
        EnvVars.remove(HashKey(name));
        delete[] old;
    }
}

// Whether entry ("NAME=value") is for name.
bool entry_is(const char *entry, const char *name, size_t name_length) {
    return strncmp(entry, name, name_length) == 0 && entry[name_length] == '=';
}

}  // namespace

bool SetEnv(const char *key, const char *value) {
    assert(key);
    assert(value);
    size_t key_length = strlen(key);
    size_t value_length = strlen(value);
    char *text = new (torvel::or_die) char[key_length + value_length + 2];
    memcpy(text, key, key_length);
    text[key_length] = '=';
    memcpy(text + key_length + 1, value, value_length + 1);
    if (putenv(text) != 0) {
        int error = errno;
        dprintf(D_ALWAYS, "putenv failed: %s (errno=%d)\n", strerror(error), error);
        delete[] text;
        return false;
    }
    // The environment now points at the new text, so the old one can go.
    forget_owned_text(key);
    EnvVars.insert(HashKey(key), text);
    return true;
}

bool SetEnv(const char *env_var) {
    if (env_var == nullptr) {
        dprintf(D_ALWAYS, "SetEnv, env_var = NULL!\n");
        return false;
    }
    if (env_var[0] == '\0') {
        return true;
    }
    const char *equals = strchr(env_var, '=');
    if (equals == nullptr) {
        dprintf(D_ALWAYS, "SetEnv, env_var has no '='\n");
        dprintf(D_ALWAYS, "env_var = \"%s\"\n", env_var);
        return false;
    }
    size_t name_length = static_cast<size_t>(equals - env_var);
    char *name = new (torvel::or_die) char[name_length + 1];
    memcpy(name, env_var, name_length);
    name[name_length] = '\0';
    bool ok = SetEnv(name, equals + 1);
    delete[] name;
    return ok;
}

bool UnsetEnv(const char *env_var) {
    assert(env_var);
    // Every entry of that name goes, so a duplicate left behind by whoever
    // built the environment cannot reappear; later entries move forward.
    size_t name_length = strlen(env_var);
    if (environ != nullptr) {
        char **to = environ;
        for (char **from = environ; *from != nullptr; ++from) {
            if (!entry_is(*from, env_var, name_length)) {
                *to++ = *from;
            }
        }
        *to = nullptr;
    }
    forget_owned_text(env_var);
    return true;
}

const char *GetEnv(const char *env_var) {
    assert(env_var);
    return getenv(env_var);
}
