// ARGLIST_ASSERT: the fatal-error path for the argument-list module's
// contract violations, naming the module "arglist" rather than a source
// path. For the argument-list sources only.
#ifndef TORVEL_PROCESS_ARGLIST_ASSERT_H_
#define TORVEL_PROCESS_ARGLIST_ASSERT_H_

#include <errno.h>

#include "diagnostics/except.h"

#define ARGLIST_EXCEPT(...)       \
    do {                          \
        _EXCEPT_Line = __LINE__;  \
        _EXCEPT_File = "arglist"; \
        _EXCEPT_Errno = errno;    \
        _EXCEPT_(__VA_ARGS__);    \
    } while (0)

#define ARGLIST_ASSERT(cond)                                  \
    do {                                                      \
        if (!(cond)) {                                        \
            ARGLIST_EXCEPT("Assertion ERROR on (%s)", #cond); \
        }                                                     \
    } while (0)

#endif  // TORVEL_PROCESS_ARGLIST_ASSERT_H_
