// ISO 8601 dates and times: writing a struct tm in the basic or extended
// form, and reading either form (or a mix) back. No time-zone arithmetic:
// the only zone information carried is the "Z" suffix for UTC.
#ifndef TORVEL_CORE_ISO8601_H_
#define TORVEL_CORE_ISO8601_H_

#include <time.h>

enum ISO8601Format {
    ISO_BASIC = 0,     // no separators: 20240229T134509
    ISO_EXTENDED = 1,  // with '-' and ':'; any non-zero value counts as this
};

enum ISO8601Type {
    ISO_DATE = 0,
    ISO_TIME = 1,
    ISO_DATE_TIME = 2,  // also any value other than ISO_DATE and ISO_TIME
};

// Writes the date and/or time of `time` (fields clamped into range first),
// with a trailing "Z" on the time when is_utc. Result from strdup(): the
// caller free()s it; null only when memory is exhausted.
char *time_to_iso8601(const struct tm &time, ISO8601Format format, ISO8601Type type, bool is_utc);

// Reads a date-and-time, a date, or a time (one starting with 'T' or with
// ':' as its third character). Every field of *result except tm_isdst is set
// to -1 first; fields found in the text are then filled in (tm_year as
// year - 1900, tm_mon as month - 1). *is_utc, when is_utc is not null, tells
// whether the last field read is followed by 'Z' or 'z'. A null text or
// result leaves everything else untouched.
void iso8601_to_time(const char *iso_time, struct tm *result, bool *is_utc);

#endif  // TORVEL_CORE_ISO8601_H_
