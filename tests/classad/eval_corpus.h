// The recorded evaluation corpus: a file of ClassAds and of cases (an
// expression with an optional MY ad and an optional TARGET ad) together with
// what the engine answered when the file was recorded, so that a later
// engine can be checked against it case by case.
//
// File form, one record per line, fields separated by tabs; every byte
// below 0x20, from 0x7f up, and "%" is written as "%" and two hex digits:
//   ad <id> <MyType or -> <TargetType or ->     starts an ad
//   a <assignment>                              an attribute of the last ad
//   chain <id>                                  the last ad shows ad <id>
//   delete <name>                               then deletes (masks) name
//   x <my id or -> <target id or -> <expression> <outcome>
//   m <id> <id> <outcome>                       matching of two ads
// An outcome is what Outcome() or MatchOutcome() below print, tab-separated.
// Recording and checking share this code, so both read the same way.
#ifndef TORVEL_TESTS_CLASSAD_EVAL_CORPUS_H_
#define TORVEL_TESTS_CLASSAD_EVAL_CORPUS_H_

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "classad/class_ad.h"
#include "classad/eval_result.h"
#include "classad/expr_tree.h"
#include "classad/parser.h"

namespace eval_corpus {

inline std::string Escape(const std::string &text) {
    std::string out;
    char hex[4];
    for (unsigned char c : text) {
        if (c < 0x20 || c >= 0x7f || c == '%') {
            snprintf(hex, sizeof(hex), "%%%02X", c);
            out += hex;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

inline std::string Unescape(const std::string &text) {
    std::string out;
    for (size_t i = 0; i < text.size(); i++) {
        if (text[i] == '%' && i + 2 < text.size()) {
            out += static_cast<char>(strtol(text.substr(i + 1, 2).c_str(), nullptr, 16));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

inline std::vector<std::string> Fields(const std::string &line) {
    std::vector<std::string> fields;
    size_t start = 0;
    for (;;) {
        size_t tab = line.find('\t', start);
        fields.push_back(Unescape(line.substr(start, tab - start)));
        if (tab == std::string::npos) {
            return fields;
        }
        start = tab + 1;
    }
}

// A result as kind and exact value; a float with nine digits, which
// single precision reads back exactly.
inline std::string DescribeResult(const EvalResult &r) {
    char buf[64];
    switch (r.type) {
        case LX_INTEGER:
            snprintf(buf, sizeof(buf), "int\t%d", r.i);
            return buf;
        case LX_FLOAT:
            snprintf(buf, sizeof(buf), "real\t%.9g", static_cast<double>(r.f));
            return buf;
        case LX_STRING:
            return "string\t" + Escape(r.s != nullptr ? r.s : "(null)");
        case LX_TIME:
            return "time\t" + Escape(r.s != nullptr ? r.s : "(null)");
        case LX_UNDEFINED:
            return "undefined\t-";
        case LX_ERROR:
            return "error\t-";
        default:
            snprintf(buf, sizeof(buf), "kind%d\t-", static_cast<int>(r.type));
            return buf;
    }
}

// Everything the engine says about one case: the parse result, the tree
// printed back, what EvalTree returned and its result, and the result of
// the one-list _EvalTree on the root with MY alone.
inline std::string Outcome(const std::string &expression, const AttrList *my,
                           const AttrList *target) {
    ExprTree *tree = nullptr;
    int position = Parse(expression.c_str(), tree);
    char head[32];
    snprintf(head, sizeof(head), "%d", position);
    if (tree == nullptr) {
        return std::string(head) + "\t-";
    }
    char *printed = nullptr;
    tree->PrintToNewStr(&printed);
    std::string out = std::string(head) + "\t" + Escape(printed);
    free(printed);
    EvalResult two;
    bool returned = tree->EvalTree(my, target, &two);
    out += returned ? "\t1\t" : "\t0\t";
    out += DescribeResult(two);
    EvalResult one;
    returned = tree->_EvalTree(my, &one);
    out += returned ? "\t1\t" : "\t0\t";
    out += DescribeResult(one);
    delete tree;
    return out;
}

inline std::string MatchOutcome(ClassAd *a, ClassAd *b) {
    char buf[32];
    snprintf(buf, sizeof(buf), "%d\t%d\t%d", a->IsAMatch(b), *a >= *b, *a == *b);
    return buf;
}

// The ads of a corpus, by id. Chained ads keep their parents alive here.
struct AdPool {
    std::map<std::string, std::unique_ptr<ClassAd>> ads;
    ClassAd *last = nullptr;
    std::vector<std::string> problems;

    ClassAd *Find(const std::string &id) const {
        auto it = ads.find(id);
        return it == ads.end() ? nullptr : it->second.get();
    }

    // Applies one "ad", "a", "chain" or "delete" record; false for any
    // other record.
    bool Apply(const std::vector<std::string> &f) {
        if (f[0] == "ad" && f.size() == 4) {
            std::unique_ptr<ClassAd> ad(new ClassAd);
            if (f[2] != "-") ad->SetMyTypeName(f[2].c_str());
            if (f[3] != "-") ad->SetTargetTypeName(f[3].c_str());
            last = ad.get();
            ads[f[1]] = std::move(ad);
            return true;
        }
        if (last == nullptr || f.size() != 2) {
            return false;
        }
        if (f[0] == "a") {
            if (!last->Insert(f[1].c_str(), false)) problems.push_back("not inserted: " + f[1]);
            return true;
        }
        if (f[0] == "chain") {
            ClassAd *parent = Find(f[1]);
            if (parent == nullptr) problems.push_back("no parent " + f[1]);
            last->ChainToAd(parent);
            return true;
        }
        if (f[0] == "delete") {
            last->Delete(f[1].c_str());
            return true;
        }
        return false;
    }
};

// The relative path of the recorded corpus in the source tree.
const char kCorpusPath[] = "tests/classad/data/eval_corpus.txt";

}  // namespace eval_corpus

#endif  // TORVEL_TESTS_CLASSAD_EVAL_CORPUS_H_
