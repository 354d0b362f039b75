// bounded_printf.o and arg_splitter.o at work, each linked alone into a test
// program with nothing of the library.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "tests/objects/probe_runner.h"

namespace torvel_objects_test {
namespace {

TEST(BoundedPrintfObjectTest, CutsAtTheBufferSizeAndReportsTheFullLength) {
    int status = -1;
    auto values = run_probe("bounded_printf", {}, {}, &status);
    ASSERT_EQ(status, 0);
    EXPECT_EQ(values["cut4.result"], "6");
    EXPECT_EQ(values["cut4.text"], "123");
    EXPECT_EQ(values["cut4.untouched"], "1");  // nothing past the 4 bytes written
    EXPECT_EQ(values["cut7.result"], "6");
    EXPECT_EQ(values["cut7.text"], "123456");
    EXPECT_EQ(values["cut7.untouched"], "1");
    EXPECT_EQ(values["length"], "4");
}

TEST(BoundedPrintfObjectTest, MeasuringLeavesTheCallersArgumentListUsable) {
    int status = -1;
    auto values = run_probe("bounded_printf", {}, {}, &status);
    ASSERT_EQ(status, 0);
    EXPECT_EQ(values["reuse.measured"], "6");
    EXPECT_EQ(values["reuse.result"], "6");
    EXPECT_EQ(values["reuse.text"], "key:42");
}

class ArgSplitterObjectTest : public ::testing::TestWithParam<const char *> {};

TEST_P(ArgSplitterObjectTest, SplitsAtWhiteSpaceInPlace) {
    int status = -1;
    auto values = run_probe("arg_splitter", {GetParam(), "  a\tbb  c "}, {}, &status);
    ASSERT_EQ(status, 0);
    EXPECT_EQ(values["result"], "0");
    EXPECT_EQ(values["count"], "3");
    EXPECT_EQ(values["word0"], "a");
    EXPECT_EQ(values["word1"], "bb");
    EXPECT_EQ(values["word2"], "c");
    EXPECT_EQ(values["in_place"], "1");
    EXPECT_EQ(values["terminated"], "1");
}

TEST_P(ArgSplitterObjectTest, EmptyAndBlankLinesHaveNoWords) {
    for (const char *line : {"", "   ", "\t\n "}) {
        SCOPED_TRACE(testing::PrintToString(line));
        int status = -1;
        auto values = run_probe("arg_splitter", {GetParam(), line}, {}, &status);
        ASSERT_EQ(status, 0);
        EXPECT_EQ(values["count"], "0");
        EXPECT_EQ(values["terminated"], "1");
    }
}

INSTANTIATE_TEST_SUITE_P(NameAndAlias, ArgSplitterObjectTest,
                         ::testing::Values("_torvel_mkargv", "mkargv"));

}  // namespace
}  // namespace torvel_objects_test
