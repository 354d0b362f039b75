// The brokering layer's log: initialisation with its banner, the default
// line writer with size-based rotation, the error and abort entries, and the
// job log. Writes Generic_logfile and the other log variables; opens and
// closes the log file for every line and reaches the system's write and
// close directly, never through the wrappers. Never changes errno.
//
// The process may run as root and the job log lives in /tmp, so every log
// is opened without following a link at its path, close-on-exec, and only
// when it belongs to this account or to root; refusals are said on
// standard error.
#include "nbx/generic_log.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include "nbx/wrappers.h"

extern "C" {

int Generic_log_initialized = 0;
int Generic_log_enabled = 1;
int Generic_debug_level = D_BASIC;
int Generic_maxlog = GENERIC_LOG_DEFAULT_MAX;
Generic_log_writer Generic_log_va = Generic_log_write;
char Generic_logfile[GENERIC_LOGFILE_SIZE] = "";
const char *Generic_log_srcfile = "";
int Generic_log_lineno = 0;

}  // extern "C"

namespace {

const int kLineSize = 4000;
const int kBannerSize = 1000;
const char kJobLogPath[] = "/tmp/Genericlog";

// "M/D HH:MM:SS" of the local time.
void format_now(char *out, size_t size) {
    time_t now = time(nullptr);
    struct tm local;
    if (localtime_r(&now, &local) == nullptr) {
        memset(&local, 0, sizeof local);
    }
    snprintf(out, size, "%d/%d %02d:%02d:%02d", local.tm_mon + 1, local.tm_mday, local.tm_hour,
             local.tm_min, local.tm_sec);
}

// Builds "M/D HH:MM:SS [module:line] " followed by the message into line,
// cut at size. Returns the length written.
size_t build_line(char *line, size_t size, const char *format, va_list args) {
    char now[64];
    format_now(now, sizeof now);
    const char *module = Generic_log_srcfile != nullptr ? Generic_log_srcfile : "";
    int used = snprintf(line, size, "%s [%s:%d] ", now, module, Generic_log_lineno);
    if (used < 0) {
        line[0] = '\0';
        used = 0;
    }
    if (static_cast<size_t>(used) < size) {
        vsnprintf(line + used, size - used, format, args);
    }
    return strlen(line);
}

size_t build_line_f(char *line, size_t size, const char *format, ...)
    __attribute__((format(printf, 3, 4)));
size_t build_line_f(char *line, size_t size, const char *format, ...) {
    va_list args;
    va_start(args, format);
    size_t length = build_line(line, size, format, args);
    va_end(args);
    return length;
}

// Writes all of text; false on any failure or short write.
bool write_all(int fd, const char *text, size_t length) {
    while (length > 0) {
        ssize_t written = __real_write(fd, text, length);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        text += written;
        length -= static_cast<size_t>(written);
    }
    return true;
}

// Writes the start banner; false when it could not be written whole.
bool write_banner(int fd, int level, int max_size) {
    char now[64];
    format_now(now, sizeof now);
    char banner[kBannerSize];
    snprintf(banner, sizeof banner,
             "%s ****************************************\n"
             "%s New log file started\n"
             "%s Max size = %d\n"
             "%s Log level: %s\n"
             "%s ****************************************\n",
             now, now, now, max_size, now, level == D_FULL ? "D_FULL" : "D_BASIC", now);
    return write_all(fd, banner, strlen(banner));
}

// Whether a file of this owner may be written: ours, or root's (which no
// other account can plant).
bool owner_trusted(uid_t owner) {
    return owner == geteuid() || owner == 0;
}

// Moves the log aside when it has grown past the maximum. False when the
// file cannot be examined (logging then stops).
bool rotate_if_needed() {
    struct stat status;
    if (lstat(Generic_logfile, &status) != 0) {
        return errno == ENOENT;
    }
    // Only a regular file of ours is moved: a link, a device or a directory
    // put in its place is never renamed away (opening it is then refused).
    if (S_ISREG(status.st_mode) && owner_trusted(status.st_uid) &&
        status.st_size > Generic_maxlog) {
        char old_path[GENERIC_LOGFILE_SIZE + 8];
        snprintf(old_path, sizeof old_path, "%s.old", Generic_logfile);
        rename(Generic_logfile, old_path);
    }
    return true;
}

// Whether others may write the directory holding path (as in /tmp), so a
// log there must not be readable by them either. A directory that cannot
// be examined counts as shared.
bool in_shared_directory(const char *path) {
    char directory[GENERIC_LOGFILE_SIZE];
    const char *slash = strrchr(path, '/');
    if (slash == nullptr) {
        snprintf(directory, sizeof directory, ".");
    } else {
        int length = slash == path ? 1 : static_cast<int>(slash - path);
        snprintf(directory, sizeof directory, "%.*s", length, path);
    }
    struct stat status;
    return stat(directory, &status) != 0 || (status.st_mode & S_IWOTH) != 0;
}

// Says on standard error, in one line, why the log at path is not used.
void refuse(const char *path, const char *why) {
    char line[GENERIC_LOGFILE_SIZE + 100];
    int length = snprintf(line, sizeof line, "NBX log: not writing to %s: %s\n", path, why);
    if (length > static_cast<int>(sizeof line) - 1) length = static_cast<int>(sizeof line) - 1;
    if (length > 0 && !write_all(2, line, static_cast<size_t>(length))) {
        // Nowhere left to report to.
    }
}

// After a failed open: refuses a link or another account's file found at
// path (the system may have refused them itself), with errno ELOOP or
// EPERM; any other failure keeps its errno and is not reported.
void explain_open_failure(const char *path) {
    int error = errno;
    struct stat status;
    if (lstat(path, &status) == 0 && S_ISLNK(status.st_mode)) {
        refuse(path, "it is a symbolic link");
        error = ELOOP;
    } else if (lstat(path, &status) == 0 && !owner_trusted(status.st_uid)) {
        refuse(path, "it belongs to another account");
        error = EPERM;
    }
    errno = error;
}

}  // namespace

