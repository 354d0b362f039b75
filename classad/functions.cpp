// Evaluation of calls: the lazy ifthenelse, the built-in functions selected
// by name (without regard to case, once, when the call is built) and
// functions loaded from the shared library named by CLASSAD_LIB_PATH.
// Built-ins work on the evaluator's values (classad/eval_value.h): texts
// they compute go to the evaluation's scratch space, and the Function*
// members that take EvalResults run the same code.
//
// Conversions from a real to an integer (int, floor, ceiling, round, the
// numeric string lists) give ERROR when the value does not fit in 32 bits,
// and random(0) gives ERROR, so no function can reach undefined behaviour.
// A library function is called only when the library itself defines it as
// a function: dlsym also finds what the library's dependencies define (exit
// from the C library, say), and dladdr tells which object that was.
// Each regular-expression call (regexp, regexps, stringList_regexpMember)
// spends one RegexBudget (core/regex.h) over all its matches and answers
// ERROR when that runs out before it found its answer: "no match" would let
// a hostile subject pass a negated test. What it spent is taken from the
// evaluation's step budget too (evaluation.h), so that many calls in one ad
// add up to one bound; once that has run out, a call answers ERROR at once.
// Process-wide state: classad_debug_function_run, the random generator.
#include "classad/functions.h"

#include <ctype.h>
#include <dlfcn.h>
#include <link.h>
#include <math.h>
#include <stddef.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <time.h>

#include <vector>

#include "classad/eval_result.h"
#include "classad/eval_value.h"
#include "classad/expr_tree.h"
#include "config/param.h"
#include "config/trusted_source.h"
#include "core/allocation.h"
#include "core/ext_array.h"
#include "core/my_string.h"
#include "core/random_numbers.h"
#include "core/regex.h"
#include "core/string_list.h"
#include "core/time_format.h"

static_assert(offsetof(ClassAdLibValue, value) == 8, "the value sits at offset 8");

bool classad_debug_function_run = false;

