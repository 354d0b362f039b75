// Why a job matches few or no machines of a pool: the job's Requirements
// split into its top-level "&&" clauses, each evaluated against every
// machine with the job as MY and the machine as TARGET (as matching binds
// them), counted, and explained. The result is a plain record; printing
// it is classad/match_report.h's concern.
//
// Every count comes from the library's own evaluation of the clause, or
// from ClassAd::IsAMatch and the match operators; nothing is interpreted
// twice. The work is linear in clauses times machines. Uses the
// evaluator's process-wide state: not safe for concurrent use.
#ifndef TORVEL_CLASSAD_MATCH_ANALYSIS_H_
#define TORVEL_CLASSAD_MATCH_ANALYSIS_H_

#include <string>
#include <vector>

class ClassAd;

// An attribute reference of a clause that the machines where the clause is
// UNDEFINED or ERROR lack (a misspelled name shows up here), as written.
struct MissingAttribute {
    std::string name;
    long machines = 0;  // of those machines, how many lack it
};

// For an ordered comparison of a machine attribute with a constant: the
// bound that admits `percent` % of the pool by this clause alone, and how
// many machines the job would match with it in place of the constant.
struct ThresholdValue {
    int percent = 0;
    double value = 0;
    long matches = 0;
};

// For an equality: a value of the machine attribute and how many machines
// hold it. value is printed as an expression: "LINUX" with its quotes.
struct CommonValue {
    std::string value;
    long machines = 0;
};

struct ClauseAnalysis {
    std::string text;         // printed form of the clause
    long satisfied = 0;       // machines for which the clause alone is true
    long rejected_alone = 0;  // would match if only this clause were dropped
    long undefined = 0;
    long error = 0;
    std::vector<MissingAttribute> missing;
    // The machine attribute compared with a constant or with one of the
    // job's attributes, as written; "" when the clause is no such
    // comparison. Exactly one of the two lists below is then filled.
    std::string attribute;
    std::vector<ThresholdValue> thresholds;  // ordered: 1, 10, 50 %
    std::vector<CommonValue> common_values;  // equality: up to 5, most first
};

// Machines whose own Requirements refuse the job, grouped by the printed
// text of that Requirements. failed_clause is the clause most of them
// fail (followed into an attribute the clause only names, "START:
// KeyboardIdle > 600"); "" when they fail on the types alone.
struct RefusalGroup {
    std::string requirements;
    long machines = 0;
    std::string failed_clause;
    long failed_machines = 0;  // of the group, how many fail that clause
};

struct MatchAnalysis {
    long pool = 0;             // ads in the pool
    long matches = 0;          // IsAMatch both ways
    long job_accepts = 0;      // the job's type and Requirements accept the machine
    long machines_accept = 0;  // the machine's type and Requirements accept the job
    bool job_has_requirements = false;
    std::vector<ClauseAnalysis> clauses;  // in the text's order
    std::vector<RefusalGroup> refusals;   // up to 5, largest first
    // When one clause alone rejects every machine that would otherwise
    // match: "dropping `C` would match N machines[; V would match M]".
    std::string suggestion;
};

// A value as the analysis prints it: an integral value without decimals,
// any other with up to 9 significant digits ("2048", "0.5").
std::string FormatMatchValue(double value);
// A count with thousands separators ("4,210").
std::string FormatMatchCount(long count);

// Analyses job against every ad of pool. Borrowed arguments, unchanged
// (compiled forms of their trees may be built).
MatchAnalysis AnalyzeMatch(ClassAd &job, const std::vector<ClassAd *> &pool);

#endif  // TORVEL_CLASSAD_MATCH_ANALYSIS_H_
