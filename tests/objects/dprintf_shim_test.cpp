// The debug-print entry and category-name parser: as the dprintf_shim
// object linked alone with a program's own _torvel_dprintf_va and
// _torvel_mkargv, and as the library's copy built from the same source.
#include <gtest/gtest.h>
#include <stdio.h>

#include <map>
#include <string>

#include "diagnostics/debug_log.h"
#include "tests/objects/probe_runner.h"

namespace torvel_objects_test {
namespace {

std::string hex(unsigned value) {
    char text[16];
    snprintf(text, sizeof text, "%#x", value);
    return text;
}

// Flag texts with the DebugFlags they start from and the result.
struct FlagCase {
    const char *text;
    unsigned start;
    unsigned expected;
};

const FlagCase kFlagCases[] = {
    {"D_ALL -D_NET_REMAP", 0, 0x7fffdfff},
    {"d_config", 0, D_ALWAYS | D_CONFIG},
    {"D_Config", D_PID, D_ALWAYS | D_PID | D_CONFIG},
    {"D_FULLDEBUG,D_CONFIG", 0, D_ALWAYS},  // commas do not separate
    {"D_NOHEADER D_PID", 0, D_NOHEADER | D_PID | D_ALWAYS},
    {"-D_FULLDEBUG", D_FULLDEBUG | D_CONFIG, D_CONFIG | D_ALWAYS},
    {"D_NO_SUCH_THING -D_NOPE", D_SECURITY, D_SECURITY | D_ALWAYS},
    {"-D_ALL", 0xffffffffu, D_NOHEADER},  // removing D_ALL keeps D_NOHEADER
    {"", 0, D_ALWAYS},
    {"-D_ALWAYS", 0, 0},                     // D_ALWAYS is added first, then removed
    {"D_ALL -D_CONFIG D_CONFIG", 0, D_ALL},  // a later word overrides
};

TEST(DprintfShimObjectTest, GlobalsStartWithTheirDocumentedValues) {
    int status = -1;
    auto values = run_probe("dprintf_shim", {"initial"}, {}, &status);
    ASSERT_EQ(status, 0);
    EXPECT_EQ(values["DebugFlags"], "0");
    EXPECT_EQ(values["_torvel_dprintf_works"], "0");
    const char *names[] = {"D_ALWAYS",    "D_SYSCALLS",   "D_CKPT",     "D_HOSTNAME",   "D_MALLOC",
                           "D_LOAD",      "D_EXPR",       "D_PROC",     "D_JOB",        "D_MACHINE",
                           "D_FULLDEBUG", "D_NFS",        "D_CONFIG",   "D_NET_REMAP",  "D_PREEMPT",
                           "D_PROTOCOL",  "D_PRIV",       "D_SECURITY", "D_DAEMONCORE", "D_COMMAND",
                           "D_BANDWIDTH", "D_NETWORK",    "D_KEYBOARD", "D_PROCFAMILY", "D_IDLE",
                           "D_MATCH",     "D_ACCOUNTANT", "D_FAILURE",  "D_PID",        "D_FDS",
                           "D_SECONDS",   "D_NOHEADER"};
    for (int bit = 0; bit < 32; ++bit) {
        EXPECT_EQ(values["name" + std::to_string(bit)], names[bit]) << "bit " << bit;
    }
}

TEST(DprintfShimObjectTest, DprintfForwardsFlagsFormatAndArgumentsToTheProgram) {
    int status = -1;
    auto values = run_probe("dprintf_shim", {"dprintf"}, {}, &status);
    ASSERT_EQ(status, 0);
    EXPECT_EQ(values["va.flags"], hex(D_ALWAYS | D_FULLDEBUG));
    EXPECT_EQ(values["va.text"], "value 42 of answer");
    EXPECT_EQ(values["result"], "0");
}

TEST(DprintfShimObjectTest, ParserSplitsWithTheProgramsSplitter) {
    for (const char *mode : {"flags", "alias"}) {
        for (const FlagCase &c : kFlagCases) {
            SCOPED_TRACE(std::string(mode) + " \"" + c.text + "\" from " + hex(c.start));
            int status = -1;
            auto values = run_probe("dprintf_shim", {mode, hex(c.start), c.text}, {}, &status);
            ASSERT_EQ(status, 0);
            EXPECT_EQ(values["flags"], hex(c.expected));
            EXPECT_EQ(values["splitter_calls"], "1");
        }
    }
}

TEST(DprintfShimObjectTest, TextBeyondTheParsersBufferIsCut) {
    int status = -1;
    auto values = run_probe("dprintf_shim", {"long"}, {}, &status);
    ASSERT_EQ(status, 0);
    EXPECT_EQ(values["flags"], hex(D_ALWAYS | D_CONFIG));
}

// The library's copy, in this process.
class DebugFlagParserTest : public ::testing::Test {
 protected:
    void SetUp() override { saved_ = DebugFlags; }
    void TearDown() override { DebugFlags = saved_; }

 private:
    int saved_ = 0;
};

TEST_F(DebugFlagParserTest, LibraryCopyGivesTheSameResults) {
    for (const FlagCase &c : kFlagCases) {
        SCOPED_TRACE(c.text);
        DebugFlags = static_cast<int>(c.start);
        _torvel_set_debug_flags(c.text);
        EXPECT_EQ(hex(static_cast<unsigned>(DebugFlags)), hex(c.expected));
        DebugFlags = static_cast<int>(c.start);
        set_debug_flags(c.text);
        EXPECT_EQ(hex(static_cast<unsigned>(DebugFlags)), hex(c.expected));
    }
}

TEST_F(DebugFlagParserTest, NullTextOnlyAddsAlways) {
    DebugFlags = D_CONFIG;
    _torvel_set_debug_flags(nullptr);
    EXPECT_EQ(DebugFlags, D_CONFIG | D_ALWAYS);
}

}  // namespace
}  // namespace torvel_objects_test
