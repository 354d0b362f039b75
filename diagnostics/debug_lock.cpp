// Taking and releasing one log level around a write: the lock file shared by
// every process writing the log (DebugLock, opened once into LockFd), and
// the level's own log file, opened for appending before each line and
// closed after it so that a rotation by another process is seen at once.
// Everything here runs as PRIV_TORVEL. Which level is open is kept here
// between debug_lock and debug_unlock.
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "diagnostics/debug_log.h"
#include "diagnostics/debug_log_internal.h"
#include "files/path_helpers.h"
#include "identity/privileges.h"

namespace {

bool lock_held = false;
// Whether debug_lock opened the level's own log as DebugFP, and the stream
// DebugFP was before that.
bool level_open = false;
FILE *stream_before_level = nullptr;

priv_state become(priv_state s) {
    return _set_priv(s, __FILE__, __LINE__, 0);
}

void take_lock_file() {
    if (DebugLock == nullptr) {
        return;
    }
    if (LockFd < 0) {
        LockFd = _torvel_open_lock_file(DebugLock, O_WRONLY | O_CREAT, 0660);
        if (LockFd < 0) {
            _torvel_dprintf_exitf(errno, "Can't open \"%s\"\n", DebugLock);
        }
    }
    if (flock(LockFd, LOCK_EX) < 0) {
        _torvel_dprintf_exitf(errno, "Can't get exclusive lock on \"%s\", LockFd: %d\n", DebugLock,
                              LockFd);
    }
    lock_held = true;
}

// The stream of a level's log takes the rotation's notes through this
// buffer (lines go out whole with a write of their own): one level is open
// at a time, and a buffer of its own spares stdio a status call and an
// allocation for every line.
char level_buffer[8192];

// Gives the stream just opened for a level its buffer and finds the end of
// the file: the length, or -1 with errno. The descriptor is asked directly
// (nothing is buffered yet); stdio's own seek would take the file's status
// and seek twice more.
long seek_end(FILE *stream) {
    setvbuf(stream, level_buffer, _IOFBF, sizeof level_buffer);
    off_t end = lseek(fileno(stream), 0, SEEK_END);
    return end < 0 ? -1 : static_cast<long>(end);
}

// Whether the stream open_debug_file has just returned, with errno cleared
// before the call, stands at the end of a file that can seek. glibc's
// fopen in append mode seeks to the end itself and, when the file cannot
// seek, opens it all the same and leaves that seek's errno behind; any
// errno at all sends the caller to a seek of its own.
bool opened_at_seekable_end() {
#ifdef __GLIBC__
    return errno == 0;
#else
    return false;
#endif
}

// Closes the level's stream and opens the log afresh at its end, for a
// writer that found its file rotated by another process. The new length,
// or -1 when a per-category level is to be skipped (level 0 cannot fail
// here: a failed open ends the process).
long reopen_level(int level, FILE *before) {
    fclose(DebugFP);
    DebugFP = before;  // where open_debug_file reports a failure
    FILE *stream = open_debug_file(level, "a");
    long length = stream != nullptr ? seek_end(stream) : -1;
    if (length >= 0) {
        DebugFP = stream;
        return length;
    }
    if (level == 0) {
        _torvel_dprintf_exitf(errno, "Can't seek to end of DebugFP file\n");
    }
    if (stream != nullptr) {
        fclose(stream);
    }
    level_open = false;
    return -1;
}

// Rotates the open log of the given length when it is longer than MaxLog.
// Without DebugLock several processes can find it too long at once: only
// the one that holds the log's own lock while the name still names its
// file rotates it; the others find it rotated and go on in the fresh file.
// False when a per-category level is to be skipped.
bool rotate_if_long(int level, FILE *before, long length) {
    if (MaxLog[level] == 0) {
        return true;
    }
    for (;;) {
        if (length <= MaxLog[level]) {
            return true;
        }
        if (_torvel_log_still_current(level)) {
            fprintf(DebugFP, "MaxLog = %d, length = %d\n", MaxLog[level], static_cast<int>(length));
            preserve_log_file(level);
            return true;
        }
        length = reopen_level(level, before);
        if (length < 0) {
            return false;
        }
    }
}

// Opens the level's own log as DebugFP, at its end and rotated if too long.
// False when a per-category level is to be skipped.
bool open_level(int level) {
    FILE *before = DebugFP;
    errno = 0;
    FILE *stream = open_debug_file(level, "a");
    bool at_seekable_end = stream != nullptr && opened_at_seekable_end();
    if (stream == nullptr) {
        if (level == 0) {
            // open_debug_file has already ended the process for level 0;
            // this keeps the level's contract if that ever changes.
            if (errno == EMFILE) {
                _torvel_fd_panic(__LINE__, __FILE__);
            }
            _torvel_dprintf_exitf(errno, "Could not open DebugFile \"%s\"\n", DebugFile[0]);
        }
        return false;
    }
    stream_before_level = before;
    DebugFP = stream;
    level_open = true;
    // Without a size limit the length is not needed, only the proof that
    // the file can seek.
    long length = 0;
    if (at_seekable_end && MaxLog[level] == 0) {
        setvbuf(stream, level_buffer, _IOFBF, sizeof level_buffer);
    } else {
        length = seek_end(stream);
    }
    if (length < 0) {
        if (level == 0) {
            _torvel_dprintf_exitf(errno, "Can't seek to end of DebugFP file\n");
        }
        fclose(stream);
        DebugFP = before;
        level_open = false;
        return false;
    }
    return rotate_if_long(level, before, length);
}

// fopen with mode, the descriptor closed on exec: the log is the library's
// own, never a child's.
FILE *fopen_cloexec(const char *name, const char *mode) {
    char with_e[16];
    int n = snprintf(with_e, sizeof with_e, "%se", mode);
    if (n < 0 || static_cast<size_t>(n) >= sizeof with_e) {
        errno = EINVAL;
        return nullptr;
    }
    return fopen(name, with_e);
}

// Gives the directory root has just made at dir to the service account,
// through a descriptor: a link or another directory planted at that name
// since the mkdir is refused, never followed. errno set on failure.
bool hand_over_directory(const char *dir) {
    int fd = open(dir, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    struct stat status;
    bool ok = fstat(fd, &status) == 0;
    if (ok && status.st_uid != 0) {
        errno = EPERM;  // not the directory root made
        ok = false;
    }
    if (ok) {
        ok = fchown(fd, get_torvel_uid(), get_torvel_gid()) == 0;
    }
    int error = errno;
    close(fd);
    errno = error;
    return ok;
}

// Creates the directory of a lock file; true when it exists afterwards.
bool make_lock_directory(const char *dir) {
    if (mkdir(dir, 0777) == 0 || errno == EEXIST) {
        return true;
    }
    if (errno == EACCES) {
        // The service account may not create it there; root may, and then
        // hands it over.
        priv_state previous = become(PRIV_ROOT);
        bool made = mkdir(dir, 0777) == 0 && hand_over_directory(dir);
        int error = errno;
        become(previous);
        if (!made) {
            fprintf(stderr, "Can't create lock directory \"%s\", errno: %d (%s)\n", dir, error,
                    strerror(error));
        }
        return made;
    }
    int error = errno;
    fprintf(stderr, "Can't create lock directory: \"%s\"errno: %d (%s)\n", dir, error,
            strerror(error));
    return false;
}

}  // namespace

FILE *debug_lock(int level) {
    priv_state previous = become(PRIV_TORVEL);
    take_lock_file();
    level_open = false;
    FILE *stream = nullptr;
    if (DebugFile[level] != nullptr) {
        if (open_level(level)) {
            stream = DebugFP;
        }
    } else {
        if (DebugFP == nullptr) {
            DebugFP = stderr;
        }
        stream = DebugFP;
    }
    become(previous);
    return stream;
}

void debug_unlock(int level) {
    if (_torvel_dprintf_unlock_failed) {
        return;
    }
    priv_state previous = become(PRIV_TORVEL);
    if (DebugFP != nullptr) {
        fflush(DebugFP);
    }
    if (DebugLock != nullptr && lock_held && LockFd >= 0) {
        lock_held = false;
        if (flock(LockFd, LOCK_UN) < 0) {
            _torvel_dprintf_unlock_failed = 1;
            _torvel_dprintf_exitf(errno, "Can't release exclusive lock on \"%s\"\n", DebugLock);
        }
    }
    if (level_open) {
        level_open = false;
        if (DebugFP != nullptr) {
            fclose(DebugFP);
        }
        // The main log leaves no stream behind; a per-category log gives
        // back the stream in use before it, which is a caller's stream when
        // the main log has no file of its own.
        DebugFP = level == 0 ? nullptr : stream_before_level;
    }
    become(previous);
}

FILE *open_debug_file(int level, const char *mode) {
    priv_state previous = become(PRIV_TORVEL);
    const char *name = DebugFile[level];
    FILE *stream = name != nullptr ? fopen_cloexec(name, mode) : nullptr;
    if (stream == nullptr) {
        int error = name != nullptr ? errno : EINVAL;
        if (error == EMFILE) {
            _torvel_fd_panic(__LINE__, __FILE__);
        }
        FILE *out = DebugFP != nullptr ? DebugFP : stderr;
        fprintf(out, "Can't open \"%s\"\n", name != nullptr ? name : "(null)");
        fflush(out);
        if (level == 0) {
            _torvel_dprintf_exitf(error, "Can't open \"%s\"\n", name != nullptr ? name : "(null)");
        }
        errno = error;
    }
    become(previous);
    return stream;
}

int _torvel_open_lock_file(const char *path, int flags, int mode) {
    if (path == nullptr) {
        errno = EINVAL;
        return -1;
    }
    priv_state previous = become(PRIV_TORVEL);
    // The lock is the log's own: programs started later must not hold it.
    flags |= O_CLOEXEC;
    int fd = open(path, flags, mode);
    if (fd < 0 && errno == ENOENT) {
        int open_error = errno;
        char *dir = torvel_dirname(path);
        bool made = dir != nullptr && make_lock_directory(dir);
        free(dir);
        if (made) {
            fd = open(path, flags, mode);
        } else {
            errno = open_error;
        }
    }
    int error = errno;
    become(previous);
    errno = error;
    return fd;
}
