// Binding a socket to a local port: the configured port ranges
// (OUT_/IN_/LOWPORT, HIGHPORT), whether to bind every interface, and the
// search for a free port inside a range. Ports below 1024 are bound with
// root privilege, switched back right after each attempt.
#ifndef TORVEL_NET_LOCAL_BIND_H_
#define TORVEL_NET_LOCAL_BIND_H_

// 1 and the range in low and high when one is configured for the direction
// (outgoing non-zero: OUT_LOWPORT/OUT_HIGHPORT, else IN_...; both fall back
// to LOWPORT/HIGHPORT); 0 otherwise. A low key without its high key leaves
// the outputs untouched; a range outside 0..65535 or with high < low is
// refused.
int get_port_range(int outgoing, int *low, int *high);

// 1 when BIND_ALL_INTERFACES begins with 'T', 'Y', 't' or 'y', else 0.
int _torvel_bind_all_interfaces();

// Binds fd to any address: inside the direction's port range when one is
// configured, else to port 0. 1 bound, 0 failed (with a D_ALWAYS line).
int _torvel_local_bind(int outgoing, int fd);

// Binds fd to any address and the first free port of low..high, starting
// at a point derived from the process id so that processes started
// together spread over the range and trying each port once. 1 bound, 0
// when none could be bound or the range is not within 0..65535.
int bindWithin(int fd, int low, int high);

#endif  // TORVEL_NET_LOCAL_BIND_H_
