// Tests of path joining and splitting: dircat, torvel_basename and
// torvel_dirname with their C names basename and dirname, and fullpath.
#include <gtest/gtest.h>
#include <stdlib.h>

#include "files/path_helpers.h"

// The library's C-named functions, reached by symbol name: <string.h> and
// <libgen.h> declare these names differently in C++.
extern "C" char *torvel_test_c_basename(const char *path) __asm__("basename");
extern "C" char *torvel_test_c_dirname(const char *path) __asm__("dirname");

namespace {

TEST(Dircat, JoinsWithExactlyOneSeparator) {
    struct Case {
        const char *dir, *name, *want;
    } cases[] = {
        {"/a", "b", "/a/b"}, {"/a/", "b", "/a/b"},  {"/", "b", "/b"},
        {"a", "", "a/"},     {"a\\", "b", "a\\/b"},
    };
    for (const Case &c : cases) {
        char *joined = dircat(c.dir, c.name);
        EXPECT_STREQ(joined, c.want) << c.dir << " + " << c.name;
        delete[] joined;
    }
}

// Regression: the plain "%s%c%s" join turned a relative name into one
// under the root directory.
TEST(Dircat, EmptyDirectoryGivesTheNameAlone) {
    char *joined = dircat("", "name");
    EXPECT_STREQ(joined, "name");
    delete[] joined;
}

TEST(Basename, PointsAfterTheLastSeparatorOfEitherKind) {
    const char *mixed = "a/b\\c";
    EXPECT_EQ(torvel_basename(mixed), mixed + 4);
    const char *plain = "abc";
    EXPECT_EQ(torvel_basename(plain), plain);
    EXPECT_STREQ(torvel_basename("a/"), "");
    EXPECT_STREQ(torvel_basename(nullptr), "");
    EXPECT_EQ(torvel_test_c_basename(mixed), mixed + 4);
}

TEST(Dirname, CopiesEverythingBeforeTheLastSeparator) {
    struct Case {
        const char *path, *want;
    } cases[] = {
        {"/a", "/"},   {"a/b/c", "a/b"}, {"abc", "."},    {nullptr, "."},
        {"a\\b", "a"}, {"\\x", "\\"},    {"a/b/", "a/b"}, {"//a", "/"},
    };
    for (const Case &c : cases) {
        char *dir = torvel_dirname(c.path);
        EXPECT_STREQ(dir, c.want) << (c.path ? c.path : "(null)");
        free(dir);
    }
}

// The C name dirname stays the platform's (in place, nothing to free): code
// outside the library, such as libFuzzer's driver, relies on that.
TEST(Dirname, TheCNameKeepsThePlatformsMeaning) {
    char path[] = "x/y/z";
    char *dir = torvel_test_c_dirname(path);
    EXPECT_EQ(dir, path);
    EXPECT_STREQ(dir, "x/y");
}

TEST(Fullpath, RootedOrDriveLetterPaths) {
    for (const char *yes : {"/x", "\\x", "D:/x", "D:\\x", "/"}) {
        EXPECT_TRUE(fullpath(yes)) << yes;
    }
    for (const char *no : {"x", "D:x", "", "D:", ":/x"}) {
        EXPECT_FALSE(fullpath(no)) << no;
    }
    EXPECT_FALSE(fullpath(nullptr));
}

}  // namespace
