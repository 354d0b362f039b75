// Tests of runtime and persistent configuration: the files written for each
// administrator name and read back at the next start, the top-level path
// per subsystem, the order of runtime items, the enable flags read once,
// the precedence of runtime, persistent and root settings, and the broken
// or refused cases. Each scenario runs the helper dynamic_config_probe,
// whose global and root sources are named by TORVEL_CONFIG and
// TORVEL_CONFIG_ROOT, so no source of the machine is ever read; the
// service account is "nobody" (TORVEL_IDS).
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "tests/support/run_program.h"
#include "tests/support/temp_dir.h"

namespace {

const char kProbe[] = TORVEL_BINARY_DIR "/tests/dynamic_config_probe";

using torvel_test::ReadFile;
using torvel_test::WriteFile;

bool Exists(const std::string &path) {
    return access(path.c_str(), F_OK) == 0;
}

class DynamicConfigTest : public testing::Test {
 protected:
    void SetUp() override {
        ASSERT_FALSE(dir_.path().empty());
        global_ = dir_.Write("global", "");
        root_ = dir_.Write("root", "");
        pdir_ = dir_.MakeDir("p");
        top_ = pdir_ + "/.config.STARTD";
    }

    void Global(const std::string &text) { ASSERT_TRUE(WriteFile(global_, text)); }
    std::string Persistent() const {
        return "ENABLE_PERSISTENT_CONFIG = true\nPERSISTENT_CONFIG_DIR = " + pdir_ + "\n";
    }

    torvel_test::ProgramRun Probe(const std::string &subsystem, std::vector<std::string> steps) {
        std::vector<std::string> env = {"PATH=/usr/bin:/bin", "TORVEL_CONFIG=" + global_,
                                        "TORVEL_CONFIG_ROOT=" + root_, "TORVEL_IDS=65534.65534"};
        for (const std::string &keep : torvel_test::SanitizerEnv()) env.push_back(keep);
        steps.insert(steps.begin(), subsystem);
        torvel_test::ProgramRun run = torvel_test::RunProgram(kProbe, steps, env);
        EXPECT_TRUE(run.failure.empty() && !run.timed_out) << run.failure;
        return run;
    }

