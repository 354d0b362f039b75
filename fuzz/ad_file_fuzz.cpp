// Fuzz target for pool files of ads (blocks of assignments separated by
// blank lines) and the match analysis over them. The first input byte
// sets how many bytes each read hands the reader (0: all at once); the
// rest is the file. The same file read in one piece must give the same
// ads, status and line. The first ad is then matched and analysed against
// the others: both counts of matches must agree and bound each other.
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/types.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "classad/ad_file_reader.h"
#include "classad/class_ad.h"
#include "classad/match_analysis.h"
#include "classad/match_report.h"
#include "classad/pool_match.h"
#include "core/my_string.h"

const char *mySubSystem = "TOOL";

namespace {

// At most this many ads are analysed, so that each input stays quick.
constexpr size_t kMostAds = 32;

struct Reading {
    std::vector<std::unique_ptr<ClassAd>> ads;
    AdFileReader::Status last = AdFileReader::kEnd;
    int line = 0;
};

Reading Read(const std::string &text, size_t piece) {
    size_t offset = 0;
    AdFileReader reader([&](char *buffer, size_t size) -> ssize_t {
        size_t n = std::min({text.size() - offset, size, piece});
        memcpy(buffer, text.data() + offset, n);
        offset += n;
        return static_cast<ssize_t>(n);
    });
    Reading reading;
    while (reading.ads.size() < kMostAds) {
        auto ad = std::make_unique<ClassAd>();
        reading.last = reader.NextClassAd(*ad);
        if (reading.last != AdFileReader::kAd) {
            break;
        }
        reading.ads.push_back(std::move(ad));
    }
    reading.line = reader.Line();
    return reading;
}

std::string Printed(ClassAd &ad) {
    MyString text;
    ad.sPrint(text);
    return text.Value();
}

void Fail(const char *what) {
    fprintf(stderr, "%s\n", what);
    abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0) {
        return 0;
    }
    size_t piece = data[0] == 0 ? size : data[0];
    std::string text(reinterpret_cast<const char *>(data) + 1, size - 1);
    Reading pieces = Read(text, piece);
    Reading whole = Read(text, text.size() + 1);
    if (pieces.ads.size() != whole.ads.size() || pieces.last != whole.last ||
        pieces.line != whole.line) {
        Fail("reading in pieces differs from reading at once");
    }
    for (size_t k = 0; k < whole.ads.size(); ++k) {
        if (Printed(*pieces.ads[k]) != Printed(*whole.ads[k])) {
            Fail("an ad read in pieces prints differently");
        }
    }
    if (whole.ads.empty()) {
        return 0;
    }
    std::vector<ClassAd *> pool;
    for (size_t k = 1; k < whole.ads.size(); ++k) {
        pool.push_back(whole.ads[k].get());
    }
    ClassAd &job = *whole.ads[0];
    MatchAnalysis analysis = AnalyzeMatch(job, pool);
    std::vector<RankedMatch> matched = MatchPool(job, pool);
    if (analysis.pool != static_cast<long>(pool.size()) ||
        analysis.matches != static_cast<long>(matched.size()) ||
        analysis.matches > std::min(analysis.job_accepts, analysis.machines_accept)) {
        Fail("the analysis's counts disagree with matching the pool");
    }
    MatchReportText(analysis);
    MatchReportJson(analysis);
    return 0;
}
