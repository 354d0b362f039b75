// Fuzz target for ClassAd evaluation: the input is parsed as one expression
// or assignment and, when it parses, evaluated against a small fixed pair of
// ads (MY and TARGET), both ways round and with the one-list form, and each
// result is copied and printed. Everything made for an input is freed; the
// two ads are built once and never changed by evaluation.
//
// The evaluation of a tree by its compiled form (EvalTree) must equal the
// tree walk's (_EvalTree, which does not mark the root and so runs no
// compiled form below it): a parsed tree belongs to no ad, so no cycle
// comes back to its root, and it is far too shallow to meet the nesting
// bound. Inputs that mention the clock or random numbers are not compared.
//
// No configuration is loaded, so calls of unknown names never reach a
// shared library.
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "classad/attr_list.h"
#include "classad/eval_result.h"
#include "classad/expr_tree.h"
#include "classad/parser.h"

const char *mySubSystem = "TOOL";

namespace {

const char * const kMyAttributes[] = {
    "Memory = 2048",
    "Disk = 1500000",
    "Arch = \"X86_64\"",
    "OpSys = \"LINUX\"",
    "LoadAvg = 0.25",
    "Names = \"a, b,c\"",
    "Numbers = \"1, 2.5, -3\"",
    "Self = MY.Memory * 2",
    "Other = TARGET.ImageSize",
    "Cycle = Cycle + 1",
    "Born = '2004-01-01T00:00:00'",
    "Requirements = TARGET.ImageSize <= Memory && Arch == \"x86_64\"",
};

const char * const kTargetAttributes[] = {
    "ImageSize = 512",    "Owner = \"user\"", "Rank = Memory / 2",
    "Back = TARGET.Self", "Loop = MY.Loop",   "Requirements = TARGET.Disk > 1000 * 1024",
};

AttrList *make_ad(const char * const *attributes, size_t n) {
    AttrList *ad = new AttrList;
    for (size_t i = 0; i < n; i++) {
        if (!ad->Insert(attributes[i], false)) {
            fprintf(stderr, "fixed attribute does not parse: %s\n", attributes[i]);
            abort();
        }
    }
    return ad;
}

// Copies and prints the result, so every kind's text is read.
void consume(const EvalResult &result) {
    EvalResult copy(result);
    if (copy.type != result.type) {
        abort();
    }
    if ((copy.type == LX_STRING || copy.type == LX_TIME) && strcmp(copy.s, result.s) != 0) {
        abort();
    }
    static FILE *sink = fopen("/dev/null", "w");
    if (sink != nullptr) {
        copy.fPrintResult(sink);
    }
}

// Whether two results have the same kind and value (reals bit for bit).
bool same_result(const EvalResult &a, const EvalResult &b) {
    if (a.type != b.type) {
        return false;
    }
    switch (a.type) {
        case LX_STRING:
        case LX_TIME:
            return strcmp(a.s, b.s) == 0;
        case LX_FLOAT:
            return memcmp(&a.f, &b.f, sizeof(a.f)) == 0;
        case LX_INTEGER:
            return a.i == b.i;
        default:
            return true;
    }
}

// The compiled form against the walk, for inputs that read no clock and
// draw no random number.
void compare_with_walk(const char *text, ExprTree *tree, AttrList *my, AttrList *target) {
    if (strcasestr(text, "time") != nullptr || strcasestr(text, "random") != nullptr) {
        return;
    }
    EvalResult compiled;
    EvalResult walked;
    bool compiled_ok = tree->EvalTree(my, target, &compiled);
    bool walked_ok = tree->_EvalTree(my, target, &walked);
    if (compiled_ok != walked_ok || !same_result(compiled, walked)) {
        fprintf(stderr, "compiled form and walk differ for: %s\n", text);
        abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static AttrList *my = make_ad(kMyAttributes, sizeof(kMyAttributes) / sizeof(kMyAttributes[0]));
    static AttrList *target =
        make_ad(kTargetAttributes, sizeof(kTargetAttributes) / sizeof(kTargetAttributes[0]));

    char *text = static_cast<char *>(malloc(size + 1));
    memcpy(text, data, size);
    text[size] = '\0';

    ExprTree *tree = nullptr;
    if (Parse(text, tree) == 0 && tree != nullptr) {
        EvalResult result;
        tree->EvalTree(my, target, &result);
        consume(result);
        tree->EvalTree(target, my, &result);
        consume(result);
        tree->EvalTree(my, &result);
        consume(result);
        tree->_EvalTree(my, &result);
        consume(result);
        compare_with_walk(text, tree, my, target);
        compare_with_walk(text, tree, target, my);
    }
    delete tree;
    free(text);
    return 0;
}
