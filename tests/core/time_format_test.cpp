// Fixed-width date and duration texts: field widths, alignment, the
// placeholders for negative inputs, and that dates use the local zone.
#include "core/time_format.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <string>

#include "tests/support/calendar.h"

namespace {

class TimeFormatTest : public testing::Test {
 protected:
    void SetUp() override {
        const char *tz = getenv("TZ");
        had_tz_ = tz != nullptr;
        if (had_tz_) {
            saved_tz_ = tz;
        }
        UseZone("UTC");
    }
    void TearDown() override {
        if (had_tz_) {
            setenv("TZ", saved_tz_.c_str(), 1);
        } else {
            unsetenv("TZ");
        }
        tzset();
    }
    static void UseZone(const char *zone) {
        setenv("TZ", zone, 1);
        tzset();
    }
    // Seconds since the epoch of a UTC calendar time.
    static time_t Utc(int year, int month, int day, int hour, int minute, int second) {
        struct tm fields = torvel_test::CalendarFields(year, month, day, hour, minute, second);
        return timegm(&fields);
    }

 private:
    bool had_tz_ = false;
    std::string saved_tz_;
};

TEST_F(TimeFormatTest, DurationSplitsIntoDaysHoursMinutesSeconds) {
    EXPECT_STREQ(format_time(86400 + 3600 + 60 + 1), "  1+01:01:01");
    EXPECT_STREQ(format_time(0), "  0+00:00:00");
    EXPECT_STREQ(format_time(59), "  0+00:00:59");
    EXPECT_STREQ(format_time(86399), "  0+23:59:59");
    EXPECT_STREQ(format_time(1234 * 86400 + 5), "1234+00:00:05");  // days widen the field
}

TEST_F(TimeFormatTest, DurationWithoutSecondsDropsThemUnrounded) {
    EXPECT_STREQ(format_time_nosecs(59), "  0+00:00");
    EXPECT_STREQ(format_time_nosecs(2 * 86400 + 3 * 3600 + 4 * 60 + 59), "  2+03:04");
}

TEST_F(TimeFormatTest, NegativeDurationIsPlaceholder) {
    EXPECT_STREQ(format_time(-1), "[?????]");
    EXPECT_STREQ(format_time_nosecs(-86400), "[?????]");
}

TEST_F(TimeFormatTest, DateAlignsMonthRightAndDayLeft) {
    EXPECT_STREQ(format_date(Utc(2023, 7, 3, 9, 5, 44)), " 7/3  09:05");
    EXPECT_STREQ(format_date(Utc(2023, 12, 25, 23, 59, 0)), "12/25 23:59");
}

TEST_F(TimeFormatTest, DateWithYearPadsDayWithZero) {
    EXPECT_STREQ(format_date_year(Utc(2023, 7, 3, 9, 5, 0)), " 7/03/2023 09:05");
    EXPECT_STREQ(format_date_year(0), " 1/01/1970 00:00");
}

TEST_F(TimeFormatTest, NegativeDateIsPlaceholder) {
    EXPECT_STREQ(format_date(-5), "    ???    ");
    EXPECT_STREQ(format_date_year(-1), "    ???    ");
}

TEST_F(TimeFormatTest, DatesUseTheLocalZone) {
    UseZone("XYZ-2");  // two hours east of UTC, no daylight saving
    EXPECT_STREQ(format_date(0), " 1/1  02:00");
    EXPECT_STREQ(format_date_year(Utc(2023, 12, 31, 23, 30, 0)), " 1/01/2024 01:30");
}

// Each function owns its buffer: a later call of another function must not
// change an earlier result, while a later call of the same one does.
TEST_F(TimeFormatTest, EachFunctionHasItsOwnStaticBuffer) {
    const char *date = format_date(Utc(2023, 7, 3, 9, 5, 0));
    const char *duration = format_time(61);
    format_time_nosecs(3600);
    format_date_year(0);
    EXPECT_STREQ(date, " 7/3  09:05");
    EXPECT_STREQ(duration, "  0+00:01:01");

    const char *first = format_time(1);
    format_time(2);
    EXPECT_STREQ(first, "  0+00:00:02");
}

}  // namespace