    torvel_test::TempDir dir_{"dynamic_config_test"};
    std::string global_, root_, pdir_, top_;
};

TEST_F(DynamicConfigTest, PersistentSettingsAreStoredAndReadAtTheNextStart) {
    Global(Persistent());
    auto r = Probe("STARTD", {"load", "setp", "a", "X = 1", "setp", "b", "Y = 2"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "setp a=0\nsetp b=0\n");
    EXPECT_EQ(ReadFile(top_ + ".a"), "X = 1");
    EXPECT_EQ(ReadFile(top_ + ".b"), "Y = 2");
    EXPECT_EQ(ReadFile(top_), "RUNTIME_CONFIG_ADMIN = a, b\n");

    // A name already listed leaves the top-level file alone.
    struct stat before, after;
    ASSERT_EQ(stat(top_.c_str(), &before), 0);
    r = Probe("STARTD", {"load", "get", "X", "get", "Y", "setp", "a", "X = 3"});
    EXPECT_EQ(r.out, "X=1 [" + top_ + ".a:1]\nY=2 [" + top_ + ".b:1]\nsetp a=0\n") << r.err;
    ASSERT_EQ(stat(top_.c_str(), &after), 0);
    EXPECT_EQ(before.st_ino, after.st_ino);
    EXPECT_EQ(ReadFile(top_ + ".a"), "X = 3");

    r = Probe("STARTD", {"load", "get", "X", "setp", "a", "-"});
    EXPECT_EQ(r.out, "X=3 [" + top_ + ".a:1]\nsetp a=0\n") << r.err;
    EXPECT_FALSE(Exists(top_ + ".a"));
    EXPECT_EQ(ReadFile(top_), "RUNTIME_CONFIG_ADMIN = b\n");
    r = Probe("STARTD", {"load", "setp", "b", ""});
    EXPECT_EQ(r.out, "setp b=0\n") << r.err;
    EXPECT_FALSE(Exists(top_ + ".b"));
    EXPECT_FALSE(Exists(top_));
}

TEST_F(DynamicConfigTest, TopLevelPathComesFromTheSubsystemKeyOrTheDirectory) {
    Global("ENABLE_PERSISTENT_CONFIG = true\n");
    auto r = Probe("SCHEDD", {"load"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err,
              "Torvel error: ENABLE_PERSISTENT_CONFIG is TRUE, but neither SCHEDD_CONFIG nor "
              "PERSISTENT_CONFIG_DIR is specified in the configuration file\n");
    r = Probe("TOOL", {"load", "get", "ENABLE_PERSISTENT_CONFIG"});
    EXPECT_EQ(r.status, 0) << r.err;

    Global("ENABLE_PERSISTENT_CONFIG = true\nSCHEDD_CONFIG = " + pdir_ + "/sched\n");
    r = Probe("SCHEDD", {"load", "setp", "a", "Z = 1"});
    EXPECT_EQ(r.out, "setp a=0\n") << r.err;
    EXPECT_EQ(ReadFile(pdir_ + "/sched.a"), "Z = 1");
}

// Removing an item moves the last one into its place, so the items are
// read as c, b afterwards and b's value wins.
TEST_F(DynamicConfigTest, RuntimeItemsApplyAtTheNextLoadInArrayOrder) {
    Global("ENABLE_RUNTIME_CONFIG = true\nV = global\n");
    auto r = Probe("TOOL",
                   {"load",  "setr", "a", "V = a", "setr", "b",    "V = b", "setr", "c",    "V = c",
                    "setr",  "a",    "-", "get",   "V",    "load", "get",   "V",    "setr", "b",
                    "W = 1", "setr", "",  "X = 1", "load", "get",  "V",     "get",  "W"});
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<std::string> lines;
    for (size_t at = 0, nl; (nl = r.out.find('\n', at)) != std::string::npos; at = nl + 1) {
        lines.push_back(r.out.substr(at, nl - at));
    }
    ASSERT_EQ(lines.size(), 10u) << r.out;
    EXPECT_EQ(lines[3], "setr a=0");
    EXPECT_EQ(lines[4], "V=global [" + global_ + ":2]");  // not before the next load
    EXPECT_EQ(lines[5], "V=b [<runtime config b>:1]");
    EXPECT_EQ(lines[7], "setr =-1");
    EXPECT_EQ(lines[8], "V=c [<runtime config c>:1]");
    EXPECT_EQ(lines[9], "W=1 [<runtime config b>:1]");
}

TEST_F(DynamicConfigTest, EnableFlagsAreReadOnlyAtTheFirstLoad) {
    Global("V = 1\n");
    auto r = Probe("TOOL", {"load", "write", global_, "ENABLE_RUNTIME_CONFIG = true\n", "load",
                            "get", "ENABLE_RUNTIME_CONFIG", "setr", "a", "V = 2"});
    EXPECT_EQ(r.out, "ENABLE_RUNTIME_CONFIG=true [" + global_ + ":1]\nsetr a=-1\n") << r.err;
}

// Runtime settings win over persistent ones, and the root source, read
// again after them, wins over both.
TEST_F(DynamicConfigTest, RootSourceIsReadAgainAfterDynamicSettings) {
    ASSERT_TRUE(WriteFile(root_, "R = root\n"));
    Global("ENABLE_RUNTIME_CONFIG = true\n" + Persistent() + "R = global\nP = global\n");
    auto r = Probe("STARTD",
                   {"load", "setp", "p", "P = persistent\nR = persistent\nS = persistent\n", "setr",
                    "r", "P = runtime\nR = runtime\n", "load", "get", "R", "get", "P", "get", "S"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("R=root [" + root_ + ":1]\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("P=runtime [<runtime config r>:1]\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("S=persistent [" + top_ + ".p:3]\n"), std::string::npos) << r.out;
}

TEST_F(DynamicConfigTest, BrokenDynamicSourcesEndTheStart) {
    Global(Persistent());
    ASSERT_TRUE(WriteFile(top_, "RUNTIME_CONFIG_ADMIN = a\n"));
    auto r = Probe("STARTD", {"load"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("while reading persistent config source: " + top_ + ".a\n"),
              std::string::npos)
        << r.err;
    ASSERT_TRUE(WriteFile(top_ + ".a", "NO OPERATOR\n"));
    r = Probe("STARTD", {"load"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Configuration Error Line 1 while reading persistent config source: " +
                         top_ + ".a\n"),
              std::string::npos)
        << r.err;

    // A runtime text that read well when it was set, broken by a later
    // change of the global source.
    Global("ENABLE_RUNTIME_CONFIG = true\n");
    r = Probe("TOOL", {"load", "setr", "adm", "N$(SUFFIX) = 1", "write", global_,
                       "ENABLE_RUNTIME_CONFIG = true\nSUFFIX = -x\n", "load"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "setr adm=0\n");
    EXPECT_NE(r.err.find("Configuration Error Line 1 while reading <runtime config adm>, runtime "
                         "config: adm\n"),
              std::string::npos)
        << r.err;
}

// Runtime texts were taken unchecked, and the next load ended the process.
TEST_F(DynamicConfigTest, RuntimeTextThatWouldStopTheNextLoadIsRefused) {
    Global("ENABLE_RUNTIME_CONFIG = true\nSUFFIX = -x\n");
    auto r = Probe("TOOL", {"load", "setr", "a", "NO OPERATOR\n", "setr", "b", "N$(SUFFIX) = 1",
                            "setr", "c", "X$RANDOM_CHOICE(a,b) = 1", "setr", "d", "D = 1", "setr",
                            "d", "B-C = 1", "load", "get", "D"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out,
              "setr a=-1\nsetr b=-1\nsetr c=-1\nsetr d=0\nsetr d=-1\nD=1 [<runtime config d>:1]\n");
}

// Admin names end up in a file name and in a configuration line: a newline
// would add a setting of its own to the root-owned top-level file.
TEST_F(DynamicConfigTest, UnusableAdminNamesAndTemporaryNamesAreRefused) {
    Global(Persistent());
    ASSERT_EQ(mkdir((top_ + ".b.tmp").c_str(), 0755), 0);
    auto r = Probe("STARTD", {"load", "setp", "a\nEVIL = 1", "X = 1", "setp", "sub/x", "X = 1",
                              "setp", "b", "X = 1", "load", "get", "EVIL"});
    EXPECT_EQ(r.out, "setp a\nEVIL = 1=-1\nsetp sub/x=-1\nsetp b=-1\nEVIL undefined\n") << r.err;
    EXPECT_FALSE(Exists(top_));
    EXPECT_FALSE(Exists(top_ + ".b"));
}

// "tmp" names the top-level file's temporary, and "a.tmp" that of "a":
// stored, their files were removed by the next rewrite and every later
// start ended with status 1.
TEST_F(DynamicConfigTest, AdminNamesThatCanBeTemporaryNamesAreRefused) {
    Global(Persistent());
    auto r = Probe("STARTD", {"load", "setp", "tmp", "T = 1", "setp", "a.tmp", "U = 1", "setp",
                              "B.TMP", "V = 1", "setp", "a", "X = 1", "setp", "tmpx", "Y = 1",
                              "setp", "x.tmp2", "Z = 1"});
    EXPECT_EQ(r.out,
              "setp tmp=-1\nsetp a.tmp=-1\nsetp B.TMP=-1\nsetp a=0\nsetp tmpx=0\n"
              "setp x.tmp2=0\n")
        << r.err;
    EXPECT_EQ(ReadFile(top_), "RUNTIME_CONFIG_ADMIN = a, tmpx, x.tmp2\n");
    EXPECT_FALSE(Exists(top_ + ".tmp"));
    EXPECT_FALSE(Exists(top_ + ".a.tmp"));
    r = Probe("STARTD", {"load", "get", "X", "get", "Z"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "X=1 [" + top_ + ".a:1]\nZ=1 [" + top_ + ".x.tmp2:1]\n");
}

// A text that would not read back was stored, and every later start ended
// with status 1. It is now refused, and nothing of it reaches the disk.
TEST_F(DynamicConfigTest, TextThatDoesNotReadBackIsRefused) {
    Global(Persistent());
    auto r = Probe("STARTD", {"load", "setp", "a", "NO OPERATOR\n", "setp", "b",
                              "X = 1\n$ENV(DYNAMIC_CONFIG_TEST_UNSET) = 2\n", "setp", "c", "C = 1",
                              "setp", "c", "C = 2\nB-C = 3\n"});
    EXPECT_EQ(r.out, "setp a=-1\nsetp b=-1\nsetp c=0\nsetp c=-1\n") << r.err;
    EXPECT_EQ(ReadFile(top_), "RUNTIME_CONFIG_ADMIN = c\n");
    EXPECT_EQ(ReadFile(top_ + ".c"), "C = 1");
    for (const char *gone : {".a", ".b", ".a.tmp", ".b.tmp", ".c.tmp"}) {
        EXPECT_FALSE(Exists(top_ + gone)) << gone;
    }
    r = Probe("STARTD", {"load", "get", "C"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "C=1 [" + top_ + ".c:1]\n");
}

}  // namespace