namespace {

const char kDefaultDelimiters[] = " ,";

// Wrong arity or argument kind.
bool fail(EvalValue &out) {
    out = EvalValue::Error();
    return false;
}

bool is_string(const EvalValue &v) {
    return v.type == LX_STRING;
}

bool all_strings(int argc, const EvalValue *argv) {
    for (int i = 0; i < argc; i++) {
        if (!is_string(argv[i])) {
            return false;
        }
    }
    return true;
}

// A double as an int when it fits (NaN never does).
bool fits_int(double d, int *out) {
    if (!(d > -2147483649.0 && d < 2147483648.0)) {
        return false;
    }
    *out = static_cast<int>(d);
    return true;
}

// The "real" conversion: false for undefined, error, time and text that
// does not read as a number.
bool to_real(const EvalValue &v, float *out) {
    switch (v.type) {
        case LX_INTEGER:
            *out = static_cast<float>(v.i);
            return true;
        case LX_FLOAT:
            *out = static_cast<float>(v.r);
            return true;
        case LX_STRING:
            return sscanf(v.s, "%f", out) == 1;
        default:
            return false;
    }
}

// "int" of a text: leading white space skipped, digits up to the first
// other character; a 0 counts only when the text is made of white space,
// signs, points and zeros.
bool text_to_int(const char *text, int *out) {
    char *end = nullptr;
    long value = strtol(text, &end, 10);
    if (value == 0) {
        for (const char *p = text; *p != '\0'; p++) {
            if (!isspace(static_cast<unsigned char>(*p)) && strchr("+-.0", *p) == nullptr) {
                return false;
            }
        }
    }
    return fits_int(static_cast<double>(value), out);
}

// Regular-expression options from their letters; others are ignored.
int regex_options(const char *letters) {
    int options = 0;
    for (const char *p = letters; *p != '\0'; p++) {
        switch (tolower(static_cast<unsigned char>(*p))) {
            case 'i':
                options |= PCRE_CASELESS;
                break;
            case 'm':
                options |= PCRE_MULTILINE;
                break;
            case 's':
                options |= PCRE_DOTALL;
                break;
            case 'x':
                options |= PCRE_EXTENDED;
                break;
            default:
                break;
        }
    }
    return options;
}

// Regular-expression work per step of evaluation: a step of evaluation
// takes about as long as PCRE moving over 128 characters, so a whole call's
// budget is an eighth of an evaluation's default budget.
const long kRegexUnitsPerEvalStep = 128;

// Whether the evaluation in progress may still run a regular expression.
bool regex_allowed(EvalValue &out) {
    if (eval_steps_left < 0) {
        out = EvalValue::Error();
        return false;
    }
    return true;
}

// Charges what a call's matches spent to the evaluation.
void charge_regex_work(const RegexBudget &budget) {
    eval_steps_left -= budget.spent() / kRegexUnitsPerEvalStep;
}

bool compile_pattern(Regex &re, const char *pattern, const char *options) {
    return re.compile(MyString(pattern), nullptr, nullptr,
                      options != nullptr ? regex_options(options) : 0);
}

// The substitution text of regexps: "\d" becomes capture group d.
const char *substitute(const char *replacement, const ExtArray<MyString> &groups) {
    MyString out;
    for (const char *p = replacement; *p != '\0'; p++) {
        if (p[0] == '\\' && isdigit(static_cast<unsigned char>(p[1]))) {
            int group = p[1] - '0';
            if (group <= groups.getlast()) {
                out += groups[group];
            }
            p++;
        } else {
            out += *p;
        }
    }
    return eval_scratch_copy(out.Value(), static_cast<size_t>(out.Length()));
}

// Items of a numeric string list, read as numbers.
enum ListFold { LIST_SUM, LIST_AVG, LIST_MIN, LIST_MAX };

bool integer_text(const char *item) {
    for (const char *p = item; *p != '\0'; p++) {
        if (!isdigit(static_cast<unsigned char>(*p)) && *p != '+' && *p != '-') {
            return false;
        }
    }
    return true;
}

// The value of an empty list.
void fold_empty(ListFold fold, EvalValue &out) {
    if (fold == LIST_SUM) {
        out = EvalValue::Int(0);
    } else if (fold == LIST_AVG) {
        out = EvalValue::Real(0.0);
    } else {
        out = EvalValue::Undefined();
    }
}

bool fold_list(ListFold fold, int argc, const EvalValue *argv, EvalValue &out) {
    if (argc < 1 || argc > 2 || !all_strings(argc, argv)) {
        return fail(out);
    }
    StringList items(argv[0].s, argc == 2 ? argv[1].s : kDefaultDelimiters);
    int count = 0;
    bool integral = true;
    double combined = 0.0;
    items.rewind();
    for (const char *item = items.next(); item != nullptr; item = items.next()) {
        double number = 0.0;
        if (sscanf(item, "%lf", &number) != 1) {
            return fail(out);
        }
        integral = integral && integer_text(item);
        if (count == 0 && (fold == LIST_MIN || fold == LIST_MAX)) {
            combined = number;
        } else if (fold == LIST_MIN) {
            combined = number < combined ? number : combined;
        } else if (fold == LIST_MAX) {
            combined = number > combined ? number : combined;
        } else {
            combined += number;
        }
        count++;
    }
    int whole = 0;
    if (count == 0) {
        fold_empty(fold, out);
    } else if (fold == LIST_AVG) {
        out = EvalValue::Real(static_cast<float>(combined / count));
    } else if (!integral) {
        out = EvalValue::Real(static_cast<float>(combined));
    } else if (!fits_int(combined, &whole)) {
        return fail(out);
    } else {
        out = EvalValue::Int(whole);
    }
    return true;
}

bool kind_test(int argc, const EvalValue *argv, EvalValue &out, LexemeType kind) {
    if (argc != 1) {
        return fail(out);
    }
    out = EvalValue::Int(argv[0].type == kind);
    return true;
}

bool rounding(int argc, const EvalValue *argv, EvalValue &out, double (*round_fn)(double)) {
    if (argc != 1) {
        return fail(out);
    }
    if (argv[0].type == LX_INTEGER) {
        out = EvalValue::Int(argv[0].i);
        return true;
    }
    float value = 0.0f;
    int whole = 0;
    if (!to_real(argv[0], &value) || !fits_int(round_fn(value), &whole)) {
        return fail(out);
    }
    out = EvalValue::Int(whole);
    return true;
}

bool compare_texts(int argc, const EvalValue *argv, EvalValue &out, bool anycase) {
    if (argc != 2 || !all_strings(argc, argv)) {
        return fail(out);
    }
    out = EvalValue::Int(anycase ? strcasecmp(argv[0].s, argv[1].s) : strcmp(argv[0].s, argv[1].s));
    return true;
}

bool convert_case(int argc, const EvalValue *argv, EvalValue &out, int (*convert)(int)) {
    if (argc != 1 || !is_string(argv[0])) {
        return fail(out);
    }
    size_t n = strlen(argv[0].s);
    char *text = eval_scratch_alloc(n + 1);
    for (size_t i = 0; i < n; i++) {
        text[i] = static_cast<char>(convert(static_cast<unsigned char>(argv[0].s[i])));
    }
    text[n] = '\0';
    out = EvalValue::Text(text);
    return true;
}

bool list_member(int argc, const EvalValue *argv, EvalValue &out, bool anycase) {
    if (argc < 2 || argc > 3 || !all_strings(argc, argv)) {
        return fail(out);
    }
    StringList items(argv[1].s, argc == 3 ? argv[2].s : kDefaultDelimiters);
    out = EvalValue::Int(anycase ? items.contains_anycase(argv[0].s) : items.contains(argv[0].s));
    return true;
}

// ---- shared-library records ----

typedef void (*LibraryFunction)(int, ClassAdLibValue *, ClassAdLibValue *);

// The function named name in the library behind handle, or null when the
// library does not define a function of that name itself.
LibraryFunction library_function(void *handle, const char *name) {
    void *symbol = dlsym(handle, name);
    if (symbol == nullptr) {
        return nullptr;
    }
    struct link_map *library = nullptr;
    struct link_map *owner = nullptr;
    ElfW(Sym) *entry = nullptr;
    Dl_info info;
    if (dlinfo(handle, RTLD_DI_LINKMAP, &library) != 0 ||
        dladdr1(symbol, &info, reinterpret_cast<void **>(&owner), RTLD_DL_LINKMAP) == 0 ||
        owner != library || info.dli_saddr != symbol ||
        dladdr1(symbol, &info, reinterpret_cast<void **>(&entry), RTLD_DL_SYMENT) == 0 ||
        entry == nullptr || ELF64_ST_TYPE(entry->st_info) != STT_FUNC) {
        return nullptr;
    }
    return reinterpret_cast<LibraryFunction>(symbol);
}

void to_record(EvalResult &arg, ClassAdLibValue *record) {
    memset(record, 0, sizeof(*record));
    switch (arg.type) {
        case LX_INTEGER:
            record->type = CLASSAD_LIB_INTEGER;
            record->value.integer = arg.i;
            break;
        case LX_FLOAT:
            record->type = CLASSAD_LIB_REAL;
            record->value.real = arg.f;
            break;
        case LX_STRING:
            record->type = CLASSAD_LIB_STRING;
            record->value.text = arg.s;
            break;
        case LX_UNDEFINED:
            record->type = CLASSAD_LIB_UNDEFINED;
            break;
        default:
            record->type = CLASSAD_LIB_ERROR;
            break;
    }
}

void from_record(ClassAdLibValue &record, EvalResult *result) {
    switch (record.type) {
        case CLASSAD_LIB_INTEGER:
            result->set_int(record.value.integer);
            break;
        case CLASSAD_LIB_REAL:
            result->set_float(record.value.real);
            break;
        case CLASSAD_LIB_STRING:
            if (record.value.text == nullptr) {
                result->set_error();
            } else {
                result->set_string(record.value.text);
                free(record.value.text);
            }
            break;
        case CLASSAD_LIB_UNDEFINED:
            result->set_undefined();
            break;
        default:
            result->set_error();
            break;
    }
}

}  // namespace

