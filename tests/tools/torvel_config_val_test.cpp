// End-to-end tests of torvel_config_val: the built program runs on temporary
// configurations (TORVEL_CONFIG) with a minimal environment. Covers each
// query, every warning path of the typed lookups, provenance after
// redefinition, the precedence of --subsystem keys, the iteration order of
// --dump, bad usage, and start-up failures compared with the launcher's.
#include <unistd.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "config/macro_table.h"
#include "gtest/gtest.h"
#include "tests/tools/tool_runner.h"

namespace {

using tools_test::Lines;
using tools_test::RunProgram;
using tools_test::RunResult;

class ConfigValTest : public testing::Test {
 protected:
    // Writes the global source.
    void Global(const std::string &text) { config_ = dir_.Write("torvel_config", text); }

    RunResult Tool(const std::vector<std::string> &args, const std::vector<std::string> &env = {}) {
        // The tool runs as root here; its own ids serve as the service
        // account, as the test program's do.
        std::vector<std::string> full_env = {
            "TORVEL_CONFIG=" + config_,
            "TORVEL_IDS=" + std::to_string(getuid()) + "." + std::to_string(getgid())};
        full_env.insert(full_env.end(), env.begin(), env.end());
        return RunProgram(tools_test::kConfigVal, args, full_env);
    }

    // The --debug output of one typed query must contain warning; without
    // --debug the same query prints the same value and no warning.
    void ExpectTyped(const std::vector<std::string> &query, const std::string &value,
                     const std::string &warning) {
        std::vector<std::string> args = {"--debug"};
        args.insert(args.end(), query.begin(), query.end());
        RunResult debug = Tool(args);
        EXPECT_EQ(0, debug.status) << debug.err;
        EXPECT_EQ(value + "\n", debug.out);
        if (warning.empty()) {
            EXPECT_EQ(std::string::npos, debug.err.find(query[1] + " ")) << debug.err;
        } else {
            std::vector<std::string> lines = Lines(debug.err);
            EXPECT_NE(lines.end(), std::find(lines.begin(), lines.end(), warning))
                << "missing: " << warning << "\nin:\n"
                << debug.err;
        }
        RunResult quiet = Tool(query);
        EXPECT_EQ(0, quiet.status);
        EXPECT_EQ(value + "\n", quiet.out);
        EXPECT_EQ("", quiet.err);
    }

