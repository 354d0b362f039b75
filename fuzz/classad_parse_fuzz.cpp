// Fuzz target for the ClassAd parser: the input is parsed as one expression
// or assignment; a tree that parses is printed, the text parsed again, and
// the second tree must parse and print to the same text. Copies must print
// the same too, and collecting references must not fail. Everything is
// freed; nothing survives between inputs but the parser's shared token.
//
// Two documented exceptions are not compared: a string literal whose text
// ends in a backslash (its closing quote reads back as an escape when more
// text follows) and a floating literal beyond single precision, which prints
// as "inf" and reads back as a name. Floats keeping six decimals is no
// exception here: the printed text is a fixed point after one round.
#include <math.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "classad/expr_tree.h"
#include "classad/parser.h"
#include "core/list.h"
#include "core/string_list.h"
#include "fuzz/round_trip_exceptions.h"

const char *mySubSystem = "TOOL";

namespace {

void fail(const char *what, const char *first, const char *second) {
    fprintf(stderr, "%s\n first:  [%s]\n second: [%s]\n", what, first,
            second != nullptr ? second : "(none)");
    abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    char *text = static_cast<char *>(malloc(size + 1));
    memcpy(text, data, size);
    text[size] = '\0';

    ExprTree *tree = nullptr;
    int position = Parse(text, tree);
    if (position != 0 || tree == nullptr) {
        if (tree != nullptr) {
            fail("a failed parse returned a tree", text, nullptr);
        }
        free(text);
        return 0;
    }

    char *printed = nullptr;
    tree->PrintToNewStr(&printed);
    StringList internal, external;
    tree->GetReferences(nullptr, internal, external);

    ExprTree *copy = tree->DeepCopy();
    char *copy_printed = nullptr;
    copy->PrintToNewStr(&copy_printed);
    if (strcmp(printed, copy_printed) != 0) {
        fail("a copy prints differently", printed, copy_printed);
    }

    if (!has_round_trip_exception(tree)) {
        ExprTree *again = nullptr;
        int again_position = Parse(printed, again);
        if (again_position != 0 || again == nullptr) {
            fail("printed text does not parse", printed, nullptr);
        }
        char *reprinted = nullptr;
        again->PrintToNewStr(&reprinted);
        if (strcmp(printed, reprinted) != 0) {
            fail("printed text reads back differently", printed, reprinted);
        }
        free(reprinted);
        delete again;
    }

    free(copy_printed);
    delete copy;
    free(printed);
    delete tree;
    free(text);
    return 0;
}
