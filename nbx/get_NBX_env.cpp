// The brokering layer's environment switches. They are read with getenv at
// every call, never cached, so a change of the environment takes effect at
// the next wrapped call. This is the whole cost the layer adds to a call
// while brokering is off.
#include <stdlib.h>
#include <strings.h>

#include "nbx/generic.h"

namespace {

int switch_is_on(const char *name) {
    const char *value = getenv(name);
    return value != nullptr && strcasecmp(value, "true") == 0;
}

}  // namespace

extern "C" {

int useNBX(void) {
    return switch_is_on("NBX_ENABLE");
}

int useGeneric(void) {
    return switch_is_on("NET_REMAP_ENABLE");
}

}  // extern "C"
