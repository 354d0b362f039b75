// The printed forms of a match analysis (classad/match_analysis.h): plain
// text for people and JSON for programs. Both only format the record.
//
// The JSON shape is stable: new keys may be added, none removed or
// renamed. One object:
//   {"pool": N, "matches": N, "job_accepts": N, "machines_accept": N,
//    "job_has_requirements": true|false,
//    "clauses": [{"text": S, "satisfied": N, "rejected_alone": N,
//                 "undefined": N, "error": N,
//                 "missing": [{"name": S, "machines": N}],
//                 "attribute": S|null,
//                 "thresholds": [{"percent": 1|10|50, "value": X, "matches": N}],
//                 "common_values": [{"value": S, "machines": N}]}],
//    "refusals": [{"requirements": S, "machines": N,
//                  "failed_clause": S, "failed_machines": N}],
//    "suggestion": S|null}
// N are integers, X numbers (null when not finite), S strings (UTF-8 as
// the ads hold them, control characters escaped). A common value is the
// value as an expression writes it ("\"LINUX\"", "4096").
#ifndef TORVEL_CLASSAD_MATCH_REPORT_H_
#define TORVEL_CLASSAD_MATCH_REPORT_H_

#include <string>

struct MatchAnalysis;

// The analysis as lines of text, each ending in "\n".
std::string MatchReportText(const MatchAnalysis &analysis);
// The analysis as one JSON object and a newline.
std::string MatchReportJson(const MatchAnalysis &analysis);

#endif  // TORVEL_CLASSAD_MATCH_REPORT_H_
