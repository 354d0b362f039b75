// --help, --version and bad usage of both tools, as scripts and packagers
// rely on them: help on standard output with status 0, the program's name
// and version then the library's version string with status 0, neither
// touching the configuration, a failed write of the answer reported by the
// status, and usage errors as the reason naming the bad word then the usage
// line on standard error with status 2. The reader itself is unit-tested in
// command_line_test.cpp.
#include <fcntl.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "tests/tools/tool_runner.h"
#include "version/torvel_version.h"

namespace {

// The project's version, as the build passes it to the tools.
const char kPackageVersion[] = TORVEL_PACKAGE_VERSION;

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

// The program's name as its messages begin.
std::string Name(const char *path) {
    return std::string(path).substr(std::string(path).rfind('/') + 1);
}

TEST_P(StandardOptionsTest, HelpGoesToStandardOutputAndStartsWithTheUsageLine) {
    RunResult usage = Run({"--no-such-option"});
    ASSERT_EQ(2, usage.status);
    std::vector<std::string> lines = Lines(usage.err);
    ASSERT_EQ(2u, lines.size()) << usage.err;
    EXPECT_EQ(Name(GetParam()) + ": unknown option '--no-such-option'", lines[0]);

    RunResult help = Run({"--help"});
    EXPECT_EQ(0, help.status) << help.err;
    EXPECT_EQ("", help.err);
    // The same usage line, then the explanation of every option.
    EXPECT_EQ(0u, help.out.rfind(lines[1] + "\n", 0)) << help.out;
    EXPECT_GT(Lines(help.out).size(), 5u);
    EXPECT_NE(std::string::npos, help.out.find("--version")) << help.out;
    EXPECT_NE(std::string::npos, help.out.find("Exit status")) << help.out;

    // Whatever follows --help is not looked at.
    RunResult trailing = Run({"--help", "--bogus", "X"});
    EXPECT_EQ(0, trailing.status);
    EXPECT_EQ(help.out, trailing.out);
}

TEST_P(StandardOptionsTest, VersionNamesTheProgramThenTheLibraryVersionString) {
    RunResult r = Run({"--version"});
    EXPECT_EQ(0, r.status) << r.err;
    EXPECT_EQ(Name(GetParam()) + " (Torvel) " + kPackageVersion + "\n" + TorvelVersion() + "\n",
              r.out);
    EXPECT_EQ("", r.err);
    // The package's version is the library's.
    EXPECT_EQ(0u, std::string(TorvelVersion())
                      .rfind(std::string("$TorvelVersion: ") + kPackageVersion + " ", 0));
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

TEST_P(StandardOptionsTest, OptionsAreMatchedExactlyAndABadOneBeforeHelpWins) {
    // Single-dash words are left alone: to classad_eval "-v" is an expression.
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"--Help"}, "unknown option '--Help'"},
        {{"--help=all"}, "option '--help' takes no value"},
        {{"--versions"}, "unknown option '--versions'"},
        {{"--vers"}, "unknown option '--vers'"},
        {{"--bogus", "--help"}, "unknown option '--bogus'"},
    };
    for (const auto &c : cases) {
        RunResult r = Run(c.first);
        EXPECT_EQ(2, r.status) << c.first[0];
        EXPECT_EQ("", r.out) << c.first[0];
        EXPECT_EQ(0u, r.err.rfind(Name(GetParam()) + ": " + c.second + "\nUsage: ", 0))
            << c.first[0] << ": " << r.err;
    }
}

TEST_P(StandardOptionsTest, HelpAnswersWhereverAmongTheOptions) {
    // An option each tool knows, before and after an operand.
    std::string known = GetParam() == std::string(tools_test::kClassadEval) ? "--print" : "--debug";
    RunResult help = Run({"--help"});
    for (const std::vector<std::string> &args :
         std::vector<std::vector<std::string>>{{known, "--help"}, {known, "X", "--help"}}) {
        RunResult r = Run(args);
        EXPECT_EQ(0, r.status) << r.err;
        EXPECT_EQ(help.out, r.out);
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
