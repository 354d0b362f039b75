// End-to-end tests of classad_eval: the built program runs on temporary ad
// files (and standard input) with a minimal environment. Covers every
// result kind, MY/TARGET scoping, ad file reading, parse failures and their
// positions (checked against the library's parser in this process), the
// printed form, --match with ClassAd types and requirements, and bad usage.
#include <stdlib.h>
#include <time.h>

#include <string>
#include <vector>

#include "classad/expr_tree.h"
#include "classad/parser.h"
#include "gtest/gtest.h"
#include "tests/tools/tool_runner.h"

namespace {

using tools_test::Lines;
using tools_test::RunResult;

RunResult Eval(const std::vector<std::string> &args, const std::string &input = "") {
    return tools_test::RunProgram(tools_test::kClassadEval, args, {}, input);
}

// The failure position the library's parser reports for text.
int ParsePosition(const char *text) {
    ExprTree *tree = nullptr;
    int position = Parse(text, tree);
    delete tree;
    return position;
}

class ClassadEvalTest : public testing::Test {
 protected:
    tools_test::ScratchDir dir_;
};

TEST_F(ClassadEvalTest, EveryResultKind) {
    RunResult r = Eval({"1 + 2", "7 / 2", "7.0 / 2", "0.1", "\"say \\\"hi\\\"\"", "x", "7 / 0",
                        "TRUE", "\"a\" + \"b\"", "'2004-01-01'", "2147483647 + 1",
                        "\"abc\" == \"ABC\"", "UNDEFINED =?= UNDEFINED", "1.0 / 0"});
    EXPECT_EQ(0, r.status) << r.err;
    EXPECT_EQ(
        "INTEGER:3\n"
        "INTEGER:3\n"
        "FLOAT:3.5\n"
        "FLOAT:0.10000000149011612\n"  // single precision, printed exactly
        "STRING:say \"hi\"\n"          // the raw text: no quotes, no escapes
        "UNDEFINED\n"
        "ERROR\n"
        "INTEGER:1\n"
        "ERROR\n"
        "TIME:2004-01-01\n"
        "INTEGER:-2147483648\n"
        "INTEGER:1\n"
        "INTEGER:1\n"
        "FLOAT:inf\n",
        r.out);
    EXPECT_EQ("", r.err);
}

TEST_F(ClassadEvalTest, CurrentTimeIsTheClock) {
    time_t before = time(nullptr);
    RunResult r = Eval({"CurrentTime", "currenttime"});
    time_t after = time(nullptr);
    std::vector<std::string> lines = Lines(r.out);
    ASSERT_EQ(2u, lines.size()) << r.out;
    ASSERT_EQ(0u, lines[0].rfind("INTEGER:", 0)) << lines[0];
    long now = strtol(lines[0].c_str() + 8, nullptr, 10);
    EXPECT_LE(static_cast<long>(before), now);
    EXPECT_GE(static_cast<long>(after), now);
    EXPECT_EQ("UNDEFINED", lines[1]);
}

TEST_F(ClassadEvalTest, MyAndTargetScoping) {
    std::string my = dir_.Write("my.ad", "a = 1\nb = a + 1\nonlymine = 3\n");
    std::string target = dir_.Write("target.ad", "a = 10\nc = 5\nd = a\ne = onlymine\n");
    RunResult r = Eval({"--my", my, "--target", target, "a", "MY.a", "TARGET.a", "b", "TARGET.b",
                        "c", "MY.c", "TARGET.c", "d", "TARGET.d", "e", "TARGET.MY.a",
                        "TARGET.TARGET.a", "OTHER.a", "A + C"});
    EXPECT_EQ(0, r.status) << r.err;
    EXPECT_EQ(
        "INTEGER:1\n"   // a: my own first
        "INTEGER:1\n"   // MY.a
        "INTEGER:10\n"  // TARGET.a
        "INTEGER:2\n"   // b = a + 1 in my ad
        "UNDEFINED\n"   // TARGET.b: the target has no b
        "INTEGER:5\n"   // c: found in the target
        "UNDEFINED\n"   // MY.c: restricted to my ad
        "INTEGER:5\n"   // TARGET.c
        "INTEGER:10\n"  // d: the target's, evaluated with the target as MY
        "INTEGER:10\n"  // TARGET.d
        "INTEGER:3\n"   // e = onlymine: the target's view falls back to my ad
        "INTEGER:10\n"  // TARGET.MY.a
        "INTEGER:1\n"   // TARGET.TARGET.a
        "UNDEFINED\n"   // OTHER.a: an unknown scope
        "INTEGER:6\n",  // names ignore case
        r.out);

    // Either ad may be absent.
    r = Eval({"--target", target, "a", "MY.a", "TARGET.a"});
    EXPECT_EQ("INTEGER:10\nUNDEFINED\nINTEGER:10\n", r.out);
    r = Eval({"--my", my, "a", "TARGET.a"});
    EXPECT_EQ("INTEGER:1\nUNDEFINED\n", r.out);
    // The options may come in either order.
    r = Eval({"--target", target, "--my", my, "TARGET.a - a"});
    EXPECT_EQ("INTEGER:9\n", r.out);
}

TEST_F(ClassadEvalTest, AdFilesSkipCommentsAndBlanksAndLaterAttributesWin) {
    std::string my = dir_.Write("my.ad",
                                "# a comment\n"
                                "\n"
                                "   \t\n"
                                "  x = 1\n"
                                "X = 2\n"
                                "s = \"text\"\n"
                                "loop = loop + 1\n"
                                "last = 42");  // no final newline
    RunResult r = Eval({"--my", my, "x", "s", "loop", "last"});
    EXPECT_EQ(0, r.status) << r.err;
    EXPECT_EQ("INTEGER:2\nSTRING:text\nERROR\nINTEGER:42\n", r.out);
}

TEST_F(ClassadEvalTest, AdFromStandardInput) {
    RunResult r = Eval({"--target", "-", "TARGET.mem * 2"}, "mem = 64\n");
    EXPECT_EQ(0, r.status) << r.err;
    EXPECT_EQ("INTEGER:128\n", r.out);
    // Standard input can feed only one of the two ads.
    r = Eval({"--my", "-", "--target", "-", "1"}, "a = 1\n");
    EXPECT_EQ(2, r.status);
}

TEST_F(ClassadEvalTest, BadAdFilesFail) {
    std::string bad = dir_.Write("bad.ad", "a = 1\n1 + 2\n");
    RunResult r = Eval({"--my", bad, "a"});
    EXPECT_EQ(1, r.status);
    EXPECT_EQ("", r.out);
    EXPECT_EQ("classad_eval: " + bad + ":2: not an attribute assignment: 1 + 2\n", r.err);

    // "classad_eval: FILE: reason", whichever way the option is written.
    std::string missing = dir_.path() + "/missing.ad";
    for (const std::vector<std::string> &args : std::vector<std::vector<std::string>>{
             {"--target", missing, "a"}, {"--target=" + missing, "a"}, {"a", "--my", missing}}) {
        r = Eval(args);
        EXPECT_EQ(1, r.status);
        EXPECT_EQ("", r.out);
        EXPECT_EQ("classad_eval: " + missing + ": No such file or directory\n", r.err);
    }
    r = Eval({"--match", "-", dir_.path()}, "a = 1\n");
    EXPECT_EQ(1, r.status);
    EXPECT_EQ("classad_eval: " + dir_.path() + ": Is a directory\n", r.err);
}

TEST_F(ClassadEvalTest, ParseFailuresReportTheParsersPosition) {
    const std::vector<std::string> bad = {"1 +",    ")",         "",       "(1 + 2",
                                          "f(1, 2", "a = b = c", "\"open", "1 2"};
    std::vector<std::string> args = {"1"};
    args.insert(args.end(), bad.begin(), bad.end());
    args.push_back("2");
    RunResult r = Eval(args);
    EXPECT_EQ(1, r.status);
    std::string expected = "INTEGER:1\n";
    for (const std::string &text : bad) {
        expected += "PARSE_ERROR:" + std::to_string(ParsePosition(text.c_str())) + "\n";
    }
    expected += "INTEGER:2\n";
    EXPECT_EQ(expected, r.out);
    // Fixed points, independent of this process's parser.
    EXPECT_EQ("PARSE_ERROR:0\n", Eval({")"}).out);
    EXPECT_EQ("PARSE_ERROR:3\n", Eval({"1 +"}).out);
}

TEST_F(ClassadEvalTest, PrintShowsTheCanonicalText) {
    RunResult r = Eval({"--print", "a+b*2", "x=\"q\\\"t\"", "(  a  )", "1 +", "a>=b&&c",
                        "strcat(x,\"y\")", "2.5", "-x", "t"});
    EXPECT_EQ(1, r.status);
    EXPECT_EQ(
        "a + b * 2\n"
        "x = \"q\\\"t\"\n"
        "(a)\n"
        "PARSE_ERROR:3\n"
        "a >= b && c\n"
        "strcat(x; \"y\")\n"
        "2.500000\n"
        " - x\n"
        "TRUE\n",
        r.out);
    // Printing is the library's own: the same text as PrintToNewStr here.
    const char *text = "MY.x =?= TARGET.y || fn(1, 2.5, 'T', \"s\") && -3 < (a)";
    ExprTree *tree = nullptr;
    ASSERT_EQ(0, Parse(text, tree));
    char *printed = nullptr;
    tree->PrintToNewStr(&printed);
    EXPECT_EQ(std::string(printed) + "\n", Eval({"--print", text}).out);
    free(printed);
    delete tree;
}

TEST_F(ClassadEvalTest, MatchIsSymmetricAndTyped) {
    std::string machine = dir_.Write("machine.ad",
                                     "MyType = \"Machine\"\n"
                                     "TargetType = \"Job\"\n"
                                     "Memory = 128\n"
                                     "Requirements = TARGET.ImageSize <= Memory\n");
    std::string job = dir_.Write("job.ad",
                                 "MyType = \"Job\"\n"
                                 "TargetType = \"Machine\"\n"
                                 "ImageSize = 64\n"
                                 "Requirements = TARGET.Memory >= MY.ImageSize\n");
    std::string big_job = dir_.Write("big.ad",
                                     "MyType = \"Job\"\nTargetType = \"Machine\"\n"
                                     "ImageSize = 256\nRequirements = TRUE\n");
    std::string other = dir_.Write("other.ad",
                                   "MyType = \"Job\"\nTargetType = \"Other\"\n"
                                   "ImageSize = 1\nRequirements = TRUE\n");
    std::string any = dir_.Write("any.ad",
                                 "MyType = \"Job\"\nTargetType = \"any\"\n"
                                 "ImageSize = 1\nRequirements = TRUE\n");
    std::string real = dir_.Write("real.ad",
                                  "MyType = \"Job\"\nTargetType = \"Machine\"\n"
                                  "ImageSize = 1\nRequirements = 1.0\n");
    struct Case {
        std::string first, second, want;
    } cases[] = {
        {job, machine, "1\n"},     {machine, job, "1\n"},
        {big_job, machine, "0\n"},  // the machine's Requirements fails
        {other, machine, "0\n"},    // the job does not want a Machine
        {any, machine, "1\n"},      // "Any" accepts every type
        {real, machine, "0\n"},     // a real is not a match, even 1.0
    };
    for (const Case &c : cases) {
        RunResult r = Eval({"--match", c.first, c.second});
        EXPECT_EQ(0, r.status) << r.err;
        EXPECT_EQ(c.want, r.out) << c.first << " " << c.second;
        EXPECT_EQ("", r.err);
    }
    // One of the two may come from standard input.
    RunResult r = Eval({"--match", "-", machine},
                       "MyType = \"Job\"\nTargetType = \"Machine\"\nImageSize = 8\n"
                       "Requirements = TRUE\n");
    EXPECT_EQ("1\n", r.out) << r.err;
    r = Eval({"--match", "-", "-"});
    EXPECT_EQ(2, r.status);

    std::string bad = dir_.Write("bad.ad", "Requirements = TRUE\n1 +\n");
    r = Eval({"--match", bad, machine});
    EXPECT_EQ(1, r.status);
    EXPECT_EQ("", r.out);
    EXPECT_EQ(0u, r.err.find("classad_eval: " + bad + ":2: not an attribute assignment: "))
        << r.err;
}

// The worked example shipped in examples/pool: ten machines, three jobs.
std::string Example(const char *name) {
    return std::string(TORVEL_SOURCE_DIR "/examples/pool/") + name;
}

TEST_F(ClassadEvalTest, MatchAllListsByRankThenFileOrderAndExitsByTheAnswer) {
    std::string pool = Example("machines.ads");
    RunResult r = Eval({"--match-all", Example("job_matches.ad"), pool});
    EXPECT_EQ(0, r.status) << r.err;
    // Rank is TARGET.Memory; beta and theta tie, as do the two alpha slots.
    EXPECT_EQ(
        "slot1@iota.example.org 65536\n"
        "slot1@gamma.example.org 16384\n"
        "slot1@beta.example.org 8192\n"
        "slot1@theta.example.org 8192\n"
        "slot1@alpha.example.org 4096\n"
        "slot2@alpha.example.org 4096\n",
        r.out);
    r = Eval({"--limit", "2", "--match-all", Example("job_matches.ad"), pool});
    EXPECT_EQ(2u, Lines(r.out).size()) << r.out;
    r = Eval({"--match-all", "--count", Example("job_matches.ad"), pool});
    EXPECT_EQ("6\n", r.out);
    r = Eval({"--match-all", "--count", Example("job_too_big.ad"), pool});
    EXPECT_EQ(1, r.status);
    EXPECT_EQ("0\n", r.out);
    // Ads without a Name go by their position; the pool may be standard input.
    r = Eval({"--match-all", Example("job_matches.ad"), "-"},
             "MyType = \"Machine\"\nTargetType = \"Job\"\nArch = \"X86_64\"\n"
             "OpSys = \"LINUX\"\nMemory = 1\nRequirements = TRUE\n\n"
             "MyType = \"Machine\"\nTargetType = \"Job\"\nArch = \"X86_64\"\n"
             "OpSys = \"LINUX\"\nMemory = 5000\nRequirements = TRUE\n");
    EXPECT_EQ(0, r.status) << r.err;
    EXPECT_EQ("#2 5000\n", r.out);
}

TEST_F(ClassadEvalTest, MatchAllExitsTwoForUnreadableInput) {
    std::string job = Example("job_matches.ad");
    std::string garbage = dir_.Write("garbage.ads", "Memory = 1\n\n\x01\xff garbage (\n");
    RunResult r = Eval({"--match-all", job, garbage});
    EXPECT_EQ(2, r.status);
    EXPECT_EQ("", r.out);
    EXPECT_EQ(0u, r.err.find("classad_eval: " + garbage + ":3: not an attribute assignment: "))
        << r.err;
    r = Eval({"--match-all", job, dir_.path() + "/absent"});
    EXPECT_EQ(2, r.status);
    // A Requirements too deep to parse is a bad line, not a crash.
    std::string deep = "Requirements = TARGET.Memory > 0";
    for (int k = 0; k < 10000; ++k) deep += " && TARGET.Memory > 0";
    r = Eval({"--match-all", dir_.Write("deep.ad", deep + "\n"), Example("machines.ads")});
    EXPECT_EQ(2, r.status);
    EXPECT_NE(std::string::npos, r.err.find("deep.ad:1: not an attribute assignment")) << r.err;
    r = Eval({"--analyze", job, garbage});
    EXPECT_EQ(1, r.status);
}

TEST_F(ClassadEvalTest, AnalyzeNamesTheMisspelledAttributeAndTheBlockingClause) {
    std::string pool = Example("machines.ads");
    RunResult r = Eval({"--analyze", Example("job_misspelled.ad"), pool});
    EXPECT_EQ(0, r.status) << r.err;
    EXPECT_NE(std::string::npos, r.out.find("Matching both ways: 0\n")) << r.out;
    EXPECT_NE(std::string::npos, r.out.find("      missing: TARGET.Memroy (10 machines)\n"))
        << r.out;
    r = Eval({"--analyze", Example("job_too_big.ad"), pool});
    EXPECT_NE(std::string::npos,
              r.out.find("Suggestion: dropping `TARGET.Memory >= MY.RequestMemory` would match 7 "
                         "machines; 65536 would match 1\n"))
        << r.out;
    // Eta wants only alice's jobs.
    EXPECT_NE(std::string::npos, r.out.find("  1 machine: Start\n      fails Start: TARGET.Owner "
                                            "== \"alice\" (1)\n"))
        << r.out;
    r = Eval({"--analyze", "--json", Example("job_matches.ad"), pool});
    EXPECT_EQ(0, r.status);
    EXPECT_EQ(0u, r.out.find("{\"pool\":10,\"matches\":6,")) << r.out;
}

TEST_F(ClassadEvalTest, BadUsageNamesTheFaultThenShowsTheUsageAndExitsTwo) {
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{}, "no EXPR given"},
        {{"--print"}, "no EXPR given"},
        {{"--match"}, "option '--match' takes two files"},
        {{"--match", "a"}, "option '--match' takes two files"},
        {{"--match", "a", "b", "c"}, "option '--match' takes two files"},
        {{"--match", "-", "-"}, "standard input can hold only one of the two ads"},
        {{"--my"}, "option '--my' needs a value"},
        {{"1", "--target"}, "option '--target' needs a value"},
        {{"--my", "f"}, "no EXPR given"},
        {{"--my", "f", "--my", "g", "1"}, "option '--my' given twice"},
        {{"--my=f", "1", "--my=g"}, "option '--my' given twice"},
        {{"--print", "--print", "1"}, "option '--print' given twice"},
        {{"--print", "--match", "a", "b"}, "options '--print' and '--match' exclude each other"},
        {{"--my", "f", "--print", "1"}, "options '--my' and '--target' do not go with '--print'"},
        {{"--bogus", "1"}, "unknown option '--bogus'"},
        {{"1", "--x"}, "unknown option '--x'"},
        {{"--print=yes", "1"}, "option '--print' takes no value"},
        {{"--match-all", "a"}, "option '--match-all' takes two files"},
        {{"--analyze", "a", "b", "c"}, "option '--analyze' takes two files"},
        {{"--analyze", "--match-all", "a", "b"},
         "options '--match-all' and '--analyze' exclude each other"},
        {{"--limit", "2", "a", "b"}, "option '--limit' goes only with '--match-all'"},
        {{"--analyze", "--count", "a", "b"}, "option '--count' goes only with '--match-all'"},
        {{"--match-all", "--json", "a", "b"}, "option '--json' goes only with '--analyze'"},
        {{"--match-all", "--limit=-1", "a", "b"}, "option '--limit' takes a count, not '-1'"},
        {{"--match-all", "--limit", "2x", "a", "b"}, "option '--limit' takes a count, not '2x'"},
        {{"--match-all", "-", "-"}, "standard input can hold only one of the two ads"},
    };
    for (const auto &c : cases) {
        RunResult r = Eval(c.first);
        std::string shown;
        for (const std::string &a : c.first) shown += " " + a;
        EXPECT_EQ(2, r.status) << shown;
        EXPECT_EQ("", r.out) << shown;
        std::vector<std::string> lines = Lines(r.err);
        ASSERT_EQ(2u, lines.size()) << shown << ": " << r.err;
        EXPECT_EQ("classad_eval: " + c.second, lines[0]) << shown;
        EXPECT_EQ(0u, lines[1].rfind("Usage: classad_eval ", 0)) << shown << ": " << r.err;
    }
}

