// ISO 8601 conversion. Writing clamps out-of-range fields rather than
// failing, so a half-filled struct tm still gives a well-formed text.
// Reading is lenient: separators ':', '-' and 'T' are skipped wherever they
// appear, so basic, extended and mixed forms all read the same, and anything
// after the seconds other than a UTC "Z" is ignored.
#include "core/iso8601.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace {

int clamp(long long value, int low, int high) {
    if (value < low) {
        return low;
    }
    if (value > high) {
        return high;
    }
    return static_cast<int>(value);
}

struct Fields {
    int year, month, day;
    int hour, minute, second;
};

Fields clamped_fields(const struct tm &time) {
    // Offsets are added in 64 bits: a field near INT_MAX must clamp, not wrap.
    Fields f;
    f.year = clamp(static_cast<long long>(time.tm_year) + 1900, 0, 9999);
    f.month = clamp(static_cast<long long>(time.tm_mon) + 1, 1, 12);
    f.day = clamp(time.tm_mday, 1, 31);
    f.hour = clamp(time.tm_hour, 0, 24);
    f.minute = clamp(time.tm_min, 0, 60);
    f.second = clamp(time.tm_sec, 0, 60);
    return f;
}

// Reads one field of exactly `width` characters after skipping separators.
// When the text runs out first the field does not count: *counted is false
// and *value is -1. Returns the position after what was taken.
const char *next_field(const char *cursor, int width, int *value, bool *counted) {
    while (*cursor == ':' || *cursor == '-' || *cursor == 'T') {
        ++cursor;
    }
    char digits[8];
    int count = 0;
    while (count < width && *cursor != '\0') {
        digits[count++] = *cursor++;
    }
    digits[count] = '\0';
    *counted = count == width;
    *value = *counted ? atoi(digits) : -1;
    return cursor;
}

bool starts_with_time(const char *text) {
    if (text[0] == 'T') {
        return true;
    }
    return text[0] != '\0' && text[1] != '\0' && text[2] == ':';
}

void reset_fields(struct tm *result) {
    result->tm_sec = -1;
    result->tm_min = -1;
    result->tm_hour = -1;
    result->tm_mday = -1;
    result->tm_mon = -1;
    result->tm_year = -1;
    result->tm_wday = -1;
    result->tm_yday = -1;
}

}  // namespace

char *time_to_iso8601(const struct tm &time, ISO8601Format format, ISO8601Type type, bool is_utc) {
    Fields f = clamped_fields(time);
    const bool extended = format != ISO_BASIC;
    const char *utc = is_utc ? "Z" : "";
    char buffer[64];
    if (type == ISO_DATE) {
        snprintf(buffer, sizeof buffer, extended ? "%04d-%02d-%02d" : "%04d%02d%02d", f.year,
                 f.month, f.day);
    } else if (type == ISO_TIME) {
        snprintf(buffer, sizeof buffer, extended ? "T%02d:%02d:%02d%s" : "T%02d%02d%02d%s", f.hour,
                 f.minute, f.second, utc);
    } else {
        snprintf(buffer, sizeof buffer,
                 extended ? "%04d-%02d-%02dT%02d:%02d:%02d%s" : "%04d%02d%02dT%02d%02d%02d%s",
                 f.year, f.month, f.day, f.hour, f.minute, f.second, utc);
    }
    return strdup(buffer);
}

void iso8601_to_time(const char *iso_time, struct tm *result, bool *is_utc) {
    if (result == nullptr) {
        return;
    }
    reset_fields(result);
    if (iso_time == nullptr) {
        return;
    }
    const char *cursor = iso_time;
    int value;
    bool counted;
    if (!starts_with_time(iso_time)) {
        cursor = next_field(cursor, 4, &value, &counted);
        if (counted) {
            result->tm_year = value - 1900;
        }
        cursor = next_field(cursor, 2, &value, &counted);
        if (counted) {
            result->tm_mon = value - 1;
        }
        cursor = next_field(cursor, 2, &result->tm_mday, &counted);
    }
    cursor = next_field(cursor, 2, &result->tm_hour, &counted);
    cursor = next_field(cursor, 2, &result->tm_min, &counted);
    cursor = next_field(cursor, 2, &result->tm_sec, &counted);
    if (is_utc != nullptr) {
        *is_utc = *cursor == 'Z' || *cursor == 'z';
    }
}
