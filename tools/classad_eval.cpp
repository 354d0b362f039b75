// classad_eval: shows an administrator what a ClassAd expression really
// evaluates to, with the library's own parser, printer and evaluator:
//
//   classad_eval [--my FILE] [--target FILE] EXPR...
//   classad_eval --print EXPR...
//   classad_eval --match FILE1 FILE2
//
// An ad FILE ("-" for standard input) holds one "Name = expression" per
// line; blank lines and lines starting with "#" are skipped, and a later
// attribute replaces an earlier one of the same name. Each EXPR prints one
// line: INTEGER:v, FLOAT:v ("%.17g"), STRING:text (raw), TIME:text (a time
// literal), UNDEFINED, ERROR, or PARSE_ERROR:position. With --print each
// EXPR prints its canonical text instead. With --match the two files are
// read as ClassAds (their MyType and TargetType attributes become the ads'
// types) and one line tells whether they match symmetrically: 1 or 0.
//
// Options and EXPRs may come in any order, "--opt=value" as well as
// "--opt value"; after "--" every word is an EXPR, and a single-dash word
// ("-v") always is one. Messages are "classad_eval: FILE: reason",
// "classad_eval: FILE:LINE: ..." for a bad ad line, and for bad usage the
// reason (naming a bad option) followed by the usage line.
//
// Exit status: 0; 1 when an EXPR does not parse, an ad file cannot be read
// (a read error is not taken for its end) or the answers cannot be written
// ("classad_eval: write error: REASON"); 2 for bad usage; --help and
// --version answer first and exit 0. The configuration is not read.
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "classad/ad_file_reader.h"
#include "classad/attr_list.h"
#include "classad/attr_names.h"
#include "classad/class_ad.h"
#include "classad/eval_result.h"
#include "classad/expr_tree.h"
#include "classad/parser.h"
#include "config/subsystem.h"
#include "core/line_excerpt.h"
#include "tools/standard_options.h"
#include "tools/tool_output.h"

const char *mySubSystem = "TOOL";

