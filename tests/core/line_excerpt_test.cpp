// line_excerpt: bounded and printable whatever the line holds.
#include "core/line_excerpt.h"

#include <gtest/gtest.h>

#include <string>

TEST(LineExcerpt, ShortPrintableLineIsQuotedWhole) {
    EXPECT_STREQ(line_excerpt("NAME = value").Value(), "NAME = value");
    EXPECT_STREQ(line_excerpt(nullptr).Value(), "");
}

TEST(LineExcerpt, ControlBytesQuotesAndNulsAreEscaped) {
    std::string line("a\"b\\c\td\x01\x7f\xff", 10);
    line.push_back('\0');
    line += "z\n";
    EXPECT_STREQ(line_excerpt(line.data(), line.size()).Value(),
                 "a\\\"b\\\\c\\td\\x01\\x7f\\xff\\x00z\\n");
}

TEST(LineExcerpt, LongLineKeepsItsFirstBytesAndSaysItsLength) {
    std::string line(2000000, 'x');
    line[0] = '\x02';
    MyString excerpt = line_excerpt(line.data(), line.size());
    std::string text = excerpt.Value();
    EXPECT_EQ(text.substr(0, 4), "\\x02");
    EXPECT_EQ(text.find("... (2000000 bytes)"), 4 + kLineExcerptBytes - 1);
    EXPECT_LT(text.size(), 4 * kLineExcerptBytes + 40);
}

TEST(LineExcerpt, LineOfExactlyTheBoundIsNotMarkedCut) {
    std::string line(kLineExcerptBytes, 'y');
    EXPECT_EQ(std::string(line_excerpt(line.data(), line.size()).Value()), line);
}
