// A shared object built outside Torvel against the position-independent
// library (Torvel::torvel_pic), as a plug-in or language binding is: one C
// function that evaluates a ClassAd expression with MY bound to a small
// machine ad.
#include <torvel/classad/attr_list.h>
#include <torvel/classad/eval_result.h>
#include <torvel/classad/expr_tree.h>
#include <torvel/classad/parser.h>

// The program loading the plug-in has no subsystem of its own to give.
const char *mySubSystem = "CONSUMER_PLUGIN";

// The integer value of expression, or -1 when it does not parse or is not
// an integer.
extern "C" int consumer_plugin_eval(const char *expression) {
    ExprTree *tree = nullptr;
    if (Parse(expression, tree) != 0 || tree == nullptr) {
        delete tree;
        return -1;
    }
    AttrList machine;
    machine.Insert("Memory = 64", true);
    machine.Insert("Disk = Memory * 10", true);
    EvalResult result;
    tree->EvalTree(&machine, &result);
    delete tree;
    return result.type == LX_INTEGER ? result.i : -1;
}
