// Growth of the tools' work with the input a user hands them, run from
// outside: classad_eval reading an ad file of n and of 100·n attributes,
// and of n and 100·n lines that mostly replace one attribute or are
// skipped. Timed in CPU seconds of the child, which other jobs on the
// machine cannot stretch.
#include <unistd.h>

#include <map>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "tests/support/growth_check.h"
#include "tests/support/run_program.h"
#include "tests/support/temp_dir.h"

namespace {

const char kClassadEval[] = TORVEL_BINARY_DIR "/tools/classad_eval";

class ScalingToolsTest : public testing::Test {
 protected:
    // Runs classad_eval --my ad with exprs; the answers must be expected.
    void Evaluate(const std::string &ad, const std::vector<std::string> &exprs,
                  const std::string &expected) {
        std::vector<std::string> args = {"--my", ad};
        args.insert(args.end(), exprs.begin(), exprs.end());
        std::vector<std::string> env = torvel_test::SanitizerEnv();
        torvel_test::ProgramRun r = torvel_test::RunProgram(kClassadEval, args, env);
        ASSERT_EQ(0, r.status) << r.err;
        ASSERT_EQ(expected, r.out);
    }

    // Writes, once per size, the ad that make(size) gives.
    template <class Make>
    std::string AdOf(size_t size, Make make) {
        std::string &path = ads_[size];
        if (path.empty()) {
            path = dir_.Write("ad_" + std::to_string(size), make(size));
        }
        return path;
    }

    torvel_test::TempDir dir_{"torvel_scaling_tools"};
    std::map<size_t, std::string> ads_;
};

TEST_F(ScalingToolsTest, AdFileByAttributes) {
    auto make = [](size_t n) {
        std::string text;
        for (size_t i = 0; i < n; ++i) {
            text += "Attr" + std::to_string(i) + " = " + std::to_string(i) + " * 1\n";
        }
        return text;
    };
    for (size_t n : {1000, 100000}) AdOf(n, make);  // written outside the timing
    EXPECT_LINEAR_GROWTH(1000, [&](size_t n) {
        std::string last = "MY.Attr" + std::to_string(n - 1);
        Evaluate(AdOf(n, make), {"MY.Attr0", last},
                 "INTEGER:0\nINTEGER:" + std::to_string(n - 1) + "\n");
    });
}

TEST_F(ScalingToolsTest, AdFileByLines) {
    // Each group: a comment, a blank line, an indented assignment replacing
    // the one before.
    auto make = [](size_t n) {
        std::string text;
        for (size_t i = 0; i < n; ++i) {
            text += "# line " + std::to_string(i) + "\n\n\tSame = " + std::to_string(i) + "\n";
        }
        return text;
    };
    for (size_t n : {1000, 100000}) AdOf(n, make);
    EXPECT_LINEAR_GROWTH(1000, [&](size_t n) {
        Evaluate(AdOf(n, make), {"MY.Same"}, "INTEGER:" + std::to_string(n - 1) + "\n");
    });
}

}  // namespace