// ---- the built-ins, one per name, over evaluated arguments ----

namespace {

typedef bool (*Builtin)(int argc, const EvalValue *argv, EvalValue &out);

bool builtin_time(int, const EvalValue *, EvalValue &out) {
    out = EvalValue::Int(static_cast<int>(time(nullptr)));
    return true;
}

bool builtin_interval(int argc, const EvalValue *argv, EvalValue &out) {
    if (argc != 1 || argv[0].type != LX_INTEGER) {
        return fail(out);
    }
    const char *text = format_time(argv[0].i);
    out = EvalValue::Text(eval_scratch_copy(text, strlen(text)));
    return true;
}

bool builtin_random(int argc, const EvalValue *argv, EvalValue &out) {
    if (argc == 0) {
        out = EvalValue::Real(get_random_float());
        return true;
    }
    if (argc == 1 && argv[0].type == LX_INTEGER && argv[0].i != 0) {
        // get_random_int() is never negative, so the remainder is defined
        // for every non-zero modulus.
        out = EvalValue::Int(get_random_int() % argv[0].i);
        return true;
    }
    if (argc == 1 && argv[0].type == LX_FLOAT) {
        out = EvalValue::Real(get_random_float() * static_cast<float>(argv[0].r));
        return true;
    }
    return fail(out);
}

bool builtin_debug(int, const EvalValue *, EvalValue &out) {
    classad_debug_function_run = true;
    out = EvalValue::Int(1);
    return true;
}

bool builtin_is_undefined(int argc, const EvalValue *argv, EvalValue &out) {
    return kind_test(argc, argv, out, LX_UNDEFINED);
}
bool builtin_is_error(int argc, const EvalValue *argv, EvalValue &out) {
    return kind_test(argc, argv, out, LX_ERROR);
}
bool builtin_is_string(int argc, const EvalValue *argv, EvalValue &out) {
    return kind_test(argc, argv, out, LX_STRING);
}
bool builtin_is_integer(int argc, const EvalValue *argv, EvalValue &out) {
    return kind_test(argc, argv, out, LX_INTEGER);
}
bool builtin_is_real(int argc, const EvalValue *argv, EvalValue &out) {
    return kind_test(argc, argv, out, LX_FLOAT);
}

bool builtin_is_boolean(int argc, const EvalValue *argv, EvalValue &out) {
    if (argc != 1) {
        return fail(out);
    }
    const EvalValue &arg = argv[0];
    out = EvalValue::Int(arg.type == LX_BOOL ||
                         (arg.type == LX_INTEGER && (arg.i == 0 || arg.i == 1)));
    return true;
}

bool builtin_string(int argc, const EvalValue *argv, EvalValue &out) {
    if (argc != 1 || !is_string(argv[0])) {
        return fail(out);
    }
    out = EvalValue::Text(argv[0].s);
    return true;
}

bool builtin_real(int argc, const EvalValue *argv, EvalValue &out) {
    float value = 0.0f;
    if (argc != 1 || !to_real(argv[0], &value)) {
        return fail(out);
    }
    out = EvalValue::Real(value);
    return true;
}

bool builtin_int(int argc, const EvalValue *argv, EvalValue &out) {
    if (argc != 1) {
        return fail(out);
    }
    int value = 0;
    bool ok = false;
    switch (argv[0].type) {
        case LX_INTEGER:
            value = argv[0].i;
            ok = true;
            break;
        case LX_FLOAT:
            ok = fits_int(argv[0].r, &value);
            break;
        case LX_STRING:
            ok = text_to_int(argv[0].s, &value);
            break;
        default:
            break;
    }
    if (!ok) {
        return fail(out);
    }
    out = EvalValue::Int(value);
    return true;
}

bool builtin_floor(int argc, const EvalValue *argv, EvalValue &out) {
    return rounding(argc, argv, out, floor);
}
bool builtin_round(int argc, const EvalValue *argv, EvalValue &out) {
    return rounding(argc, argv, out, rint);  // ties to even
}
bool builtin_ceiling(int argc, const EvalValue *argv, EvalValue &out) {
    return rounding(argc, argv, out, ceil);
}

bool builtin_strcat(int argc, const EvalValue *argv, EvalValue &out) {
    if (!all_strings(argc, argv)) {
        return fail(out);
    }
    size_t total = 0;
    for (int i = 0; i < argc; i++) {
        total += strlen(argv[i].s);
    }
    char *text = eval_scratch_alloc(total + 1);
    char *end = text;
    for (int i = 0; i < argc; i++) {
        size_t n = strlen(argv[i].s);
        memcpy(end, argv[i].s, n);
        end += n;
    }
    *end = '\0';
    out = EvalValue::Text(text);
    return true;
}

bool builtin_substr(int argc, const EvalValue *argv, EvalValue &out) {
    if (argc < 2 || argc > 3 || !is_string(argv[0]) || argv[1].type != LX_INTEGER ||
        (argc == 3 && argv[2].type != LX_INTEGER)) {
        return fail(out);
    }
    // 64-bit arithmetic: offsets and lengths near the int limits cannot wrap.
    long long size = static_cast<long long>(strlen(argv[0].s));
    long long offset = argv[1].i;
    if (offset < 0) {
        offset += size;
    }
    long long length = argc == 3 ? argv[2].i : size - offset;
    out = EvalValue::Text("");
    if (offset < 0 || offset > size) {
        return true;
    }
    long long rest = size - offset;
    if (length > rest) {
        length = rest;
    } else if (length < 0) {
        length += rest;
    }
    if (length > 0) {
        out = EvalValue::Text(eval_scratch_copy(argv[0].s + offset, static_cast<size_t>(length)));
    }
    return true;
}

bool builtin_strcmp(int argc, const EvalValue *argv, EvalValue &out) {
    return compare_texts(argc, argv, out, false);
}
bool builtin_stricmp(int argc, const EvalValue *argv, EvalValue &out) {
    return compare_texts(argc, argv, out, true);
}
bool builtin_toupper(int argc, const EvalValue *argv, EvalValue &out) {
    return convert_case(argc, argv, out, toupper);
}
bool builtin_tolower(int argc, const EvalValue *argv, EvalValue &out) {
    return convert_case(argc, argv, out, tolower);
}

bool builtin_size(int argc, const EvalValue *argv, EvalValue &out) {
    int length = 0;
    if (argc != 1 || !is_string(argv[0]) ||
        !fits_int(static_cast<double>(strlen(argv[0].s)), &length)) {
        return fail(out);
    }
    out = EvalValue::Int(length);
    return true;
}

bool builtin_list_size(int argc, const EvalValue *argv, EvalValue &out) {
    if (argc < 1 || argc > 2 || !all_strings(argc, argv)) {
        return fail(out);
    }
    StringList items(argv[0].s, argc == 2 ? argv[1].s : kDefaultDelimiters);
    out = EvalValue::Int(items.number());
    return true;
}

bool builtin_list_sum(int argc, const EvalValue *argv, EvalValue &out) {
    return fold_list(LIST_SUM, argc, argv, out);
}
bool builtin_list_avg(int argc, const EvalValue *argv, EvalValue &out) {
    return fold_list(LIST_AVG, argc, argv, out);
}
bool builtin_list_min(int argc, const EvalValue *argv, EvalValue &out) {
    return fold_list(LIST_MIN, argc, argv, out);
}
bool builtin_list_max(int argc, const EvalValue *argv, EvalValue &out) {
    return fold_list(LIST_MAX, argc, argv, out);
}
bool builtin_list_member(int argc, const EvalValue *argv, EvalValue &out) {
    return list_member(argc, argv, out, false);
}
bool builtin_list_imember(int argc, const EvalValue *argv, EvalValue &out) {
    return list_member(argc, argv, out, true);
}

bool builtin_list_regexp_member(int argc, const EvalValue *argv, EvalValue &out) {
    if (argc < 2 || argc > 4 || !all_strings(argc, argv)) {
        return fail(out);
    }
    Regex re;
    if (!compile_pattern(re, argv[0].s, argc == 4 ? argv[3].s : nullptr)) {
        return fail(out);
    }
    if (!regex_allowed(out)) {
        return true;
    }
    StringList items(argv[1].s, argc >= 3 ? argv[2].s : kDefaultDelimiters);
    RegexBudget budget;  // one for the whole list
    int found = 0;
    items.rewind();
    for (const char *item = items.next(); item != nullptr && !found; item = items.next()) {
        found = re.match(MyString(item), nullptr, &budget);
    }
    charge_regex_work(budget);
    out = !found && budget.exhausted() ? EvalValue::Error() : EvalValue::Int(found);
    return true;
}

bool builtin_regexp(int argc, const EvalValue *argv, EvalValue &out) {
    if (argc < 2 || argc > 3 || !all_strings(argc, argv)) {
        return fail(out);
    }
    Regex re;
    if (!compile_pattern(re, argv[0].s, argc == 3 ? argv[2].s : nullptr)) {
        return fail(out);
    }
    if (!regex_allowed(out)) {
        return true;
    }
    RegexBudget budget;
    bool found = re.match(MyString(argv[1].s), nullptr, &budget);
    charge_regex_work(budget);
    out = budget.exhausted() ? EvalValue::Error() : EvalValue::Int(found);
    return true;
}

bool builtin_regexps(int argc, const EvalValue *argv, EvalValue &out) {
    if (argc < 3 || argc > 4 || !all_strings(argc, argv)) {
        return fail(out);
    }
    Regex re;
    if (!compile_pattern(re, argv[0].s, argc == 4 ? argv[3].s : nullptr)) {
        return fail(out);
    }
    if (!regex_allowed(out)) {
        return true;
    }
    ExtArray<MyString> groups;
    RegexBudget budget;
    bool found = re.match(MyString(argv[1].s), &groups, &budget);
    charge_regex_work(budget);
    out = EvalValue::Text("");
    if (found) {
        out = EvalValue::Text(substitute(argv[2].s, groups));
    } else if (budget.exhausted()) {
        out = EvalValue::Error();
    }
    return true;
}

struct BuiltinEntry {
    const char *name;
    Builtin function;
    bool strings;  // arguments converted to strings
};

// In selection order.
const BuiltinEntry kBuiltins[] = {
    {"gettime", builtin_time, false},
    {"time", builtin_time, false},
    {"interval", builtin_interval, false},
    {"random", builtin_random, false},
    {"_debug_function_", builtin_debug, false},
    {"isundefined", builtin_is_undefined, false},
    {"iserror", builtin_is_error, false},
    {"isstring", builtin_is_string, false},
    {"isinteger", builtin_is_integer, false},
    {"isreal", builtin_is_real, false},
    {"isboolean", builtin_is_boolean, false},
    {"string", builtin_string, true},
    {"real", builtin_real, false},
    {"int", builtin_int, false},
    {"floor", builtin_floor, false},
    {"round", builtin_round, false},
    {"ceiling", builtin_ceiling, false},
    {"strcat", builtin_strcat, true},
    {"substr", builtin_substr, false},
    {"strcmp", builtin_strcmp, true},
    {"stricmp", builtin_stricmp, true},
    {"toupper", builtin_toupper, true},
    {"tolower", builtin_tolower, true},
    {"size", builtin_size, true},
    {"stringlistsize", builtin_list_size, false},
    {"stringlistsum", builtin_list_sum, false},
    {"stringlistavg", builtin_list_avg, false},
    {"stringlistmin", builtin_list_min, false},
    {"stringlistmax", builtin_list_max, false},
    {"stringlistmember", builtin_list_member, false},
    {"stringlistimember", builtin_list_imember, false},
    {"stringlist_regexpMember", builtin_list_regexp_member, false},
    {"regexp", builtin_regexp, false},
    {"regexps", builtin_regexps, false},
};

// Runs a built-in over results, as the members below do: the arguments are
// borrowed for the call and the value stored into result.
bool run_on_results(Builtin builtin, int argc, EvalResult *argv, EvalResult *result) {
    EvalBudgetScope budget;  // what a call outside any evaluation spent is given back
    EvalScratchScope scope;
    std::vector<EvalValue> values;
    for (int i = 0; i < argc; i++) {
        values.push_back(eval_value_of(argv[i]));
    }
    EvalValue out = EvalValue::Undefined();
    bool ok = builtin(argc, values.data(), out);
    eval_value_store(out, result);
    return ok;
}

}  // namespace

