// Tests of temp_dir_path and create_temp_file: the configured directory,
// the name and mode of the file, collisions with existing names and links
// planted at the next names, and the limit of nine names.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <string>

#include "config/macro_table.h"
#include "files/path_helpers.h"
#include "tests/files/files_test_support.h"

namespace {

class TempFileTest : public testing::Test {
 protected:
    void SetUp() override {
        ASSERT_FALSE(tree_.root().empty());
        dir_ = tree_.Path("t");
        ASSERT_EQ(mkdir(dir_.c_str(), 0755), 0);
        saved_umask_ = umask(022);
        ASSERT_EQ(insert("TEMP_DIR", dir_.c_str(), ConfigTab, CONFIG_TABLE_SIZE), 0);
    }
    void TearDown() override {
        clear_macro_table(ConfigTab, CONFIG_TABLE_SIZE);
        umask(saved_umask_);
    }

    // The name create_temp_file makes for time t.
    std::string NameAt(long t) const {
        return dir_ + "/tmp." + std::to_string(getpid()) + "." + std::to_string(t);
    }

    // Plants regular files at the names of t0 .. t0 + count - 1, calls
    // create_temp_file, and repeats the whole when the clock moved on
    // meanwhile. Returns the created name ("" for null) and sets t0.
    std::string CreateAfterPlanting(int count, long *t0) {
        for (int attempt = 0; attempt < 5; attempt++) {
            long start = static_cast<long>(time(nullptr));
            for (int i = 0; i < count; i++) {
                WriteFile(NameAt(start + i), "planted");
            }
            char *name = create_temp_file();
            long end = static_cast<long>(time(nullptr));
            std::string result = name != nullptr ? name : "";
            free(name);
            if (start == end) {
                *t0 = start;
                return result;
            }
            if (!result.empty()) {
                unlink(result.c_str());
            }
        }
        ADD_FAILURE() << "the clock kept moving during create_temp_file";
        return "";
    }

    ScratchTree tree_;
    std::string dir_;
    mode_t saved_umask_ = 022;
};

TEST_F(TempFileTest, TempDirPathPrefersTmpDirThenTempDirThenSlashTmp) {
    char *dir = temp_dir_path();
    EXPECT_STREQ(dir, dir_.c_str());
    free(dir);
    ASSERT_EQ(insert("TMP_DIR", "/first", ConfigTab, CONFIG_TABLE_SIZE), 0);
    dir = temp_dir_path();
    EXPECT_STREQ(dir, "/first");
    free(dir);
    clear_macro_table(ConfigTab, CONFIG_TABLE_SIZE);
    dir = temp_dir_path();
    EXPECT_STREQ(dir, "/tmp");
    free(dir);
}

TEST_F(TempFileTest, CreatesAnEmptyPrivateFileNamedByPidAndTime) {
    long t0 = 0;
    std::string name = CreateAfterPlanting(0, &t0);
    ASSERT_EQ(name, NameAt(t0));
    struct stat buf;
    ASSERT_EQ(lstat(name.c_str(), &buf), 0);
    EXPECT_TRUE(S_ISREG(buf.st_mode));
    EXPECT_EQ(buf.st_mode & 07777, 0600u);
    EXPECT_EQ(buf.st_size, 0);
}

TEST_F(TempFileTest, ExistingNamesAreSkippedUpToNineNames) {
    long t0 = 0;
    std::string created = CreateAfterPlanting(3, &t0);
    EXPECT_EQ(created, NameAt(t0 + 3));
    EXPECT_EQ(ReadFile(NameAt(t0)), "planted");  // left as it was
    created = CreateAfterPlanting(8, &t0);
    EXPECT_EQ(created, NameAt(t0 + 8));
    EXPECT_EQ(CreateAfterPlanting(9, &t0), "");
}

// Links planted at the coming names, one to a file outside the directory
// and one dangling: neither is followed (the outside file keeps its
// content and mode, the dangling target is not created).
TEST_F(TempFileTest, PlantedLinksAreNeverFollowed) {
    std::string victim = tree_.Path("victim");
    std::string lure = tree_.Path("lure");
    ASSERT_TRUE(WriteFile(victim, "keep", 0644));
    for (int attempt = 0; attempt < 5; attempt++) {
        long start = static_cast<long>(time(nullptr));
        ASSERT_EQ(symlink(victim.c_str(), NameAt(start).c_str()), 0);
        ASSERT_EQ(symlink(lure.c_str(), NameAt(start + 1).c_str()), 0);
        char *name = create_temp_file();
        long end = static_cast<long>(time(nullptr));
        ASSERT_NE(name, nullptr);
        std::string created = name;
        free(name);
        if (start == end) {
            EXPECT_EQ(created, NameAt(start + 2));
            break;
        }
        unlink(created.c_str());
        unlink(NameAt(start).c_str());
        unlink(NameAt(start + 1).c_str());
    }
    EXPECT_EQ(ReadFile(victim), "keep");
    struct stat buf;
    ASSERT_EQ(stat(victim.c_str(), &buf), 0);
    EXPECT_EQ(buf.st_mode & 07777, 0644u);
    EXPECT_NE(access(lure.c_str(), F_OK), 0);
}

TEST_F(TempFileTest, OverlongDirectoryGivesNullNotACutName) {
    std::string long_dir = "/" + std::string(495, 'x');
    ASSERT_EQ(insert("TMP_DIR", long_dir.c_str(), ConfigTab, CONFIG_TABLE_SIZE), 0);
    EXPECT_EQ(create_temp_file(), nullptr);
}

TEST_F(TempFileTest, MissingDirectoryGivesNull) {
    ASSERT_EQ(insert("TMP_DIR", tree_.Path("absent").c_str(), ConfigTab, CONFIG_TABLE_SIZE), 0);
    EXPECT_EQ(create_temp_file(), nullptr);
}

}  // namespace
