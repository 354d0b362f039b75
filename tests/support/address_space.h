// Provokes memory shortage in a death-test child: caps the process's
// address space a little above what it already uses. Never call it in the
// test runner itself, and not under the address sanitizer, whose shadow
// memory needs far more.
#ifndef TORVEL_TESTS_SUPPORT_ADDRESS_SPACE_H_
#define TORVEL_TESTS_SUPPORT_ADDRESS_SPACE_H_

#include <stddef.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/resource.h>

namespace torvel_test {

// Allows the process only `extra` more bytes of address space; exits 2 when
// the current size cannot be read.
inline void LimitAddressSpace(size_t extra) {
    unsigned long pages = 0;
    FILE *statm = fopen("/proc/self/statm", "r");
    if (statm == nullptr || fscanf(statm, "%lu", &pages) != 1) {
        exit(2);
    }
    fclose(statm);
    struct rlimit limit;
    limit.rlim_cur = limit.rlim_max = pages * 4096UL + extra;
    setrlimit(RLIMIT_AS, &limit);
}

}  // namespace torvel_test

#endif  // TORVEL_TESTS_SUPPORT_ADDRESS_SPACE_H_
