// Network-remapping set-up: turns the NET_REMAP_* configuration into the
// environment switches that the connection-brokering layer of this process,
// and of every program it starts, reads.
#ifndef TORVEL_CONFIG_NET_REMAP_H_
#define TORVEL_CONFIG_NET_REMAP_H_

// Unless force is set, does nothing when NET_REMAP_ENABLE is already in the
// environment (an inherited set-up stays). Otherwise inserts
// BIND_ALL_INTERFACES = TRUE, sets NET_REMAP_ENABLE=true and, for the
// service NBX or DPF (NET_REMAP_SERVICE, any case), <SVC>_ENABLE=true and
// <SVC>_INAGENT / <SVC>_ROUTE from NET_REMAP_INAGENT / NET_REMAP_ROUTE.
void torvel_net_remap_config(bool force);

#endif  // TORVEL_CONFIG_NET_REMAP_H_