int classad_builtin_index(const char *name) {
    if (strcasecmp(name, "ifthenelse") == 0) {
        return CLASSAD_CALL_IFTHENELSE;
    }
    for (size_t i = 0; i < sizeof(kBuiltins) / sizeof(kBuiltins[0]); i++) {
        if (strcasecmp(kBuiltins[i].name, name) == 0) {
            return static_cast<int>(i);
        }
    }
    return CLASSAD_CALL_LIBRARY;
}

bool Function::FunctionGetTime(int argc, EvalResult *argv, EvalResult *result) {
    return run_on_results(builtin_time, argc, argv, result);
}
bool Function::FunctionTime(int argc, EvalResult *argv, EvalResult *result) {
    return run_on_results(builtin_time, argc, argv, result);
}
bool Function::FunctionInterval(int argc, EvalResult *argv, EvalResult *result) {
    return run_on_results(builtin_interval, argc, argv, result);
}
bool Function::FunctionRandom(int argc, EvalResult *argv, EvalResult *result) {
    return run_on_results(builtin_random, argc, argv, result);
}
bool Function::FunctionClassadDebugFunction(int argc, EvalResult *argv, EvalResult *result) {
    return run_on_results(builtin_debug, argc, argv, result);
}
bool Function::FunctionIsUndefined(int argc, EvalResult *argv, EvalResult *result) {
    return run_on_results(builtin_is_undefined, argc, argv, result);
}
bool Function::FunctionIsError(int argc, EvalResult *argv, EvalResult *result) {
    return run_on_results(builtin_is_error, argc, argv, result);
}
bool Function::FunctionIsString(int argc, EvalResult *argv, EvalResult *result) {
    return run_on_results(builtin_is_string, argc, argv, result);
}
bool Function::FunctionIsInteger(int argc, EvalResult *argv, EvalResult *result) {
    return run_on_results(builtin_is_integer, argc, argv, result);
}
bool Function::FunctionIsReal(int argc, EvalResult *argv, EvalResult *result) {
    return run_on_results(builtin_is_real, argc, argv, result);
}
bool Function::FunctionIsBoolean(int argc, EvalResult *argv, EvalResult *result) {
    return run_on_results(builtin_is_boolean, argc, argv, result);
}
bool Function::FunctionString(int argc, EvalResult *argv, EvalResult *result) {
    return run_on_results(builtin_string, argc, argv, result);
}
bool Function::FunctionReal(int argc, EvalResult *argv, EvalResult *result) {
    return run_on_results(builtin_real, argc, argv, result);
}
bool Function::FunctionInt(int argc, EvalResult *argv, EvalResult *result) {
    return run_on_results(builtin_int, argc, argv, result);
}
bool Function::FunctionFloor(int argc, EvalResult *argv, EvalResult *result) {
    return run_on_results(builtin_floor, argc, argv, result);
}
bool Function::FunctionRound(int argc, EvalResult *argv, EvalResult *result) {
    return run_on_results(builtin_round, argc, argv, result);
}
bool Function::FunctionCeiling(int argc, EvalResult *argv, EvalResult *result) {
    return run_on_results(builtin_ceiling, argc, argv, result);
}
bool Function::FunctionStrcat(int argc, EvalResult *argv, EvalResult *result) {
    return run_on_results(builtin_strcat, argc, argv, result);
}
bool Function::FunctionSubstr(int argc, EvalResult *argv, EvalResult *result) {
    return run_on_results(builtin_substr, argc, argv, result);
}
bool Function::FunctionStrcmp(int argc, EvalResult *argv, EvalResult *result) {
    return run_on_results(builtin_strcmp, argc, argv, result);
}
bool Function::FunctionStricmp(int argc, EvalResult *argv, EvalResult *result) {
    return run_on_results(builtin_stricmp, argc, argv, result);
}
bool Function::FunctionToUpper(int argc, EvalResult *argv, EvalResult *result) {
    return run_on_results(builtin_toupper, argc, argv, result);
}
bool Function::FunctionToLower(int argc, EvalResult *argv, EvalResult *result) {
    return run_on_results(builtin_tolower, argc, argv, result);
}
bool Function::FunctionSize(int argc, EvalResult *argv, EvalResult *result) {
    return run_on_results(builtin_size, argc, argv, result);
}
bool Function::FunctionStringlistSize(int argc, EvalResult *argv, EvalResult *result) {
    return run_on_results(builtin_list_size, argc, argv, result);
}
bool Function::FunctionStringlistSum(int argc, EvalResult *argv, EvalResult *result) {
    return run_on_results(builtin_list_sum, argc, argv, result);
}
bool Function::FunctionStringlistAvg(int argc, EvalResult *argv, EvalResult *result) {
    return run_on_results(builtin_list_avg, argc, argv, result);
}
bool Function::FunctionStringlistMin(int argc, EvalResult *argv, EvalResult *result) {
    return run_on_results(builtin_list_min, argc, argv, result);
}
bool Function::FunctionStringlistMax(int argc, EvalResult *argv, EvalResult *result) {
    return run_on_results(builtin_list_max, argc, argv, result);
}
bool Function::FunctionStringlistMember(int argc, EvalResult *argv, EvalResult *result) {
    return run_on_results(builtin_list_member, argc, argv, result);
}
bool Function::FunctionStringlistIMember(int argc, EvalResult *argv, EvalResult *result) {
    return run_on_results(builtin_list_imember, argc, argv, result);
}
bool Function::FunctionStringlistRegexpMember(int argc, EvalResult *argv, EvalResult *result) {
    return run_on_results(builtin_list_regexp_member, argc, argv, result);
}
bool Function::FunctionRegexp(int argc, EvalResult *argv, EvalResult *result) {
    return run_on_results(builtin_regexp, argc, argv, result);
}
bool Function::FunctionRegexps(int argc, EvalResult *argv, EvalResult *result) {
    return run_on_results(builtin_regexps, argc, argv, result);
}

