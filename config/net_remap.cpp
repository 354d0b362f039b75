// Network-remapping set-up: exports the NET_REMAP_* configuration as the
// environment switches read by the connection-brokering layer. Children
// inherit them, which is why an inherited NET_REMAP_ENABLE is left alone.
#include "config/net_remap.h"

#include <stdlib.h>
#include <strings.h>

#include "config/builtin_macros.h"
#include "config/param.h"
#include "core/my_string.h"
#include "process/environment.h"

namespace {

// service is "NBX" or "DPF": <service>_ENABLE, _INAGENT and _ROUTE.
void export_service(const char *service) {
    MyString name;
    name.sprintf("%s_ENABLE", service);
    SetEnv(name.Value(), "true");

    char *inagent = param("NET_REMAP_INAGENT");
    if (inagent != nullptr) {
        name.sprintf("%s_INAGENT", service);
        SetEnv(name.Value(), inagent);
        free(inagent);
    }
    char *route = param("NET_REMAP_ROUTE");
    if (route != nullptr) {
        name.sprintf("%s_ROUTE", service);
        SetEnv(name.Value(), route);
        free(route);
    }
}

}  // namespace

void torvel_net_remap_config(bool force) {
    if (!force && getenv("NET_REMAP_ENABLE") != nullptr) {
        return;
    }
    _torvel_insert_internal("BIND_ALL_INTERFACES", "TRUE");
    SetEnv("NET_REMAP_ENABLE", "true");

    char *service = param("NET_REMAP_SERVICE");
    if (service == nullptr) {
        return;
    }
    if (strcasecmp(service, "NBX") == 0) {
        export_service("NBX");
    } else if (strcasecmp(service, "DPF") == 0) {
        export_service("DPF");
    }
    free(service);
}