    tools_test::ScratchDir dir_;
    std::string config_;
};

TEST_F(ConfigValTest, NamesPrintExpandedValuesAndReportUndefinedOnes) {
    Global("Y = /opt\nX = $(Y)/bin\nEMPTY =\nHOLE = $(NOWHERE)\n");
    RunResult r = Tool({"X", "Y"});
    EXPECT_EQ(0, r.status);
    EXPECT_EQ("/opt/bin\n/opt\n", r.out);
    EXPECT_EQ("", r.err);

    // Undefined names (also empty ones and ones expanding to nothing) are
    // reported while the others are still answered, and the status is 1.
    r = Tool({"NOPE", "x", "EMPTY", "HOLE"});
    EXPECT_EQ(1, r.status);
    EXPECT_EQ("/opt/bin\n", r.out);
    EXPECT_EQ("Not defined: NOPE\nNot defined: EMPTY\nNot defined: HOLE\n", r.err);
}

TEST_F(ConfigValTest, SubsystemKeysTakePrecedence) {
    Global(
        "X = plain\n"
        "TOOL.X = tool\n"
        "SCHEDD.X = schedd\n"
        "E = 5\n"
        "TOOL.E =\n"
        "WHO = $(subsystem)\n");
    EXPECT_EQ("tool\n", Tool({"X"}).out);
    EXPECT_EQ("schedd\n", Tool({"--subsystem", "SCHEDD", "X"}).out);
    EXPECT_EQ("schedd\n", Tool({"--subsystem", "schedd", "X"}).out);
    EXPECT_EQ("plain\n", Tool({"--subsystem", "OTHER", "X"}).out);
    EXPECT_EQ("OTHER\n", Tool({"--subsystem", "OTHER", "WHO"}).out);
    EXPECT_EQ("TOOL\n", Tool({"WHO"}).out);

    // An empty subsystem key hides the general one, for every lookup.
    RunResult r = Tool({"E"});
    EXPECT_EQ(1, r.status);
    EXPECT_EQ("Not defined: E\n", r.err);
    EXPECT_EQ("5\n", Tool({"--subsystem", "SCHEDD", "E"}).out);
    ExpectTyped({"--int", "E", "7", "0", "10"}, "7", "E is undefined, using default value of 7");

    // --where names the key that decided the value.
    r = Tool({"--where", "X"});
    EXPECT_EQ("X = tool\n  # file " + config_ + ", line 2\n", r.out);
    r = Tool({"--subsystem", "SCHEDD", "--where", "X"});
    EXPECT_EQ("X = schedd\n  # file " + config_ + ", line 3\n", r.out);
    r = Tool({"--where", "E"});
    EXPECT_EQ(1, r.status);
    EXPECT_EQ("Not defined: E\n", r.err);
    EXPECT_EQ("  # file " + config_ + ", line 5\n", r.out);
}

TEST_F(ConfigValTest, WhereFollowsRedefinitions) {
    std::string local_dir = dir_.MakeDir("local.d");
    std::string in_dir = dir_.Write("local.d/10-first", "A = from-dir\nB = from-dir\n");
    std::string local = dir_.Write("local", "# local\n\nB = from-local\n");
    Global(
        "A = global\n"
        "B = global\n"
        "C = first\n"
        "C = second\n"
        "LOCAL_CONFIG_DIR = " +
        local_dir +
        "\n"
        "LOCAL_CONFIG_FILE = " +
        local + "\n");

    RunResult r = Tool({"--where", "C"});
    EXPECT_EQ(0, r.status);
    EXPECT_EQ("C = second\n  # file " + config_ + ", line 4\n", r.out);
    EXPECT_EQ("A = from-dir\n  # file " + in_dir + ", line 1\n", Tool({"--where", "A"}).out);
    EXPECT_EQ("B = from-local\n  # file " + local + ", line 3\n", Tool({"--where", "B"}).out);
}

TEST_F(ConfigValTest, WhereReportsInternalEnvironmentAndUndefined) {
    Global("X = 1\n");
    EXPECT_EQ("subsystem = TOOL\n  # file <Internal>, line -1\n",
              Tool({"--where", "subsystem"}).out);

    RunResult r = Tool({"--where", "FROM_ENV"}, {"_torvel_FROM_ENV=env value"});
    EXPECT_EQ(0, r.status);
    EXPECT_EQ("FROM_ENV = env value\n  # file <Environment>, line -1\n", r.out);

    r = Tool({"--where", "NEVER_SET"});
    EXPECT_EQ(1, r.status);
    EXPECT_EQ("Not defined: NEVER_SET\n", r.err);
    EXPECT_EQ("  # file <Undefined>, line -1\n", r.out);
}

TEST_F(ConfigValTest, OnlyEnvNeedsNoFile) {
    RunResult r = RunProgram(tools_test::kConfigVal, {"--where", "V"},
                             {"TORVEL_CONFIG=only_env", "_TORVEL_V=from env"});
    EXPECT_EQ(0, r.status) << r.err;
    EXPECT_EQ("V = from env\n  # file <Environment>, line -1\n", r.out);
}

TEST_F(ConfigValTest, RawShowsTheStoredText) {
    Global("Y = /opt\nX = $(Y)/bin $$(Y)\nTOOL.Z = special\n");
    RunResult r = Tool({"--raw", "x"});
    EXPECT_EQ(0, r.status);
    EXPECT_EQ("$(Y)/bin $$(Y)\n", r.out);
    EXPECT_EQ("special\n", Tool({"--raw", "TOOL.Z"}).out);

    // The stored table only: no subsystem rule.
    r = Tool({"--raw", "Z"});
    EXPECT_EQ(1, r.status);
    EXPECT_EQ("Not defined: Z\n", r.err);
    EXPECT_EQ("", r.out);
}

TEST_F(ConfigValTest, IntegerLookupsAndTheirWarnings) {
    Global("GOOD = 5\nUNITS = 12 units\nBAD = abc\nLOW = -5\nHIGH = 99\nEDGE = 10\n");
    ExpectTyped({"--int", "GOOD", "7", "0", "10"}, "5", "");
    ExpectTyped({"--int", "UNITS", "7", "0", "100"}, "12", "");
    ExpectTyped({"--int", "EDGE", "7", "0", "10"}, "10", "");
    ExpectTyped({"--int", "MISSING", "70", "0", "10"}, "70",
                "MISSING is undefined, using default value of 70");
    ExpectTyped({"--int", "BAD", "7", "0", "10"}, "7",
                "WARNING: BAD not an integer (\"abc\"), using default value of 7");
    ExpectTyped({"--int", "LOW", "7", "0", "10"}, "0",
                "WARNING: LOW too low (-5), using minimum value of 0");
    ExpectTyped({"--int", "HIGH", "7", "0", "10"}, "10",
                "WARNING: HIGH too high (99), using maximum value of 10");
}

TEST_F(ConfigValTest, FloatLookupsAndTheirWarnings) {
    Global("GOOD = 2.5\nBAD = x1\nLOW = -1.5\nHIGH = 1e9\n");
    ExpectTyped({"--float", "GOOD", "1", "0", "10"}, "2.500000", "");
    ExpectTyped({"--float", "MISSING", "1.25", "0", "10"}, "1.250000",
                "MISSING is undefined, using default value of 1.250000");
    ExpectTyped({"--float", "BAD", "1.5", "0", "10"}, "1.500000",
                "WARNING: BAD not an float (\"x1\"), using default value of 1.500000");
    ExpectTyped({"--float", "LOW", "1", "0", "10"}, "0.000000",
                "WARNING: LOW too low (-1.500000), using minimum value of 0.000000");
    ExpectTyped({"--float", "HIGH", "1", "0", "10"}, "10.000000",
                "WARNING: HIGH too high (1000000000.000000), using maximum value of "
                "10.000000");
}

TEST_F(ConfigValTest, BooleanLookupsAndTheirWarnings) {
    Global("T1 = Temp\nT2 = 1000\nF1 = false\nF2 = 0x1\nYES = yes\n");
    ExpectTyped({"--bool", "T1", "false"}, "true", "");
    ExpectTyped({"--bool", "T2", "false"}, "true", "");
    ExpectTyped({"--bool", "F1", "true"}, "false", "");
    ExpectTyped({"--bool", "F2", "true"}, "false", "");
    ExpectTyped({"--bool", "MISSING", "true"}, "true",
                "MISSING is undefined, using default value of True");
    ExpectTyped({"--bool", "YES", "false"}, "false",
                "WARNING: YES not a boolean (\"yes\"), using default value of False");
}

TEST_F(ConfigValTest, DebugWritesEverySavedLineOncePerLine) {
    Global("BAD = abc\n");
    RunResult r = Tool({"--debug", "--int", "BAD", "3", "0", "9"});
    EXPECT_EQ(0, r.status);
    for (const std::string &line : Lines(r.err)) {
        EXPECT_FALSE(line.empty()) << r.err;
    }
    size_t first = r.err.find("not an integer");
    ASSERT_NE(std::string::npos, first);
    EXPECT_EQ(std::string::npos, r.err.find("not an integer", first + 1));
    // --debug may also come after --subsystem.
    r = Tool({"--subsystem", "SCHEDD", "--debug", "--int", "BAD", "3", "0", "9"});
    EXPECT_NE(std::string::npos, r.err.find("not an integer")) << r.err;
}

TEST_F(ConfigValTest, ExpandUsesTheTableAndTheEnvironment) {
    Global("Y = /opt\nX = $(Y)/bin\n");
    RunResult r =
        Tool({"--expand", "$(X):$(subsystem):$ENV(TV_VAR):$(UNSET)."}, {"TV_VAR=from-env"});
    EXPECT_EQ(0, r.status) << r.err;
    EXPECT_EQ("/opt/bin:TOOL:from-env:.\n", r.out);
    // No subsystem rule: TOOL.NAME is not preferred by macro expansion.
    Global("N = plain\nTOOL.N = tool\n");
    EXPECT_EQ("plain\n", Tool({"--expand", "$(N)"}).out);
}

TEST_F(ConfigValTest, DumpListsTheTableInIterationOrder) {
    Global("Y = /opt\nX = $(Y)/bin\nmixedCase = Value\n");
    RunResult r = Tool({"--dump"});
    ASSERT_EQ(0, r.status) << r.err;
    std::vector<std::string> lines = Lines(r.out);
    std::set<std::string> names;
    int previous_bucket = -1;
    for (const std::string &line : lines) {
        size_t eq = line.find(" = ");
        ASSERT_NE(std::string::npos, eq) << line;
        std::string name = line.substr(0, eq);
        EXPECT_TRUE(names.insert(name).second) << "listed twice: " << name;
        // Bucket by bucket: the index never goes down.
        int bucket = torvel_hash(name.c_str(), CONFIG_TABLE_SIZE);
        EXPECT_LE(previous_bucket, bucket) << line;
        previous_bucket = bucket;
    }
    std::set<std::string> expected_lines(lines.begin(), lines.end());
    EXPECT_EQ(1u, expected_lines.count("x = $(Y)/bin"));
    EXPECT_EQ(1u, expected_lines.count("y = /opt"));
    EXPECT_EQ(1u, expected_lines.count("mixedcase = Value"));
    EXPECT_EQ(1u, expected_lines.count("subsystem = TOOL"));
    EXPECT_EQ(1u, names.count("hostname"));
    EXPECT_EQ(1u, names.count("pid"));
}

TEST_F(ConfigValTest, BadUsageExitsTwoBeforeReadingConfiguration) {
    config_ = dir_.path() + "/does-not-exist";
    const std::string four = "takes NAME DEFAULT MIN MAX";
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{}, "no NAME given"},
        {{"--debug"}, "no NAME given"},
        {{"--subsystem"}, "option '--subsystem' needs a value"},
        {{"--subsystem", "SCHEDD"}, "no NAME given"},
        {{"--subsystem=A", "--subsystem", "B", "X"}, "option '--subsystem' given twice"},
        {{"--where"}, "option '--where' needs a value"},
        {{"--where", "A", "B"}, "extra operand 'B'"},
        {{"--where", "A", "--raw", "B"}, "option '--raw' does not go with '--where'"},
        {{"--raw"}, "option '--raw' needs a value"},
        {{"--int", "X", "1", "0"}, "option '--int' " + four},
        {{"--int", "X", "one", "0", "9"}, "option '--int' " + four + ": bad value"},
        {{"--int", "X", "1", "0", "99999999999"}, "option '--int' " + four + ": bad value"},
        {{"--float", "X", "1", "0", "nine"}, "option '--float' " + four + ": bad value"},
        {{"--bool", "X"}, "option '--bool' takes NAME DEFAULT (true or false)"},
        {{"--bool", "X", "yes"}, "option '--bool' takes NAME DEFAULT (true or false): bad value"},
        {{"--expand"}, "option '--expand' needs a value"},
        {{"--dump", "X"}, "extra operand 'X'"},
        {{"--dump=X"}, "option '--dump' takes no value"},
        {{"--bogus", "X"}, "unknown option '--bogus'"},
        {{"X", "--bogus"}, "unknown option '--bogus'"},
        {{"X", "-Y"}, "unknown option '-Y'"},
    };
    for (const auto &c : cases) {
        RunResult r = Tool(c.first);
        std::string shown;
        for (const std::string &a : c.first) shown += " " + a;
        EXPECT_EQ(2, r.status) << shown;
        EXPECT_EQ("", r.out) << shown;
        std::vector<std::string> lines = Lines(r.err);
        ASSERT_EQ(2u, lines.size()) << shown << ": " << r.err;
        EXPECT_EQ("torvel_config_val: " + c.second, lines[0]) << shown;
        EXPECT_EQ(0u, lines[1].rfind("Usage: torvel_config_val ", 0)) << shown << ": " << r.err;
    }
}

