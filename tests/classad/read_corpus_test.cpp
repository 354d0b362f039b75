// The differential test of the readers: every generated machine ad of the
// recorded corpus (tests/classad/data/read_corpus.txt, written by
// tests/classad/programs/classad_read_corpus_recorder.cpp) is read again
// through the file, string, wire and XML readers, and each attribute must
// come out as recorded: the same name in the same place, the same kind of
// right side, the same printed assignment and the same value.
#include "tests/classad/read_corpus.h"

#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "gtest/gtest.h"

namespace {

using Records = std::vector<std::string>;

class ReadCorpusTest : public testing::Test {
 protected:
    // The recorded lines of each ad, keyed by "seed form".
    static void SetUpTestSuite() {
        recorded_ = new std::map<std::string, Records>;
        std::ifstream in(std::string(TORVEL_SOURCE_DIR) + "/" + read_corpus::kCorpusPath);
        std::string line;
        Records *current = nullptr;
        while (std::getline(in, line)) {
            std::vector<std::string> f = eval_corpus::Fields(line);
            if (f[0] == "ad" && f.size() == 6) {
                current = &(*recorded_)[f[1] + " " + f[2]];
            }
            if (current != nullptr) {
                current->push_back(line);
            }
        }
    }
    static void TearDownTestSuite() { delete recorded_; }

    // Compares the reading of every recorded ad of form, line by line. Each
    // ad is read and dropped before the next (so each later ad's
    // expressions are kept as text until described), or, kept_together,
    // all are read first (so they share the parses of their expressions).
    static void ExpectFormAsRecorded(const std::string &form, bool kept_together = false) {
        int ads = 0;
        int differing = 0;
        std::vector<std::unique_ptr<ClassAd>> kept;
        for (int seed = 0; kept_together && seed < read_corpus::kSeeds; seed++) {
            kept.emplace_back(read_corpus::Read(seed, form));
        }
        for (int seed = 0; seed < read_corpus::kSeeds; seed++) {
            auto it = recorded_->find(std::to_string(seed) + " " + form);
            ASSERT_NE(it, recorded_->end()) << "no record of seed " << seed << " " << form;
            const Records &then = it->second;
            Records now = kept_together ? read_corpus::DescribeRead(kept[seed].get(), seed, form)
                                        : read_corpus::Describe(seed, form);
            ads++;
            for (size_t i = 0; i < then.size() || i < now.size(); i++) {
                const std::string a = i < then.size() ? then[i] : "(none)";
                const std::string b = i < now.size() ? now[i] : "(none)";
                if (a != b && ++differing <= 20) {
                    ADD_FAILURE() << "seed " << seed << " " << form << " line " << i
                                  << "\n  recorded: " << a << "\n  now:      " << b;
                }
            }
        }
        EXPECT_EQ(differing, 0);
        EXPECT_EQ(ads, read_corpus::kSeeds);
    }

    static std::map<std::string, Records> *recorded_;
};

std::map<std::string, Records> *ReadCorpusTest::recorded_ = nullptr;

TEST_F(ReadCorpusTest, FileReaderReadsEveryAttributeAsRecorded) {
    ExpectFormAsRecorded("file");
}

TEST_F(ReadCorpusTest, StringReaderReadsEveryAttributeAsRecorded) {
    ExpectFormAsRecorded("string");
}

TEST_F(ReadCorpusTest, WireReaderReadsEveryAttributeAsRecorded) {
    ExpectFormAsRecorded("wire");
}

TEST_F(ReadCorpusTest, XmlReaderReadsEveryAttributeAsRecorded) {
    ExpectFormAsRecorded("xml");
}

TEST_F(ReadCorpusTest, AdsReadTogetherReadAsRecordedInEveryForm) {
    for (const char *form : read_corpus::kForms) {
        SCOPED_TRACE(form);
        ExpectFormAsRecorded(form, true);
    }
}

// The generator is what the recorded corpus stands on: the same seed must
// give the same ad, with about 100 attributes of every kind and the
// expressions a machine advertises.
TEST(MachineAdsTest, SameSeedSameAdWithEveryKind) {
    std::vector<machine_ads::Attribute> a = machine_ads::Generate(7);
    std::vector<machine_ads::Attribute> b = machine_ads::Generate(7);
    ASSERT_EQ(machine_ads::TextForm(a), machine_ads::TextForm(b));
    EXPECT_NE(machine_ads::TextForm(a), machine_ads::TextForm(machine_ads::Generate(8)));
    EXPECT_GE(a.size(), 95u);
    EXPECT_LE(a.size(), 110u);
    std::map<char, int> kinds;
    for (const machine_ads::Attribute &x : a) {
        kinds[x.kind]++;
    }
    for (char kind : {'i', 'r', 's', 'b', 'e'}) {
        EXPECT_GT(kinds[kind], 3) << kind;
    }
    for (const char *name : {"Start", "Requirements", "Rank"}) {
        bool found = false;
        for (const machine_ads::Attribute &x : a) {
            found = found || (x.name == name && x.kind == 'e');
        }
        EXPECT_TRUE(found) << name;
    }
}

// Each reader must see every generated attribute: a form the generator
// writes wrongly would otherwise be recorded as the readers' answer.
TEST(MachineAdsTest, EveryReaderSeesEveryGeneratedAttribute) {
    std::vector<machine_ads::Attribute> ad = machine_ads::Generate(3);
    for (const char *form : read_corpus::kForms) {
        ClassAd *read = read_corpus::Read(3, form);
        ASSERT_NE(read, nullptr) << form;
        EXPECT_STREQ(read->GetMyTypeName(), "Machine") << form;
        EXPECT_STREQ(read->GetTargetTypeName(), "Job") << form;
        for (const machine_ads::Attribute &x : ad) {
            EXPECT_NE(read->Lookup(x.name.c_str()), nullptr) << form << " " << x.name;
        }
        delete read;
    }
}

}  // namespace