extern "C" {

int Generic_openLog(const char *path) {
    mode_t mode = in_shared_directory(path) ? 0600 : 0644;
    // O_NONBLOCK keeps a FIFO without a reader from blocking the open.
    int fd = open(path, O_WRONLY | O_CREAT | O_APPEND | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, mode);
    if (fd < 0) {
        explain_open_failure(path);
        return -1;
    }
    struct stat status;
    int flags = fcntl(fd, F_GETFL);
    if (fstat(fd, &status) != 0 || flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        int error = errno;
        __real_close(fd);
        errno = error;
        return -1;
    }
    if (!owner_trusted(status.st_uid)) {
        refuse(path, "it belongs to another account");
        __real_close(fd);
        errno = EPERM;
        return -1;
    }
    return fd;
}

void Generic_set_log_va(Generic_log_writer writer) {
    Generic_log_va = writer;
}

void Generic_logInit(const char *path, int level, int max_size) {
    int saved_errno = errno;
    Generic_log_initialized = 1;
    if (path == nullptr || strlen(path) >= GENERIC_LOG_PATH_LIMIT) {
        errno = saved_errno;
        return;
    }
    snprintf(Generic_logfile, sizeof Generic_logfile, "%s", path);
    int fd = Generic_openLog(Generic_logfile);
    if (fd < 0) {
        Generic_logfile[0] = '\0';
        errno = saved_errno;
        return;
    }
    Generic_debug_level = level;
    Generic_maxlog = max_size;
    if (!write_banner(fd, level, max_size)) {
        Generic_logfile[0] = '\0';
    }
    __real_close(fd);
    errno = saved_errno;
}

void Generic_log(int level, const char *format, ...) {
    if (!Generic_log_enabled) return;
    va_list args;
    va_start(args, format);
    Generic_log_va(level, format, args);
    va_end(args);
}

void Generic_log_write(int level, const char *format, va_list args) {
    int saved_errno = errno;
    if (!Generic_log_initialized) {
        Generic_logInit(nullptr, -1, -1);
    }
    if (Generic_logfile[0] == '\0' || level > Generic_debug_level) {
        return;
    }
    if (!rotate_if_needed()) {
        Generic_logfile[0] = '\0';
        errno = saved_errno;
        return;
    }
    char line[kLineSize];
    size_t length = build_line(line, sizeof line, format, args);
    int fd = Generic_openLog(Generic_logfile);
    if (fd >= 0) {
        write_all(fd, line, length);  // a line that cannot be written is dropped
        __real_close(fd);
    } else if (errno == ELOOP || errno == EPERM) {
        Generic_logfile[0] = '\0';  // refused once, and said so once
    }
    errno = saved_errno;
}

void Generic_error_va(const char *format, va_list args) {
    int saved_errno = errno;
    char message[kLineSize];
    vsnprintf(message, sizeof message, format, args);
    if (saved_errno != 0) {
        Generic_log(D_BASIC, "ERROR \"%s\" errno %d: %s\n", message, saved_errno,
                    strerror(saved_errno));
    } else {
        Generic_log(D_BASIC, "ERROR \"%s\"\n", message);
    }
    errno = saved_errno;
}

void Generic_error(const char *format, ...) {
    va_list args;
    va_start(args, format);
    Generic_error_va(format, args);
    va_end(args);
}

void Generic_abort(const char *format, ...) {
    va_list args;
    va_start(args, format);
    Generic_error_va(format, args);
    va_end(args);
    Generic_log(D_BASIC, "PID %ld EXITING with failure (status 1)\n", static_cast<long>(getpid()));
    exit(1);
}

void Generic_stop_logging(void) {
    Generic_log(D_FULL, "NBX logging stopped for process [pid=%ld]\n", static_cast<long>(getpid()));
    Generic_log_enabled = 0;
}

void Generic_resume_logging(void) {
    Generic_log(D_FULL, "NBX logging resumed for process [pid=%ld]\n", static_cast<long>(getpid()));
    Generic_log_enabled = 1;
}

void Generic_job_log(const char *message) {
    int saved_errno = errno;
    char line[kLineSize];
    // The message is data, never a format: it goes through "%s".
    size_t length = build_line_f(line, sizeof line, "%s", message != nullptr ? message : "");
    int fd = Generic_openLog(kJobLogPath);
    if (fd >= 0) {
        write_all(fd, line, length);
        __real_close(fd);
    }
    errno = saved_errno;
}

}  // extern "C"
