// Text and JSON forms of a match analysis.
#include "classad/match_report.h"

#include <math.h>
#include <stdio.h>

#include "classad/match_analysis.h"

namespace {

// ---- text ----

std::string machines(long count) {
    return FormatMatchCount(count) + (count == 1 ? " machine" : " machines");
}

void text_counts(const MatchAnalysis &a, std::string &out) {
    out += "Pool: " + machines(a.pool) + "\n";
    out += "Matching both ways: " + FormatMatchCount(a.matches) + "\n";
    out += "Accepted by the job's Requirements: " + FormatMatchCount(a.job_accepts) + "\n";
    out += "Accepting the job by their Requirements: " + FormatMatchCount(a.machines_accept) + "\n";
}

void text_clause(size_t number, const ClauseAnalysis &c, std::string &out) {
    out += "  [" + std::to_string(number) + "] " + c.text + "\n";
    out += "      satisfied by " + FormatMatchCount(c.satisfied) + ", rejects alone " +
           FormatMatchCount(c.rejected_alone) + ", undefined " + FormatMatchCount(c.undefined) +
           ", error " + FormatMatchCount(c.error) + "\n";
    if (!c.missing.empty()) {
        out += "      missing:";
        for (size_t k = 0; k < c.missing.size(); ++k) {
            out += (k == 0 ? " " : ", ") + c.missing[k].name + " (" +
                   machines(c.missing[k].machines) + ")";
        }
        out += "\n";
    }
    if (!c.thresholds.empty()) {
        out += "      " + c.attribute + " bound admitting";
        for (size_t k = 0; k < c.thresholds.size(); ++k) {
            const ThresholdValue &t = c.thresholds[k];
            out += (k == 0 ? " " : ", ") + std::to_string(t.percent) +
                   "%: " + FormatMatchValue(t.value) + " (would match " +
                   FormatMatchCount(t.matches) + ")";
        }
        out += "\n";
    }
    if (!c.common_values.empty()) {
        out += "      most common " + c.attribute + ":";
        for (size_t k = 0; k < c.common_values.size(); ++k) {
            out += (k == 0 ? " " : ", ") + c.common_values[k].value + " (" +
                   FormatMatchCount(c.common_values[k].machines) + ")";
        }
        out += "\n";
    }
}

void text_refusals(const MatchAnalysis &a, std::string &out) {
    if (a.refusals.empty()) {
        return;
    }
    out += "Machines refusing the job, by their Requirements:\n";
    for (const RefusalGroup &g : a.refusals) {
        out += "  " + machines(g.machines) + ": " +
               (g.requirements.empty() ? "(no Requirements)" : g.requirements) + "\n";
        out += "      fails " +
               (g.failed_clause.empty() ? std::string("on the types") : g.failed_clause) + " (" +
               FormatMatchCount(g.failed_machines) + ")\n";
    }
}

// ---- JSON ----

void json_string(const std::string &text, std::string &out) {
    out += '"';
    for (unsigned char ch : text) {
        if (ch == '"' || ch == '\\') {
            out += '\\';
            out += static_cast<char>(ch);
        } else if (ch < 0x20) {
            char escape[8];
            snprintf(escape, sizeof escape, "\\u%04x", ch);
            out += escape;
        } else {
            out += static_cast<char>(ch);
        }
    }
    out += '"';
}

// Writes one object's members into out, the commas between them, and the
// closing brace when it goes out of scope.
class JsonObject {
 public:
    explicit JsonObject(std::string &out) : out_(out) { out_ += '{'; }
    ~JsonObject() { out_ += '}'; }
    JsonObject(const JsonObject &) = delete;
    JsonObject &operator=(const JsonObject &) = delete;

    JsonObject &Count(const char *key, long value) {
        Key(key) += std::to_string(value);
        return *this;
    }
    JsonObject &Flag(const char *key, bool value) {
        Key(key) += value ? "true" : "false";
        return *this;
    }
    // "" is null when null_when_empty.
    JsonObject &Text(const char *key, const std::string &value, bool null_when_empty = false) {
        Key(key);
        if (null_when_empty && value.empty()) {
            out_ += "null";
        } else {
            json_string(value, out_);
        }
        return *this;
    }
    JsonObject &Number(const char *key, double value) {
        Key(key) += isfinite(value) ? FormatMatchValue(value) : "null";
        return *this;
    }
    // key: an array of one object per item, written by write(item, object).
    template <class T, class F>
    JsonObject &Array(const char *key, const std::vector<T> &items, F write) {
        Key(key) += '[';
        for (size_t k = 0; k < items.size(); ++k) {
            if (k > 0) out_ += ',';
            JsonObject item(out_);
            write(items[k], item);
        }
        out_ += ']';
        return *this;
    }

 private:
    std::string &Key(const char *key) {
        if (!first_) out_ += ',';
        first_ = false;
        out_ += '"';
        out_ += key;
        out_ += "\":";
        return out_;
    }

    std::string &out_;
    bool first_ = true;
};

void json_clause(const ClauseAnalysis &c, JsonObject &o) {
    o.Text("text", c.text)
        .Count("satisfied", c.satisfied)
        .Count("rejected_alone", c.rejected_alone)
        .Count("undefined", c.undefined)
        .Count("error", c.error)
        .Array("missing", c.missing,
               [](const MissingAttribute &m, JsonObject &i) {
                   i.Text("name", m.name).Count("machines", m.machines);
               })
        .Text("attribute", c.attribute, true)
        .Array(
            "thresholds", c.thresholds,
            [](const ThresholdValue &t, JsonObject &i) {
                i.Count("percent", t.percent).Number("value", t.value).Count("matches", t.matches);
            })
        .Array("common_values", c.common_values, [](const CommonValue &v, JsonObject &i) {
            i.Text("value", v.value).Count("machines", v.machines);
        });
}

void json_refusal(const RefusalGroup &g, JsonObject &o) {
    o.Text("requirements", g.requirements)
        .Count("machines", g.machines)
        .Text("failed_clause", g.failed_clause)
        .Count("failed_machines", g.failed_machines);
}

}  // namespace

std::string MatchReportText(const MatchAnalysis &a) {
    std::string out;
    text_counts(a, out);
    if (!a.job_has_requirements) {
        out += "The job has no Requirements: it matches nothing.\n";
    } else {
        out += "The job's Requirements, clause by clause:\n";
        for (size_t k = 0; k < a.clauses.size(); ++k) {
            text_clause(k + 1, a.clauses[k], out);
        }
    }
    text_refusals(a, out);
    if (!a.suggestion.empty()) {
        out += "Suggestion: " + a.suggestion + "\n";
    }
    return out;
}

std::string MatchReportJson(const MatchAnalysis &a) {
    std::string out;
    {
        JsonObject o(out);
        o.Count("pool", a.pool)
            .Count("matches", a.matches)
            .Count("job_accepts", a.job_accepts)
            .Count("machines_accept", a.machines_accept)
            .Flag("job_has_requirements", a.job_has_requirements)
            .Array("clauses", a.clauses, json_clause)
            .Array("refusals", a.refusals, json_refusal)
            .Text("suggestion", a.suggestion, true);
    }
    return out + "\n";
}
