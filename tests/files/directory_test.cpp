// Tests of Directory: walking (dots, vanished entries, named lookup), the
// size of a tree, and the removal ladder (as the identity asked for, as the
// owner, after opening up the tree), with links planted to check that
// nothing outside the tree is removed or changed. Scenarios that switch
// ids run in a child whose service account is "nobody" (the privilege
// module learns it from TORVEL_IDS); 4701 is a user without an account.
#include "files/directory.h"

#include <gtest/gtest.h>
#include <pwd.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <set>
#include <string>

#include "tests/files/files_test_support.h"
#include "tests/support/capture.h"
#include "tests/support/run_program.h"

namespace {

constexpr uid_t kUser = 4701;

bool Exists(const std::string &path) {
    struct stat buf;
    return lstat(path.c_str(), &buf) == 0;
}

mode_t ModeOf(const std::string &path) {
    struct stat buf;
    return lstat(path.c_str(), &buf) == 0 ? (buf.st_mode & 07777) : 0;
}

class DirectoryTest : public testing::Test {
 protected:
    void SetUp() override {
        ASSERT_FALSE(tree_.root().empty());
        top_ = tree_.MakeDir("top", 0777);
        chmod(top_.c_str(), 0777);
        outside_ = tree_.MakeDir("outside", 0500);
        ASSERT_TRUE(WriteFile(outside_ + "/inner", "keep"));
        ASSERT_EQ(chown(outside_.c_str(), kUser, kUser), 0);
    }

    // Makes path (a directory when file is false) owned by uid with mode.
    void Make(const std::string &path, bool file, uid_t uid, mode_t mode) {
        ASSERT_TRUE(file ? WriteFile(path, "data", mode) : mkdir(path.c_str(), mode) == 0) << path;
        ASSERT_EQ(chown(path.c_str(), uid, uid), 0) << path;
        ASSERT_EQ(chmod(path.c_str(), mode), 0) << path;
    }

    // Runs body in a child as root with the debug log captured; checks that
    // the privilege state is as it was when body returns.
    std::string AsRoot(const std::function<std::string(DebugCapture &)> &body) {
        if (getpwuid(65534) == nullptr) {
            return "no account for uid 65534";
        }
        return InChild([&]() -> std::string {
            setenv("TORVEL_IDS", "65534.65534", 1);
            DebugCapture log(D_ALWAYS | D_FULLDEBUG);
            priv_state before = get_priv();
            std::string failure = body(log);
            CHILD_CHECK(get_priv() == before);
            CHILD_CHECK(geteuid() == 0);
            return failure.empty() ? "" : failure + "\nlog:\n" + log.text();
        });
    }