TEST_F(ClassadEvalTest, OptionsTakeEitherValueFormAndMayFollowTheExpressions) {
    std::string my = dir_.Write("my.ad", "a = 2\n");
    std::string target = dir_.Write("target.ad", "a = 5\n");
    const std::vector<std::vector<std::string>> forms = {
        {"--my", my, "--target", target, "MY.a * TARGET.a", "-MY.a"},
        {"--my=" + my, "--target=" + target, "MY.a * TARGET.a", "-MY.a"},
        {"MY.a * TARGET.a", "--target=" + target, "-MY.a", "--my", my},
        {"--my", my, "--target", target, "--", "MY.a * TARGET.a", "-MY.a"},
    };
    for (const std::vector<std::string> &args : forms) {
        RunResult r = Eval(args);
        EXPECT_EQ(0, r.status) << r.err;
        EXPECT_EQ("INTEGER:10\nINTEGER:-2\n", r.out) << args[0];
    }
    // After "--" a word beginning with "--" is an expression: a double negation.
    RunResult r = Eval({"--", "--3", "--my"});
    EXPECT_EQ(0, r.status) << r.err;
    EXPECT_EQ("INTEGER:3\nUNDEFINED\n", r.out);
    r = Eval({"--print", "--", "--my"});
    EXPECT_EQ(0, r.status) << r.err;
    EXPECT_EQ(" -  - my\n", r.out);  // the library prints a unary minus so
    r = Eval({"a", "--match", "b"});
    EXPECT_EQ(1, r.status);  // --match FILE1 FILE2 in any order; neither file exists
    EXPECT_EQ("classad_eval: a: No such file or directory\n", r.err);
}

}  // namespace
