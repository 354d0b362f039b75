// Fixed-width date and duration texts. Each function keeps its own static
// result buffer, sized for the widest value its format can produce, so a
// caller may hold the result of format_date while calling format_time.
#include "core/time_format.h"

#include <stdio.h>
#include <string.h>

#include "core/torvel_constants.h"

namespace {

const char kUnknownDate[] = "    ???    ";
const char kUnknownDuration[] = "[?????]";

// Room for every int field at full width: the formats never get near it.
const int kResultSize = 80;

// Splits a non-negative duration into days, hours, minutes and seconds.
struct Duration {
    int days;
    int hours;
    int minutes;
    int seconds;
};

Duration split_duration(int tot_secs) {
    Duration d;
    d.days = tot_secs / DAY;
    tot_secs %= DAY;
    d.hours = tot_secs / HOUR;
    tot_secs %= HOUR;
    d.minutes = tot_secs / MINUTE;
    d.seconds = tot_secs % MINUTE;
    return d;
}

// localtime_r keeps the library's own formatting off the shared buffer that
// localtime() hands out to other callers.
bool local_fields(time_t date, struct tm *fields) {
    return localtime_r(&date, fields) != nullptr;
}

}  // namespace

char *format_date(time_t date) {
    static char result[kResultSize];
    struct tm fields;
    if (date < 0 || !local_fields(date, &fields)) {
        strcpy(result, kUnknownDate);
        return result;
    }
    snprintf(result, sizeof result, "%2d/%-2d %02d:%02d", fields.tm_mon + 1, fields.tm_mday,
             fields.tm_hour, fields.tm_min);
    return result;
}

char *format_date_year(time_t date) {
    static char result[kResultSize];
    struct tm fields;
    if (date < 0 || !local_fields(date, &fields)) {
        strcpy(result, kUnknownDate);
        return result;
    }
    snprintf(result, sizeof result, "%2d/%02d/%-4d %02d:%02d", fields.tm_mon + 1, fields.tm_mday,
             fields.tm_year + 1900, fields.tm_hour, fields.tm_min);
    return result;
}

char *format_time(int tot_secs) {
    static char result[kResultSize];
    if (tot_secs < 0) {
        strcpy(result, kUnknownDuration);
        return result;
    }
    Duration d = split_duration(tot_secs);
    snprintf(result, sizeof result, "%3d+%02d:%02d:%02d", d.days, d.hours, d.minutes, d.seconds);
    return result;
}

char *format_time_nosecs(int tot_secs) {
    static char result[kResultSize];
    if (tot_secs < 0) {
        strcpy(result, kUnknownDuration);
        return result;
    }
    Duration d = split_duration(tot_secs);
    snprintf(result, sizeof result, "%3d+%02d:%02d", d.days, d.hours, d.minutes);
    return result;
}
