// The fatal-error path: _EXCEPT_ prints where the error was raised and ends
// the process with status 4. Use the EXCEPT and ASSERT macros, which record
// the source position and errno first. A host that must outlive the
// library's fatal errors (the Python module) sets _torvel_fatal_trap.
#ifndef TORVEL_DIAGNOSTICS_EXCEPT_H_
#define TORVEL_DIAGNOSTICS_EXCEPT_H_

#include <errno.h>

extern "C" {
extern int _EXCEPT_Line;
extern const char *_EXCEPT_File;
extern int _EXCEPT_Errno;
extern void (*_EXCEPT_Cleanup)(int line, int error, const char *message);
}

// When set, _EXCEPT_ first hands it the status and the line it would print
// (without the newline), before printing anything. A trap that does not
// return (it jumps back to its host) takes the error over; one that
// returns lets the path go on to print and exit.
extern void (*_torvel_fatal_trap)(int status, const char *message);

[[noreturn]] void _EXCEPT_(const char *format, ...) __attribute__((format(printf, 1, 2)));

#define EXCEPT(...)              \
    do {                         \
        _EXCEPT_Line = __LINE__; \
        _EXCEPT_File = __FILE__; \
        _EXCEPT_Errno = errno;   \
        _EXCEPT_(__VA_ARGS__);   \
    } while (0)

#define ASSERT(cond)                                  \
    do {                                              \
        if (!(cond)) {                                \
            EXCEPT("Assertion ERROR on (%s)", #cond); \
        }                                             \
    } while (0)

#endif  // TORVEL_DIAGNOSTICS_EXCEPT_H_
