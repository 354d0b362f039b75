// The portable code tables, written for Linux on x86-64. The static checks
// below stop the build on a host whose numbers differ from the ones the
// tables were written against, instead of silently sending wrong numbers.
#include "stream/code_tables.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stddef.h>

static_assert(SIGBUS == 7 && SIGUSR1 == 10 && SIGUSR2 == 12 && SIGCHLD == 17 && SIGCONT == 18 &&
                  SIGSTOP == 19 && SIGTSTP == 20 && SIGURG == 23 && SIGIO == 29 && SIGSYS == 31,
              "signal numbers differ from the host the signal table was written for");
static_assert(ETXTBSY == 26 && EDEADLK == 35 && ENAMETOOLONG == 36 && ENOLCK == 37 &&
                  ENOSYS == 38 && ENOTEMPTY == 39 && EILSEQ == 84,
              "error numbers differ from the host the errno table was written for");
static_assert(O_RDONLY == 0 && O_WRONLY == 0x1 && O_RDWR == 0x2 && O_CREAT == 0x40 &&
                  O_TRUNC == 0x200 && O_NOCTTY == 0x100 && O_EXCL == 0x80 && O_APPEND == 0x400,
              "open flags differ from the host the open-flag table was written for");
static_assert(F_DUPFD == 0 && F_GETFD == 1 && F_SETFD == 2 && F_GETFL == 3 && F_SETFL == 4 &&
                  F_GETLK == 5 && F_SETLK == 6 && F_SETLKW == 7,
              "fcntl commands differ from the host the fcntl table was written for");

namespace {
struct CodePair {
    int from;
    int to;
};

// Host signal -> portable signal. Decoding has its own table because the
// two are not inverses (host 16 and 30 share portable numbers).
const CodePair kSignalEncode[] = {
    {SIGBUS, 10},  {SIGUSR1, 30}, {SIGUSR2, 31}, {SIGCHLD, 20}, {SIGCONT, 19},
    {SIGSTOP, 17}, {SIGTSTP, 18}, {SIGURG, 16},  {SIGIO, 23},   {SIGSYS, 12},
};
const CodePair kSignalDecode[] = {
    {10, SIGBUS},  {12, SIGSYS},  {16, SIGURG}, {17, SIGSTOP}, {18, SIGTSTP},
    {19, SIGCONT}, {20, SIGCHLD}, {23, SIGIO},  {30, SIGUSR1}, {31, SIGUSR2},
};

const CodePair kErrnoEncode[] = {
    {ETXTBSY, 43}, {EDEADLK, 36},   {ENAMETOOLONG, 38}, {ENOLCK, 39},
    {ENOSYS, 40},  {ENOTEMPTY, 41}, {EILSEQ, 42},
};

// (host bit, portable bit), checked in this order.
const CodePair kOpenFlags[] = {
    {O_RDONLY, 0},    {O_WRONLY, 0x1},   {O_RDWR, 0x2},   {O_CREAT, 0x100},
    {O_TRUNC, 0x200}, {O_NOCTTY, 0x800}, {O_EXCL, 0x400}, {O_APPEND, 0x1000},
};

template <size_t N>
int lookup_from(const CodePair (&table)[N], int value) {
    for (const CodePair &pair : table) {
        if (pair.from == value) {
            return pair.to;
        }
    }
    return value;
}

template <size_t N>
int lookup_to(const CodePair (&table)[N], int value) {
    for (const CodePair &pair : table) {
        if (pair.to == value) {
            return pair.from;
        }
    }
    return value;
}
}  // namespace

int sig_num_encode(int sig_num) {
    return lookup_from(kSignalEncode, sig_num);
}

int sig_num_decode(int sig_num) {
    return lookup_from(kSignalDecode, sig_num);
}

int errno_num_encode(int errno_num) {
    return lookup_from(kErrnoEncode, errno_num);
}

int errno_num_decode(int errno_num) {
    return lookup_to(kErrnoEncode, errno_num);
}

int open_flags_encode(int flags) {
    int portable = 0;
    for (const CodePair &pair : kOpenFlags) {
        if (pair.from & flags) {
            portable |= pair.to;
        }
    }
    return portable;
}

int open_flags_decode(int flags) {
    int host = 0;
    for (const CodePair &pair : kOpenFlags) {
        if (pair.to & flags) {
            host |= pair.from;
        }
    }
    return host;
}

// The table lists F_DUPFD (0) to F_SETLKW (7) as themselves, and every other
// number maps to itself as well.
int fcntl_cmd_encode(int cmd) {
    return cmd;
}

int fcntl_cmd_decode(int cmd) {
    return cmd;
}