// ---- shared-library functions ----

bool Function::FunctionSharedLibrary(int argc, EvalResult *argv, EvalResult *result) {
    char *path = param("CLASSAD_LIB_PATH");
    if (path == nullptr) {
        return true;
    }
    // Opened anew for every call and never closed, so a loaded function
    // stays valid for as long as the process runs.
    // While root only a library owned and writable by root or the service
    // account is loaded.
    void *handle = _torvel_dlopen_trusted(path, RTLD_LAZY);
    free(path);
    LibraryFunction function = handle != nullptr ? library_function(handle, name) : nullptr;
    if (function == nullptr) {
        return true;
    }
    ClassAdLibValue *records = new (torvel::or_die) ClassAdLibValue[argc > 0 ? argc : 1];
    for (int i = 0; i < argc; i++) {
        to_record(argv[i], &records[i]);
    }
    ClassAdLibValue answer;
    memset(&answer, 0, sizeof(answer));
    answer.type = CLASSAD_LIB_UNDEFINED;
    function(argc, records, &answer);
    delete[] records;
    from_record(answer, result);
    return true;
}

// ---- evaluating a call ----

bool Function::EvaluateArgument(ExprTree *arg, const AttrList *my, const AttrList *target,
                                EvalResult *result) const {
    return target != nullptr ? arg->EvalTree(my, target, result) : arg->EvalTree(my, result);
}

