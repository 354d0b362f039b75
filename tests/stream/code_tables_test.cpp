// The portable code tables: every listed pair, the identity elsewhere, and
// the places where encode and decode are deliberately not inverses.
#include "stream/code_tables.h"

#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>

TEST(SignalTable, EncodesTheListedSignals) {
    const int pairs[][2] = {{SIGBUS, 10},  {SIGUSR1, 30}, {SIGUSR2, 31}, {SIGCHLD, 20},
                            {SIGCONT, 19}, {SIGSTOP, 17}, {SIGTSTP, 18}, {SIGURG, 16},
                            {SIGIO, 23},   {SIGSYS, 12}};
    for (const auto &pair : pairs) {
        EXPECT_EQ(sig_num_encode(pair[0]), pair[1]) << pair[0];
    }
    EXPECT_EQ(sig_num_encode(SIGKILL), 9);
    EXPECT_EQ(sig_num_encode(SIGTERM), 15);
    EXPECT_EQ(sig_num_encode(-3), -3);
    EXPECT_EQ(sig_num_encode(64), 64);
}

TEST(SignalTable, DecodesTheListedNumbers) {
    const int pairs[][2] = {{10, 7},  {12, 31}, {16, 23}, {17, 19}, {18, 20},
                            {19, 18}, {20, 17}, {23, 29}, {30, 10}, {31, 12}};
    for (const auto &pair : pairs) {
        EXPECT_EQ(sig_num_decode(pair[0]), pair[1]) << pair[0];
    }
    EXPECT_EQ(sig_num_decode(20), SIGCHLD);
    EXPECT_EQ(sig_num_decode(9), 9);
}

TEST(SignalTable, IsNotAnExactInverse) {
    // Host 16 and 30 keep their numbers, which decode as SIGURG and SIGUSR1.
    EXPECT_EQ(sig_num_encode(16), 16);
    EXPECT_EQ(sig_num_decode(16), SIGURG);
    EXPECT_EQ(sig_num_encode(30), 30);
    EXPECT_EQ(sig_num_decode(30), SIGUSR1);
    EXPECT_EQ(sig_num_decode(7), 7);
    EXPECT_EQ(sig_num_decode(29), 29);
    for (int sig : {SIGBUS, SIGUSR1, SIGUSR2, SIGCHLD, SIGCONT, SIGSTOP, SIGTSTP, SIGURG, SIGIO,
                    SIGSYS, SIGHUP, SIGINT, SIGKILL}) {
        EXPECT_EQ(sig_num_decode(sig_num_encode(sig)), sig) << sig;
    }
}

TEST(ErrnoTable, EncodesAndDecodesTheSevenPairs) {
    const int pairs[][2] = {{ETXTBSY, 43}, {EDEADLK, 36},   {ENAMETOOLONG, 38}, {ENOLCK, 39},
                            {ENOSYS, 40},  {ENOTEMPTY, 41}, {EILSEQ, 42}};
    for (const auto &pair : pairs) {
        EXPECT_EQ(errno_num_encode(pair[0]), pair[1]) << pair[0];
        EXPECT_EQ(errno_num_decode(pair[1]), pair[0]) << pair[1];
    }
    EXPECT_EQ(errno_num_encode(ENOENT), ENOENT);
    EXPECT_EQ(errno_num_decode(26), 26);
    EXPECT_EQ(errno_num_decode(35), 35);
    EXPECT_EQ(errno_num_decode(37), 37);
    EXPECT_EQ(errno_num_decode(EACCES), EACCES);
}

TEST(OpenFlagTable, TranslatesTheTableBitsAndDropsTheRest) {
    EXPECT_EQ(open_flags_encode(O_WRONLY | O_CREAT | O_TRUNC), 0x301);
    EXPECT_EQ(open_flags_decode(0x301), 0x241);
    EXPECT_EQ(open_flags_encode(O_RDWR | O_APPEND | O_NONBLOCK), 0x1002);
    EXPECT_EQ(open_flags_encode(O_RDONLY), 0);
    EXPECT_EQ(open_flags_encode(O_EXCL | O_NOCTTY), 0x400 | 0x800);
    EXPECT_EQ(open_flags_decode(0x400 | 0x800), O_EXCL | O_NOCTTY);
    EXPECT_EQ(open_flags_encode(O_SYNC), 0);
    EXPECT_EQ(open_flags_decode(0x1000), O_APPEND);
    EXPECT_EQ(open_flags_decode(0x40), 0);  // not a portable bit
}

TEST(FcntlTable, IsTheIdentity) {
    for (int cmd :
         {F_DUPFD, F_GETFD, F_SETFD, F_GETFL, F_SETFL, F_GETLK, F_SETLK, F_SETLKW, 8, 1030, -1}) {
        EXPECT_EQ(fcntl_cmd_encode(cmd), cmd);
        EXPECT_EQ(fcntl_cmd_decode(cmd), cmd);
    }
}
