// The clock every deadline and timeout of the broker follows: the monotonic
// clock, which a step of the wall clock (by hand or by time synchronisation)
// never moves. Log lines still show the wall time.
#ifndef TORVEL_BROKER_BROKER_CLOCK_H_
#define TORVEL_BROKER_BROKER_CLOCK_H_

#include <time.h>

namespace nbx_broker {

// How the broker reads a clock: clock_gettime, or a test's stand-in.
extern int (*broker_clock_read)(clockid_t id, timespec *now);

// Seconds on the monotonic clock; 0 if it cannot be read.
time_t broker_clock_now();

}  // namespace nbx_broker

#endif  // TORVEL_BROKER_BROKER_CLOCK_H_