namespace {

// The name that begins every message of the program.
const char kProgram[] = "classad_eval";

// The usage line: alone on bad usage, first line of --help.
#define CLASSAD_EVAL_USAGE                                                      \
    "Usage: classad_eval [--my FILE] [--target FILE] EXPR... | --print EXPR..." \
    " | --match FILE1 FILE2\n"

const char kUsage[] = CLASSAD_EVAL_USAGE;

// --help: the usage line, then the forms, the ad files and the results.
const char kHelp[] = CLASSAD_EVAL_USAGE
    "Parses and evaluates ClassAd expressions with the library's own parser.\n"
    "\n"
    "  [--my FILE] [--target FILE] EXPR...\n"
    "                        the value of each EXPR, MY. and TARGET. naming the two ads\n"
    "  --print EXPR...       the printed form of each parsed EXPR\n"
    "  --match FILE1 FILE2   1 when the two ads match symmetrically, else 0\n"
    "  --help                this text\n"
    "  --version             the program's version and the library's version string\n"
    "\n"
    "Options take their value as --my FILE or --my=FILE; after --, every word is\n"
    "an EXPR.\n"
    "An ad FILE (\"-\": standard input) holds one \"Name = expression\" per line;\n"
    "blank lines and lines starting with \"#\" are skipped.\n"
    "Each value prints as INTEGER:v, FLOAT:v, STRING:text, TIME:text, UNDEFINED,\n"
    "ERROR, or PARSE_ERROR:position for an EXPR that does not parse.\n"
    "Exit status: 0; 1 when an EXPR does not parse, an ad file cannot be read or\n"
    "the answers cannot be written; 2 for bad usage.\n";

// Reads the whole of file into ad as one ad (blank lines do not end it).
// False, with a message, at the first line that is not an assignment (the
// message quotes a bounded excerpt of it) and when reading fails.
bool read_ad_lines(FILE *file, const char *path, AttrList &ad) {
    AdFileReader reader(file);
    AdFileReader::Status status = reader.ReadAll(ad);
    if (status == AdFileReader::kBadLine) {
        const std::string &line = reader.BadLine();
        MyString excerpt = line_excerpt(line.data(), line.size());
        fprintf(stderr, "%s: %s:%d: not an attribute assignment: %s\n", kProgram, path,
                reader.Line(), excerpt.Value());
        return false;
    }
    if (status == AdFileReader::kReadError) {
        fprintf(stderr, "%s: %s: %s\n", kProgram, path, strerror(reader.Errno()));
        return false;
    }
    return true;
}

// Fills ad from path ("-": standard input); false with a message on failure.
bool load_ad(const char *path, AttrList &ad) {
    bool from_stdin = strcmp(path, "-") == 0;
    FILE *file = from_stdin ? stdin : fopen(path, "r");
    if (file == nullptr) {
        fprintf(stderr, "%s: %s: %s\n", kProgram, path, strerror(errno));
        return false;
    }
    bool ok = read_ad_lines(file, from_stdin ? "standard input" : path, ad);
    if (!from_stdin) {
        fclose(file);
    }
    return ok;
}

// Parses text; prints PARSE_ERROR and returns null on failure. Caller
// deletes the tree.
ExprTree *parse_or_report(const char *text) {
    ExprTree *tree = nullptr;
    int position = Parse(text, tree);
    if (position != 0 || tree == nullptr) {
        delete tree;
        tool_printf("PARSE_ERROR:%d\n", position);
        return nullptr;
    }
    return tree;
}

void print_result(const EvalResult &result) {
    switch (result.type) {
        case LX_INTEGER:
            tool_printf("INTEGER:%d\n", result.i);
            break;
        case LX_FLOAT:
            tool_printf("FLOAT:%.17g\n", static_cast<double>(result.f));
            break;
        case LX_STRING:
            tool_printf("STRING:%s\n", result.s);
            break;
        case LX_TIME:
            tool_printf("TIME:%s\n", result.s);
            break;
        case LX_UNDEFINED:
            tool_printf("UNDEFINED\n");
            break;
        case LX_ERROR:
            tool_printf("ERROR\n");
            break;
        default:
            // Evaluation produces none of the other kinds; say so if it did.
            tool_printf("UNKNOWN:%d\n", static_cast<int>(result.type));
            break;
    }
}

// One line per expression: its value with MY = my and TARGET = target.
int evaluate_all(const std::vector<char *> &exprs, const AttrList *my, const AttrList *target) {
    int status = 0;
    for (size_t k = 0; k < exprs.size() && tool_output_ok(); ++k) {
        ExprTree *tree = parse_or_report(exprs[k]);
        if (tree == nullptr) {
            status = 1;
            continue;
        }
        EvalResult result;
        tree->EvalTree(my, target, &result);
        print_result(result);
        delete tree;
    }
    return status;
}

// One line per expression: the printed text of its parsed tree.
int print_all(const std::vector<char *> &exprs) {
    int status = 0;
    for (size_t k = 0; k < exprs.size() && tool_output_ok(); ++k) {
        ExprTree *tree = parse_or_report(exprs[k]);
        if (tree == nullptr) {
            status = 1;
            continue;
        }
        char *text = nullptr;
        tree->PrintToNewStr(&text);
        tool_printf("%s\n", text != nullptr ? text : "");
        free(text);
        delete tree;
    }
    return status;
}

// What the command line asks for. Paths and exprs borrow argv.
struct Request {
    const char *my_path = nullptr;
    const char *target_path = nullptr;
    bool print = false;
    bool match = false;
    std::vector<char *> exprs;  // the EXPRs, or the two FILEs of --match
};

enum OptionIndex { kMy, kTarget, kPrint, kMatch };

const ToolOption kOptions[] = {
    {"--my", true},
    {"--target", true},
    {"--print", false},
    {"--match", false},
};
const int kOptionCount = sizeof kOptions / sizeof kOptions[0];

bool is_stdin(const char *path) {
    return path != nullptr && strcmp(path, "-") == 0;
}

// Fills request from the options read; "" or the reason of bad usage.
std::string apply_options(const ToolCommandLine &line, Request &request) {
    for (const ToolOptionUse &use : line.uses) {
        const char *name = kOptions[use.option].name;
        const char **path = use.option == kMy       ? &request.my_path
                            : use.option == kTarget ? &request.target_path
                                                    : nullptr;
        bool *flag = use.option == kPrint ? &request.print : &request.match;
        if ((path != nullptr && *path != nullptr) || (path == nullptr && *flag)) {
            return "option " + tool_quote(name) + " given twice";
        }
        if (path != nullptr) {
            *path = use.value;
        } else {
            *flag = true;
        }
    }
    request.exprs = line.operands;
    return "";
}

// The combinations the three forms allow; "" or the reason of bad usage.
std::string check_request(const Request &request) {
    bool with_ads = request.my_path != nullptr || request.target_path != nullptr;
    if (request.print && request.match) {
        return "options '--print' and '--match' exclude each other";
    }
    if ((request.print || request.match) && with_ads) {
        return std::string("options '--my' and '--target' do not go with ") +
               (request.print ? "'--print'" : "'--match'");
    }
    if (request.match && request.exprs.size() != 2) {
        return "option '--match' takes two files";
    }
    if (request.exprs.empty()) {
        return "no EXPR given";
    }
    // Standard input holds one ad at most.
    if ((is_stdin(request.my_path) && is_stdin(request.target_path)) ||
        (request.match && is_stdin(request.exprs[0]) && is_stdin(request.exprs[1]))) {
        return "standard input can hold only one of the two ads";
    }
    return "";
}

// [--my FILE] [--target FILE] EXPR...
int run_evaluate(const Request &request) {
    AttrList my;
    AttrList target;
    if ((request.my_path != nullptr && !load_ad(request.my_path, my)) ||
        (request.target_path != nullptr && !load_ad(request.target_path, target))) {
        return 1;
    }
    return evaluate_all(request.exprs, request.my_path != nullptr ? &my : nullptr,
                        request.target_path != nullptr ? &target : nullptr);
}

// --match FILE1 FILE2
int run_match(const char *first_path, const char *second_path) {
    ClassAd first;
    ClassAd second;
    if (!load_ad(first_path, first) || !load_ad(second_path, second)) {
        return 1;
    }
    first.TakeTypesFromAttributes();
    second.TakeTypesFromAttributes();
    tool_printf("%d\n", first.IsAMatch(&second));
    return 0;
}

// The program's status; standard output is still open.
int run(const Request &request) {
    if (request.print) {
        return print_all(request.exprs);
    }
    if (request.match) {
        return run_match(request.exprs[0], request.exprs[1]);
    }
    return run_evaluate(request);
}

}  // namespace

int main(int argc, char **argv) {
    ToolCommandLine line;
    // "-v" is an expression, not an option.
    ToolRequest asked = tool_read_command_line(argc, argv, kOptions, kOptionCount, true, &line);
    if (asked == kToolHelp || asked == kToolVersion) {
        return tool_answer(kProgram, asked, kHelp);
    }
    Request request;
    std::string reason = asked == kToolBadUsage ? line.error : apply_options(line, request);
    if (reason.empty()) {
        reason = check_request(request);
    }
    if (!reason.empty()) {
        return tool_usage_error(kProgram, reason, kUsage);
    }
    return tool_finish_output(kProgram, run(request));
}
