// classad_eval: shows an administrator what a ClassAd expression really
// evaluates to, with the library's own parser, printer and evaluator, and
// why a job matches the machines of a pool or not:
//
//   classad_eval [--my FILE] [--target FILE] EXPR...
//   classad_eval --print EXPR...
//   classad_eval --match FILE1 FILE2
//   classad_eval --match-all [--limit N] [--count] JOB POOL
//   classad_eval --analyze [--json] JOB POOL
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
// A POOL file holds any number of ads, one per block of lines, blocks
// separated by blank lines; JOB is one ad as for --match. --match-all
// prints the pool's ads that match JOB symmetrically, one line each, "NAME
// RANK" (NAME the ad's Name, or "#" and its position in the file), by
// JOB's Rank against each, highest first, ties in file order; --limit N
// keeps the first N, --count prints only how many lines that makes.
// --analyze prints the match analysis (classad/match_report.h), as text or
// with --json as one JSON object.
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
// --version answer first and exit 0. --match-all differs, so that scripts
// can test it: 0 when at least one ad matches, 1 when none does, 2 for bad
// usage, unreadable input and lost output. The configuration is not read.
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "classad/ad_file_reader.h"
#include "classad/attr_list.h"
#include "classad/attr_names.h"
#include "classad/class_ad.h"
#include "classad/eval_result.h"
#include "classad/expr_tree.h"
#include "classad/match_analysis.h"
#include "classad/match_report.h"
#include "classad/parser.h"
#include "classad/pool_match.h"
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
    " | --match FILE1 FILE2 | --match-all [--limit N] [--count] JOB POOL"       \
    " | --analyze [--json] JOB POOL\n"

const char kUsage[] = CLASSAD_EVAL_USAGE;

// --help: the usage line, then the forms, the ad files and the results.
const char kHelp[] = CLASSAD_EVAL_USAGE
    "Parses and evaluates ClassAd expressions with the library's own parser.\n"
    "\n"
    "  [--my FILE] [--target FILE] EXPR...\n"
    "                        the value of each EXPR, MY. and TARGET. naming the two ads\n"
    "  --print EXPR...       the printed form of each parsed EXPR\n"
    "  --match FILE1 FILE2   1 when the two ads match symmetrically, else 0\n"
    "  --match-all JOB POOL  the ads of POOL matching JOB, \"NAME RANK\", best first\n"
    "    --limit N           only the first N of them\n"
    "    --count             only how many\n"
    "  --analyze JOB POOL    why JOB matches few or no ads of POOL, clause by clause\n"
    "    --json              as one JSON object\n"
    "  --help                this text\n"
    "  --version             the program's version and the library's version string\n"
    "\n"
    "Options take their value as --my FILE or --my=FILE; after --, every word is\n"
    "an EXPR.\n"
    "An ad FILE (\"-\": standard input) holds one \"Name = expression\" per line;\n"
    "blank lines and lines starting with \"#\" are skipped. A POOL holds any\n"
    "number of ads, separated by blank lines.\n"
    "Each value prints as INTEGER:v, FLOAT:v, STRING:text, TIME:text, UNDEFINED,\n"
    "ERROR, or PARSE_ERROR:position for an EXPR that does not parse.\n"
    "Exit status: 0; 1 when an EXPR does not parse, an ad file cannot be read or\n"
    "the answers cannot be written; 2 for bad usage.\n"
    "--match-all exits 0 when an ad matches, 1 when none does, 2 for bad usage,\n"
    "unreadable input or lost output.\n";

