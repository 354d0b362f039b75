// Builds broken-down calendar times for the time-formatting tests, so that
// cases read as dates rather than as struct fields.
#ifndef TORVEL_TESTS_SUPPORT_CALENDAR_H_
#define TORVEL_TESTS_SUPPORT_CALENDAR_H_

#include <string.h>
#include <time.h>

namespace torvel_test {

// The fields of a calendar time (month 1-12); every other field is zero.
inline struct tm CalendarFields(int year, int month, int day, int hour, int minute, int second) {
    struct tm t;
    memset(&t, 0, sizeof t);
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = second;
    return t;
}

}  // namespace torvel_test

#endif  // TORVEL_TESTS_SUPPORT_CALENDAR_H_
