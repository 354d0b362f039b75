// Tests of recursive_chown: a whole tree changes owner; links planted in
// the tree (to an outside file, an outside directory, nowhere) are changed
// themselves and never followed; a path owned by a third user stops the
// change, which a second run completes; and the cases without root. Every
// scenario that changes owners runs in its own child process, since the
// change switches the process's identity.
#include <gtest/gtest.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "files/directory.h"
#include "files/path_helpers.h"
#include "tests/files/files_test_support.h"
#include "tests/support/capture.h"

namespace {

constexpr uid_t kFrom = 4601;
constexpr uid_t kTo = 4602;
constexpr gid_t kGroup = 4603;
constexpr uid_t kThird = 4699;

class RecursiveChownTest : public testing::Test {
 protected:
    void SetUp() override {
        ASSERT_FALSE(tree_.root().empty());
        top_ = tree_.Path("top");
        ASSERT_EQ(mkdir(top_.c_str(), 0755), 0);
        ASSERT_EQ(mkdir((top_ + "/sub").c_str(), 0755), 0);
        ASSERT_EQ(mkdir((top_ + "/sub/deeper").c_str(), 0755), 0);
        ASSERT_TRUE(WriteFile(top_ + "/a", "a"));
        ASSERT_TRUE(WriteFile(top_ + "/sub/b", "b"));
        ASSERT_TRUE(WriteFile(top_ + "/sub/deeper/c", "c"));
        for (const char *p : {"", "/sub", "/sub/deeper", "/a", "/sub/b", "/sub/deeper/c"}) {
            ASSERT_EQ(lchown((top_ + p).c_str(), kFrom, kFrom), 0);
        }
    }

    // Every path of the tree that the change must reach.
    std::vector<std::string> TreePaths() const {
        std::vector<std::string> paths;
        for (const char *p : {"", "/sub", "/sub/deeper", "/a", "/sub/b", "/sub/deeper/c"}) {
            paths.push_back(top_ + p);
        }
        return paths;
    }

    // Runs recursive_chown on path in a child; "" when it returned want
    // and logged text containing each of the expected lines.
    std::string Chown(const std::string &path, bool want,
                      const std::vector<std::string> &lines = {}) {
        return InChild([path, want, lines]() -> std::string {
            DebugCapture log(D_ALWAYS | D_FULLDEBUG);
            bool result = recursive_chown(path.c_str(), kFrom, kTo, kGroup, false);
            std::string text = log.text();
            if (result != want) {
                return std::string("result ") + (result ? "true" : "false") + "; log:\n" + text;
            }
            for (const std::string &line : lines) {
                if (text.find(line) == std::string::npos) {
                    return "missing log line: " + line + "log:\n" + text;
                }
            }
            return "";
        });
    }