// Reports a failed read of path; false, or true when status is no failure.
bool reader_ok(const AdFileReader &reader, AdFileReader::Status status, const char *path) {
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

// Reads the whole of file into ad as one ad (blank lines do not end it).
// False, with a message, at the first line that is not an assignment (the
// message quotes a bounded excerpt of it) and when reading fails.
bool read_ad_lines(FILE *file, const char *path, AttrList &ad) {
    AdFileReader reader(file);
    return reader_ok(reader, reader.ReadAll(ad), path);
}

// Reads every block of file as one ClassAd each, appended to pool.
bool read_pool_blocks(FILE *file, const char *path, std::vector<std::unique_ptr<ClassAd>> &pool) {
    AdFileReader reader(file);
    for (;;) {
        std::unique_ptr<ClassAd> ad(new ClassAd());
        AdFileReader::Status status = reader.NextClassAd(*ad);
        if (status != AdFileReader::kAd) {
            return reader_ok(reader, status, path);
        }
        pool.push_back(std::move(ad));
    }
}

// Opens path ("-": standard input) and hands it to read under the name
// messages give it; false with a message on failure.
template <class Read>
bool with_file(const char *path, Read read) {
    bool from_stdin = strcmp(path, "-") == 0;
    FILE *file = from_stdin ? stdin : fopen(path, "r");
    if (file == nullptr) {
        fprintf(stderr, "%s: %s: %s\n", kProgram, path, strerror(errno));
        return false;
    }
    bool ok = read(file, from_stdin ? "standard input" : path);
    if (!from_stdin) {
        fclose(file);
    }
    return ok;
}

// Fills ad from path ("-": standard input); false with a message on failure.
bool load_ad(const char *path, AttrList &ad) {
    return with_file(path,
                     [&ad](FILE *file, const char *name) { return read_ad_lines(file, name, ad); });
}

// Reads the ads of path into pool; false with a message on failure.
bool load_pool(const char *path, std::vector<std::unique_ptr<ClassAd>> &pool) {
    return with_file(
        path, [&pool](FILE *file, const char *name) { return read_pool_blocks(file, name, pool); });
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
    const char *limit = nullptr;  // --limit's text
    bool print = false;
    bool match = false;
    bool match_all = false;
    bool analyze = false;
    bool count = false;
    bool json = false;
    std::vector<char *> exprs;  // the EXPRs, or the two FILEs of the matching forms
};

enum OptionIndex { kMy, kTarget, kPrint, kMatch, kMatchAll, kAnalyze, kLimit, kCount, kJson };

const ToolOption kOptions[] = {
    {"--my", true},     {"--target", true},     {"--print", false},
    {"--match", false}, {"--match-all", false}, {"--analyze", false},
    {"--limit", true},  {"--count", false},     {"--json", false},
};
const int kOptionCount = sizeof kOptions / sizeof kOptions[0];

bool is_stdin(const char *path) {
    return path != nullptr && strcmp(path, "-") == 0;
}

// Where an option's value or flag goes in request.
const char **value_of(Request &request, int option) {
    return option == kMy       ? &request.my_path
           : option == kTarget ? &request.target_path
           : option == kLimit  ? &request.limit
                               : nullptr;
}

bool *flag_of(Request &request, int option) {
    bool *flags[] = {nullptr,          nullptr, &request.print, &request.match, &request.match_all,
                     &request.analyze, nullptr, &request.count, &request.json};
    return flags[option];
}

// Fills request from the options read; "" or the reason of bad usage.
std::string apply_options(const ToolCommandLine &line, Request &request) {
    for (const ToolOptionUse &use : line.uses) {
        const char **value = value_of(request, use.option);
        bool *flag = flag_of(request, use.option);
        if ((value != nullptr && *value != nullptr) || (flag != nullptr && *flag)) {
            return "option " + tool_quote(kOptions[use.option].name) + " given twice";
        }
        if (value != nullptr) {
            *value = use.value;
        } else {
            *flag = true;
        }
    }
    request.exprs = line.operands;
    return "";
}

// The form's option name, or null for the evaluating form.
const char *form_of(const Request &request) {
    return request.print       ? "--print"
           : request.match     ? "--match"
           : request.match_all ? "--match-all"
           : request.analyze   ? "--analyze"
                               : nullptr;
}

// The second form asked for, in the order of form_of, or null.
const char *second_form_of(const Request &request) {
    const char *names[] = {"--print", "--match", "--match-all", "--analyze"};
    bool given[] = {request.print, request.match, request.match_all, request.analyze};
    int seen = 0;
    for (int k = 0; k < 4; ++k) {
        if (given[k] && ++seen == 2) {
            return names[k];
        }
    }
    return nullptr;
}

// An option that only one form takes, given without it; "" or the reason.
std::string check_form_options(const Request &request, const char *form) {
    struct Only {
        bool given;
        const char *option;
        const char *form;
    };
    const Only only[] = {
        {request.limit != nullptr, "--limit", "--match-all"},
        {request.count, "--count", "--match-all"},
        {request.json, "--json", "--analyze"},
    };
    for (const Only &o : only) {
        if (o.given && (form == nullptr || strcmp(form, o.form) != 0)) {
            return std::string("option '") + o.option + "' goes only with '" + o.form + "'";
        }
    }
    if (request.limit != nullptr) {
        char *end = nullptr;
        errno = 0;
        long limit = strtol(request.limit, &end, 10);
        if (*request.limit == '\0' || *end != '\0' || limit < 0 || errno != 0) {
            return "option '--limit' takes a count, not " + tool_quote(request.limit);
        }
    }
    return "";
}

// The combinations the forms allow; "" or the reason of bad usage.
std::string check_request(const Request &request) {
    const char *form = form_of(request);
    bool with_ads = request.my_path != nullptr || request.target_path != nullptr;
    const char *second = second_form_of(request);
    if (second != nullptr) {
        return std::string("options '") + form + "' and '" + second + "' exclude each other";
    }
    if (form != nullptr && with_ads) {
        return std::string("options '--my' and '--target' do not go with '") + form + "'";
    }
    std::string reason = check_form_options(request, form);
    if (!reason.empty()) {
        return reason;
    }
    bool two_files = request.match || request.match_all || request.analyze;
    if (two_files && request.exprs.size() != 2) {
        return std::string("option '") + form + "' takes two files";
    }
    if (request.exprs.empty()) {
        return "no EXPR given";
    }
    // Standard input holds one ad (or one pool) at most.
    if ((is_stdin(request.my_path) && is_stdin(request.target_path)) ||
        (two_files && is_stdin(request.exprs[0]) && is_stdin(request.exprs[1]))) {
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

// The job of JOB and the ads of POOL, read as ClassAds; false with a
// message.
bool load_job_and_pool(const Request &request, ClassAd &job,
                       std::vector<std::unique_ptr<ClassAd>> &pool) {
    if (!load_ad(request.exprs[0], job) || !load_pool(request.exprs[1], pool)) {
        return false;
    }
    job.TakeTypesFromAttributes();
    return true;
}

std::vector<ClassAd *> borrowed(const std::vector<std::unique_ptr<ClassAd>> &pool) {
    std::vector<ClassAd *> ads;
    ads.reserve(pool.size());
    for (const auto &ad : pool) ads.push_back(ad.get());
    return ads;
}

// --match-all JOB POOL: 0 when an ad matches, 1 when none does, 2 when the
// input cannot be read.
int run_match_all(const Request &request) {
    ClassAd job;
    std::vector<std::unique_ptr<ClassAd>> pool;
    if (!load_job_and_pool(request, job, pool)) {
        return 2;
    }
    std::vector<RankedMatch> matches = MatchPool(job, borrowed(pool));
    size_t shown = matches.size();
    if (request.limit != nullptr) {
        shown = std::min(shown, static_cast<size_t>(strtol(request.limit, nullptr, 10)));
    }
    if (request.count) {
        tool_printf("%zu\n", shown);
    }
    for (size_t k = 0; !request.count && k < shown && tool_output_ok(); ++k) {
        const RankedMatch &match = matches[k];
        tool_printf("%s %s\n", PoolAdLabel(*pool[match.index], match.index).c_str(),
                    FormatMatchValue(match.rank).c_str());
    }
    return matches.empty() ? 1 : 0;
}

// --analyze [--json] JOB POOL
int run_analyze(const Request &request) {
    ClassAd job;
    std::vector<std::unique_ptr<ClassAd>> pool;
    if (!load_job_and_pool(request, job, pool)) {
        return 1;
    }
    MatchAnalysis analysis = AnalyzeMatch(job, borrowed(pool));
    std::string report = request.json ? MatchReportJson(analysis) : MatchReportText(analysis);
    tool_printf("%s", report.c_str());
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
    if (request.match_all) {
        return run_match_all(request);
    }
    if (request.analyze) {
        return run_analyze(request);
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
    int status = tool_finish_output(kProgram, run(request));
    // Lost output must not read as "no match".
    return request.match_all && !tool_output_ok() ? 2 : status;
}
