// The broker's own log. Each line is written with one write(2) to a file the
// broker keeps open (or to standard error), so a full descriptor table never
// stops a line. Lines of one call site (one format) are limited to a burst
// per interval; the rest are counted and a summary line with the count
// follows when the interval ends. Past its maximum size the file moves to
// "<log>.old" (one old generation). A line that cannot be written is dropped
// and counted, and the count is written with the next line that can be:
// the log never ends the broker. Process-wide state; single-threaded.
#ifndef TORVEL_BROKER_BROKER_LOG_H_
#define TORVEL_BROKER_BROKER_LOG_H_

namespace nbx_broker {

// Lines of one format written per interval before the rest are counted.
const int kLogBurst = 20;

// Opens the log at path ("" for standard error), appending. max_bytes is
// the file's size limit (0: none), repeat_interval the seconds of the rate
// limit. 0; -1 with errno when the file cannot be opened now (the log then
// retries at every line, counting what it drops).
// REQUIRES: path is not null.
int broker_log_open(const char *path, long max_bytes, int repeat_interval = 60);
// Closes the file; later lines go to standard error.
void broker_log_close();
// Writes one line ("month/day hh:mm:ss " and the formatted text, which
// carries its own newline) unless its format is over its burst.
void broker_log(const char *format, ...) __attribute__((format(printf, 1, 2)));
// As broker_log, for the tracing lines written only when turned on.
void broker_log_full(const char *format, ...) __attribute__((format(printf, 1, 2)));
// Turns the tracing lines on or off (off at start).
void broker_log_set_full(bool on);
// Writes the summary of every format whose interval has ended; called once
// a second by the event loop.
void broker_log_tick();
// Lines dropped because they could not be written, since the log opened.
long broker_log_lost();

}  // namespace nbx_broker

#endif  // TORVEL_BROKER_BROKER_LOG_H_
