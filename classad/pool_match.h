// Matching one job against a pool of machine ads: the ads that match it
// both ways (ClassAd::IsAMatch), in the order of the job's Rank evaluated
// with the job as MY and the ad as TARGET, highest first, ties in pool
// order. Uses the evaluator's process-wide state: not safe for concurrent
// use.
#ifndef TORVEL_CLASSAD_POOL_MATCH_H_
#define TORVEL_CLASSAD_POOL_MATCH_H_

#include <stddef.h>

#include <string>
#include <vector>

class ClassAd;

struct RankedMatch {
    size_t index;  // position in the pool, from 0
    double rank;   // the Rank's number; 0 when it is none (or absent)
};

// The matching ads of pool, best first. Borrowed arguments.
std::vector<RankedMatch> MatchPool(ClassAd &job, const std::vector<ClassAd *> &pool);

// What names an ad in a listing: its Name when that evaluates to a string,
// else its 1-based position ("#12").
std::string PoolAdLabel(const ClassAd &ad, size_t index);

#endif  // TORVEL_CLASSAD_POOL_MATCH_H_
