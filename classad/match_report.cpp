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

void json_key(const char *key, std::string &out) {
    out += '"';
    out += key;
    out += "\":";
}

void json_count(const char *key, long value, std::string &out) {
    json_key(key, out);
    out += std::to_string(value);
}

void json_text(const char *key, const std::string &value, bool null_when_empty, std::string &out) {
    json_key(key, out);
    if (null_when_empty && value.empty()) {
        out += "null";
    } else {
        json_string(value, out);
    }
}

void json_number(const char *key, double value, std::string &out) {
    json_key(key, out);
    out += isfinite(value) ? FormatMatchValue(value) : "null";
}

// "key":[item,...] with each item written by write.
template <class T, class F>
void json_array(const char *key, const std::vector<T> &items, F write, std::string &out) {
    json_key(key, out);
    out += '[';
    for (size_t k = 0; k < items.size(); ++k) {
        if (k > 0) out += ',';
        out += '{';
        write(items[k], out);
        out += '}';
    }
    out += ']';
}

void json_clause(const ClauseAnalysis &c, std::string &out) {
    json_text("text", c.text, false, out);
    out += ',';
    json_count("satisfied", c.satisfied, out);
    out += ',';
    json_count("rejected_alone", c.rejected_alone, out);
    out += ',';
    json_count("undefined", c.undefined, out);
    out += ',';
    json_count("error", c.error, out);
    out += ',';
    json_array(
        "missing", c.missing,
        [](const MissingAttribute &m, std::string &o) {
            json_text("name", m.name, false, o);
            o += ',';
            json_count("machines", m.machines, o);
        },
        out);
    out += ',';
    json_text("attribute", c.attribute, true, out);
    out += ',';
    json_array(
        "thresholds", c.thresholds,
        [](const ThresholdValue &t, std::string &o) {
            json_count("percent", t.percent, o);
            o += ',';
            json_number("value", t.value, o);
            o += ',';
            json_count("matches", t.matches, o);
        },
        out);
    out += ',';
    json_array(
        "common_values", c.common_values,
        [](const CommonValue &v, std::string &o) {
            json_text("value", v.value, false, o);
            o += ',';
            json_count("machines", v.machines, o);
        },
        out);
}

void json_refusal(const RefusalGroup &g, std::string &out) {
    json_text("requirements", g.requirements, false, out);
    out += ',';
    json_count("machines", g.machines, out);
    out += ',';
    json_text("failed_clause", g.failed_clause, false, out);
    out += ',';
    json_count("failed_machines", g.failed_machines, out);
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
    std::string out = "{";
    json_count("pool", a.pool, out);
    out += ',';
    json_count("matches", a.matches, out);
    out += ',';
    json_count("job_accepts", a.job_accepts, out);
    out += ',';
    json_count("machines_accept", a.machines_accept, out);
    out += ',';
    json_key("job_has_requirements", out);
    out += a.job_has_requirements ? "true" : "false";
    out += ',';
    json_array("clauses", a.clauses, json_clause, out);
    out += ',';
    json_array("refusals", a.refusals, json_refusal, out);
    out += ',';
    json_text("suggestion", a.suggestion, true, out);
    out += "}\n";
    return out;
}
