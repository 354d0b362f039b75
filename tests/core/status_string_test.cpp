// Wait statuses as phrases: exits, kills, stops, and that the phrase is
// appended rather than assigned.
#include "core/status_string.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include "core/my_string.h"

namespace {

// Status of a real child that ran `body`.
template <class Body>
int ChildStatus(Body body) {
    pid_t pid = fork();
    if (pid == 0) {
        body();
        _exit(0);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return status;
}

std::string Phrase(int status) {
    MyString out;
    statusString(status, out);
    return out.Value();
}

TEST(StatusString, ExitCode) {
    EXPECT_EQ(Phrase(ChildStatus([] { _exit(2); })), "exited with status 2");
    EXPECT_EQ(Phrase(ChildStatus([] { _exit(0); })), "exited with status 0");
    EXPECT_EQ(Phrase(ChildStatus([] { _exit(255); })), "exited with status 255");
}

TEST(StatusString, KilledBySignal) {
    EXPECT_EQ(Phrase(ChildStatus([] { kill(getpid(), SIGKILL); })), "died with signal 9");
    EXPECT_EQ(Phrase(ChildStatus([] { kill(getpid(), SIGTERM); })), "died with signal 15");
}

// A stopped status (low byte 0x7f) is not a kill: the stop signal sits in
// the exit-code byte.
TEST(StatusString, StoppedIsNotAKill) {
    EXPECT_EQ(Phrase((SIGSTOP << 8) | 0x7f), "exited with status 19");
}

TEST(StatusString, OnlyLowSevenBitsNameTheSignal) {
    EXPECT_EQ(Phrase(0x80 | 9), "died with signal 9");  // core-dump bit set
    EXPECT_EQ(Phrase(0x80), "exited with status 0");    // core bit alone: no signal
}

TEST(StatusString, Appends) {
    MyString out("/bin/rm ");
    statusString(1 << 8, out);
    EXPECT_STREQ(out.Value(), "/bin/rm exited with status 1");
}

}  // namespace