bool Function::EvaluateArgumentToString(ExprTree *arg, const AttrList *my, const AttrList *target,
                                        EvalResult *result) const {
    bool ok = EvaluateArgument(arg, my, target, result);
    if (result->type != LX_STRING) {
        char *text = nullptr;
        arg->PrintToNewStr(&text);
        result->set_string(text);
        free(text);
    }
    return ok;
}

namespace {

// The printed text of arg in the scratch space.
const char *printed(ExprTree *arg) {
    char *text = eval_scratch_alloc(static_cast<size_t>(arg->CalcPrintToStr()) + 1);
    *arg->printAt_(text, false) = '\0';
    return text;
}

// A library function over evaluated arguments, through the member that
// serves them as results.
bool call_library(Function &call, int argc, const EvalValue *argv, EvalValue &out) {
    std::vector<EvalResult> args(static_cast<size_t>(argc));
    for (int i = 0; i < argc; i++) {
        eval_value_store(argv[i], &args[static_cast<size_t>(i)]);
    }
    EvalResult answer;
    bool ok = call.FunctionSharedLibrary(argc, args.data(), &answer);
    out = eval_value_of(answer);
    if (answer.type == LX_STRING) {
        out.s = eval_scratch_copy(answer.s, strlen(answer.s));
    }
    return ok;
}

}  // namespace