TEST_F(ConfigValTest, OptionsTakeEitherValueFormAndMayFollowTheNames) {
    Global("A = 1\nB = $(A)2\nSCHEDD.A = 7\n");
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"--raw", "B"}, "$(A)2\n"},
        {{"--raw=B"}, "$(A)2\n"},
        {{"--expand=$(A)3"}, "13\n"},
        {{"--subsystem=SCHEDD", "A", "B"}, "7\n12\n"},
        {{"A", "B", "--subsystem", "SCHEDD"}, "7\n12\n"},
        {{"A", "--debug"}, "1\n"},
        {{"--", "A"}, "1\n"},
        {{"--int=A", "-5", "-10", "10"}, "1\n"},
        {{"--int", "NOPE", "-5", "-10", "10"}, "-5\n"},
        {{"-1", "-10", "10", "--int", "NOPE"}, "-1\n"},  // the operands may come first
        {{"--bool=NOPE", "true"}, "true\n"},
    };
    for (const auto &c : cases) {
        RunResult r = Tool(c.first);
        EXPECT_EQ(0, r.status) << c.first[0] << ": " << r.err;
        EXPECT_EQ(c.second, r.out) << c.first[0];
    }
}

// Start-up failures: the tool fails exactly as the launcher does.
TEST_F(ConfigValTest, StartupFailuresMatchTheLauncher) {
    std::string dir = dir_.MakeDir("a-directory");
    std::string broken = dir_.Write("broken", "A = 1\nthis line has no assignment\n");
    std::string placeholder = dir_.Write(
        "placeholder", "JAVA = YOU_MUST_CHANGE_THIS_INVALID_TORVEL_CONFIGURATION_VALUE/x\n");
    std::string bad_local =
        dir_.Write("bad_local", "LOCAL_CONFIG_FILE = " + dir_.path() + "/no-such-local\n");
    const std::vector<std::pair<std::string, int>> cases = {
        {"TORVEL_CONFIG=" + dir_.path() + "/missing", 1},
        {"TORVEL_CONFIG=" + dir, 1},
        {"TORVEL_CONFIG=" + broken, 1},
        {"TORVEL_CONFIG=" + placeholder, 4},
        {"TORVEL_CONFIG=" + bad_local, 1},
    };
    for (const auto &c : cases) {
        RunResult tool = RunProgram(tools_test::kConfigVal, {"JAVA"}, {c.first});
        RunResult launcher = RunProgram(tools_test::kLauncher, {}, {c.first});
        EXPECT_EQ(c.second, tool.status) << c.first << "\n" << tool.err;
        EXPECT_EQ(launcher.status, tool.status) << c.first;
        EXPECT_EQ(launcher.err, tool.err) << c.first;
        EXPECT_EQ("", tool.out) << c.first;
        EXPECT_NE("", tool.err) << c.first;
    }
}

}  // namespace
