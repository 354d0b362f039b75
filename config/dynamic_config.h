// Runtime and persistent configuration: settings given to a running program
// by remote administration, kept in memory (runtime) or in files read again
// at every start (persistent), and applied after the ordinary sources at
// every configuration load.
#ifndef TORVEL_CONFIG_DYNAMIC_CONFIG_H_
#define TORVEL_CONFIG_DYNAMIC_CONFIG_H_

// Both take ownership of admin and config (malloc'd; freed on every path).
// 0 on success, -1 on failure or when that kind of setting is disabled. An
// empty or null config removes the admin name's setting.
int set_persistent_config(char *admin, char *config);
int set_runtime_config(char *admin, char *config);

// Reads every runtime item into the macro table; 1 if there was one, else 0.
int process_dynamic_configs();

// The load stages: read the enable flags (first call only), read the
// persistent sources (1 if any was read), and both stages together:
// 1 if anything was applied, 0 if nothing.
void setup_dynamic_config();
int read_persistent_sources();
int apply_dynamic_sources();

#endif  // TORVEL_CONFIG_DYNAMIC_CONFIG_H_
