// The command-line reader shared by torvel_config_val, classad_eval and
// nbx_broker, called in this process: both value forms, "--" ending the
// options, options among operands, --help and --version in order with bad
// words, single-dash words, and the bounded naming of a bad word. The
// programs' own runs are in the tools' and the broker's tests.
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "tools/standard_options.h"

namespace {

const ToolOption kOptions[] = {{"--file", true}, {"--flag", false}};

class CommandLineTest : public testing::Test {
 protected:
    // Reads args (the program name is added) into line_.
    ToolRequest Read(const std::vector<std::string> &args, bool dash_operands = false) {
        args_ = args;
        args_.insert(args_.begin(), "prog");
        argv_.clear();
        for (std::string &a : args_) argv_.push_back(&a[0]);
        argv_.push_back(nullptr);
        return tool_read_command_line(static_cast<int>(args_.size()), argv_.data(), kOptions, 2,
                                      dash_operands, &line_);
    }

    std::vector<std::string> Operands() const {
        return std::vector<std::string>(line_.operands.begin(), line_.operands.end());
    }

    // The uses as "index=value" ("index" for a flag).
    std::vector<std::string> Uses() const {
        std::vector<std::string> uses;
        for (const ToolOptionUse &use : line_.uses) {
            uses.push_back(std::to_string(use.option) +
                           (use.value != nullptr ? "=" + std::string(use.value) : ""));
        }
        return uses;
    }

    ToolCommandLine line_;
    std::vector<std::string> args_;
    std::vector<char *> argv_;
};

TEST_F(CommandLineTest, BothValueFormsGiveTheSameValue) {
    ASSERT_EQ(kToolRun, Read({"--file", "a", "--file=b", "--file=", "--file=x=y"}));
    EXPECT_EQ((std::vector<std::string>{"0=a", "0=b", "0=", "0=x=y"}), Uses());
    EXPECT_TRUE(Operands().empty());
    // A separate value is the next word, whatever it looks like.
    ASSERT_EQ(kToolRun, Read({"--file", "--flag", "--file", "-", "--file", "--"}));
    EXPECT_EQ((std::vector<std::string>{"0=--flag", "0=-", "0=--"}), Uses());
    EXPECT_TRUE(Operands().empty());
}

TEST_F(CommandLineTest, OptionsAndOperandsMixInOrder) {
    ASSERT_EQ(kToolRun, Read({"x", "--flag", "y", "--file", "f", "-", "z"}));
    EXPECT_EQ((std::vector<std::string>{"1", "0=f"}), Uses());
    EXPECT_EQ((std::vector<std::string>{"x", "y", "-", "z"}), Operands());
}

TEST_F(CommandLineTest, DoubleDashEndsTheOptions) {
    ASSERT_EQ(kToolRun, Read({"--flag", "--", "--file", "--", "--help", "-x"}));
    EXPECT_EQ((std::vector<std::string>{"1"}), Uses());
    EXPECT_EQ((std::vector<std::string>{"--file", "--", "--help", "-x"}), Operands());
}

TEST_F(CommandLineTest, BadWordsNameThemselves) {
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"--x"}, "unknown option '--x'"},
        {{"--x=1"}, "unknown option '--x=1'"},
        {{"--fil", "a"}, "unknown option '--fil'"},  // no abbreviations
        {{"--File", "a"}, "unknown option '--File'"},
        {{"--file"}, "option '--file' needs a value"},
        {{"a", "--file"}, "option '--file' needs a value"},
        {{"--flag=1"}, "option '--flag' takes no value"},
        {{"--flag="}, "option '--flag' takes no value"},
        {{"-x"}, "unknown option '-x'"},
        {{"--help=1"}, "option '--help' takes no value"},
        {{"--version=1"}, "option '--version' takes no value"},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(kToolBadUsage, Read(c.first)) << c.second;
        EXPECT_EQ(c.second, line_.error);
    }
}

TEST_F(CommandLineTest, ABadWordIsQuotedBoundedAndEscaped) {
    EXPECT_EQ(kToolBadUsage, Read({"--a\tb\x01"}));
    EXPECT_EQ("unknown option '--a\\tb\\x01'", line_.error);
    EXPECT_EQ(kToolBadUsage, Read({"--" + std::string(5000, 'y')}));
    EXPECT_LT(line_.error.size(), 260u);
    EXPECT_NE(std::string::npos, line_.error.find("(5002 bytes)")) << line_.error;
}

TEST_F(CommandLineTest, SingleDashWordsAreOperandsOnlyWhereAllowed) {
    ASSERT_EQ(kToolRun, Read({"-v", "-5", "-"}, true));
    EXPECT_EQ((std::vector<std::string>{"-v", "-5", "-"}), Operands());
    ASSERT_EQ(kToolRun, Read({"-"}, false));
    EXPECT_EQ((std::vector<std::string>{"-"}), Operands());
    EXPECT_EQ(kToolBadUsage, Read({"-5"}, false));
    EXPECT_EQ("unknown option '-5'", line_.error);
}

TEST_F(CommandLineTest, HelpAndVersionAnswerInTheOrderGiven) {
    EXPECT_EQ(kToolHelp, Read({"--help"}));
    EXPECT_EQ(kToolVersion, Read({"--version"}));
    // What follows the first answer is not looked at.
    EXPECT_EQ(kToolHelp, Read({"--flag", "x", "--help", "--bogus", "--version"}));
    EXPECT_EQ(kToolVersion, Read({"--version", "--help"}));
    EXPECT_EQ(kToolVersion, Read({"--file", "f", "--version", "--file"}));
    // A bad word before them is reported instead.
    EXPECT_EQ(kToolBadUsage, Read({"--bogus", "--help"}));
    EXPECT_EQ("unknown option '--bogus'", line_.error);
    // As a value or after "--" they are plain words.
    EXPECT_EQ(kToolRun, Read({"--file", "--help", "--", "--version"}));
    EXPECT_EQ((std::vector<std::string>{"0=--help"}), Uses());
    EXPECT_EQ((std::vector<std::string>{"--version"}), Operands());
}

TEST_F(CommandLineTest, EachReadStartsAfresh) {
    ASSERT_EQ(kToolBadUsage, Read({"a", "--flag", "--x"}));
    ASSERT_EQ(kToolRun, Read({"b"}));
    EXPECT_EQ("", line_.error);
    EXPECT_TRUE(Uses().empty());
    EXPECT_EQ((std::vector<std::string>{"b"}), Operands());
}

}  // namespace
