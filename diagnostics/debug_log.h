// The debug log's interface: category bits, dprintf and the process-wide
// log variables. Until a set-up step sets _torvel_dprintf_works, every line
// is kept in memory (saved lines) instead of written. Once it is set, each
// line goes to the main log (DebugFile[0], or DebugFP when that is null)
// and to the per-category logs DebugFile[1..28], under the lock file
// DebugLock, with rotation to "<log>.old" past MaxLog bytes. A log that
// cannot be written ends the process with status 44.
#ifndef TORVEL_DIAGNOSTICS_DEBUG_LOG_H_
#define TORVEL_DIAGNOSTICS_DEBUG_LOG_H_

#include <stdarg.h>
#include <stdio.h>
#include <time.h>

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
// The category names, index = bit number ("D_ALWAYS" .. "D_NOHEADER").
extern const char *_torvel_DebugFlagNames[D_NUMLEVELS];
extern FILE *DebugFP;
extern char *DebugFile[D_MAX_LOG_FILES];
extern int MaxLog[D_MAX_LOG_FILES];
extern char *DebugLock;
extern int LockFd;
// Called after each line's header, when set, with a stream whose text joins
// the line (a memory stream: the line goes out whole, in one write).
extern void (*DebugId)(FILE *stream);
// Returned by dprintf_last_modification; kept for a set-up step to fill.
extern time_t DebugLastMod;
}

// Shares its name and signature with the C library's dprintf(fd, ...), which
// the library's own definition replaces at link time; the result is always 0.
extern "C" int dprintf(int flags, const char *format, ...) __attribute__((format(printf, 2, 3)));

// Once the log is set up, a line of a category that is off costs no call:
// the category is tested here, inline, and the arguments of a skipped line
// are not evaluated. Before set-up every line is kept, so every call goes
// through. The function itself is unchanged: its C signature, its address
// and a program's own definition of it still serve every call made. Code
// that must call it whatever the category (an object that carries no debug
// globals) writes (dprintf)(...).
inline bool _torvel_dprintf_category_off(int flags) {
    return _torvel_dprintf_works != 0 && (DebugFlags & flags) == 0;
}
#define dprintf(flags, ...)                                  \
    __extension__({                                          \
        int torvel_dprintf_flags_ = static_cast<int>(flags); \
        _torvel_dprintf_category_off(torvel_dprintf_flags_)  \
            ? 0                                              \
            : (dprintf)(torvel_dprintf_flags_, __VA_ARGS__); \
    })
// C names: the dprintf_shim object expects this from the program linking it.
extern "C" void _torvel_dprintf_va(int flags, const char *format, va_list args);

// Adjusts DebugFlags from white-space separated category names ("D_ALL",
// "D_CONFIG", "-D_NET_REMAP", any case); D_ALWAYS is always added. Input
// longer than 8191 characters is cut. set_debug_flags is the same function.
extern "C" void _torvel_set_debug_flags(const char *names);
extern "C" void set_debug_flags(const char *names);

// Writes out and discards the lines kept before set-up, oldest first. At
// most 1 MiB of lines is kept (the oldest are dropped first); when any were
// dropped, a first line says how many: "Dropped the N oldest debug lines
// saved before the log was set up".
void _torvel_dprintf_saved_lines();

// Once the log is set up, sets the main log's access and modification times
// to now; nothing otherwise.
void dprintf_touch_log();
// DebugLastMod.
time_t dprintf_last_modification();

// ---- The steps of one write, each usable alone. All run as PRIV_TORVEL
// and restore the privilege state they found. ----

// Takes the lock file (when DebugLock is set) and, for a level with a
// DebugFile entry, opens that log for appending as DebugFP, seeks to its end
// and rotates it past MaxLog[level]. The stream to write to, or null when a
// per-category level (above 0) cannot be opened and is skipped. Failures of
// the lock, of rotation and of level 0 end the process (status 44).
// REQUIRES: 0 <= level < D_MAX_LOG_FILES.
FILE *debug_lock(int level);
// Flushes the stream, releases the lock, and closes the level's own log
// (DebugFP becomes null for level 0, the stream in force before
// debug_lock for the others). Does nothing after a failed release.
void debug_unlock(int level);
// fopen of DebugFile[level] with mode. On failure: "Can't open" on DebugFP
// (or standard error) and null; for level 0 the process ends (status 44);
// EMFILE goes to _torvel_fd_panic. Caller fclose()s the stream.
FILE *open_debug_file(int level, const char *mode);
// Moves the open log of level (DebugFP) to "<log>.old", replacing any older
// copy, and opens a fresh log as DebugFP that begins "Now in new log file".
// When another process has moved the file already, only reopens the log.
// Any failure ends the process (status 44). Nothing for a level without a
// DebugFile entry.
void preserve_log_file(int level);
// Opens path with open(2) flags and mode; when its directory is missing,
// creates that directory (mode 0777 before the umask; as root, given to the
// service account, when the service account may not) and tries once more.
// The descriptor, or -1 with errno from the failed open (also for a null
// path).
int _torvel_open_lock_file(const char *path, int flags, int mode);
// For exhausted descriptors: closes descriptors 0 to 49, writes a panic line
// naming line and file into the main log and ends the process (status 44).
[[noreturn]] void _torvel_fd_panic(int line, const char *file);
// The log's own fatal exit: reports message (with error's strerror when
// error is non-zero) into "<LOG>/dprintf_failure.<subsystem>", or standard
// error when that cannot be written, stops all further output, calls
// _EXCEPT_Cleanup and exits with status 44.
[[noreturn]] void _torvel_dprintf_exit(int error, const char *message);

#endif  // TORVEL_DIAGNOSTICS_DEBUG_LOG_H_
