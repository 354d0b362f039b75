// Tests of AdFileReader: blocks of assignments separated by blank lines,
// comments, line numbers of bad lines, read errors, and input arriving in
// pieces of any size.
#include "classad/ad_file_reader.h"

#include <errno.h>
#include <string.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "classad/attr_list.h"
#include "classad/class_ad.h"
#include "gtest/gtest.h"

namespace {

// A read function handing out text at most piece bytes at a time, then
// failing with fail_errno when it is non-zero instead of ending.
AdFileReader::ReadFunction Pieces(std::string text, size_t piece, int fail_errno = 0) {
    auto offset = std::make_shared<size_t>(0);
    return [text, piece, fail_errno, offset](char *buffer, size_t size) -> ssize_t {
        size_t left = text.size() - *offset;
        if (left == 0 && fail_errno != 0) {
            errno = fail_errno;
            return -1;
        }
        size_t n = std::min({left, size, piece});
        memcpy(buffer, text.data() + *offset, n);
        *offset += n;
        return static_cast<ssize_t>(n);
    };
}

int IntOf(AttrList &ad, const char *name) {
    int value = -1;
    EXPECT_TRUE(ad.LookupInteger(name, value)) << name;
    return value;
}

TEST(AdFileReader, BlocksSeparatedByBlankLinesAreAdsWhateverThePieceSize) {
    const std::string text =
        "# pool\n\nA = 1\nB = 2\n\n\n  \t\n# between\nA = 3\r\n# inside\nC = A + 1\n\nD = 4";
    for (size_t piece : {1u, 2u, 7u, 100000u}) {
        AdFileReader reader(Pieces(text, piece));
        std::vector<std::vector<int>> seen;
        for (;;) {
            AttrList ad;
            AdFileReader::Status status = reader.Next(ad);
            if (status == AdFileReader::kEnd) {
                break;
            }
            ASSERT_EQ(status, AdFileReader::kAd) << piece;
            std::vector<int> values;
            for (const char *name : {"A", "B", "D"}) {
                int value = 0;
                values.push_back(ad.LookupInteger(name, value) ? value : -1);
            }
            seen.push_back(values);
        }
        std::vector<std::vector<int>> want = {{1, 2, -1}, {3, -1, -1}, {-1, -1, 4}};
        EXPECT_EQ(seen, want) << piece;
        AttrList after;
        EXPECT_EQ(reader.Next(after), AdFileReader::kEnd);
    }
}

TEST(AdFileReader, ReadAllTakesEveryBlockAsOneAdAndLaterNamesReplace) {
    AdFileReader reader(Pieces("A = 1\n\nB = 2\n\nA = 3\n", 3));
    AttrList ad;
    ASSERT_EQ(reader.ReadAll(ad), AdFileReader::kAd);
    EXPECT_EQ(IntOf(ad, "A"), 3);
    EXPECT_EQ(IntOf(ad, "B"), 2);

    AdFileReader empty(Pieces("", 1));
    AttrList none;
    EXPECT_EQ(empty.ReadAll(none), AdFileReader::kAd);
    EXPECT_EQ(empty.Line(), 0);
}

TEST(AdFileReader, BadLineIsNamedByNumberAndTextAndStaysBad) {
    AdFileReader reader(Pieces("A = 1\n\n# c\nB = 2\n   C = = 3\nD = 4\n", 5));
    AttrList first;
    ASSERT_EQ(reader.Next(first), AdFileReader::kAd);
    AttrList second;
    EXPECT_EQ(reader.Next(second), AdFileReader::kBadLine);
    EXPECT_EQ(reader.Line(), 5);
    EXPECT_EQ(reader.BadLine(), "C = = 3");
    AttrList third;
    EXPECT_EQ(reader.Next(third), AdFileReader::kBadLine);
}

TEST(AdFileReader, NulInsideALineIsABadLineNotATruncatedOne) {
    std::string text("A = 1\nB = 2", 11);
    text += std::string("\0junk\n", 6);
    AdFileReader reader(Pieces(text, 4));
    AttrList ad;
    EXPECT_EQ(reader.Next(ad), AdFileReader::kBadLine);
    EXPECT_EQ(reader.Line(), 2);
    EXPECT_EQ(reader.BadLine().size(), 10u);
}

TEST(AdFileReader, ReadErrorIsNeverTakenForTheEnd) {
    AdFileReader reader(Pieces("A = 1\n\nB = 2\n", 4, EIO));
    AttrList first;
    ASSERT_EQ(reader.Next(first), AdFileReader::kAd);
    AttrList second;
    EXPECT_EQ(reader.Next(second), AdFileReader::kReadError);
    EXPECT_EQ(reader.Errno(), EIO);

    AdFileReader whole(Pieces("A = 1\n", 100, EIO));
    AttrList ad;
    EXPECT_EQ(whole.ReadAll(ad), AdFileReader::kReadError);
}

TEST(AdFileReader, ClassAdsTakeTheirTypesFromTheirBlock) {
    FILE *file = tmpfile();
    ASSERT_NE(file, nullptr);
    fputs("MyType = \"Machine\"\nTargetType = \"Job\"\nMemory = 64\n\nMyType = \"Job\"\n", file);
    rewind(file);
    AdFileReader reader(file);
    ClassAd machine;
    ASSERT_EQ(reader.NextClassAd(machine), AdFileReader::kAd);
    EXPECT_STREQ(machine.GetMyTypeName(), "Machine");
    EXPECT_STREQ(machine.GetTargetTypeName(), "Job");
    EXPECT_EQ(machine.Lookup("MyType"), nullptr);
    ClassAd job;
    ASSERT_EQ(reader.NextClassAd(job), AdFileReader::kAd);
    EXPECT_STREQ(job.GetMyTypeName(), "Job");
    ClassAd none;
    EXPECT_EQ(reader.NextClassAd(none), AdFileReader::kEnd);
    fclose(file);
}

}  // namespace
