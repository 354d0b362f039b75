// Fuzz target for the ClassAd XML reader: the input is walked as a buffer of
// ads with ParseClassAds (and read once more through a file source). Each
// ad read is written, the text read back, and the second ad must write the
// same text, in compact and in indented spacing. Everything is freed;
// nothing survives between inputs but the parser's shared token and the
// ad type registry.
//
// One documented exception is not compared: an expression (not a whole
// string value, which the XML form carries exactly) holding a string literal
// whose text ends in a backslash, or a floating literal beyond single
// precision. Their printed text does not read back as printed (see the
// ClassAd parse fuzz target).
#include <math.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <initializer_list>

#include "classad/class_ad.h"
#include "classad/classad_xml.h"
#include "classad/expr_tree.h"
#include "core/list.h"
#include "core/my_string.h"
#include "fuzz/round_trip_exceptions.h"

const char *mySubSystem = "TOOL";

namespace {

// Whether some attribute's value holds an expression that does not read
// back as printed.
bool ad_has_exception(ClassAd &ad) {
    ad.ResetExpr();
    ExprTree *attribute;
    while ((attribute = ad.NextExpr()) != nullptr) {
        ExprTree *value = attribute->RArg();
        if (value != nullptr && value->MyType() != LX_STRING && value->MyType() != LX_FLOAT &&
            has_round_trip_exception(value)) {
            return true;
        }
    }
    return false;
}

void fail(const char *what, const char *first, const char *second) {
    fprintf(stderr, "%s\n first:  [%s]\n second: [%s]\n", what, first, second);
    abort();
}

MyString written(ClassAd &ad, bool compact) {
    ClassAdXMLUnparser writer;
    writer.SetUseCompactSpacing(compact);
    MyString out;
    writer.Unparse(&ad, out);
    return out;
}

void round_trip(ClassAd &ad) {
    if (ad_has_exception(ad)) {
        return;
    }
    ClassAdXMLParser parser;
    MyString first = written(ad, true);
    for (bool compact : {true, false}) {
        MyString text = written(ad, compact);
        ClassAd *back = parser.ParseClassAd(text.Value());
        MyString second = written(*back, true);
        delete back;
        if (first != second) {
            fail("an ad written and read back writes differently", first.Value(), second.Value());
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    char *text = static_cast<char *>(malloc(size + 1));
    memcpy(text, data, size);
    text[size] = '\0';

    ClassAdXMLParser parser;
    const int length = static_cast<int>(strlen(text));
    int place = 0;
    // Each call consumes at least one byte until the text ends.
    for (int ads = 0; ads < 1000; ads++) {
        int before = place;
        ClassAd *ad = parser.ParseClassAds(text, &place);
        if (place < before || place > length) {
            fail("the place left the buffer", text, "");
        }
        round_trip(*ad);
        delete ad;
        if (place == before || text[place] == '\0') {
            break;
        }
    }

    // The file source sees the raw bytes, NULs included.
    FILE *file = fmemopen(const_cast<uint8_t *>(data), size, "r");
    if (file != nullptr) {
        ClassAd *ad = parser.ParseClassAd(file);
        round_trip(*ad);
        delete ad;
        fclose(file);
    }
    free(text);
    return 0;
}