    ScratchTree tree_;
    std::string top_;
};

TEST_F(RecursiveChownTest, WholeTreeChangesOwnerAndGroup) {
    ASSERT_EQ(Chown(top_, true), "");
    for (const std::string &path : TreePaths()) {
        struct stat buf;
        ASSERT_EQ(lstat(path.c_str(), &buf), 0) << path;
        EXPECT_EQ(buf.st_uid, kTo) << path;
        EXPECT_EQ(buf.st_gid, kGroup) << path;
    }
}

// Regression: following links handed files outside the tree to the new
// owner. The outside file and directory belong to the tree's old owner,
// so an owner check alone would not have stopped it.
TEST_F(RecursiveChownTest, PlantedLinksAreChangedNotFollowed) {
    std::string outside_file = tree_.Path("outside_file");
    std::string outside_dir = tree_.Path("outside_dir");
    ASSERT_TRUE(WriteFile(outside_file, "secret"));
    ASSERT_EQ(mkdir(outside_dir.c_str(), 0755), 0);
    ASSERT_TRUE(WriteFile(outside_dir + "/inner", "inner"));
    for (const std::string &p : {outside_file, outside_dir, outside_dir + "/inner"}) {
        ASSERT_EQ(chown(p.c_str(), kFrom, kFrom), 0);
    }
    struct Link {
        std::string target, at;
    } links[] = {{outside_file, top_ + "/to_file"},
                 {outside_dir, top_ + "/sub/to_dir"},
                 {tree_.Path("nowhere"), top_ + "/sub/deeper/dangling"}};
    for (const Link &link : links) {
        ASSERT_EQ(symlink(link.target.c_str(), link.at.c_str()), 0);
        ASSERT_EQ(lchown(link.at.c_str(), kFrom, kFrom), 0);
    }

    ASSERT_EQ(Chown(top_, true), "");
    for (const Link &link : links) {
        EXPECT_EQ(OwnerOf(link.at), static_cast<long>(kTo)) << link.at;
    }
    EXPECT_EQ(OwnerOf(outside_file), static_cast<long>(kFrom));
    EXPECT_EQ(OwnerOf(outside_dir), static_cast<long>(kFrom));
    EXPECT_EQ(OwnerOf(outside_dir + "/inner"), static_cast<long>(kFrom));
    EXPECT_EQ(OwnerOf(tree_.Path("nowhere")), -1);
}

TEST_F(RecursiveChownTest, TopLevelLinkIsChangedItselfEvenWithATrailingSlash) {
    std::string link = tree_.Path("top_link");
    ASSERT_EQ(symlink(top_.c_str(), link.c_str()), 0);
    ASSERT_EQ(lchown(link.c_str(), kFrom, kFrom), 0);
    ASSERT_EQ(Chown(link + "/", true), "");
    EXPECT_EQ(OwnerOf(link), static_cast<long>(kTo));
    for (const std::string &path : TreePaths()) {
        EXPECT_EQ(OwnerOf(path), static_cast<long>(kFrom)) << path;
    }
}

TEST_F(RecursiveChownTest, ThirdOwnerStopsTheChangeAndASecondRunFinishesIt) {
    std::string odd = top_ + "/sub/deeper/c";
    ASSERT_EQ(chown(odd.c_str(), kThird, kThird), 0);
    ASSERT_EQ(Chown(top_, false,
                    {"Attempting to chown '" + odd +
                         "' from 4601 to 4602.4603, but the path was "
                         "unexpectedly owned by 4699\n",
                     "Error: Unable to chown '" + odd + "' from 4601 to 4602.4603\n",
                     "Error: Unable to chown '" + top_ + "' from 4601 to 4602.4603\n"}),
              "");
    // Directories change after their entries, so the stopped ones are unchanged.
    EXPECT_EQ(OwnerOf(top_ + "/sub/deeper"), static_cast<long>(kFrom));
    EXPECT_EQ(OwnerOf(top_), static_cast<long>(kFrom));
    EXPECT_EQ(OwnerOf(odd), static_cast<long>(kThird));

    ASSERT_EQ(chown(odd.c_str(), kFrom, kFrom), 0);
    ASSERT_EQ(chown((top_ + "/a").c_str(), kTo, kGroup), 0);  // as if changed before
    ASSERT_EQ(Chown(top_, true), "");
    for (const std::string &path : TreePaths()) {
        EXPECT_EQ(OwnerOf(path), static_cast<long>(kTo)) << path;
    }
}

TEST_F(RecursiveChownTest, MissingPathFails) {
    std::string missing = tree_.Path("missing");
    EXPECT_EQ(Chown(missing, false,
                    {"Attempting to chown '" + missing + "', but it doesn't appear to exist.\n",
                     "Error: Unable to chown '" + missing + "' from 4601 to 4602.4603\n"}),
              "");
}

TEST(RecursiveChownByName, DoesNothingAndFails) {
    EXPECT_FALSE(recursive_chown("/nonexistent", "user", "group"));
}

// Directory's forms: the id form changes the walked directory's whole tree;
// the by-name form changes nothing and fails.
TEST_F(RecursiveChownTest, DirectoryChangesItsWholeTree) {
    std::string top = top_;
    ASSERT_EQ(InChild([top]() -> std::string {
                  Directory dir(top.c_str());
                  return dir.Recursive_Chown(kFrom, kTo, kGroup, false) ? "" : "returned false";
              }),
              "");
    for (const std::string &path : TreePaths()) {
        EXPECT_EQ(OwnerOf(path), kTo) << path;
    }
    Directory by_name(top_.c_str());
    EXPECT_FALSE(by_name.Recursive_Chown("root", "root"));
    EXPECT_EQ(OwnerOf(top_), kTo);
}

// Without root the ability to switch ids is settled false, which must
// happen in a fresh process: a helper program drops to another uid first.
TEST(RecursiveChownWithoutRoot, ReportsByAllowNonRoot) {
    ScratchTree tree;
    ASSERT_FALSE(tree.root().empty());
    std::string probe = std::string(TORVEL_BINARY_DIR) + "/tests/chown_probe";
    std::string file = tree.Path("f");
    ASSERT_TRUE(WriteFile(file, "f"));
    std::string command = probe + " " + file + " 2>&1";
    FILE *out = popen(command.c_str(), "r");
    ASSERT_NE(out, nullptr);
    std::string text;
    char chunk[512];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, out)) > 0) {
        text.append(chunk, n);
    }
    int status = pclose(out);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << text;
    EXPECT_EQ(text,
              "Unable to chown " + file +
                  " from 4601 to 4602.4603.  Process lacks the ability to "
                  "change UIDs (probably isn't root).  This is probably harmless.  Skipping chown "
                  "attempt.\n"
                  "allowed: 1\n"
                  "Error: Unable to chown " +
                  file +
                  " to from 4601 4602.4603; we're not root.\n"
                  "refused: 0\n");
    EXPECT_EQ(OwnerOf(file), 0);
}

}  // namespace
