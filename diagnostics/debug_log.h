// The debug log's interface: category bits, dprintf and the process-wide
// log variables. Until a set-up step sets _torvel_dprintf_works, every line
// is kept in memory (saved lines) instead of written.
#ifndef TORVEL_DIAGNOSTICS_DEBUG_LOG_H_
#define TORVEL_DIAGNOSTICS_DEBUG_LOG_H_

#include <stdarg.h>
#include <stdio.h>

// Category bits; the bit number is the index into _torvel_DebugFlagNames.
#define D_ALWAYS (1 << 0)
#define D_SYSCALLS (1 << 1)
#define D_CKPT (1 << 2)
#define D_HOSTNAME (1 << 3)
#define D_MALLOC (1 << 4)
#define D_LOAD (1 << 5)
#define D_EXPR (1 << 6)
#define D_PROC (1 << 7)
#define D_JOB (1 << 8)
#define D_MACHINE (1 << 9)
#define D_FULLDEBUG (1 << 10)
#define D_NFS (1 << 11)
#define D_CONFIG (1 << 12)
#define D_NET_REMAP (1 << 13)
#define D_PREEMPT (1 << 14)
#define D_PROTOCOL (1 << 15)
#define D_PRIV (1 << 16)
#define D_SECURITY (1 << 17)
#define D_DAEMONCORE (1 << 18)
#define D_COMMAND (1 << 19)
#define D_BANDWIDTH (1 << 20)
#define D_NETWORK (1 << 21)
#define D_KEYBOARD (1 << 22)
#define D_PROCFAMILY (1 << 23)
#define D_IDLE (1 << 24)
#define D_MATCH (1 << 25)
#define D_ACCOUNTANT (1 << 26)
#define D_FAILURE (1 << 27)
#define D_PID (1 << 28)
#define D_FDS (1 << 29)
#define D_SECONDS (1 << 30)
#define D_NOHEADER (1u << 31)
#define D_ALL 0x7fffffff

#define D_NUMLEVELS 32
// Entry 0 is the main log; entry i also receives category bit i - 1.
#define D_MAX_LOG_FILES 29

extern "C" {
extern int DebugFlags;
extern int _torvel_dprintf_works;
extern FILE *DebugFP;
extern char *DebugFile[D_MAX_LOG_FILES];
extern int MaxLog[D_MAX_LOG_FILES];
extern char *DebugLock;
extern int LockFd;
}

// Shares its name and signature with the C library's dprintf(fd, ...), which
// the library's own definition replaces at link time; the result is always 0.
extern "C" int dprintf(int flags, const char *format, ...) __attribute__((format(printf, 2, 3)));
void _torvel_dprintf_va(int flags, const char *format, va_list args);

// Writes out and discards the lines kept before set-up, oldest first.
void _torvel_dprintf_saved_lines();

#endif  // TORVEL_DIAGNOSTICS_DEBUG_LOG_H_
