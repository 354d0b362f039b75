// Tests of the logical-line reader: trimming, continuation lines, line
// counting (also of a last line without newline), NUL bytes and long lines,
// and the blankline/ltrunc helpers.
#include "config/line_reader.h"

#include <gtest/gtest.h>
#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

namespace {

// Reads every logical line of bytes; nul_flags gets each line's NUL flag.
std::vector<std::string> ReadAll(const std::string &bytes, std::vector<bool> *nul_flags = nullptr,
                                 int initial_size = 128) {
    FILE *file = fmemopen(const_cast<char *>(bytes.data()), bytes.size(), "r");
    std::vector<std::string> lines;
    if (file == nullptr) {
        ADD_FAILURE() << "fmemopen failed";
        return lines;
    }
    ConfigLineNo = 0;
    int problems = 0;
    while (char *line = read_logical_line(file, initial_size, &problems)) {
        lines.emplace_back(line);
        EXPECT_EQ(0, problems & LINE_TOO_LONG);
        if (nul_flags != nullptr) {
            nul_flags->push_back((problems & LINE_HAS_NUL) != 0);
        }
    }
    fclose(file);
    return lines;
}

TEST(LineReaderTest, TrimsBothEndsOfEachLine) {
    auto lines = ReadAll("  A = 1  \n\tB=2\t\r\n\n   \n");
    std::vector<std::string> expected{"A = 1", "B=2", "", ""};
    EXPECT_EQ(expected, lines);
    EXPECT_EQ(4, ConfigLineNo);
}

TEST(LineReaderTest, ContinuationJoinsWithoutSeparator) {
    auto lines = ReadAll("A = x \\\n   y\nB = 1\\\n2\\\n  3\nC\n");
    std::vector<std::string> expected{"A = x y", "B = 123", "C"};
    EXPECT_EQ(expected, lines);
    EXPECT_EQ(6, ConfigLineNo);
}

TEST(LineReaderTest, OnlyAFinalBackslashContinues) {
    // Trailing blanks go first, so "c\ " ends in a backslash after
    // trimming; at end of input the backslash stays.
    auto lines = ReadAll("A = a\\b\nB = c\\ \n");
    std::vector<std::string> expected{"A = a\\b", "B = c\\"};
    EXPECT_EQ(expected, lines);
}

TEST(LineReaderTest, CountsPhysicalLinesAcrossContinuations) {
    FILE *file = fmemopen(const_cast<char *>("a \\\nb \\\nc\nd\n"), 12, "r");
    ASSERT_NE(nullptr, file);
    ConfigLineNo = 0;
    ASSERT_STREQ("a b c", read_logical_line(file, 128));
    EXPECT_EQ(3, ConfigLineNo);
    ASSERT_STREQ("d", read_logical_line(file, 128));
    EXPECT_EQ(4, ConfigLineNo);
    EXPECT_EQ(nullptr, read_logical_line(file, 128));
    EXPECT_EQ(nullptr, read_logical_line(file, 128));
    fclose(file);
}

TEST(LineReaderTest, LastLineWithoutNewlineIsTrimmedAndCounted) {
    auto lines = ReadAll("A = 1\n  B = 2   ");
    std::vector<std::string> expected{"A = 1", "B = 2"};
    EXPECT_EQ(expected, lines);
    EXPECT_EQ(2, ConfigLineNo);
}

TEST(LineReaderTest, BackslashOnTheLastLineStays) {
    EXPECT_EQ(std::vector<std::string>{"A = x \\"}, ReadAll("A = x \\\n"));
    EXPECT_EQ(std::vector<std::string>{"A = x \\"}, ReadAll("A = x \\"));
}

TEST(LineReaderTest, EmptyInputGivesNoLine) {
    EXPECT_TRUE(ReadAll("").empty());
    EXPECT_EQ(0, ConfigLineNo);
}

TEST(LineReaderTest, LongLinesAreReadWhole) {
    std::string value(100000, 'v');
    for (int initial : {1, 6, 128, 4096}) {
        auto lines = ReadAll("A = " + value + "\nB = 1\n", nullptr, initial);
        ASSERT_EQ(2u, lines.size()) << initial;
        EXPECT_EQ("A = " + value, lines[0]);
        EXPECT_EQ("B = 1", lines[1]);
    }
}

TEST(LineReaderTest, LongContinuedLinesAreReadWhole) {
    std::string part(5000, 'p');
    auto lines = ReadAll(part + "\\\n" + part + "\\\n" + part + "\n");
    ASSERT_EQ(1u, lines.size());
    EXPECT_EQ(part + part + part, lines[0]);
}

TEST(LineReaderTest, NulBytesAreReportedNotHidden) {
    std::vector<bool> flags;
    auto lines = ReadAll(std::string("A = 1\nB = x\0y\nC = 3\n", 20), &flags);
    ASSERT_EQ(3u, lines.size());
    EXPECT_EQ((std::vector<bool>{false, true, false}), flags);
    EXPECT_EQ("C = 3", lines[2]);
}

TEST(LineReaderTest, LinesStopAtTheLengthBound) {
    FILE *zeros = fopen("/dev/zero", "r");
    ASSERT_NE(nullptr, zeros);
    ConfigLineNo = 0;
    int problems = 0;
    ASSERT_NE(nullptr, read_logical_line(zeros, 128, &problems));
    EXPECT_EQ(LINE_HAS_NUL | LINE_TOO_LONG, problems);
    EXPECT_EQ(1, ConfigLineNo);
    fclose(zeros);
    release_logical_line_buffer();

    std::string exact(LOGICAL_LINE_MAX - 1, 'x');
    auto lines = ReadAll(exact + "\nnext\n");
    ASSERT_EQ(2u, lines.size());
    EXPECT_EQ(exact.size(), lines[0].size());
}

// Lines are read in pieces of a few hundred bytes into a buffer that starts
// at 128 bytes: every length around those sizes keeps every byte, and a NUL
// is seen wherever it falls.
TEST(LineReaderTest, LinesAcrossReadPiecesKeepEveryByte) {
    for (size_t length : {1,   5,   6,   121, 122, 123, 127,  128,  129,  254, 255,
                          256, 257, 258, 511, 512, 513, 4095, 4096, 4097, 9000}) {
        std::string line;
        for (size_t i = 0; i < length; ++i) {
            line += static_cast<char>('a' + i % 26);
        }
        std::vector<std::string> lines = ReadAll(line + "\nnext\n" + line);
        ASSERT_EQ(3u, lines.size()) << length;
        EXPECT_EQ(line, lines[0]) << length;
        EXPECT_EQ("next", lines[1]);
        EXPECT_EQ(line, lines[2]) << length;

        std::string with_nul = line;
        with_nul[length - 1] = '\0';
        std::vector<bool> nul;
        lines = ReadAll(with_nul + "\nafter\n", &nul);
        ASSERT_EQ(2u, lines.size()) << length;
        EXPECT_TRUE(nul[0]) << length;
        EXPECT_FALSE(nul[1]) << length;
        EXPECT_EQ("after", lines[1]);
    }
}

// Sources are read in blocks of 64 KiB; a line that lies whole in a block
// is returned in place, one that crosses a block's end is gathered. Moving
// a continued line, a NUL and trailing blanks across that end byte by byte
// must change nothing.
TEST(LineReaderTest, LinesAcrossTheBlockEndReadAsWithinIt) {
    constexpr size_t kBlock = 64 * 1024;
    const char kTail[] = "  A = x \\\n  y  \nB = 1\0 2\nC = 3   \n\tD=4";
    const std::string tail(kTail, sizeof kTail - 1);
    for (size_t shift = 1; shift <= tail.size(); ++shift) {
        // Comment lines filling all but the last `shift` bytes of a block.
        std::string filler;
        size_t comments = 0;
        while (filler.size() < kBlock - shift) {
            size_t left = kBlock - shift - filler.size();
            size_t length = left > 150 ? 100 : left - 2;
            filler += "#" + std::string(length, 'c') + "\n";
            ++comments;
        }
        ASSERT_EQ(kBlock - shift, filler.size());
        std::vector<bool> nul;
        std::vector<std::string> lines = ReadAll(filler + tail, &nul);
        ASSERT_EQ(comments + 4, lines.size()) << shift;
        for (size_t i = 0; i < comments; ++i) {
            ASSERT_EQ('#', lines[i][0]) << shift << " " << i;
        }
        EXPECT_EQ("A = x y", lines[comments]) << shift;
        EXPECT_EQ("B = 1", lines[comments + 1]) << shift;
        EXPECT_EQ("C = 3", lines[comments + 2]) << shift;
        EXPECT_EQ("D=4", lines[comments + 3]) << shift;
        EXPECT_EQ((std::vector<bool>{false, true, false, false}),
                  std::vector<bool>(nul.begin() + comments, nul.end()))
            << shift;
        EXPECT_EQ(static_cast<int>(comments + 5), ConfigLineNo) << shift;
    }
}

TEST(LineReaderTest, ContinuationAtEndOfFileKeepsItsBackslash) {
    std::string first(300, 'x');
    std::vector<std::string> lines = ReadAll(first + " \\\n  y \\\n");
    ASSERT_EQ(1u, lines.size());
    EXPECT_EQ(first + " y \\", lines[0]);
}

TEST(LineReaderTest, NonAsciiBytesPassThrough) {
    auto lines = ReadAll("A = caf\xc3\xa9 \xff\n");
    ASSERT_EQ(1u, lines.size());
    EXPECT_EQ("A = caf\xc3\xa9 \xff", lines[0]);
}

TEST(LineReaderTest, BlanklineAndLtrunc) {
    EXPECT_TRUE(blankline(""));
    EXPECT_TRUE(blankline(" \t\r\n\v\f"));
    EXPECT_FALSE(blankline("  x "));
    EXPECT_FALSE(blankline("\xa0"));  // not white space in the C locale

    char text[] = "  \t word  more \n\t ";
    char *first = ltrunc(text);
    EXPECT_STREQ("word  more", first);
    EXPECT_STREQ("  \t word  more", text);
    char blank[] = "   ";
    EXPECT_STREQ("", ltrunc(blank));
}

}  // namespace