// Only the condition and the branch it selects are evaluated.
static bool if_then_else(Function &call, const AttrList *my, const AttrList *target,
                         EvalValue &out) {
    const List<ExprTree> &arguments = call.Arguments();
    if (arguments.Number() != 3) {
        return fail(out);
    }
    ListIterator<ExprTree> it(arguments);
    ExprTree *condition = it.Next();
    ExprTree *then_branch = it.Next();
    ExprTree *else_branch = it.Next();
    EvalValue c;
    eval_tree_value(condition, my, target, c);
    bool choice;
    if (c.type == LX_INTEGER || c.type == LX_BOOL) {
        choice = c.i != 0;
    } else if (c.type == LX_FLOAT) {
        choice = c.r != 0.0;  // NaN selects the then branch
    } else if (c.type == LX_UNDEFINED) {
        out = EvalValue::Undefined();
        return true;
    } else {
        return fail(out);
    }
    eval_tree_value(choice ? then_branch : else_branch, my, target, out);
    return true;
}

bool eval_call_value(Function *call, const AttrList *my, const AttrList *target, EvalValue &out) {
    out = EvalValue::Undefined();
    int index = call->BuiltinIndex();
    if (index == CLASSAD_CALL_IFTHENELSE) {
        return if_then_else(*call, my, target, out);
    }
    const BuiltinEntry *builtin = index >= 0 ? &kBuiltins[index] : nullptr;
    int argc = call->Arguments().Number();
    const int kInline = 8;
    EvalValue inline_args[kInline];
    std::vector<EvalValue> many(argc > kInline ? static_cast<size_t>(argc) : 0);
    EvalValue *argv = argc > kInline ? many.data() : inline_args;
    ListIterator<ExprTree> it(call->Arguments());
    for (int i = 0; i < argc; i++) {
        ExprTree *arg = it.Next();
        eval_tree_value(arg, my, target, argv[i]);
        if (builtin != nullptr && builtin->strings && argv[i].type != LX_STRING) {
            argv[i] = EvalValue::Text(printed(arg));
        }
    }
    return builtin != nullptr ? builtin->function(argc, argv, out)
                              : call_library(*call, argc, argv, out);
}

bool Function::FunctionIfThenElse(const AttrList *my, const AttrList *target, EvalResult *result) {
    EvalBudgetScope budget;
    EvalScratchScope scope;
    EvalValue out = EvalValue::Undefined();
    bool ok = if_then_else(*this, my, target, out);
    if (budget.exhausted()) {
        out = EvalValue::Error();
        ok = false;
    }
    eval_value_store(out, result);
    return ok;
}
