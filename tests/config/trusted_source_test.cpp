// Tests of the check of files that steer a root process, through the
// ClassAd plug-in library named by CLASSAD_LIB_PATH: a library that others
// could have changed is never loaded while root. Loading is seen from the
// outside: the test library's constructor, which runs inside dlopen,
// leaves a marker file. Each case loads its own copy of the library, since
// a loaded library stays loaded.
#include "config/trusted_source.h"

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "config/macro_table.h"
#include "core/my_string.h"
#include "diagnostics/debug_log.h"
#include "gtest/gtest.h"
#include "tests/classad/eval_test_util.h"
#include "tests/support/capture.h"
#include "tests/support/temp_dir.h"

namespace {

const char kLibrarySource[] =
    "#include <fcntl.h>\n"
    "#include <stdlib.h>\n"
    "#include <unistd.h>\n"
    "__attribute__((constructor)) static void loaded(void) {\n"
    "    const char *marker = getenv(\"TRUSTED_SOURCE_TEST_MARKER\");\n"
    "    if (marker != 0) close(open(marker, O_WRONLY | O_CREAT, 0600));\n"
    "}\n"
    "void plugin_probe(int count, void *args, void *result) {\n"
    "    (void)count; (void)args; (void)result;\n"
    "}\n";

class TrustedLibraryTest : public testing::Test {
 protected:
    static void SetUpTestSuite() {
        built_ = new torvel_test::TempDir("trusted_source_test");
        std::string source = built_->Write("plugin.c", kLibrarySource);
        std::string library = built_->Path("plugin.so");
        std::string command = "cc -shared -fPIC -o " + library + " " + source;
        ASSERT_EQ(system(command.c_str()), 0) << command;
        bytes_ = torvel_test::ReadFile(library);
    }
    static void TearDownTestSuite() {
        delete built_;
        built_ = nullptr;
    }
    void SetUp() override {
        if (geteuid() != 0) {
            GTEST_SKIP() << "needs root: the trusted files belong to root";
        }
        ASSERT_FALSE(bytes_.empty());
    }
    void TearDown() override {
        clear_macro_table(ConfigTab, CONFIG_TABLE_SIZE);
        unsetenv("TRUSTED_SOURCE_TEST_MARKER");
    }

    // A fresh copy of the library at name in the scratch directory.
    std::string Copy(const std::string &name, mode_t mode = 0755) {
        std::string path = dir_.Path(name);
        EXPECT_TRUE(torvel_test::WriteFile(path, bytes_, mode));
        return path;
    }
    // Calls the library's function with CLASSAD_LIB_PATH = path; true when
    // the library was loaded (its constructor ran).
    bool Loads(const std::string &path) {
        std::string marker = path + ".loaded";
        setenv("TRUSTED_SOURCE_TEST_MARKER", marker.c_str(), 1);
        insert("CLASSAD_LIB_PATH", path.c_str(), ConfigTab, CONFIG_TABLE_SIZE);
        EXPECT_EQ(classad_eval_test::Eval("plugin_probe()"), "UNDEFINED");
        return access(marker.c_str(), F_OK) == 0;
    }

    static torvel_test::TempDir *built_;
    static std::string bytes_;
    torvel_test::TempDir dir_{"trusted_source_test"};
};

torvel_test::TempDir *TrustedLibraryTest::built_ = nullptr;
std::string TrustedLibraryTest::bytes_;

TEST_F(TrustedLibraryTest, LibraryOthersCanWriteIsNotLoaded) {
    EXPECT_TRUE(Loads(Copy("sound.so", 0755)));
    DebugCapture log(D_ALWAYS);
    std::string world = Copy("world.so", 0757);
    EXPECT_FALSE(Loads(world));
    EXPECT_NE(log.text().find("Library " + world + " (" + world +
                              ") not loaded while running as root: writable by others "
                              "(mode 0757)"),
              std::string::npos)
        << log.text();
    EXPECT_FALSE(Loads(Copy("group.so", 0775)));
}

TEST_F(TrustedLibraryTest, LibraryOwnedByAnotherAccountIsNotLoaded) {
    std::string theirs = Copy("theirs.so");
    ASSERT_EQ(chown(theirs.c_str(), 4243, 4243), 0);
    EXPECT_FALSE(Loads(theirs));
}

// A library is loaded by name after the check, so a directory others can
// write would let them swap it in between; a link is judged by its target.
TEST_F(TrustedLibraryTest, LibraryInADirectoryOthersCanWriteIsNotLoaded) {
    std::string open_dir = dir_.MakeDir("open", 01777);
    ASSERT_EQ(chmod(open_dir.c_str(), 01777), 0);
    std::string inside = Copy("open/lib.so");
    EXPECT_FALSE(Loads(inside));
    std::string link = dir_.Path("link.so");
    ASSERT_EQ(symlink(inside.c_str(), link.c_str()), 0);
    EXPECT_FALSE(Loads(link));
    EXPECT_FALSE(Loads("plugin_probe_name_without_a_slash.so"));
}

TEST(TrustedStatusTest, OwnerAndModeBitsDecide) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "needs root: trust is judged for a root process";
    }
    struct stat info = {};
    info.st_uid = 0;
    info.st_mode = S_IFREG | 0644;
    MyString reason;
    EXPECT_TRUE(_torvel_trusted_status(info, &reason));
    info.st_mode = S_IFREG | 06755;  // set-id bits change nobody's access
    EXPECT_TRUE(_torvel_trusted_status(info, &reason));
    info.st_mode = S_IFREG | 0602;
    EXPECT_FALSE(_torvel_trusted_status(info, &reason));
    EXPECT_STREQ(reason.Value(), "writable by others (mode 0602)");
    info.st_mode = S_IFDIR | 0775;
    EXPECT_FALSE(_torvel_trusted_status(info, nullptr));
    info.st_mode = S_IFIFO | 0622;  // others could feed it
    EXPECT_FALSE(_torvel_trusted_status(info, nullptr));
    info.st_mode = S_IFCHR | 0666;  // /dev/null
    EXPECT_TRUE(_torvel_trusted_status(info, nullptr));
    // The test program's service account is its own uid (root), so any
    // other owner is refused.
    info.st_mode = S_IFREG | 0600;
    info.st_uid = 65534;
    EXPECT_FALSE(_torvel_trusted_status(info, &reason));
    EXPECT_STREQ(reason.Value(),
                 "owned by uid 65534, which is neither root nor the service account");
}

}  // namespace
