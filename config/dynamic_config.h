// Runtime and persistent configuration: settings given to a running program
// by remote administration, kept in memory (runtime) or in files read again
// at every start (persistent), and applied after the ordinary sources at
// every configuration load. Each setting belongs to an administrator name;
// one name holds one configuration text.
//
// Process-wide, unlocked state: the enable flags (read once, at the first
// load), the top-level persistent file's path, the list of administrator
// names with a persistent file, and the runtime items. Reading problems end
// the process with status 1; writing problems are reported by -1.
#ifndef TORVEL_CONFIG_DYNAMIC_CONFIG_H_
#define TORVEL_CONFIG_DYNAMIC_CONFIG_H_

// One runtime setting. Both texts are malloc'd and owned by the item; a
// copy duplicates them, so the item can live in a growable array that
// copies its elements when it grows.
struct RuntimeConfigItem {
    RuntimeConfigItem() { initialize(); }
    RuntimeConfigItem(const RuntimeConfigItem &other);
    RuntimeConfigItem &operator=(const RuntimeConfigItem &other);
    ~RuntimeConfigItem();

    // Sets both texts to null without freeing them (their owner moved).
    void initialize() {
        admin = nullptr;
        config = nullptr;
    }

    char *admin;
    char *config;
};

// Both take ownership of admin and config (malloc'd; freed on every path).
// 0 on success, -1 on failure or when that kind of setting is disabled. An
// empty or null config removes the admin name's setting. Changes take
// effect at the next configuration load.
// Both refuse a change that would stop the next load: every persistent
// source and runtime item that load reads is read, with the change, into a
// copy of the table as the last load's dynamic stage found it, without
// ending the process (an unset $ENV or a $RANDOM_CHOICE in a name refuses
// the text). The reason is logged at D_ALWAYS; nothing is stored. A
// failure the change does not cause (the load would stop without it too)
// refuses nothing.
// set_persistent_config also refuses admin names that cannot be a
// file-name suffix or a list entry (containing '/', a blank, a comma, '$'
// or a control character) or that can be the name of one of its temporary
// files ("tmp", or ending in ".tmp"). Each file is written in full and
// fsync'd before it is renamed into place, and the directory is fsync'd
// after. On failure the list of names in memory stays as the top-level
// file has it: as before the call, unless only the directory's fsync
// failed (the new file is then in place, and -1 says it may not survive a
// crash).
int set_persistent_config(char *admin, char *config);
int set_runtime_config(char *admin, char *config);

// Reads every runtime item into the macro table, from memory (no file is
// made for it; messages and provenance name it "<runtime config ADMIN>");
// 1 if there was one, else 0.
int process_dynamic_configs();

// The load stages: read the enable flags (first call only), read the
// persistent sources (1 if any was read), and both stages together:
// 1 if anything was applied, 0 if nothing.
void setup_dynamic_config();
int read_persistent_sources();
int apply_dynamic_sources();

#endif  // TORVEL_CONFIG_DYNAMIC_CONFIG_H_
