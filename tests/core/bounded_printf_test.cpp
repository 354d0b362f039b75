// Measuring, bounded formatting and word splitting.
#include "core/bounded_printf.h"

#include <gtest/gtest.h>
#include <string.h>

#include "core/mkargv.h"

TEST(BoundedPrintf, MeasuresWithoutWriting) {
    EXPECT_EQ(printf_length("%s-%d", "ab", 7), 4);
    EXPECT_EQ(printf_length("%s", ""), 0);
    EXPECT_EQ(printf_length("%1000d", 1), 1000);
}

TEST(BoundedPrintf, CutsAtSizeAndReportsFullLength) {
    char buffer[8];
    memset(buffer, 'X', sizeof buffer);
    EXPECT_EQ(torvel_snprintf(buffer, 4, "%d", 123456), 6);
    EXPECT_STREQ(buffer, "123");
    EXPECT_EQ(buffer[4], 'X');  // nothing written past size

    EXPECT_EQ(torvel_snprintf(buffer, 7, "%d", 123456), 6);
    EXPECT_STREQ(buffer, "123456");
}

TEST(BoundedPrintf, NonPositiveSizeWritesNothing) {
    char buffer[4] = {'A', 'B', 'C', '\0'};
    EXPECT_EQ(torvel_snprintf(buffer, 0, "%s", "hello"), 5);
    EXPECT_EQ(torvel_snprintf(buffer, -3, "%s", "hello"), 5);
    EXPECT_STREQ(buffer, "ABC");
}

TEST(BoundedPrintf, SizeOneGivesEmptyText) {
    char buffer[4] = {'A', 'B', 'C', '\0'};
    EXPECT_EQ(torvel_snprintf(buffer, 1, "%s", "hello"), 5);
    EXPECT_STREQ(buffer, "");
}

TEST(Mkargv, SplitsAtWhiteSpaceInPlace) {
    char line[] = "  a\tbb  c ";
    char *argv[8];
    int argc = -1;
    EXPECT_EQ(_torvel_mkargv(&argc, argv, line), 0);
    ASSERT_EQ(argc, 3);
    EXPECT_STREQ(argv[0], "a");
    EXPECT_STREQ(argv[1], "bb");
    EXPECT_STREQ(argv[2], "c");
    EXPECT_EQ(argv[3], nullptr);
    EXPECT_EQ(argv[0], line + 2);  // words point into the line
}

TEST(Mkargv, EmptyAndBlankLinesHaveNoWords) {
    char empty[] = "";
    char blanks[] = " \t\n ";
    char *argv[4];
    int argc = -1;
    mkargv(&argc, argv, empty);
    EXPECT_EQ(argc, 0);
    EXPECT_EQ(argv[0], nullptr);
    mkargv(&argc, argv, blanks);
    EXPECT_EQ(argc, 0);
    EXPECT_EQ(argv[0], nullptr);
}
