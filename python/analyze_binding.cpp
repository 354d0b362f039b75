// torvel.analyze: the match analysis of a job over a pool of ads
// (classad/match_analysis.h) as plain Python data, in the shape of
// classad_eval --analyze --json (classad/match_report.h), so that
// json.loads of the program's output and analyze() compare equal.
#include <math.h>
#include <pybind11/pybind11.h>

#include <vector>

#include "classad/class_ad.h"
#include "classad/match_analysis.h"
#include "python/bindings.h"

namespace py = pybind11;

namespace {

// "" is null in the JSON form.
py::object text_or_none(const std::string &text) {
    return text.empty() ? py::object(py::none()) : py::object(py::str(text));
}

// As the JSON form writes a number: integral values as int.
py::object number(double value) {
    if (!isfinite(value)) {
        return py::none();
    }
    if (value == floor(value) && fabs(value) < 1e15) {
        return py::int_(static_cast<long long>(value));
    }
    return py::float_(value);
}

template <class T, class F>
py::list list_of(const std::vector<T> &items, F convert) {
    py::list out;
    for (const T &item : items) out.append(convert(item));
    return out;
}

py::dict clause_dict(const ClauseAnalysis &c) {
    py::dict d;
    d["text"] = c.text;
    d["satisfied"] = c.satisfied;
    d["rejected_alone"] = c.rejected_alone;
    d["undefined"] = c.undefined;
    d["error"] = c.error;
    d["missing"] = list_of(c.missing, [](const MissingAttribute &m) {
        return py::dict(py::arg("name") = m.name, py::arg("machines") = m.machines);
    });
    d["attribute"] = text_or_none(c.attribute);
    d["thresholds"] = list_of(c.thresholds, [](const ThresholdValue &t) {
        return py::dict(py::arg("percent") = t.percent, py::arg("value") = number(t.value),
                        py::arg("matches") = t.matches);
    });
    d["common_values"] = list_of(c.common_values, [](const CommonValue &v) {
        return py::dict(py::arg("value") = v.value, py::arg("machines") = v.machines);
    });
    return d;
}

py::dict refusal_dict(const RefusalGroup &g) {
    return py::dict(py::arg("requirements") = g.requirements, py::arg("machines") = g.machines,
                    py::arg("failed_clause") = g.failed_clause,
                    py::arg("failed_machines") = g.failed_machines);
}

py::dict analyze(ClassAd &job, const py::iterable &pool) {
    // Every argument is taken before the analysis, which never calls back
    // into Python.
    std::vector<py::object> held;
    std::vector<ClassAd *> ads = classads_of(pool, "analyze", held);
    MatchAnalysis a = AnalyzeMatch(job, ads);
    py::dict d;
    d["pool"] = a.pool;
    d["matches"] = a.matches;
    d["job_accepts"] = a.job_accepts;
    d["machines_accept"] = a.machines_accept;
    d["job_has_requirements"] = a.job_has_requirements;
    d["clauses"] = list_of(a.clauses, clause_dict);
    d["refusals"] = list_of(a.refusals, refusal_dict);
    d["suggestion"] = text_or_none(a.suggestion);
    return d;
}

}  // namespace

void bind_analysis(py::module_ &m) {
    m.def("analyze", &analyze, py::arg("job"), py::arg("pool"),
          "Why job matches few or no ads of pool: counts, its Requirements clause by clause, "
          "the machines refusing it, and a suggestion; a dict shaped as classad_eval --analyze "
          "--json prints.");
}
