// The category-name parser as the log's users see it: names in any case,
// "-" removal applied in written order, D_ALL, unknown words, and commas
// that do not separate.
#include <gtest/gtest.h>

#include <string>

#include "diagnostics/debug_log.h"

namespace {

class DebugFlagsTest : public ::testing::Test {
 protected:
    void SetUp() override { saved_ = DebugFlags; }
    void TearDown() override { DebugFlags = saved_; }
    // DebugFlags after parsing text from start.
    static unsigned Parse(unsigned start, const char *text) {
        DebugFlags = static_cast<int>(start);
        _torvel_set_debug_flags(text);
        return static_cast<unsigned>(DebugFlags);
    }

 private:
    int saved_ = 0;
};

TEST_F(DebugFlagsTest, AllButOneCategory) {
    EXPECT_EQ(0x7fffdfffu, Parse(0, "D_ALL -D_NET_REMAP"));
    EXPECT_EQ(0xffffdfffu, Parse(D_NOHEADER, "D_ALL\t-D_NET_REMAP"));  // D_ALL lacks D_NOHEADER
}

TEST_F(DebugFlagsTest, NamesIgnoreCase) {
    EXPECT_EQ(0x1001u, Parse(0, "d_config"));
    EXPECT_EQ(0x1401u, Parse(D_FULLDEBUG, "D_Config"));
    EXPECT_EQ(0x90000001u, Parse(0, "d_pid\nD_NOHEADER"));
}

TEST_F(DebugFlagsTest, CommasAndUnknownWordsChangeNothing) {
    EXPECT_EQ(static_cast<unsigned>(D_ALWAYS), Parse(0, "D_FULLDEBUG,D_CONFIG"));
    EXPECT_EQ(static_cast<unsigned>(D_ALWAYS | D_JOB), Parse(D_JOB, "D_NOSUCH -D_NOSUCH"));
    EXPECT_EQ(static_cast<unsigned>(D_ALWAYS), Parse(0, ""));
    EXPECT_EQ(static_cast<unsigned>(D_ALWAYS), Parse(0, nullptr));
}

TEST_F(DebugFlagsTest, RemovalAndAlias) {
    EXPECT_EQ(static_cast<unsigned>(D_ALWAYS | D_PRIV),
              Parse(D_PRIV | D_MATCH | D_SECURITY, "-D_MATCH -d_security"));
    DebugFlags = 0;
    set_debug_flags("D_HOSTNAME");
    EXPECT_EQ(D_ALWAYS | D_HOSTNAME, DebugFlags);
}

TEST_F(DebugFlagsTest, NamesTableMatchesTheBits) {
    EXPECT_STREQ("D_ALWAYS", _torvel_DebugFlagNames[0]);
    EXPECT_STREQ("D_CONFIG", _torvel_DebugFlagNames[12]);
    EXPECT_STREQ("D_FAILURE", _torvel_DebugFlagNames[27]);
    EXPECT_STREQ("D_NOHEADER", _torvel_DebugFlagNames[31]);
    for (unsigned bit = 0; bit < D_NUMLEVELS; ++bit) {
        EXPECT_EQ((1u << bit) | D_ALWAYS, Parse(0, _torvel_DebugFlagNames[bit]))
            << _torvel_DebugFlagNames[bit];
    }
}

}  // namespace

namespace {

// Texts beyond the 8192-byte copy are cut there: words wholly inside it
// count, the rest is ignored, and nothing is written past the buffer.
TEST_F(DebugFlagsTest, TextsLongerThanTheBufferAreCut) {
    std::string text = "D_CONFIG";
    while (text.size() < 8100) {
        text += " x";
    }
    text += " D_PID" + std::string(20000, ' ') + "D_MATCH";
    EXPECT_EQ(static_cast<unsigned>(D_ALWAYS | D_CONFIG | D_PID), Parse(0, text.c_str()));

    std::string words;
    while (words.size() < 30000) {
        words += "a ";  // far more words than the 8192-byte text can hold
    }
    EXPECT_EQ(static_cast<unsigned>(D_ALWAYS), Parse(0, words.c_str()));
}

}  // namespace
