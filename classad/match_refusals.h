// The machines refusing a job, for match analysis (classad/match_analysis.h):
// grouped by the printed text of their Requirements, each group with the
// clause most of its machines fail. Uses the evaluator's process-wide
// state: not safe for concurrent use.
#ifndef TORVEL_CLASSAD_MATCH_REFUSALS_H_
#define TORVEL_CLASSAD_MATCH_REFUSALS_H_

#include <stddef.h>

#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "classad/match_analysis.h"

class ClassAd;

class RefusalTally {
 public:
    // Counts machine, whose type or Requirements refuses job.
    void Add(const ClassAd &machine, const ClassAd &job);
    // Up to n groups, largest first (ties in the order first seen).
    std::vector<RefusalGroup> Largest(size_t n) const;

 private:
    struct Group {
        RefusalGroup record;
        std::vector<std::pair<std::string, long>> failures;  // first seen first
        std::unordered_map<std::string, size_t> index;
    };
    std::vector<Group> groups_;
    std::unordered_map<std::string, size_t> index_;
};

#endif  // TORVEL_CLASSAD_MATCH_REFUSALS_H_
