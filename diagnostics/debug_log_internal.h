// State shared by the debug log's own files (writing, locking, rotation and
// the fatal exit) and nobody else: the two internal flags of the log and
// the formatting form of its fatal exit.
#ifndef TORVEL_DIAGNOSTICS_DEBUG_LOG_INTERNAL_H_
#define TORVEL_DIAGNOSTICS_DEBUG_LOG_INTERNAL_H_

// Set by the log's fatal exit; afterwards dprintf writes nothing.
extern int _torvel_dprintf_broken;
// Set when releasing the lock failed, so the fatal exit does not try again.
extern int _torvel_dprintf_unlock_failed;

// Whether DebugFile[level] still names the file open as DebugFP (another
// process may have rotated it), holding a record lock on that file until
// the stream is closed, so that no other process rotates it meanwhile.
bool _torvel_log_still_current(int level);

// _torvel_dprintf_exit with a message formatted into 8192 bytes (cut if
// longer).
[[noreturn]] void _torvel_dprintf_exitf(int error, const char *format, ...)
    __attribute__((format(printf, 2, 3)));

#endif  // TORVEL_DIAGNOSTICS_DEBUG_LOG_INTERNAL_H_
