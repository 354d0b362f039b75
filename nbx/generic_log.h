// The brokering layer's own log, separate from the debug log: one file named
// at initialisation, two levels, lines prefixed "M/D HH:MM:SS [module:line] ",
// moved aside to "<path>.old" once it grows past its maximum size. The file
// is opened and closed for every line. Also the layer's error and abort
// entries, and the fixed-path job log. Process-wide state, no locks.
//
// Code of the layer logs through NBX_LOG, NBX_ERROR and NBX_ABORT, which
// record the calling module (the file's NBX_LOG_MODULE) and __LINE__ right
// before the call, so every line says where it came from.
#ifndef TORVEL_NBX_GENERIC_LOG_H_
#define TORVEL_NBX_GENERIC_LOG_H_

#include <stdarg.h>

#define D_BASIC 1    // errors and notable events
#define D_FULL 8192  // tracing

// Size of Generic_logfile; paths of GENERIC_LOG_PATH_LIMIT characters or
// more are refused.
#define GENERIC_LOGFILE_SIZE 4096
#define GENERIC_LOG_PATH_LIMIT 4092
#define GENERIC_LOG_DEFAULT_MAX 64000

extern "C" {

typedef void (*Generic_log_writer)(int level, const char *format, va_list args);

extern int Generic_log_initialized;
extern int Generic_log_enabled;
extern int Generic_debug_level;
extern int Generic_maxlog;
extern Generic_log_writer Generic_log_va;
extern char Generic_logfile[GENERIC_LOGFILE_SIZE];  // empty: nothing logged
extern const char *Generic_log_srcfile;             // module of the next line
extern int Generic_log_lineno;                      // line of the next line

// Opens path for appending one or more lines: never through a symbolic link
// at path, close-on-exec, created 0644 (0600 when others may write the
// directory, as in /tmp; both less the umask). A link, or a file belonging
// to an account other than this one or root, is refused with one line on
// standard error and errno ELOOP or EPERM. Returns the descriptor (caller
// closes) or -1.
int Generic_openLog(const char *path);

// Replaces the writer that Generic_log hands its lines to.
void Generic_set_log_va(Generic_log_writer writer);

// Marks the log initialised; with a usable path (not null, shorter than
// GENERIC_LOG_PATH_LIMIT) opens it (Generic_openLog), takes level and
// max_size and writes the start banner. A path that cannot be opened or
// written turns logging off; so does a refusal by a later line.
// REQUIRES: path, when not null, is a NUL-terminated string.
void Generic_logInit(const char *path, int level, int max_size);

void Generic_log(int level, const char *format, ...) __attribute__((format(printf, 2, 3)));

// The default writer: one line per call, appended to Generic_logfile.
void Generic_log_write(int level, const char *format, va_list args);

// Logs "ERROR \"msg\"" at D_BASIC, with errno and its text when errno is set.
void Generic_error(const char *format, ...) __attribute__((format(printf, 1, 2)));
void Generic_error_va(const char *format, va_list args);

// Generic_error, then "PID %ld EXITING with failure (status 1)" and exit(1).
[[noreturn]] void Generic_abort(const char *format, ...) __attribute__((format(printf, 1, 2)));

void Generic_stop_logging(void);
void Generic_resume_logging(void);

// Appends the prefix and message (taken literally) to /tmp/Genericlog,
// whatever the level or the enabled flag. Opened by Generic_openLog, so it
// is private to its owner.
void Generic_job_log(const char *message);

}  // extern "C"

// The module name and line of the call site travel with each line.
#define NBX_AT_CALL_SITE (Generic_log_srcfile = NBX_LOG_MODULE, Generic_log_lineno = __LINE__)
#define NBX_LOG(level, ...) (NBX_AT_CALL_SITE, Generic_log(level, __VA_ARGS__))
#define NBX_ERROR(...) (NBX_AT_CALL_SITE, Generic_error(__VA_ARGS__))
#define NBX_ABORT(...) (NBX_AT_CALL_SITE, Generic_abort(__VA_ARGS__))

#endif  // TORVEL_NBX_GENERIC_LOG_H_
