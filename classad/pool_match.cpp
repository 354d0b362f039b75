// Ranked matching of a job against a pool.
#include "classad/pool_match.h"

#include <math.h>
#include <stdlib.h>

#include <algorithm>

#include "classad/class_ad.h"
#include "classad/eval_result.h"
#include "classad/expr_tree.h"

namespace {

// The job's Rank against ad as a number; NaN sorts last.
double rank_of(ExprTree *rank, const ClassAd &job, const ClassAd &ad) {
    if (rank == nullptr) {
        return 0;
    }
    EvalResult result;
    rank->EvalTree(&job, &ad, &result);
    double value = result.type == LX_INTEGER ? result.i
                   : result.type == LX_FLOAT ? static_cast<double>(result.f)
                                             : 0;
    return isnan(value) ? -INFINITY : value;
}

}  // namespace

std::vector<RankedMatch> MatchPool(ClassAd &job, const std::vector<ClassAd *> &pool) {
    std::vector<RankedMatch> matches;
    ExprTree *rank = job.GetRankExpr();
    for (size_t k = 0; k < pool.size(); ++k) {
        if (job.IsAMatch(pool[k])) {
            matches.push_back({k, rank_of(rank, job, *pool[k])});
        }
    }
    std::stable_sort(matches.begin(), matches.end(),
                     [](const RankedMatch &a, const RankedMatch &b) { return a.rank > b.rank; });
    return matches;
}

std::string PoolAdLabel(const ClassAd &ad, size_t index) {
    char *name = nullptr;
    if (ad.EvalString("Name", nullptr, &name) && name != nullptr) {
        std::string label = name;
        free(name);
        return label;
    }
    return "#" + std::to_string(index + 1);
}
