// Tests of the broker's state in process, without its listeners: freeing
// registrations stays linear in their number, and every deadline follows
// the broker's clock, which must not be the wall clock (a clock stepped
// back would keep a stalled peer for as long as the step). The broker's log
// goes to /dev/null here.
#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include "broker/broker.h"
#include "broker/broker_log.h"
#include "gtest/gtest.h"
#include "tests/support/growth_check.h"

namespace {

using nbx_broker::Broker;
using nbx_broker::Control;
using nbx_broker::Registration;

class BrokerStateTest : public testing::Test {
 protected:
    void SetUp() override {
        ASSERT_EQ(0, nbx_broker::broker_log_open("/dev/null", 0));
        broker_.tcp_by_port = static_cast<Registration **>(calloc(65536, sizeof(Registration *)));
        broker_.udp_by_port = static_cast<Registration **>(calloc(65536, sizeof(Registration *)));
        broker_.epoll_fd = epoll_create1(EPOLL_CLOEXEC);
        broker_.config.stall_seconds = 10;
    }
    void TearDown() override {
        nbx_broker::broker_close(&broker_);
        nbx_broker::broker_clock_read = clock_gettime;
        nbx_broker::broker_log_close();
    }

    // A manager connection without a socket, registered at port.
    Control *AddManager(int port) {
        Control *control = static_cast<Control *>(calloc(1, sizeof(Control)));
        control->handle = nbx_broker::Handle{nbx_broker::kControlConn, -1, control, 0};
        control->role = nbx_broker::kRoleManager;
        nbx_broker::list_push(&broker_.controls, control);
        Registration *registration = static_cast<Registration *>(calloc(1, sizeof(Registration)));
        registration->canonical =
            nbx_broker::Handle{nbx_broker::kCanonicalTcp, -1, registration, 0};
        registration->port = port;
        registration->manager = control;
        control->registration = registration;
        broker_.tcp_by_port[port] = registration;
        nbx_broker::list_push(&broker_.registrations, registration);
        return control;
    }

    Broker broker_;
};

// Every manager drops, each taking its registration with it: the work per
// registration must not grow with the number of connections left.
TEST_F(BrokerStateTest, FreeingRegistrationsGrowsLinearly) {
    Broker *broker = &broker_;
    auto work = [this, broker](size_t n) {
        for (size_t i = 0; i < n; ++i) {
            Control *control = AddManager(static_cast<int>(i % 65536));
            // Every tenth one also waits as the destination request of a
            // passive connect to the registration before it.
            if (i % 10 == 9) {
                Control *waiting = static_cast<Control *>(calloc(1, sizeof(Control)));
                waiting->handle = nbx_broker::Handle{nbx_broker::kControlConn, -1, waiting, 0};
                waiting->role = nbx_broker::kRoleDestination;
                nbx_broker::list_push(&broker->controls, waiting);
                nbx_broker::passive_wait(broker->registrations->next, waiting, CBAddr{});
            }
            (void)control;
        }
        while (broker->controls != nullptr) {
            nbx_broker::control_drop(broker, broker->controls, nullptr);
        }
        nbx_broker::broker_reap(broker);
    };
    // 3,000 managers at most: the objects then stay in the caches at both
    // sizes, so the ratio measures the work per registration. A large run
    // that short (half a millisecond) is at the mercy of one preemption on a
    // busy host, so a ratio over the bound is measured again, up to twice;
    // noise only ever adds time, and a quadratic path fails every time.
    torvel_test::Growth best = torvel_test::MeasureGrowth(30, work);
    for (int again = 0; again < 2 && best.ratio > torvel_test::kGrowthBound; ++again) {
        torvel_test::Growth next = torvel_test::MeasureGrowth(30, work);
        if (next.ratio < best.ratio) best = next;
    }
    EXPECT_LE(best.ratio, torvel_test::kGrowthBound) << best.Describe();
    EXPECT_EQ(nullptr, broker_.registrations);
}

// A passive request whose registration goes first forgets it, and one that
// goes first leaves the registration with no waiter.
TEST_F(BrokerStateTest, PassiveWaitersAndTheirRegistrationPartInEitherOrder) {
    Control *first = AddManager(40000);
    Control *second = AddManager(40001);
    Registration *a = first->registration, *b = second->registration;
    Control *waiting[2];
    for (Control *&w : waiting) {
        w = static_cast<Control *>(calloc(1, sizeof(Control)));
        w->handle = nbx_broker::Handle{nbx_broker::kControlConn, -1, w, 0};
        w->role = nbx_broker::kRoleDestination;
        nbx_broker::list_push(&broker_.controls, w);
    }
    nbx_broker::passive_wait(a, waiting[0], CBAddr{});
    nbx_broker::passive_wait(b, waiting[1], CBAddr{});
    nbx_broker::control_drop(&broker_, first, nullptr);
    EXPECT_EQ(nullptr, waiting[0]->passive_server);
    EXPECT_EQ(b, waiting[1]->passive_server);
    nbx_broker::control_drop(&broker_, waiting[1], nullptr);
    EXPECT_EQ(nullptr, b->passive_waiters);
    nbx_broker::control_drop(&broker_, second, nullptr);
    EXPECT_EQ(nullptr, broker_.registrations);
}

// The clocks a test controls: the wall clock and the monotonic one.
struct FakeClocks {
    time_t wall = 1765000000;
    time_t monotonic = 5000;
};
FakeClocks fake;

int read_fake_clock(clockid_t id, timespec *now) {
    now->tv_nsec = 0;
    if (id == CLOCK_REALTIME) {
        now->tv_sec = fake.wall;
    } else if (id == CLOCK_MONOTONIC) {
        now->tv_sec = fake.monotonic;
    } else {
        errno = EINVAL;
        return -1;
    }
    return 0;
}

// A peer stalls in the middle of a message; the wall clock is then stepped
// back an hour while eleven seconds pass: the stall limit of ten seconds
// still drops it.
TEST_F(BrokerStateTest, StalledPeerIsDroppedWhenTheWallClockStepsBack) {
    nbx_broker::broker_clock_read = read_fake_clock;
    fake = FakeClocks();
    nbx_broker::broker_tick(&broker_);
    int pair[2];
    ASSERT_EQ(0, socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, pair));
    Control *control = static_cast<Control *>(calloc(1, sizeof(Control)));
    control->handle = nbx_broker::Handle{nbx_broker::kControlConn, pair[0], control, 0};
    control->role = nbx_broker::kRoleDestination;
    nbx_broker::list_push(&broker_.controls, control);
    ASSERT_TRUE(nbx_broker::watch(&broker_, &control->handle, EPOLLIN));
    ASSERT_EQ(1, write(pair[1], "\x00", 1));
    nbx_broker::control_ready(&broker_, control, EPOLLIN);
    ASSERT_EQ(pair[0], control->handle.fd);
    ASSERT_EQ(1, control->in_length);

    fake.wall -= 3600 - 5;
    fake.monotonic += 5;
    nbx_broker::broker_tick(&broker_);
    EXPECT_EQ(pair[0], control->handle.fd) << "dropped before its limit";
    fake.wall += 6;
    fake.monotonic += 6;
    nbx_broker::broker_tick(&broker_);
    EXPECT_EQ(-1, control->handle.fd) << "still open eleven seconds into a ten-second limit";
    close(pair[1]);
}

}  // namespace
