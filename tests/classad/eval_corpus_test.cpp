// The differential test of the evaluation engine: every case of the
// recorded corpus (tests/classad/data/eval_corpus.txt, written by
// tests/classad/programs/classad_corpus_recorder.cpp) is parsed, printed
// back and evaluated again, and every answer must equal the recorded one
// exactly: parse position, printed text, EvalTree's return and result kind
// and value, the one-list evaluation, and matching of every pair of ads.
#include "tests/classad/eval_corpus.h"

#include <fstream>
#include <string>
#include <vector>

#include "gtest/gtest.h"

namespace {

class EvalCorpusTest : public testing::Test {
 protected:
    static void SetUpTestSuite() {
        pool_ = new eval_corpus::AdPool;
        cases_ = new std::vector<std::vector<std::string>>;
        std::ifstream in(std::string(TORVEL_SOURCE_DIR) + "/" + eval_corpus::kCorpusPath);
        std::string line;
        while (std::getline(in, line)) {
            std::vector<std::string> fields = eval_corpus::Fields(line);
            if (!pool_->Apply(fields)) {
                cases_->push_back(fields);
            }
        }
    }
    static void TearDownTestSuite() {
        delete cases_;
        delete pool_;
    }

    // Joins recorded fields from `first` on, as Outcome() prints them.
    static std::string Recorded(const std::vector<std::string> &f, size_t first) {
        std::string out;
        for (size_t i = first; i < f.size(); i++) {
            out += (i > first ? "\t" : "") + eval_corpus::Escape(f[i]);
        }
        return out;
    }

    static eval_corpus::AdPool *pool_;
    static std::vector<std::vector<std::string>> *cases_;
};

eval_corpus::AdPool *EvalCorpusTest::pool_ = nullptr;
std::vector<std::vector<std::string>> *EvalCorpusTest::cases_ = nullptr;

TEST_F(EvalCorpusTest, EveryExpressionGivesTheRecordedAnswer) {
    ASSERT_TRUE(pool_->problems.empty()) << pool_->problems[0];
    int checked = 0;
    int differing = 0;
    for (const std::vector<std::string> &f : *cases_) {
        if (f[0] != "x" || f.size() < 6) {
            continue;
        }
        checked++;
        std::string now = eval_corpus::Outcome(f[3], pool_->Find(f[1]), pool_->Find(f[2]));
        std::string then = Recorded(f, 4);
        if (now != then && ++differing <= 20) {
            ADD_FAILURE() << "expression [" << f[3] << "] MY " << f[1] << " TARGET " << f[2]
                          << "\n  recorded: " << then << "\n  now:      " << now;
        }
    }
    EXPECT_EQ(differing, 0);
    EXPECT_GE(checked, 10000);
}

TEST_F(EvalCorpusTest, EveryPairOfAdsMatchesAsRecorded) {
    int checked = 0;
    for (const std::vector<std::string> &f : *cases_) {
        if (f[0] != "m" || f.size() != 6) {
            continue;
        }
        checked++;
        ClassAd *a = pool_->Find(f[1]);
        ClassAd *b = pool_->Find(f[2]);
        ASSERT_TRUE(a != nullptr && b != nullptr) << f[1] << " " << f[2];
        EXPECT_EQ(eval_corpus::MatchOutcome(a, b), Recorded(f, 3)) << f[1] << " with " << f[2];
    }
    EXPECT_GE(checked, 1000);
}

}  // namespace
