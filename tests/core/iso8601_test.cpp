// ISO 8601 writing (forms, clamping, the UTC suffix) and reading (both forms,
// mixes, partial texts, what is ignored).
#include "core/iso8601.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <string>

#include "tests/support/calendar.h"

namespace {

using torvel_test::CalendarFields;

// The text written, freed here so each check is one line.
std::string Write(const struct tm &t, int format, int type, bool is_utc) {
    char *text = time_to_iso8601(t, static_cast<ISO8601Format>(format),
                                 static_cast<ISO8601Type>(type), is_utc);
    if (text == nullptr) {
        return "<null>";
    }
    std::string result = text;
    free(text);
    return result;
}

// Reads text into a tm prefilled with a marker, so untouched fields show.
struct Parsed {
    struct tm t;
    bool is_utc;
};

Parsed Read(const char *text) {
    Parsed p;
    memset(&p.t, 0x5a, sizeof p.t);
    p.is_utc = false;
    iso8601_to_time(text, &p.t, &p.is_utc);
    return p;
}

void ExpectDate(const struct tm &t, int year, int month, int day) {
    EXPECT_EQ(t.tm_year, year);
    EXPECT_EQ(t.tm_mon, month);
    EXPECT_EQ(t.tm_mday, day);
}

void ExpectTime(const struct tm &t, int hour, int minute, int second) {
    EXPECT_EQ(t.tm_hour, hour);
    EXPECT_EQ(t.tm_min, minute);
    EXPECT_EQ(t.tm_sec, second);
}

TEST(Iso8601Write, EveryTypeInBothForms) {
    struct tm t = CalendarFields(2024, 2, 29, 13, 45, 9);
    EXPECT_EQ(Write(t, ISO_EXTENDED, ISO_DATE_TIME, true), "2024-02-29T13:45:09Z");
    EXPECT_EQ(Write(t, ISO_EXTENDED, ISO_DATE_TIME, false), "2024-02-29T13:45:09");
    EXPECT_EQ(Write(t, ISO_BASIC, ISO_DATE_TIME, true), "20240229T134509Z");
    EXPECT_EQ(Write(t, ISO_EXTENDED, ISO_DATE, true), "2024-02-29");  // no suffix on a date
    EXPECT_EQ(Write(t, ISO_BASIC, ISO_DATE, false), "20240229");
    EXPECT_EQ(Write(t, ISO_EXTENDED, ISO_TIME, true), "T13:45:09Z");
    EXPECT_EQ(Write(t, ISO_BASIC, ISO_TIME, false), "T134509");
}

TEST(Iso8601Write, OutOfRangeEnumValuesMeanExtendedAndDateTime) {
    struct tm t = CalendarFields(2024, 2, 29, 13, 45, 9);
    EXPECT_EQ(Write(t, 7, ISO_DATE, false), "2024-02-29");
    EXPECT_EQ(Write(t, ISO_BASIC, 9, false), "20240229T134509");
    EXPECT_EQ(Write(t, ISO_BASIC, -1, false), "20240229T134509");
}

TEST(Iso8601Write, ClampsDateFields) {
    struct tm t = CalendarFields(2024, 1, 1, 0, 0, 0);
    t.tm_mon = 12;  // a thirteenth month
    t.tm_mday = 0;
    EXPECT_EQ(Write(t, ISO_EXTENDED, ISO_DATE, false), "2024-12-01");

    t.tm_year = -1901;  // year -1
    t.tm_mon = -4;
    t.tm_mday = 40;
    EXPECT_EQ(Write(t, ISO_EXTENDED, ISO_DATE, false), "0000-01-31");

    t.tm_year = 20000;
    EXPECT_EQ(Write(t, ISO_BASIC, ISO_DATE, false), "99990131");

    t.tm_year = 2147483647;  // must clamp, not wrap when 1900 is added
    t.tm_mon = 2147483647;
    EXPECT_EQ(Write(t, ISO_BASIC, ISO_DATE, false), "99991231");
}

TEST(Iso8601Write, ClampsTimeFields) {
    struct tm t = CalendarFields(2024, 1, 1, 25, 61, -3);
    EXPECT_EQ(Write(t, ISO_EXTENDED, ISO_TIME, false), "T24:60:00");
    t.tm_hour = -1;
    t.tm_min = -1;
    t.tm_sec = 60;  // a leap second stays
    EXPECT_EQ(Write(t, ISO_EXTENDED, ISO_TIME, false), "T00:00:60");
}

TEST(Iso8601Read, BasicAndExtendedGiveTheSameFields) {
    Parsed basic = Read("20240229T134509Z");
    Parsed extended = Read("2024-02-29T13:45:09z");
    for (const Parsed *p : {&basic, &extended}) {
        ExpectDate(p->t, 124, 1, 29);
        ExpectTime(p->t, 13, 45, 9);
        EXPECT_TRUE(p->is_utc);
        EXPECT_EQ(p->t.tm_wday, -1);
        EXPECT_EQ(p->t.tm_yday, -1);
    }
}

TEST(Iso8601Read, MixedSeparatorsAreAccepted) {
    Parsed p = Read("2024-0229T13:4509");
    ExpectDate(p.t, 124, 1, 29);
    ExpectTime(p.t, 13, 45, 9);
    EXPECT_FALSE(p.is_utc);
}

TEST(Iso8601Read, TimeOnlyLeavesDateUnset) {
    Parsed p = Read("T13:45");
    ExpectDate(p.t, -1, -1, -1);
    ExpectTime(p.t, 13, 45, -1);
    EXPECT_FALSE(p.is_utc);

    // A colon as third character also marks a time.
    Parsed q = Read("08:30:15Z");
    ExpectDate(q.t, -1, -1, -1);
    ExpectTime(q.t, 8, 30, 15);
    EXPECT_TRUE(q.is_utc);
}

TEST(Iso8601Read, PartialDateLeavesTheRestUnset) {
    Parsed p = Read("2024-02");
    ExpectDate(p.t, 124, 1, -1);
    ExpectTime(p.t, -1, -1, -1);

    // A field cut short does not count.
    Parsed q = Read("2024-0");
    ExpectDate(q.t, 124, -1, -1);
}

TEST(Iso8601Read, IgnoresFractionsAndOffsets) {
    Parsed p = Read("2024-02-29T13:45:09.25Z");
    ExpectTime(p.t, 13, 45, 9);
    EXPECT_FALSE(p.is_utc);  // the character after the seconds is '.'

    Parsed q = Read("2024-02-29T13:45:09+02:00");
    ExpectTime(q.t, 13, 45, 9);
    EXPECT_FALSE(q.is_utc);
}

TEST(Iso8601Read, LeavesDaylightFlagAlone) {
    struct tm t;
    memset(&t, 0, sizeof t);
    t.tm_isdst = 1;
    iso8601_to_time("20240229", &t, nullptr);  // null is_utc is allowed
    EXPECT_EQ(t.tm_isdst, 1);
    ExpectDate(t, 124, 1, 29);
}

TEST(Iso8601Read, NullTextResetsFieldsOnly) {
    struct tm t = CalendarFields(2024, 2, 29, 13, 45, 9);
    bool is_utc = true;
    iso8601_to_time(nullptr, &t, &is_utc);
    ExpectDate(t, -1, -1, -1);
    ExpectTime(t, -1, -1, -1);
    EXPECT_TRUE(is_utc);  // untouched

    iso8601_to_time("2024", nullptr, &is_utc);  // must not crash
    EXPECT_TRUE(is_utc);
}

TEST(Iso8601Read, EmptyAndShortTextsSetNothing) {
    Parsed p = Read("");
    ExpectDate(p.t, -1, -1, -1);
    ExpectTime(p.t, -1, -1, -1);
    Parsed q = Read("T");
    ExpectTime(q.t, -1, -1, -1);
}

TEST(Iso8601RoundTrip, WrittenTextReadsBack) {
    struct tm t = CalendarFields(1999, 12, 31, 23, 59, 58);
    for (int format : {ISO_BASIC, ISO_EXTENDED}) {
        std::string text = Write(t, format, ISO_DATE_TIME, true);
        Parsed p = Read(text.c_str());
        ExpectDate(p.t, t.tm_year, t.tm_mon, t.tm_mday);
        ExpectTime(p.t, t.tm_hour, t.tm_min, t.tm_sec);
        EXPECT_TRUE(p.is_utc) << text;
    }
}

}  // namespace
