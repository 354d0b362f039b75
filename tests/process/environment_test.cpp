// Tests of SetEnv, UnsetEnv and GetEnv: the table of owned texts, the
// one-text form with its failures, removal by exact name (duplicates
// included), children seeing the change, and the null-name contracts.
#include "process/environment.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "process/arg_list.h"
#include "process/my_popen.h"
#include "tests/support/capture.h"

extern char **environ;

namespace {

// The text the table owns for name, or null.
char *OwnedText(const char *name) {
    char *text = nullptr;
    return EnvVars.lookup(HashKey(name), text) == 0 ? text : nullptr;
}

// Whether the environment holds exactly this NAME=value entry.
bool HasEntry(const char *entry) {
    for (char **p = environ; *p != nullptr; ++p) {
        if (strcmp(*p, entry) == 0) {
            return true;
        }
    }
    return false;
}

class EnvironmentTest : public testing::Test {
 protected:
    // Debug lines are written as the service account, which a root test
    // process learns from TORVEL_IDS (nobody here).
    void SetUp() override { setenv("TORVEL_IDS", "65534.65534", 1); }
    void TearDown() override {
        for (const char *name :
             {"TORVEL_ENV_A", "TORVEL_ENV_FOO", "TORVEL_ENV_FOOBAR", "", "TORVEL_ENV_CHILD"}) {
            UnsetEnv(name);
        }
    }
};

TEST_F(EnvironmentTest, SettingAgainReplacesTheOwnedText) {
    int before = EnvVars.getNumElements();
    ASSERT_TRUE(SetEnv("TORVEL_ENV_A", "1"));
    ASSERT_TRUE(SetEnv("TORVEL_ENV_A", "two"));
    EXPECT_EQ(before + 1, EnvVars.getNumElements());
    EXPECT_STREQ("two", GetEnv("TORVEL_ENV_A"));
    // The environment uses the table's text itself, not a copy.
    char *owned = OwnedText("TORVEL_ENV_A");
    ASSERT_NE(nullptr, owned);
    EXPECT_STREQ("TORVEL_ENV_A=two", owned);
    EXPECT_EQ(owned + strlen("TORVEL_ENV_A="), GetEnv("TORVEL_ENV_A"));

    UnsetEnv("TORVEL_ENV_A");
    EXPECT_EQ(before, EnvVars.getNumElements());
    EXPECT_EQ(nullptr, GetEnv("TORVEL_ENV_A"));
}

TEST_F(EnvironmentTest, OneTextForm) {
    EXPECT_TRUE(SetEnv("TORVEL_ENV_A=b=c"));
    EXPECT_STREQ("b=c", GetEnv("TORVEL_ENV_A"));
    EXPECT_TRUE(SetEnv("=x"));
    EXPECT_TRUE(HasEntry("=x"));

    DebugCapture capture(D_ALWAYS);
    int entries = EnvVars.getNumElements();
    EXPECT_TRUE(SetEnv(""));
    EXPECT_EQ("", capture.Take());
    EXPECT_FALSE(SetEnv("TORVEL_ENV_ABC"));
    EXPECT_EQ("SetEnv, env_var has no '='\nenv_var = \"TORVEL_ENV_ABC\"\n", capture.Take());
    EXPECT_FALSE(SetEnv(static_cast<const char *>(nullptr)));
    EXPECT_EQ("SetEnv, env_var = NULL!\n", capture.Take());
    EXPECT_EQ(entries, EnvVars.getNumElements());
    EXPECT_EQ(nullptr, GetEnv("TORVEL_ENV_ABC"));
}

TEST_F(EnvironmentTest, UnsetMatchesTheWholeName) {
    ASSERT_TRUE(SetEnv("TORVEL_ENV_FOOBAR", "1"));
    ASSERT_TRUE(SetEnv("TORVEL_ENV_FOO", "2"));
    EXPECT_TRUE(UnsetEnv("TORVEL_ENV_FOO"));
    EXPECT_EQ(nullptr, GetEnv("TORVEL_ENV_FOO"));
    EXPECT_STREQ("1", GetEnv("TORVEL_ENV_FOOBAR"));
    EXPECT_TRUE(UnsetEnv("TORVEL_ENV_FOO"));
    EXPECT_TRUE(UnsetEnv("TORVEL_ENV_NEVER_SET"));
}

TEST_F(EnvironmentTest, UnsetRemovesDuplicateEntries) {
    char dup1[] = "TORVEL_ENV_DUP=1";
    char keep[] = "TORVEL_ENV_DUPX=3";
    char dup2[] = "TORVEL_ENV_DUP=2";
    char *mine[] = {dup1, keep, dup2, nullptr};
    char **saved = environ;
    environ = mine;
    UnsetEnv("TORVEL_ENV_DUP");
    const char *seen = getenv("TORVEL_ENV_DUP");
    environ = saved;
    EXPECT_EQ(nullptr, seen);
    EXPECT_EQ(keep, mine[0]);
    EXPECT_EQ(nullptr, mine[1]);
}

TEST_F(EnvironmentTest, ChildrenSeeTheChange) {
    ASSERT_TRUE(SetEnv("TORVEL_ENV_CHILD", "seen by child"));
    ArgList args;
    args.AppendArgsV2Raw("sh -c 'printf %s \"$TORVEL_ENV_CHILD\"'", nullptr);
    FILE *stream = my_popen(args, "r", 0);
    ASSERT_NE(nullptr, stream);
    char buffer[64] = {};
    size_t got = fread(buffer, 1, sizeof buffer - 1, stream);
    EXPECT_EQ(0, my_pclose(stream));
    EXPECT_EQ("seen by child", std::string(buffer, got));
}

TEST(EnvironmentDeathTest, NullNamesAreContractViolations) {
    EXPECT_DEATH(SetEnv(nullptr, "x"), "Assertion `key' failed");
    EXPECT_DEATH(SetEnv("X", nullptr), "Assertion `value' failed");
    EXPECT_DEATH(UnsetEnv(nullptr), "Assertion `env_var' failed");
    EXPECT_DEATH(GetEnv(nullptr), "Assertion `env_var' failed");
}

}  // namespace
