// A program built outside Torvel against the installed library: it loads
// the Torvel configuration, reads the ClassAd expression CONSUMER_EXPR with
// param, evaluates it with MY bound to a small machine ad, and reports the
// value as one debug line on standard error. Exit status 0, or 1 (with an
// "ERROR: " line) when the key is missing or its text does not parse.
#include <stdio.h>
#include <stdlib.h>

#include <torvel/classad/attr_list.h>
#include <torvel/classad/eval_result.h>
#include <torvel/classad/expr_tree.h>
#include <torvel/classad/parser.h>
#include <torvel/config/config_startup.h>
#include <torvel/config/param.h>
#include <torvel/diagnostics/debug_log.h>

// Every program names its subsystem: CONSUMER.NAME keys win over NAME.
const char *mySubSystem = "CONSUMER";

namespace {

// The value as "<kind> <value>" in buffer.
void describe(const EvalResult &result, char *buffer, size_t size) {
    switch (result.type) {
        case LX_INTEGER:
            snprintf(buffer, size, "INTEGER %d", result.i);
            break;
        case LX_FLOAT:
            snprintf(buffer, size, "FLOAT %g", static_cast<double>(result.f));
            break;
        case LX_STRING:
            snprintf(buffer, size, "STRING %s", result.s);
            break;
        case LX_UNDEFINED:
            snprintf(buffer, size, "UNDEFINED");
            break;
        default:
            snprintf(buffer, size, "ERROR");
            break;
    }
}

}  // namespace

int main() {
    config(0);  // ends the process with a message when no configuration is found
    char *text = param("CONSUMER_EXPR");  // malloc'd; ours to free
    if (text == nullptr) {
        fprintf(stderr, "ERROR: CONSUMER_EXPR not defined in your Torvel config file!\n");
        return 1;
    }
    ExprTree *tree = nullptr;
    if (Parse(text, tree) != 0 || tree == nullptr) {
        fprintf(stderr, "ERROR: CONSUMER_EXPR does not parse: %s\n", text);
        delete tree;
        free(text);
        return 1;
    }

    AttrList machine;
    machine.Insert("Memory = 64", true);
    machine.Insert("Disk = Memory * 10", true);
    EvalResult result;
    tree->EvalTree(&machine, &result);
    char value[256];
    describe(result, value, sizeof value);

    // Debug lines are kept in memory until a program says where they go.
    DebugFP = stderr;
    DebugFlags = D_ALWAYS;
    _torvel_dprintf_works = 1;
    dprintf(D_ALWAYS, "consumer: %s is %s\n", text, value);

    delete tree;
    free(text);
    return 0;
}
