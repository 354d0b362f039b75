// Fuzz target for the invariants of ClassAd parsing, printing and
// evaluation. The input's first line is an expression; the lines after it
// are attributes of a MY ad, up to a line "--", and then of a TARGET ad
// (lines that are not assignments are left out). For an expression that
// parses:
//   - printing, parsing the printed text and printing again gives the same
//     text (except for the trees whose text cannot read back, see
//     round_trip_exceptions.h);
//   - a deep copy prints as the original does;
//   - the copy evaluated in copies of the ads gives what the original gives
//     in the ads themselves (kind, value bit for bit, EvalTree's answer),
//     both ways round and with the one-list form, and evaluating again gives
//     the same again.
// Inputs that mention the clock or chance ("time", "random" in any case)
// skip the evaluation checks, since two evaluations may rightly differ.
// Any broken invariant aborts. Nothing is kept between inputs.
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include <memory>
#include <string>

#include "classad/attr_list.h"
#include "classad/eval_result.h"
#include "classad/expr_tree.h"
#include "classad/parser.h"
#include "fuzz/round_trip_exceptions.h"

const char *mySubSystem = "TOOL";

namespace {

// Bounds the work per input: evaluation through many attributes of long
// lists is slow only, never wrong.
const int kMaxAttributes = 64;

void fail(const char *what, const std::string &detail) {
    fprintf(stderr, "invariant broken: %s\n%s\n", what, detail.c_str());
    abort();
}

std::string printed(ExprTree *tree) {
    char *text = nullptr;
    tree->PrintToNewStr(&text);
    std::string out(text);
    free(text);
    return out;
}

// Kind, EvalTree's answer and the exact value, as one comparable text.
std::string outcome(bool returned, const EvalResult &r) {
    char buf[64];
    std::string out = returned ? "1 " : "0 ";
    snprintf(buf, sizeof(buf), "%d ", static_cast<int>(r.type));
    out += buf;
    switch (r.type) {
        case LX_FLOAT: {
            uint32_t bits = 0;
            memcpy(&bits, &r.f, sizeof(bits));
            snprintf(buf, sizeof(buf), "%08x", bits);
            return out + buf;
        }
        case LX_STRING:
        case LX_TIME:
            return out + r.s;
        case LX_INTEGER:
        case LX_BOOL:
            snprintf(buf, sizeof(buf), "%d", r.i);
            return out + buf;
        default:
            return out;
    }
}

std::string evaluate_all(ExprTree *tree, const AttrList *my, const AttrList *target) {
    EvalResult r;
    std::string all = outcome(tree->EvalTree(my, target, &r), r) + "|";
    all += outcome(tree->EvalTree(target, my, &r), r) + "|";
    all += outcome(tree->EvalTree(my, &r), r) + "|";
    all += outcome(tree->_EvalTree(my, &r), r);
    return all;
}

// Splits text into the expression and the two ads.
std::string split_input(char *text, AttrList &my, AttrList &target) {
    char *line_end = strchr(text, '\n');
    std::string expression(
        text, line_end != nullptr ? static_cast<size_t>(line_end - text) : strlen(text));
    AttrList *ad = &my;
    int count = 0;
    while (line_end != nullptr && count < kMaxAttributes) {
        char *line = line_end + 1;
        line_end = strchr(line, '\n');
        if (line_end != nullptr) {
            *line_end = '\0';
        }
        if (strcmp(line, "--") == 0) {
            ad = &target;
            continue;
        }
        count += ad->Insert(line, false) ? 1 : 0;
    }
    return expression;
}

bool mentions_clock_or_chance(const char *data, size_t size) {
    for (size_t i = 0; i < size; i++) {
        if ((size - i >= 4 && strncasecmp(data + i, "time", 4) == 0) ||
            (size - i >= 6 && strncasecmp(data + i, "random", 6) == 0)) {
            return true;
        }
    }
    return false;
}

void check_round_trip(ExprTree *tree) {
    std::string first = printed(tree);
    if (has_round_trip_exception(tree)) {
        return;
    }
    ExprTree *again = nullptr;
    if (Parse(first.c_str(), again) != 0 || again == nullptr) {
        fail("printed text does not parse", first);
    }
    std::string second = printed(again);
    delete again;
    if (second != first) {
        fail("print, parse, print is not stable", first + "\n" + second);
    }
}

void check_copy(ExprTree *tree, AttrList &my, AttrList &target, bool evaluate) {
    std::unique_ptr<ExprTree> copy(tree->DeepCopy());
    std::string text = printed(tree);
    if (printed(copy.get()) != text) {
        fail("a copy prints differently", text);
    }
    if (!evaluate) {
        return;
    }
    AttrList my_copy(my);
    AttrList target_copy(target);
    std::string original = evaluate_all(tree, &my, &target);
    std::string copied = evaluate_all(copy.get(), &my_copy, &target_copy);
    if (copied != original) {
        fail("a copy evaluates differently", text + "\n" + original + "\n" + copied);
    }
    if (evaluate_all(tree, &my, &target) != original) {
        fail("evaluating again gives another answer", text);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    char *text = static_cast<char *>(malloc(size + 1));
    memcpy(text, data, size);
    text[size] = '\0';
    bool evaluate = !mentions_clock_or_chance(text, size);

    AttrList my;
    AttrList target;
    std::string expression = split_input(text, my, target);
    ExprTree *tree = nullptr;
    if (Parse(expression.c_str(), tree) == 0 && tree != nullptr) {
        check_round_trip(tree);
        check_copy(tree, my, target, evaluate);
    }
    delete tree;
    free(text);
    return 0;
}
