// Stand-in for runtime and persistent configuration, until that module lands
// (it replaces this file). It behaves as if both kinds of setting were
// disabled: nothing is ever stored, and a configuration load applies nothing.
#include "config/dynamic_config.h"

#include <stdlib.h>

int set_persistent_config(char *admin, char *config) {
    free(admin);
    free(config);
    return -1;
}

int set_runtime_config(char *admin, char *config) {
    free(admin);
    free(config);
    return -1;
}

int process_dynamic_configs() { return 0; }

void setup_dynamic_config() {}

int read_persistent_sources() { return 0; }

int apply_dynamic_sources() {
    setup_dynamic_config();
    return 0;
}
