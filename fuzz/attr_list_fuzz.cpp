// Fuzz target for attribute lists and ClassAds read from text: the input is
// read as a file of ads separated by "---" lines, each ad as a ClassAd
// (types taken from its attributes). Every ad is then printed, copied (the
// copy must print the same), chained under a copy and walked by both
// cursors, sent over a memory stream and read back, and has its names
// deleted one by one. Everything is freed; nothing survives between inputs.
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "classad/class_ad.h"
#include "classad/expr_tree.h"
#include "core/my_string.h"
#include "tests/stream/memory_stream.h"

const char *mySubSystem = "TOOL";

namespace {

void fail(const char *what, const char *first, const char *second) {
    fprintf(stderr, "%s\n first:  [%s]\n second: [%s]\n", what, first, second);
    abort();
}

void exercise(ClassAd &ad) {
    MyString printed;
    ad.sPrint(printed);

    ClassAd copy(ad);
    MyString copy_printed;
    copy.sPrint(copy_printed);
    if (printed != copy_printed) {
        fail("a copy prints differently", printed.Value(), copy_printed.Value());
    }

    // A child chained under the copy sees every attribute of it.
    ClassAd child;
    child.ChainToAd(&copy);
    child.ResetExpr();
    ExprTree *tree;
    while ((tree = child.NextExpr()) != nullptr) {
        const char *name = static_cast<VariableBase *>(tree->LArg())->Name();
        if (child.Lookup(name) == nullptr) {
            fail("a walked attribute cannot be looked up", name, "");
        }
    }
    child.ResetName();
    const char *name;
    while ((name = child.NextNameOriginal()) != nullptr) {
        char buffer[32];
        child.LookupString(name, buffer, sizeof buffer);
        int i;
        child.EvalInteger(name, &ad, i);
    }
    child.unchain();

    MemoryStream wire;
    if (ad.put(wire)) {
        ClassAd back;
        back.initFromStream(wire);
    }
    ad.IsAMatch(&copy);

    // Delete every attribute of the copy by name; the list ends empty.
    copy.ResetName();
    char *next;
    while ((next = copy.NextName()) != nullptr) {
        bool deleted = copy.Delete(next);
        delete[] next;
        if (!deleted) {
            fail("a walked name cannot be deleted", printed.Value(), "");
        }
        copy.ResetName();
    }
    copy.ResetExpr();
    if (copy.NextExpr() != nullptr) {
        fail("deleting every name left attributes", printed.Value(), "");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    char *text = static_cast<char *>(malloc(size + 1));
    memcpy(text, data, size);
    text[size] = '\0';
    FILE *file = fmemopen(text, size, "r");
    if (file == nullptr) {
        free(text);
        return 0;
    }
    char delimiter[] = "---";
    int is_eof = 0;
    int error = 0;
    int empty = 0;
    // Each read consumes at least one line, so this ends.
    for (int ads = 0; ads < 1000 && !is_eof; ads++) {
        ClassAd ad(file, delimiter, is_eof, error, empty);
        exercise(ad);
        if (feof(file)) {
            break;
        }
    }
    fclose(file);
    free(text);
    return 0;
}