    ScratchTree tree_;
    std::string top_;
    std::string outside_;  // owned by kUser, mode 0500, holds "inner"
};

// The directory's own path is the one it was made with, whatever the walk
// has reached; made from a status record, it is the record's full path.
TEST_F(DirectoryTest, DirectoryPathIsThePathItWasMadeWith) {
    ASSERT_TRUE(WriteFile(top_ + "/f", "f"));
    Directory dir(top_.c_str());
    EXPECT_STREQ(dir.GetDirectoryPath(), top_.c_str());
    ASSERT_NE(dir.Next(), nullptr);
    EXPECT_STREQ(dir.GetDirectoryPath(), top_.c_str());
    StatInfo info(top_.c_str());
    Directory from_info(&info);
    EXPECT_STREQ(from_info.GetDirectoryPath(), info.FullPath());
}

TEST_F(DirectoryTest, WalkSkipsDotsAndDescribesEachEntry) {
    ASSERT_TRUE(WriteFile(top_ + "/f", "five!"));
    ASSERT_EQ(mkdir((top_ + "/d").c_str(), 0755), 0);
    ASSERT_EQ(symlink((top_ + "/d").c_str(), (top_ + "/l").c_str()), 0);
    Directory dir(top_.c_str());
    std::set<std::string> seen;
    const char *name;
    while ((name = dir.Next()) != nullptr) {
        seen.insert(name);
        EXPECT_EQ(dir.GetFullPath(), top_ + "/" + name);
        std::string n = name;
        EXPECT_EQ(dir.IsDirectory(), n != "f") << n;
        EXPECT_EQ(dir.IsSymlink(), n == "l") << n;
        if (n == "f") {
            EXPECT_EQ(dir.GetFileSize(), 5);
        }
    }
    EXPECT_EQ(seen, (std::set<std::string>{"d", "f", "l"}));
    EXPECT_EQ(dir.GetFullPath(), nullptr);
    EXPECT_FALSE(dir.IsDirectory());

    EXPECT_TRUE(dir.Find_Named_Entry("f"));
    EXPECT_EQ(dir.GetFullPath(), top_ + "/f");
    EXPECT_FALSE(dir.Find_Named_Entry("missing"));
    EXPECT_EQ(dir.GetFullPath(), nullptr);
}

// The first Next reads the whole small directory into the stream's buffer,
// so the other two names are still returned by the stream after they are
// gone; their status then fails and they must be skipped.
TEST_F(DirectoryTest, EntriesThatVanishAreSkipped) {
    for (const char *n : {"a", "b", "c"}) {
        ASSERT_TRUE(WriteFile(top_ + "/" + n, n));
    }
    Directory dir(top_.c_str());
    const char *first = dir.Next();
    ASSERT_NE(first, nullptr);
    std::string kept = first;
    for (const char *n : {"a", "b", "c"}) {
        if (kept != n) {
            ASSERT_EQ(unlink((top_ + "/" + n).c_str()), 0);
        }
    }
    EXPECT_EQ(dir.Next(), nullptr);
}

TEST_F(DirectoryTest, SizeCountsFilesBelowAndNeverFollowsLinks) {
    ASSERT_TRUE(WriteFile(top_ + "/ten", std::string(10, 'x')));
    ASSERT_EQ(mkdir((top_ + "/sub").c_str(), 0755), 0);
    ASSERT_TRUE(WriteFile(top_ + "/sub/twenty", std::string(20, 'x')));
    ASSERT_TRUE(WriteFile(outside_ + "/big", std::string(1000, 'x')));
    ASSERT_EQ(symlink(outside_.c_str(), (top_ + "/sub/out").c_str()), 0);
    Directory dir(top_.c_str());
    EXPECT_EQ(dir.GetDirectorySize(), 30);
}

TEST_F(DirectoryTest, RemovingEverythingTakesLinksNotTheirTargets) {
    Make(top_ + "/f", true, 0, 0644);
    ASSERT_EQ(mkdir((top_ + "/sub").c_str(), 0755), 0);
    ASSERT_EQ(mkdir((top_ + "/sub/deeper").c_str(), 0700), 0);
    Make(top_ + "/sub/deeper/g", true, kUser, 0600);
    ASSERT_TRUE(WriteFile(tree_.Path("outside_file"), "keep"));
    ASSERT_EQ(symlink(outside_.c_str(), (top_ + "/to_dir").c_str()), 0);
    ASSERT_EQ(symlink(tree_.Path("outside_file").c_str(), (top_ + "/sub/to_file").c_str()), 0);
    ASSERT_EQ(symlink(tree_.Path("nowhere").c_str(), (top_ + "/dangling").c_str()), 0);
    std::string top = top_;
    EXPECT_EQ(AsRoot([&](DebugCapture &) -> std::string {
                  Directory dir(top.c_str(), PRIV_ROOT);
                  CHILD_CHECK(dir.Remove_Entire_Directory());
                  return "";
              }),
              "");
    EXPECT_TRUE(Exists(top_));
    Directory left(top_.c_str());
    EXPECT_EQ(left.Next(), nullptr);
    EXPECT_EQ(ReadFile(outside_ + "/inner"), "keep");
    EXPECT_EQ(ReadFile(tree_.Path("outside_file")), "keep");
}

// With a trailing '/' /bin/rm would empty the link's target; paths that
// leave the directory or end in ".." are refused outright.
TEST_F(DirectoryTest, PathsNeverReachOutsideTheTree) {
    std::string link = top_ + "/link";
    ASSERT_EQ(symlink(outside_.c_str(), link.c_str()), 0);
    ASSERT_EQ(mkdir((top_ + "/d").c_str(), 0755), 0);
    std::string top = top_, missing = top_ + "/missing";
    EXPECT_EQ(AsRoot([&](DebugCapture &) -> std::string {
                  Directory dir(top.c_str(), PRIV_ROOT);
                  CHILD_CHECK(!dir.Remove_Entry("../outside"));
                  CHILD_CHECK(!dir.Remove_Entry(".."));
                  CHILD_CHECK(!dir.Remove_Full_Path((top + "/..").c_str()));
                  CHILD_CHECK(!dir.Remove_Full_Path("/"));
                  CHILD_CHECK(dir.Remove_Full_Path((link + "//").c_str()));
                  CHILD_CHECK(dir.Remove_Full_Path(missing.c_str()));
                  // A directory gone between the walk and its removal.
                  CHILD_CHECK(!dir.Remove_Current_File());
                  CHILD_CHECK(dir.Find_Named_Entry("d"));
                  CHILD_CHECK(rmdir((top + "/d").c_str()) == 0);
                  CHILD_CHECK(dir.Remove_Current_File());
                  return "";
              }),
              "");
    EXPECT_FALSE(Exists(link));
    EXPECT_EQ(ReadFile(outside_ + "/inner"), "keep");
    EXPECT_TRUE(Exists(top_));
}

// A tree the user made unreadable for the service account: the first
// attempt fails, the attempt as its owner removes it.
TEST_F(DirectoryTest, TreeClosedToTheServiceAccountGoesAsItsOwner) {
    std::string t = top_ + "/t";
    Make(t, false, kUser, 0700);
    Make(t + "/x", true, kUser, 0600);
    EXPECT_EQ(AsRoot([&](DebugCapture &log) -> std::string {
                  // Walking it falls back to the owner as well.
                  Directory closed(t.c_str(), PRIV_TORVEL);
                  CHILD_CHECK(closed.Find_Named_Entry("x"));
                  Directory dir(top_.c_str(), PRIV_TORVEL);
                  CHILD_CHECK(dir.Remove_Entry("t"));
                  std::string text = log.text();
                  size_t first =
                      text.find("Attempting to remove " + t + " as Torvel daemon user '");
                  size_t second = text.find("Attempting to remove " + t + " as file owner '");
                  CHILD_CHECK(first != std::string::npos && second != std::string::npos);
                  CHILD_CHECK(first < second);
                  CHILD_CHECK(text.find("(4701.4701)\n", second) != std::string::npos);
                  return "";
              }),
              "");
    EXPECT_FALSE(Exists(t));
}

// Even its owner cannot empty a subdirectory without write permission; the
// ladder opens every subdirectory up and tries again. A planted link to a
// directory of the same owner must neither be changed nor followed.
TEST_F(DirectoryTest, OpeningUpTheTreeLetsTheOwnerRemoveIt) {
    std::string t = top_ + "/t";
    Make(t, false, kUser, 0755);
    Make(t + "/locked", false, kUser, 0755);
    Make(t + "/locked/f", true, kUser, 0600);
    ASSERT_EQ(chmod((t + "/locked").c_str(), 0500), 0);
    ASSERT_EQ(symlink(outside_.c_str(), (t + "/link").c_str()), 0);
    ASSERT_EQ(lchown((t + "/link").c_str(), kUser, kUser), 0);
    EXPECT_EQ(AsRoot([&](DebugCapture &log) -> std::string {
                  Directory dir(top_.c_str(), PRIV_TORVEL);
                  CHILD_CHECK(dir.Remove_Entry("t"));
                  CHILD_CHECK(log.text().find("Attempting to chmod(0700) " + t +
                                              " and all subdirs\n") != std::string::npos);
                  return "";
              }),
              "");
    EXPECT_FALSE(Exists(t));
    EXPECT_EQ(ModeOf(outside_), 0500u);
    EXPECT_EQ(ReadFile(outside_ + "/inner"), "keep");
}

// Once a walk has fallen back to the directory's owner (others may not
// list it), an entry of a second owner is removed as that second owner:
// going from one file owner to another must really switch the ids. A
// caller running as a third file owner gets its own ids back.
TEST_F(DirectoryTest, EntryOfAnotherOwnerGoesAsThatOwner) {
    std::string t = top_ + "/t";
    Make(t, false, kUser, 0733);
    Make(t + "/s", false, kUser + 1, 0755);
    Make(t + "/s/f", true, kUser + 1, 0644);
    EXPECT_EQ(AsRoot([&](DebugCapture &) -> std::string {
                  set_file_owner_ids(kUser + 8, kUser + 8);
                  _set_priv(PRIV_FILE_OWNER, __FILE__, __LINE__, 1);
                  Directory dir(t.c_str(), PRIV_TORVEL);
                  CHILD_CHECK(dir.Find_Named_Entry("s"));
                  CHILD_CHECK(dir.Remove_Entire_Directory());
                  CHILD_CHECK(geteuid() == kUser + 8);
                  _set_priv(PRIV_UNKNOWN, __FILE__, __LINE__, 1);
                  return "";
              }),
              "");
    EXPECT_FALSE(Exists(t + "/s"));
    EXPECT_TRUE(Exists(t));
}

// Root-owned files are never approached by switching to their owner; the
// removal of that subtree gives up while the other entries go.
TEST_F(DirectoryTest, RootOwnedSubtreeGivesUpButOtherEntriesGo) {
    Make(top_ + "/f", true, 65534, 0644);
    std::string rootdir = top_ + "/rootdir";
    Make(rootdir, false, 0, 0755);
    Make(rootdir + "/x", true, 0, 0644);
    EXPECT_EQ(
        AsRoot([&](DebugCapture &log) -> std::string {
            Directory dir(top_.c_str(), PRIV_TORVEL);
            CHILD_CHECK(!dir.Remove_Entire_Directory());
            std::string text = log.text();
            CHILD_CHECK(text.find("NOT changing priv state to owner of \"" + rootdir +
                                  "\" (0.0), that's root!\n") != std::string::npos);
            CHILD_CHECK(text.find("Can't remove \"" + rootdir +
                                  "\" as directory owner, giving up!\n") != std::string::npos);
            return "";
        }),
        "");
    EXPECT_FALSE(Exists(top_ + "/f"));
    EXPECT_TRUE(Exists(rootdir + "/x"));
}

// A job's scratch directory swapped for a link to a directory elsewhere:
// as root, neither a walk nor a removal may reach the link's target, with
// or without a trailing '/'.
TEST_F(DirectoryTest, TopThatIsALinkIsNeitherWalkedNorEmptied) {
    std::string victim = tree_.MakeDir("victim", 0755);
    ASSERT_TRUE(WriteFile(victim + "/precious", "keep"));
    ASSERT_EQ(mkdir((victim + "/sub").c_str(), 0755), 0);
    ASSERT_TRUE(WriteFile(victim + "/sub/deep", "keep"));
    std::string link = tree_.Path("scratch");
    ASSERT_EQ(symlink(victim.c_str(), link.c_str()), 0);
    EXPECT_EQ(AsRoot([&](DebugCapture &) -> std::string {
                  for (const std::string &top : {link, link + "/"}) {
                      Directory dir(top.c_str(), PRIV_ROOT);
                      CHILD_CHECK(!dir.Remove_Entire_Directory());
                      CHILD_CHECK(dir.Next() == nullptr);
                      CHILD_CHECK(!dir.Remove_Entry("precious"));
                      CHILD_CHECK(!dir.Remove_Entry("sub"));
                      CHILD_CHECK(dir.GetDirectorySize() == 0);
                  }
                  return "";
              }),
              "");
    EXPECT_EQ(ReadFile(victim + "/precious"), "keep");
    EXPECT_EQ(ReadFile(victim + "/sub/deep"), "keep");
}

// The directory renamed away and a link to another planted at its name
// after the walk has opened it: the removal goes on in the directory it
// opened, never through the new link, for files and subtrees alike.
TEST_F(DirectoryTest, PathSwappedForALinkDuringTheWalkIsNotFollowed) {
    std::string victim = tree_.MakeDir("victim", 0755);
    for (const std::string &d : {top_, victim}) {
        ASSERT_TRUE(WriteFile(d + "/f", "data"));
        ASSERT_EQ(mkdir((d + "/sub").c_str(), 0755), 0);
        ASSERT_TRUE(WriteFile(d + "/sub/g", "data"));
    }
    std::string top = top_, moved = tree_.Path("moved");
    EXPECT_EQ(AsRoot([&](DebugCapture &) -> std::string {
                  Directory dir(top.c_str(), PRIV_ROOT);
                  CHILD_CHECK(dir.Next() != nullptr);  // the walk has the directory open
                  CHILD_CHECK(rename(top.c_str(), moved.c_str()) == 0);
                  CHILD_CHECK(symlink(victim.c_str(), top.c_str()) == 0);
                  CHILD_CHECK(dir.Remove_Entire_Directory());
                  return "";
              }),
              "");
    EXPECT_EQ(ReadFile(victim + "/f"), "data");
    EXPECT_EQ(ReadFile(victim + "/sub/g"), "data");
    EXPECT_FALSE(Exists(moved + "/f"));
    EXPECT_FALSE(Exists(moved + "/sub"));
}

TEST(DirectoryContract, OwnerIdentityWithoutAStatusIsAProgrammerError) {
    EXPECT_EXIT(Directory("/tmp", PRIV_FILE_OWNER), testing::ExitedWithCode(4),
                "Programmer error: Directory object instantiated with PRIV_FILE_OWNER requested");
    EXPECT_EXIT(Directory(static_cast<const char *>(nullptr)), testing::ExitedWithCode(4),
                "Assertion ERROR on \\(curr_dir\\)");
}

// Without root nothing is switched: the removal runs as the process itself
// and gives up naming that identity. Settled in a fresh process that drops
// its ids first.
TEST(DirectoryWithoutRoot, RemovalNeverSwitchesAndGivesUpAsItself) {
    ScratchTree tree;
    ASSERT_FALSE(tree.root().empty());
    std::string t = tree.Path("t");
    ASSERT_EQ(mkdir(t.c_str(), 0755), 0);
    ASSERT_EQ(mkdir((t + "/rootsub").c_str(), 0755), 0);
    ASSERT_TRUE(WriteFile(t + "/rootsub/x", "x"));
    ASSERT_TRUE(WriteFile(t + "/mine", "m"));
    for (const std::string &p : {tree.root(), t, t + "/mine"}) {
        ASSERT_EQ(chown(p.c_str(), 4700, 4700), 0);
    }
    torvel_test::ProgramRun run = torvel_test::RunProgram(
        TORVEL_BINARY_DIR "/tests/remove_probe", {tree.root(), "t"}, torvel_test::SanitizerEnv());
    ASSERT_EQ(run.status, 0) << run.err;
    const std::string &text = run.out;
    EXPECT_NE(text.find("Attempting to remove " + t + " as unknown user\n"), std::string::npos)
        << text;
    EXPECT_EQ(text.find("file owner"), std::string::npos) << text;
    EXPECT_NE(text.find("Can't remove \"" + t + "\" as unknown user, giving up!\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("removed: 0\n"), std::string::npos) << text;
    EXPECT_FALSE(Exists(t + "/mine"));
    EXPECT_TRUE(Exists(t + "/rootsub/x"));
}

}  // namespace
