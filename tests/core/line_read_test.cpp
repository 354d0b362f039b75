// Tests of the EINTR-proof line reads (_torvel_getline and
// MyString::readLine over it): lines from a slowly fed pipe under a 2 ms
// timer whose handler lacks SA_RESTART come out whole and in order.
#include "core/line_read.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "core/my_string.h"
#include "tests/support/interrupting_timer.h"

namespace {

using torvel_test::InterruptingTimer;
using torvel_test::SlowPipe;

const std::vector<std::string> kPieces = {"first half", " rest\nsecond\n", "last"};

TEST(LineReadTest, InterruptedReadsNeitherCutNorEndALine) {
    SlowPipe pipe(kPieces);
    ASSERT_NE(pipe.stream(), nullptr);
    InterruptingTimer timer;
    std::vector<std::string> lines;
    char *line = nullptr;
    size_t capacity = 0;
    ssize_t length;
    while ((length = _torvel_getline(&line, &capacity, pipe.stream())) >= 0) {
        lines.push_back(std::string(line, static_cast<size_t>(length)));
    }
    EXPECT_TRUE(feof(pipe.stream()));
    EXPECT_FALSE(ferror(pipe.stream()));
    free(line);
    EXPECT_GT(timer.Interrupts(), 5);
    EXPECT_EQ(lines, (std::vector<std::string>{"first half rest\n", "second\n", "last"}));
}

TEST(LineReadTest, LinesWithNulAndLongLines) {
    std::string text("a\0b\n", 4);
    text += std::string(5000, 'x') + "\n";
    FILE *file = fmemopen(&text[0], text.size(), "r");
    ASSERT_NE(file, nullptr);
    char *line = nullptr;
    size_t capacity = 0;
    EXPECT_EQ(4, _torvel_getline(&line, &capacity, file));
    EXPECT_EQ(std::string("a\0b\n", 4), std::string(line, 4));
    EXPECT_EQ(5001, _torvel_getline(&line, &capacity, file));
    EXPECT_GE(capacity, 5002u);
    EXPECT_EQ(-1, _torvel_getline(&line, &capacity, file));
    free(line);
    fclose(file);
}

// Lines are taken from the stream's buffer a piece at a time: a line that
// spans several refills of a tiny buffer still comes whole, and the stream
// stands right after it.
TEST(LineReadTest, LinesSpanningBufferRefillsComeWhole) {
    std::string text = "one\n" + std::string(37, 'y') + "\n\nlast";
    FILE *file = fmemopen(&text[0], text.size(), "r");
    ASSERT_NE(file, nullptr);
    char buffer[4];
    ASSERT_EQ(0, setvbuf(file, buffer, _IOFBF, sizeof buffer));
    char *line = nullptr;
    size_t capacity = 0;
    std::vector<std::string> lines;
    ssize_t length;
    while ((length = _torvel_getline(&line, &capacity, file)) >= 0) {
        lines.push_back(std::string(line, static_cast<size_t>(length)));
        if (lines.size() == 1) {
            EXPECT_EQ('y', getc(file));  // the next byte is the next line's
            ungetc('y', file);
        }
    }
    free(line);
    fclose(file);
    EXPECT_EQ(lines,
              (std::vector<std::string>{"one\n", std::string(37, 'y') + "\n", "\n", "last"}));
}

// readLine used fgets, which gives up a partly read line on EINTR.
TEST(LineReadTest, ReadLineGoesOnAfterInterrupts) {
    SlowPipe pipe(kPieces);
    ASSERT_NE(pipe.stream(), nullptr);
    InterruptingTimer timer;
    MyString line;
    std::vector<std::string> lines;
    while (line.readLine(pipe.stream())) {
        lines.push_back(line.Value());
    }
    EXPECT_GT(timer.Interrupts(), 5);
    EXPECT_EQ(lines, (std::vector<std::string>{"first half rest\n", "second\n", "last"}));
}

}  // namespace
