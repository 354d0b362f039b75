// --help, --version and bad usage of both tools, as scripts and packagers
// rely on them: help on standard output with status 0, the library's version
// string with status 0, neither touching the configuration, a failed write of
// the answer reported by the status, and usage errors still one line on
// standard error with status 2.
#include <fcntl.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "tests/tools/tool_runner.h"
#include "version/torvel_version.h"

namespace {

using tools_test::Lines;
using tools_test::RunResult;

// Each tool, run with a configuration that does not exist: answering --help
// or --version must not need one.
class StandardOptionsTest : public testing::TestWithParam<const char *> {
 protected:
    RunResult Run(const std::vector<std::string> &args,
                  const torvel_test::ProgramOptions &options = {}) {
        std::vector<std::string> env = {
            "PATH=/usr/bin:/bin", "TORVEL_CONFIG=" + dir_.path() + "/missing",
            "TORVEL_IDS=" + std::to_string(getuid()) + "." + std::to_string(getgid())};
        for (const std::string &entry : torvel_test::SanitizerEnv()) env.push_back(entry);
        return torvel_test::RunProgram(GetParam(), args, env, options);
    }

    tools_test::ScratchDir dir_;
};

TEST_P(StandardOptionsTest, HelpGoesToStandardOutputAndStartsWithTheUsageLine) {
    RunResult usage = Run({"--no-such-option"});
    ASSERT_EQ(2, usage.status);
    ASSERT_EQ(1u, Lines(usage.err).size()) << usage.err;

    RunResult help = Run({"--help"});
    EXPECT_EQ(0, help.status) << help.err;
    EXPECT_EQ("", help.err);
    // The same usage line, then the explanation of every option.
    EXPECT_EQ(0u, help.out.rfind(usage.err, 0)) << help.out;
    EXPECT_GT(Lines(help.out).size(), 5u);
    EXPECT_NE(std::string::npos, help.out.find("--version")) << help.out;
    EXPECT_NE(std::string::npos, help.out.find("Exit status")) << help.out;

    // Whatever follows --help is not looked at.
    RunResult trailing = Run({"--help", "--bogus", "X"});
    EXPECT_EQ(0, trailing.status);
    EXPECT_EQ(help.out, trailing.out);
}

TEST_P(StandardOptionsTest, VersionIsTheLibraryVersionString) {
    RunResult r = Run({"--version"});
    EXPECT_EQ(0, r.status) << r.err;
    EXPECT_EQ(std::string(TorvelVersion()) + "\n", r.out);
    EXPECT_EQ("", r.err);
}

TEST_P(StandardOptionsTest, AnswerThatCannotBeWrittenFails) {
    for (const char *option : {"--help", "--version"}) {
        torvel_test::ProgramOptions options;
        options.child_setup = [] {
            int full = open("/dev/full", O_WRONLY);
            return full >= 0 && dup2(full, 1) == 1;
        };
        RunResult r = Run({option}, options);
        EXPECT_EQ(1, r.status) << option;
    }
}

TEST_P(StandardOptionsTest, OptionsOnlyCountInFirstPlaceAndExactly) {
    // Single-dash words are left alone: to classad_eval "-v" is an expression.
    const std::vector<std::vector<std::string>> cases = {
        {"--Help"},
        {"--help=all"},
        {"--versions"},
        {"--my", "f", "--help"},
    };
    for (const std::vector<std::string> &args : cases) {
        RunResult r = Run(args);
        EXPECT_EQ(2, r.status) << args[0];
        EXPECT_EQ("", r.out) << args[0];
        EXPECT_EQ(0u, r.err.rfind("Usage: ", 0)) << args[0] << ": " << r.err;
    }
}

INSTANTIATE_TEST_SUITE_P(Tools, StandardOptionsTest,
                         testing::Values(tools_test::kConfigVal, tools_test::kClassadEval),
                         [](const testing::TestParamInfo<const char *> &info) {
                             return std::string(info.param) == tools_test::kConfigVal
                                        ? std::string("ConfigVal")
                                        : std::string("ClassadEval");
                         });

}  // namespace
