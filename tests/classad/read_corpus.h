// The recorded reading corpus: the generated machine ads
// (tests/support/machine_ads.h) read through each reader, and what the
// reader made of every attribute when the file was recorded, so that a
// later reader can be checked against it attribute by attribute.
//
// File form, one record per line, fields separated by tabs and escaped as
// in the evaluation corpus (tests/classad/eval_corpus.h):
//   ad <seed> <form> <MyType> <TargetType> <attribute count>
//   a <name> <kind of the right side> <assignment printed back> <value>
// where form is one of kForms, the kind is the lexeme number, and the value
// is what the right side evaluates to with the ad as MY (DescribeResult).
// Recording and checking share this code, so both read the same way.
#ifndef TORVEL_TESTS_CLASSAD_READ_CORPUS_H_
#define TORVEL_TESTS_CLASSAD_READ_CORPUS_H_

#include <stdio.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "classad/class_ad.h"
#include "classad/classad_xml.h"
#include "classad/eval_result.h"
#include "classad/expr_tree.h"
#include "tests/classad/eval_corpus.h"
#include "tests/stream/memory_stream.h"
#include "tests/support/machine_ads.h"

namespace read_corpus {

// The readers: the text form from a file and from a string, the wire form
// and the XML form.
const char * const kForms[] = {"file", "string", "wire", "xml"};

// The seeds of the recorded ads.
const int kSeeds = 24;

// Reads the generated ad of seed through the reader of form; null for an
// unknown form. Caller deletes.
inline ClassAd *Read(uint64_t seed, const std::string &form) {
    std::vector<machine_ads::Attribute> ad = machine_ads::Generate(seed);
    if (form == "file" || form == "string") {
        std::string text = machine_ads::TextForm(ad);
        if (form == "string") {
            return new ClassAd(&text[0], '\n');
        }
        FILE *file = fmemopen(&text[0], text.size(), "r");
        if (file == nullptr) {
            return nullptr;
        }
        int is_eof = 0, error = 0, empty = 0;
        char delimiter[] = "***";
        ClassAd *read = new ClassAd(file, delimiter, is_eof, error, empty);
        fclose(file);
        return read;
    }
    if (form == "wire") {
        MemoryStream stream;
        stream.encode();
        if (!machine_ads::PutWireForm(ad, stream)) {
            return nullptr;
        }
        ClassAd *read = new ClassAd;
        read->initFromStream(stream);
        return read;
    }
    if (form == "xml") {
        ClassAdXMLParser parser;
        return parser.ParseClassAd(machine_ads::XmlForm(ad).c_str());
    }
    return nullptr;
}

// The record of one attribute tree (an AssignOp) of ad.
inline std::string DescribeAttribute(ClassAd *ad, ExprTree *tree) {
    ExprTree *name = tree->LArg();
    ExprTree *value = tree->RArg();
    char *printed = nullptr;
    tree->PrintToNewStr(&printed);
    char kind[16];
    snprintf(kind, sizeof kind, "%d", value != nullptr ? static_cast<int>(value->MyType()) : -1);
    char *name_text = nullptr;
    if (name != nullptr) {
        name->PrintToNewStr(&name_text);
    }
    EvalResult result;
    if (value != nullptr) {
        value->EvalTree(ad, &result);
    }
    std::string out = "a\t" + eval_corpus::Escape(name_text != nullptr ? name_text : "-") + "\t" +
                      kind + "\t" + eval_corpus::Escape(printed != nullptr ? printed : "-") + "\t" +
                      eval_corpus::DescribeResult(result);
    free(name_text);
    free(printed);
    return out;
}

// The records of the ad of seed as the reader of form reads it now.
// The records of ad, read from the ad of seed by the reader of form (null
// when it did not read).
inline std::vector<std::string> DescribeRead(ClassAd *ad, uint64_t seed, const std::string &form) {
    std::vector<std::string> lines;
    if (ad == nullptr) {
        lines.push_back("unreadable\t" + form);
        return lines;
    }
    std::vector<std::string> attributes;
    ad->ResetExpr();
    for (ExprTree *tree = ad->NextExpr(); tree != nullptr; tree = ad->NextExpr()) {
        attributes.push_back(DescribeAttribute(ad, tree));
    }
    lines.push_back("ad\t" + std::to_string(seed) + "\t" + form + "\t" +
                    eval_corpus::Escape(ad->GetMyTypeName()) + "\t" +
                    eval_corpus::Escape(ad->GetTargetTypeName()) + "\t" +
                    std::to_string(attributes.size()));
    lines.insert(lines.end(), attributes.begin(), attributes.end());
    return lines;
}

inline std::vector<std::string> Describe(uint64_t seed, const std::string &form) {
    ClassAd *ad = Read(seed, form);
    std::vector<std::string> lines = DescribeRead(ad, seed, form);
    delete ad;
    return lines;
}

// The relative path of the recorded corpus in the source tree.
const char kCorpusPath[] = "tests/classad/data/read_corpus.txt";

}  // namespace read_corpus

#endif  // TORVEL_TESTS_CLASSAD_READ_CORPUS_H_
