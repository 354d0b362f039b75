// Tests of pipe-connected children: reading output (with and without
// standard error), writing input, exit statuses, a program that cannot be
// executed, and streams that were not opened here.
#include "process/my_popen.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <string>

#include "process/arg_list.h"

namespace {

std::string ReadAll(FILE *stream) {
    std::string text;
    char chunk[256];
    size_t got = 0;
    while ((got = fread(chunk, 1, sizeof chunk, stream)) > 0) {
        text.append(chunk, got);
    }
    return text;
}

TEST(MyPopenTest, ReadsStandardOutputOnlyUnlessAsked) {
    char sh[] = "sh";
    char dash_c[] = "-c";
    char script[] = "echo out; echo err 1>&2";
    char *argv[] = {sh, dash_c, script, nullptr};

    testing::internal::CaptureStderr();
    FILE *stream = my_popenv(argv, "r", 0);
    ASSERT_NE(nullptr, stream);
    EXPECT_EQ("out\n", ReadAll(stream));
    int status = my_pclose(stream);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ("err\n", err);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(0, WEXITSTATUS(status));

    stream = my_popenv(argv, "r", 1);
    ASSERT_NE(nullptr, stream);
    EXPECT_EQ("out\nerr\n", ReadAll(stream));
    EXPECT_EQ(0, my_pclose(stream));
}

TEST(MyPopenTest, WritesStandardInput) {
    ArgList args;
    args.AppendArg("sh");
    args.AppendArg("-c");
    args.AppendArg("read line; test \"$line\" = hello");
    FILE *stream = my_popen(args, "w", 0);
    ASSERT_NE(nullptr, stream);
    fputs("hello\n", stream);
    int status = my_pclose(stream);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(0, WEXITSTATUS(status));
}

TEST(MyPopenTest, StatusesBelongToTheirOwnChildren) {
    ArgList three;
    three.AppendArgsV2Quoted("\"sh -c 'exit 3'\"", nullptr);
    ArgList five;
    five.AppendArgsV2Quoted("\"sh -c 'exit 5'\"", nullptr);
    FILE *first = my_popen(three, "r", 0);
    FILE *second = my_popen(five, "r", 0);
    ASSERT_NE(nullptr, first);
    ASSERT_NE(nullptr, second);
    int status_five = my_pclose(second);
    int status_three = my_pclose(first);
    ASSERT_TRUE(WIFEXITED(status_five));
    EXPECT_EQ(5, WEXITSTATUS(status_five));
    ASSERT_TRUE(WIFEXITED(status_three));
    EXPECT_EQ(3, WEXITSTATUS(status_three));
}

TEST(MyPopenTest, MissingProgramExitsWithEight) {
    char missing[] = "/nonexistent/program";
    char *argv[] = {missing, nullptr};
    FILE *stream = my_popenv(argv, "r", 0);
    ASSERT_NE(nullptr, stream);
    EXPECT_EQ("", ReadAll(stream));
    int status = my_pclose(stream);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(8, WEXITSTATUS(status));
}

TEST(MyPopenTest, ForeignStreamIsClosedWithoutWaiting) {
    FILE *foreign = tmpfile();
    ASSERT_NE(nullptr, foreign);
    EXPECT_EQ(-1, my_pclose(foreign));
}

TEST(MyPopenTest, EmptyArgumentListStartsNothing) {
    ArgList empty;
    EXPECT_EQ(nullptr, my_popen(empty, "r", 0));
}

}  // namespace
