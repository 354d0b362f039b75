// The broker's clock for deadlines: CLOCK_MONOTONIC through a replaceable
// reader.
#include "broker/broker_clock.h"

namespace nbx_broker {

int (*broker_clock_read)(clockid_t id, timespec *now) = clock_gettime;

time_t broker_clock_now() {
    timespec now;
    if (broker_clock_read(CLOCK_MONOTONIC, &now) != 0) return 0;
    return now.tv_sec;
}

}  // namespace nbx_broker
