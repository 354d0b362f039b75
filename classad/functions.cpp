// Evaluation of calls: the lazy ifthenelse, the built-in functions selected
// by name (without regard to case) and functions loaded from the shared
// library named by CLASSAD_LIB_PATH.
//
// Conversions from a real to an integer (int, floor, ceiling, round, the
// numeric string lists) give ERROR when the value does not fit in 32 bits,
// and random(0) gives ERROR, so no function can reach undefined behaviour.
// A library function is called only when the library itself defines it as
// a function: dlsym also finds what the library's dependencies define (exit
// from the C library, say), and dladdr tells which object that was.
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

#include "classad/eval_result.h"
#include "classad/expr_tree.h"
#include "config/param.h"
#include "config/trusted_source.h"
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
bool fail(EvalResult *result) {
    result->set_error();
    return false;
}

bool is_string(const EvalResult &r) {
    return r.type == LX_STRING;
}

bool all_strings(int argc, const EvalResult *argv) {
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
bool to_real(const EvalResult &r, float *out) {
    switch (r.type) {
        case LX_INTEGER:
            *out = static_cast<float>(r.i);
            return true;
        case LX_FLOAT:
            *out = r.f;
            return true;
        case LX_STRING:
            return sscanf(r.s, "%f", out) == 1;
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

char *new_copy(const char *text, size_t n) {
    char *copy = new char[n + 1];
    memcpy(copy, text, n);
    copy[n] = '\0';
    return copy;
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

bool compile_pattern(Regex &re, const char *pattern, const char *options) {
    return re.compile(MyString(pattern), nullptr, nullptr,
                      options != nullptr ? regex_options(options) : 0);
}

// The substitution text of regexps: "\d" becomes capture group d.
char *substitute(const char *replacement, const ExtArray<MyString> &groups) {
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
    return new_copy(out.Value(), static_cast<size_t>(out.Length()));
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

bool fold_list(ListFold fold, int argc, EvalResult *argv, EvalResult *result) {
    if (argc < 1 || argc > 2 || !all_strings(argc, argv)) {
        return fail(result);
    }
    StringList items(argv[0].s, argc == 2 ? argv[1].s : kDefaultDelimiters);
    int count = 0;
    bool integral = true;
    double combined = 0.0;
    items.rewind();
    for (const char *item = items.next(); item != nullptr; item = items.next()) {
        double number = 0.0;
        if (sscanf(item, "%lf", &number) != 1) {
            return fail(result);
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
    if (count == 0) {
        if (fold == LIST_SUM) {
            result->set_int(0);
        } else if (fold == LIST_AVG) {
            result->set_float(0.0f);
        } else {
            result->set_undefined();
        }
        return true;
    }
    if (fold == LIST_AVG) {
        result->set_float(static_cast<float>(combined / count));
        return true;
    }
    if (!integral) {
        result->set_float(static_cast<float>(combined));
        return true;
    }
    int whole = 0;
    if (!fits_int(combined, &whole)) {
        return fail(result);
    }
    result->set_int(whole);
    return true;
}

bool kind_test(int argc, EvalResult *argv, EvalResult *result, LexemeType kind) {
    if (argc != 1) {
        return fail(result);
    }
    result->set_int(argv[0].type == kind);
    return true;
}

bool rounding(int argc, EvalResult *argv, EvalResult *result, double (*round_fn)(double)) {
    if (argc != 1) {
        return fail(result);
    }
    if (argv[0].type == LX_INTEGER) {
        result->set_int(argv[0].i);
        return true;
    }
    float value = 0.0f;
    int whole = 0;
    if (!to_real(argv[0], &value) || !fits_int(round_fn(value), &whole)) {
        return fail(result);
    }
    result->set_int(whole);
    return true;
}

bool compare_texts(int argc, EvalResult *argv, EvalResult *result, bool anycase) {
    if (argc != 2 || !all_strings(argc, argv)) {
        return fail(result);
    }
    result->set_int(anycase ? strcasecmp(argv[0].s, argv[1].s) : strcmp(argv[0].s, argv[1].s));
    return true;
}

bool convert_case(int argc, EvalResult *argv, EvalResult *result, int (*convert)(int)) {
    if (argc != 1 || !is_string(argv[0])) {
        return fail(result);
    }
    size_t n = strlen(argv[0].s);
    char *text = new_copy(argv[0].s, n);
    for (size_t i = 0; i < n; i++) {
        text[i] = static_cast<char>(convert(static_cast<unsigned char>(text[i])));
    }
    result->adopt_string(text);
    return true;
}

bool list_member(int argc, EvalResult *argv, EvalResult *result, bool anycase) {
    if (argc < 2 || argc > 3 || !all_strings(argc, argv)) {
        return fail(result);
    }
    StringList items(argv[1].s, argc == 3 ? argv[2].s : kDefaultDelimiters);
    result->set_int(anycase ? items.contains_anycase(argv[0].s) : items.contains(argv[0].s));
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

// ---- the built-ins, one per name ----

bool Function::FunctionGetTime(int, EvalResult *, EvalResult *result) {
    result->set_int(static_cast<int>(time(nullptr)));
    return true;
}

bool Function::FunctionTime(int argc, EvalResult *argv, EvalResult *result) {
    return FunctionGetTime(argc, argv, result);
}

bool Function::FunctionInterval(int argc, EvalResult *argv, EvalResult *result) {
    if (argc != 1 || argv[0].type != LX_INTEGER) {
        return fail(result);
    }
    result->set_string(format_time(argv[0].i));
    return true;
}

bool Function::FunctionRandom(int argc, EvalResult *argv, EvalResult *result) {
    if (argc == 0) {
        result->set_float(get_random_float());
        return true;
    }
    if (argc == 1 && argv[0].type == LX_INTEGER && argv[0].i != 0) {
        // get_random_int() is never negative, so the remainder is defined
        // for every non-zero modulus.
        result->set_int(get_random_int() % argv[0].i);
        return true;
    }
    if (argc == 1 && argv[0].type == LX_FLOAT) {
        result->set_float(get_random_float() * argv[0].f);
        return true;
    }
    return fail(result);
}

bool Function::FunctionClassadDebugFunction(int, EvalResult *, EvalResult *result) {
    classad_debug_function_run = true;
    result->set_int(1);
    return true;
}

bool Function::FunctionIsUndefined(int argc, EvalResult *argv, EvalResult *result) {
    return kind_test(argc, argv, result, LX_UNDEFINED);
}

bool Function::FunctionIsError(int argc, EvalResult *argv, EvalResult *result) {
    return kind_test(argc, argv, result, LX_ERROR);
}

bool Function::FunctionIsString(int argc, EvalResult *argv, EvalResult *result) {
    return kind_test(argc, argv, result, LX_STRING);
}

bool Function::FunctionIsInteger(int argc, EvalResult *argv, EvalResult *result) {
    return kind_test(argc, argv, result, LX_INTEGER);
}

bool Function::FunctionIsReal(int argc, EvalResult *argv, EvalResult *result) {
    return kind_test(argc, argv, result, LX_FLOAT);
}

bool Function::FunctionIsBoolean(int argc, EvalResult *argv, EvalResult *result) {
    if (argc != 1) {
        return fail(result);
    }
    const EvalResult &arg = argv[0];
    result->set_int(arg.type == LX_BOOL || (arg.type == LX_INTEGER && (arg.i == 0 || arg.i == 1)));
    return true;
}

bool Function::FunctionString(int argc, EvalResult *argv, EvalResult *result) {
    if (argc != 1 || !is_string(argv[0])) {
        return fail(result);
    }
    result->set_string(argv[0].s);
    return true;
}

bool Function::FunctionReal(int argc, EvalResult *argv, EvalResult *result) {
    float value = 0.0f;
    if (argc != 1 || !to_real(argv[0], &value)) {
        return fail(result);
    }
    result->set_float(value);
    return true;
}

bool Function::FunctionInt(int argc, EvalResult *argv, EvalResult *result) {
    if (argc != 1) {
        return fail(result);
    }
    int value = 0;
    bool ok = false;
    switch (argv[0].type) {
        case LX_INTEGER:
            value = argv[0].i;
            ok = true;
            break;
        case LX_FLOAT:
            ok = fits_int(argv[0].f, &value);
            break;
        case LX_STRING:
            ok = text_to_int(argv[0].s, &value);
            break;
        default:
            break;
    }
    if (!ok) {
        return fail(result);
    }
    result->set_int(value);
    return true;
}

bool Function::FunctionFloor(int argc, EvalResult *argv, EvalResult *result) {
    return rounding(argc, argv, result, floor);
}

bool Function::FunctionRound(int argc, EvalResult *argv, EvalResult *result) {
    return rounding(argc, argv, result, rint);  // ties to even
}

bool Function::FunctionCeiling(int argc, EvalResult *argv, EvalResult *result) {
    return rounding(argc, argv, result, ceil);
}

bool Function::FunctionStrcat(int argc, EvalResult *argv, EvalResult *result) {
    if (!all_strings(argc, argv)) {
        return fail(result);
    }
    size_t total = 0;
    for (int i = 0; i < argc; i++) {
        total += strlen(argv[i].s);
    }
    char *text = new char[total + 1];
    char *end = text;
    for (int i = 0; i < argc; i++) {
        size_t n = strlen(argv[i].s);
        memcpy(end, argv[i].s, n);
        end += n;
    }
    *end = '\0';
    result->adopt_string(text);
    return true;
}

bool Function::FunctionSubstr(int argc, EvalResult *argv, EvalResult *result) {
    if (argc < 2 || argc > 3 || !is_string(argv[0]) || argv[1].type != LX_INTEGER ||
        (argc == 3 && argv[2].type != LX_INTEGER)) {
        return fail(result);
    }
    // 64-bit arithmetic: offsets and lengths near the int limits cannot wrap.
    long long size = static_cast<long long>(strlen(argv[0].s));
    long long offset = argv[1].i;
    if (offset < 0) {
        offset += size;
    }
    long long length = argc == 3 ? argv[2].i : size - offset;
    if (offset < 0 || offset > size) {
        result->set_string("");
        return true;
    }
    long long rest = size - offset;
    if (length > rest) {
        length = rest;
    } else if (length < 0) {
        length += rest;
    }
    if (length > 0) {
        result->adopt_string(new_copy(argv[0].s + offset, static_cast<size_t>(length)));
    } else {
        result->set_string("");
    }
    return true;
}

bool Function::FunctionStrcmp(int argc, EvalResult *argv, EvalResult *result) {
    return compare_texts(argc, argv, result, false);
}

bool Function::FunctionStricmp(int argc, EvalResult *argv, EvalResult *result) {
    return compare_texts(argc, argv, result, true);
}

bool Function::FunctionToUpper(int argc, EvalResult *argv, EvalResult *result) {
    return convert_case(argc, argv, result, toupper);
}

bool Function::FunctionToLower(int argc, EvalResult *argv, EvalResult *result) {
    return convert_case(argc, argv, result, tolower);
}

bool Function::FunctionSize(int argc, EvalResult *argv, EvalResult *result) {
    int length = 0;
    if (argc != 1 || !is_string(argv[0]) || !fits_int(static_cast<double>(strlen(argv[0].s)), &length)) {
        return fail(result);
    }
    result->set_int(length);
    return true;
}

bool Function::FunctionStringlistSize(int argc, EvalResult *argv, EvalResult *result) {
    if (argc < 1 || argc > 2 || !all_strings(argc, argv)) {
        return fail(result);
    }
    StringList items(argv[0].s, argc == 2 ? argv[1].s : kDefaultDelimiters);
    result->set_int(items.number());
    return true;
}

bool Function::FunctionStringlistSum(int argc, EvalResult *argv, EvalResult *result) {
    return fold_list(LIST_SUM, argc, argv, result);
}

bool Function::FunctionStringlistAvg(int argc, EvalResult *argv, EvalResult *result) {
    return fold_list(LIST_AVG, argc, argv, result);
}

bool Function::FunctionStringlistMin(int argc, EvalResult *argv, EvalResult *result) {
    return fold_list(LIST_MIN, argc, argv, result);
}

bool Function::FunctionStringlistMax(int argc, EvalResult *argv, EvalResult *result) {
    return fold_list(LIST_MAX, argc, argv, result);
}

bool Function::FunctionStringlistMember(int argc, EvalResult *argv, EvalResult *result) {
    return list_member(argc, argv, result, false);
}

bool Function::FunctionStringlistIMember(int argc, EvalResult *argv, EvalResult *result) {
    return list_member(argc, argv, result, true);
}

bool Function::FunctionStringlistRegexpMember(int argc, EvalResult *argv, EvalResult *result) {
    if (argc < 2 || argc > 4 || !all_strings(argc, argv)) {
        return fail(result);
    }
    Regex re;
    if (!compile_pattern(re, argv[0].s, argc == 4 ? argv[3].s : nullptr)) {
        return fail(result);
    }
    StringList items(argv[1].s, argc >= 3 ? argv[2].s : kDefaultDelimiters);
    int found = 0;
    items.rewind();
    for (const char *item = items.next(); item != nullptr && !found; item = items.next()) {
        found = re.match(MyString(item), nullptr);
    }
    result->set_int(found);
    return true;
}

bool Function::FunctionRegexp(int argc, EvalResult *argv, EvalResult *result) {
    if (argc < 2 || argc > 3 || !all_strings(argc, argv)) {
        return fail(result);
    }
    Regex re;
    if (!compile_pattern(re, argv[0].s, argc == 3 ? argv[2].s : nullptr)) {
        return fail(result);
    }
    result->set_int(re.match(MyString(argv[1].s), nullptr));
    return true;
}

bool Function::FunctionRegexps(int argc, EvalResult *argv, EvalResult *result) {
    if (argc < 3 || argc > 4 || !all_strings(argc, argv)) {
        return fail(result);
    }
    Regex re;
    if (!compile_pattern(re, argv[0].s, argc == 4 ? argv[3].s : nullptr)) {
        return fail(result);
    }
    ExtArray<MyString> groups;
    if (!re.match(MyString(argv[1].s), &groups)) {
        result->set_string("");
        return true;
    }
    result->adopt_string(substitute(argv[2].s, groups));
    return true;
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
    ClassAdLibValue *records = new ClassAdLibValue[argc > 0 ? argc : 1];
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

// ---- selection ----

namespace {

typedef bool (Function::*Builtin)(int argc, EvalResult *argv, EvalResult *result);

struct BuiltinEntry {
    const char *name;
    Builtin function;
    bool strings;  // arguments converted to strings
};

// In selection order.
const BuiltinEntry kBuiltins[] = {
    {"gettime", &Function::FunctionGetTime, false},
    {"time", &Function::FunctionTime, false},
    {"interval", &Function::FunctionInterval, false},
    {"random", &Function::FunctionRandom, false},
    {"_debug_function_", &Function::FunctionClassadDebugFunction, false},
    {"isundefined", &Function::FunctionIsUndefined, false},
    {"iserror", &Function::FunctionIsError, false},
    {"isstring", &Function::FunctionIsString, false},
    {"isinteger", &Function::FunctionIsInteger, false},
    {"isreal", &Function::FunctionIsReal, false},
    {"isboolean", &Function::FunctionIsBoolean, false},
    {"string", &Function::FunctionString, true},
    {"real", &Function::FunctionReal, false},
    {"int", &Function::FunctionInt, false},
    {"floor", &Function::FunctionFloor, false},
    {"round", &Function::FunctionRound, false},
    {"ceiling", &Function::FunctionCeiling, false},
    {"strcat", &Function::FunctionStrcat, true},
    {"substr", &Function::FunctionSubstr, false},
    {"strcmp", &Function::FunctionStrcmp, true},
    {"stricmp", &Function::FunctionStricmp, true},
    {"toupper", &Function::FunctionToUpper, true},
    {"tolower", &Function::FunctionToLower, true},
    {"size", &Function::FunctionSize, true},
    {"stringlistsize", &Function::FunctionStringlistSize, false},
    {"stringlistsum", &Function::FunctionStringlistSum, false},
    {"stringlistavg", &Function::FunctionStringlistAvg, false},
    {"stringlistmin", &Function::FunctionStringlistMin, false},
    {"stringlistmax", &Function::FunctionStringlistMax, false},
    {"stringlistmember", &Function::FunctionStringlistMember, false},
    {"stringlistimember", &Function::FunctionStringlistIMember, false},
    {"stringlist_regexpMember", &Function::FunctionStringlistRegexpMember, false},
    {"regexp", &Function::FunctionRegexp, false},
    {"regexps", &Function::FunctionRegexps, false},
};

const BuiltinEntry *find_builtin(const char *name) {
    for (const BuiltinEntry &entry : kBuiltins) {
        if (strcasecmp(entry.name, name) == 0) {
            return &entry;
        }
    }
    return nullptr;
}

}  // namespace

bool FunctionBase::EvaluateArgument(ExprTree *arg, const AttrList *my, const AttrList *target,
                                    EvalResult *result) const {
    return target != nullptr ? arg->EvalTree(my, target, result) : arg->EvalTree(my, result);
}

bool Function::EvaluateArgumentToString(ExprTree *arg, const AttrList *my,
                                        const AttrList *target, EvalResult *result) const {
    bool ok = EvaluateArgument(arg, my, target, result);
    if (result->type != LX_STRING) {
        char *text = nullptr;
        arg->PrintToNewStr(&text);
        result->set_string(text);
        free(text);
    }
    return ok;
}

bool Function::FunctionIfThenElse(const AttrList *my, const AttrList *target,
                                  EvalResult *result) {
    if (arguments->Number() != 3) {
        return fail(result);
    }
    ListIterator<ExprTree> it(*arguments);
    ExprTree *condition = it.Next();
    ExprTree *then_branch = it.Next();
    ExprTree *else_branch = it.Next();
    EvalResult c;
    EvaluateArgument(condition, my, target, &c);
    bool choice;
    if (c.type == LX_INTEGER || c.type == LX_BOOL) {
        choice = c.i != 0;
    } else if (c.type == LX_FLOAT) {
        choice = c.f != 0.0f;  // NaN selects the then branch
    } else if (c.type == LX_UNDEFINED) {
        result->set_undefined();
        return true;
    } else {
        return fail(result);
    }
    EvaluateArgument(choice ? then_branch : else_branch, my, target, result);
    return true;
}

bool Function::_EvalTree(const AttrList *my, EvalResult *result) {
    return _EvalTree(my, nullptr, result);
}

bool Function::_EvalTree(const AttrList *my, const AttrList *target, EvalResult *result) {
    result->set_undefined();
    if (strcasecmp(name, "ifthenelse") == 0) {
        return FunctionIfThenElse(my, target, result);
    }
    const BuiltinEntry *builtin = find_builtin(name);
    int argc = arguments->Number();
    EvalResult *argv = new EvalResult[argc > 0 ? argc : 1];
    ListIterator<ExprTree> it(*arguments);
    for (int i = 0; i < argc; i++) {
        ExprTree *arg = it.Next();
        if (builtin != nullptr && builtin->strings) {
            EvaluateArgumentToString(arg, my, target, &argv[i]);
        } else {
            EvaluateArgument(arg, my, target, &argv[i]);
        }
    }
    bool ok = builtin != nullptr ? (this->*builtin->function)(argc, argv, result)
                                 : FunctionSharedLibrary(argc, argv, result);
    delete[] argv;
    return ok;
}
