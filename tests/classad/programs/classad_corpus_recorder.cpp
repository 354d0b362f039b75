// Writes the evaluation corpus (format in tests/classad/eval_corpus.h) to
// standard output: a pool of ClassAds and some 14,000 generated cases, each
// with what this build's engine answers. Run it only to re-record after a
// deliberate change of behaviour:
//     classad_corpus_recorder > tests/classad/data/eval_corpus.txt
//
// The generator is deterministic (its own generator and seed), covers every
// operator, built-in function and scope prefix, and reaches the error paths:
// UNDEFINED and ERROR operands, type mismatches, 32-bit wrapping, single
// precision, division by zero, real overflow, cycles within and across ads,
// the nesting bound, case-blind string comparison, attributes hidden by an
// earlier one of the same name, and chained ads with masking. Values that
// depend on the clock or on chance only appear inside a test whose answer
// does not (CurrentTime > 1000000000, random(10) < 10, ...), and string
// comparisons only by their sign. A share of the
// cases are damaged texts that test where parsing fails.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include <string>
#include <vector>

#include "classad/class_ad.h"
#include "tests/classad/eval_corpus.h"

const char *mySubSystem = "TOOL";

namespace {

uint64_t g_state = 0x2545F4914F6CDD1DULL;

uint32_t Next() {
    g_state ^= g_state << 13;
    g_state ^= g_state >> 7;
    g_state ^= g_state << 17;
    return static_cast<uint32_t>(g_state >> 16);
}
int Pick(int n) {
    return static_cast<int>(Next() % static_cast<uint32_t>(n));
}
bool Chance(int percent) {
    return Pick(100) < percent;
}
template <size_t N>
const char *From(const char * const (&list)[N]) {
    return list[Pick(N)];
}

const char * const kNames[] = {
    "Memory", "memory",  "Disk",  "Arch",  "OpSys",   "Name", "ImageSize",
    "KFlops", "LoadAvg", "Start", "Owner", "A",       "B",    "X",
    "Y",      "Loop",    "Big",   "Small", "Fl",      "Str",  "Tm",
    "Cnt",    "Rank",    "Undef", "Err",   "Missing", "List", "Requirements",
};
const char * const kPrefixes[] = {
    "",    "",        "",       "",  "MY.",        "TARGET.",        "MY.",        "TARGET.",
    "my.", "target.", "Other.", ".", "TARGET.MY.", "TARGET.TARGET.", "MY.TARGET.",
};
const char * const kInts[] = {
    "0",    "1",           "2",          "7",          "64",          "1000",
    "1024", "2147483647",  "2147483648", "4294967296", "99999999999", "-1",
    "-7",   "-2147483648", "3",          "10",         "100",
};
const char * const kFloats[] = {
    "0.0",  "1.5", "2.5", "0.1", "3.4e38", "1.0e39", "1.0e-7",
    "-2.5", "0.5", "1.0", "3.5", "1.",     "100.25", "-0.0",
};
const char * const kStrings[] = {
    "\"\"",        "\"abc\"",    "\"ABC\"",        "\"LINUX\"",         "\"linux\"",
    "\"X86_64\"",  "\"x86_64\"", "\"a\\\"b\"",     "\"back\\\\slash\"", "\"a,b,c\"",
    "\"1, 2, 3\"", "\"1, 2.5\"", "\"  42\"",       "\"12abc\"",         "\"0x5\"",
    "\"-3.9\"",    "\"2.7\"",    "\"slot1@host\"", "\"a b;c\"",         "\"abcdef\"",
    "\"0\"",       "\"1 x\"",    "\"-5, -3\"",     "\"aabb\"",          "\"tab\there\"",
};
const char * const kOthers[] = {
    "TRUE",      "FALSE", "t",         "f",     "True",
    "UNDEFINED", "ERROR", "undefined", "error", "'2004-01-01T00:00:00'",
    "'12:00'",
};
// Clock and chance only inside a test whose answer is fixed.
const char * const kSteadyClock[] = {
    "(CurrentTime > 1000000000)",
    "(time() > 1000000000)",
    "(gettime(1, 2) >= CurrentTime - 5)",
    "isInteger(CurrentTime)",
    "(random(10) < 10)",
    "(random() < 1.0)",
    "(random(2.0) < 2.0)",
    "isReal(random())",
    "random(0)",
    "random(\"x\")",
    "random(1, 2)",
    "interval(3600)",
    "interval(90061)",
    "interval(\"x\")",
    "_debug_function_()",
    "(MY.CurrentTime > 1000000000)",
    "(TARGET.CurrentTime > 1000000000)",
    "isUndefined(currenttime)",
    "noSuchFunction(1, \"a\")",
    "MY.f(1)",
};
const char * const kBinary[] = {
    " + ",  " - ",  " * ",  " / ", " == ", " != ", " =?= ", " =!= ", " < ", " <= ", " > ",
    " >= ", " && ", " || ", "+",   "*",    "==",   "&&",    "||",    "<",   "-",
};
const char * const kPatterns[] = {
    "\"^ab+c$\"", "\"AB\"", "\"(a+)(b+)\"", "\"[0-9]+\"", "\"(\"", "\"x*\"", "\"^s\"", "\"LIN\"",
};
const char * const kOptions[] = {"\"i\"", "\"m\"", "\"s\"", "\"x\"", "\"I\"", "\"q\"", "\"\""};

struct Builtin {
    const char *name;
    const char *args;  // one letter per argument: s string, i integer, n number, a any
    int optional;      // trailing arguments that may be left out
};
const Builtin kBuiltins[] = {
    {"isUndefined", "a", 0},
    {"isError", "a", 0},
    {"isString", "a", 0},
    {"isInteger", "a", 0},
    {"isReal", "a", 0},
    {"isBoolean", "a", 0},
    {"string", "a", 0},
    {"real", "a", 0},
    {"int", "a", 0},
    {"floor", "n", 0},
    {"round", "n", 0},
    {"ceiling", "n", 0},
    {"strcat", "aaa", 3},
    {"substr", "sii", 1},
    {"strcmp", "ss", 0},
    {"stricmp", "ss", 0},
    {"toUpper", "s", 0},
    {"TOLOWER", "s", 0},
    {"size", "a", 0},
    {"stringListSize", "ss", 1},
    {"stringListSum", "ss", 1},
    {"stringListAvg", "ss", 1},
    {"stringListMin", "ss", 1},
    {"stringListMax", "ss", 1},
    {"stringListMember", "sss", 1},
    {"stringListIMember", "sss", 1},
    {"stringList_regexpMember", "pssO", 2},
    {"regexp", "psO", 1},
    {"regexps", "pssO", 1},
    {"ifThenElse", "aaa", 0},
    {"IFTHENELSE", "aaa", 0},
    {"StrCat", "", 0},
};

std::string Expr(int depth);

std::string Literal() {
    switch (Pick(10)) {
        case 0:
        case 1:
        case 2:
            return From(kInts);
        case 3:
        case 4:
            return From(kFloats);
        case 5:
        case 6:
        case 7:
            return From(kStrings);
        default:
            return From(kOthers);
    }
}

std::string Reference() {
    return std::string(From(kPrefixes)) + From(kNames);
}

std::string Argument(char kind, int depth) {
    switch (kind) {
        case 's':
            return Chance(60) ? From(kStrings) : Expr(depth);
        case 'i':
            return Chance(60) ? From(kInts) : Expr(depth);
        case 'n':
            return Chance(60) ? (Chance(50) ? From(kFloats) : From(kStrings)) : Expr(depth);
        case 'p':
            return From(kPatterns);
        case 'O':
            return From(kOptions);
        default:
            return Expr(depth);
    }
}

std::string Call(int depth) {
    const Builtin &b = kBuiltins[Pick(sizeof(kBuiltins) / sizeof(kBuiltins[0]))];
    int total = static_cast<int>(strlen(b.args));
    int count = total - (b.optional > 0 ? Pick(b.optional + 1) : 0);
    if (Chance(10)) {
        count = Pick(5);  // a wrong number of arguments, now and then
    }
    std::string out = std::string(b.name) + "(";
    for (int i = 0; i < count; i++) {
        if (i > 0) out += Chance(80) ? ", " : ";";
        out += Argument(i < total ? b.args[i] : 'a', depth - 1);
    }
    out += ")";
    // The size of a comparison's answer is the C library's (a sanitizer's
    // strcmp answers -1 or 1): only its sign is recorded.
    if (strcasecmp(b.name, "strcmp") == 0 || strcasecmp(b.name, "stricmp") == 0) {
        static const char * const kSigns[] = {" < 0)", " == 0)", " > 0)"};
        out = "(" + out + From(kSigns);
    }
    return out;
}

std::string Expr(int depth) {
    int choice = depth <= 0 ? Pick(45) : Pick(100);
    if (choice < 15) return Literal();
    if (choice < 42) return Reference();
    if (choice < 45) return From(kSteadyClock);
    if (choice < 75) return Expr(depth - 1) + From(kBinary) + Expr(depth - 1);
    if (choice < 82) return "(" + Expr(depth - 1) + ")";
    if (choice < 86) return "-" + Expr(depth - 1);
    return Call(depth);
}

// ---- the ad pool ----

struct Writer {
    std::vector<std::string> lines;
    void Add(const std::vector<std::string> &fields) {
        std::string line;
        for (size_t i = 0; i < fields.size(); i++) {
            if (i > 0) line += "\t";
            line += eval_corpus::Escape(fields[i]);
        }
        lines.push_back(line);
    }
};

const char * const kTypes[] = {"Machine", "Job", "machine", "Any", "Other", "-"};

// Ads of drawn types and attributes; returns their ids.
std::vector<std::string> MakeDrawnAds(Writer &w) {
    std::vector<std::string> ids;
    for (int n = 0; n < 36; n++) {
        std::string id = "g" + std::to_string(n);
        w.Add({"ad", id, From(kTypes), From(kTypes)});
        int count = 6 + Pick(12);
        for (int i = 0; i < count; i++) {
            w.Add({"a", std::string(From(kNames)) + " = " + Expr(Pick(3))});
        }
        ids.push_back(id);
    }
    return ids;
}

std::vector<std::string> MakeAds(Writer &w) {
    std::vector<std::string> ids = MakeDrawnAds(w);
    // Fixed shapes: cycles within and across ads, plain values, and types
    // that match each other.
    w.Add({"ad", "cyc", "Machine", "Job"});
    for (const char *a :
         {"Loop = Loop + 1", "A = B", "B = A", "X = TARGET.Y", "Cnt = Cnt + Cnt + Cnt",
          "Self = MY.Self", "Memory = 128", "Requirements = TARGET.Y > 0"}) {
        w.Add({"a", a});
    }
    w.Add({"ad", "cyc2", "Job", "Machine"});
    for (const char *a : {"Y = TARGET.X", "A = 1", "Memory = TARGET.Memory", "Requirements = X"}) {
        w.Add({"a", a});
    }
    w.Add({"ad", "plain", "Machine", "Job"});
    for (const char *a :
         {"Memory = 256", "memory = 1", "Disk = 2000000", "Arch = \"X86_64\"", "OpSys = \"linux\"",
          "Big = 2147483647", "Small = -2147483648", "Fl = 0.1", "Str = \"Abc\"",
          "Tm = '2004-01-01'", "List = \"a, b,c\"", "Start = TRUE", "Name = \"slot1\"",
          "CurrentTime = 5", "Requirements = TARGET.ImageSize <= Memory && Start",
          "Rank = TARGET.KFlops / 1000.0"}) {
        w.Add({"a", a});
    }
    w.Add({"ad", "job", "Job", "Machine"});
    for (const char *a :
         {"ImageSize = 64", "Owner = \"user1\"", "KFlops = 2000", "A = 3",
          "Requirements = TARGET.Memory >= MY.ImageSize && TARGET.Arch == \"x86_64\"",
          "Rank = TARGET.Memory"}) {
        w.Add({"a", a});
    }
    // Chained: the child hides one parent attribute and masks another.
    w.Add({"ad", "parent", "Machine", "Job"});
    for (const char *a : {"Memory = 512", "Disk = 10", "Arch = \"PPC\"", "A = B + 1", "B = 2"}) {
        w.Add({"a", a});
    }
    w.Add({"ad", "child", "Machine", "Job"});
    w.Add({"a", "Memory = 32"});
    w.Add({"a", "B = 40"});
    w.Add({"chain", "parent"});
    w.Add({"delete", "Disk"});
    // Reference chains: 400 deep evaluates, 2000 deep passes the bound.
    w.Add({"ad", "deep", "-", "-"});
    for (int i = 0; i < 400; i++) {
        w.Add({"a", "D" + std::to_string(i) + " = D" + std::to_string(i + 1) + " + 1"});
    }
    w.Add({"a", "D400 = 0"});
    for (int i = 0; i < 2000; i++) {
        w.Add({"a", "E" + std::to_string(i) + " = E" + std::to_string(i + 1) + " + 1"});
    }
    w.Add({"a", "E2000 = 0"});
    for (const char *id : {"cyc", "cyc2", "plain", "job", "parent", "child"}) {
        ids.push_back(id);
    }
    return ids;
}

// Edge cases worth recording whatever the generator draws.
const char * const kFixed[] = {
    "7 / 2",
    "-7 / 2",
    "7 / 0",
    "7.0 / 2",
    "1.0 / 0",
    "0.0 / 0",
    "-2147483648 / -1",
    "2147483647 + 1",
    "2147483647 * 2",
    "-(-2147483648)",
    "1.0e38 * 1.0e38",
    "3.4e38 * 10",
    "0.1 + 0.2",
    "16777217.0 + 0",
    "\"abc\" == \"ABC\"",
    "\"abc\" =?= \"ABC\"",
    "\"abc\" < \"ABD\"",
    "\"abc\" == 1",
    "\"a\" + \"b\"",
    "1 == 1.0",
    "1 =?= 1.0",
    "UNDEFINED =?= UNDEFINED",
    "UNDEFINED == UNDEFINED",
    "ERROR =!= UNDEFINED",
    "UNDEFINED + ERROR",
    "TRUE || ERROR",
    "ERROR || TRUE",
    "FALSE && ERROR",
    "UNDEFINED && FALSE",
    "ERROR && FALSE",
    "x || TRUE",
    "x && TRUE",
    "'2004-01-01' == 1",
    "-1 + 2",
    "-x < 3",
    "a * -b + c",
    "(1 + 2) * 3",
    "a < b == c < d",
    "a || b && c",
    "strcat(\"a\", 1 + 2, x)",
    "string(5)",
    "size(x)",
    "int(\"  42\")",
    "int(\"zero\")",
    "int(3.9)",
    "int(-3.9)",
    "round(2.5)",
    "round(-2.5)",
    "floor(\"2.7\")",
    "stringlistsum(\"1, 2, 3\")",
    "stringlistsum(\"1, 2.5\")",
    "stringlistavg(\"1 2\")",
    "stringlistmax(\"-5, -3\")",
    "stringlistmin(\"\")",
    "stringlistsum(\"1, x\")",
    "stringlistmember(\"a b\", \"a b;c\", \";\")",
    "regexps(\"(a+)(b+)\", \"xaabbx\", \"\\2\\1\")",
    "ifthenelse(x, 1, 2)",
    "ifthenelse(1, 2)",
    "ifthenelse(0, 1/0, 3)",
    "isboolean(TRUE)",
    "isboolean(2)",
    "substr(\"abcdef\", 1, -2)",
    "substr(\"abc\", 5)",
    "substr(\"abcdef\", -2)",
    "Loop",
    "A",
    "B",
    "X",
    "Y",
    "Cnt",
    "Self",
    "MY.Loop",
    "TARGET.Loop",
    "D0",
    "E0",
    "E1990",
    "Memory",
    "MY.Memory",
    "TARGET.Memory",
    "Disk",
    "Arch",
    "A + B",
    "TARGET.MY.Memory",
    "TARGET.TARGET.Memory",
    "OTHER.Memory",
    ".Memory",
    "Requirements",
    "Rank",
    "CurrentTime > 1000000000",
    "MY.CurrentTime + 0 > 1000000000",
    "isUndefined(currenttime)",
    "((((((((((1))))))))))",
    "x = 1 + 2",
    "x = -y",
    "a = b = c",
    "x = 1 2",
    "x = 1 +",
    "",
    "   ",
    "x = !",
    "x = &",
    "f(1;2)",
    "f(1",
    "x = f(",
    "MY.f(1)",
    "TRUEX",
    "T.x",
    "1e3",
    "0x10",
    "1.5e3",
    "=?x",
    "a\nb",
    "\"abc",
    "'abc",
    "real(\"1e2\") * 2",
    "2.5 * 2",
    "10 - 2.5",
    "-2.5",
    "-(2.5)",
    "-(7)",
    "(7)",
    "Tm",
    "Tm == Tm",
    "Str == \"ABC\"",
    "Str =?= \"Abc\"",
    "Fl * 3",
    "Big + 1",
    "Small - 1",
    "Small / -1",
    "memory",
    "List",
    "stringListIMember(\"B\", List)",
};

// A damaged copy of text: a character removed, replaced or added, or the
// text cut short.
std::string Damage(const std::string &text) {
    static const char kBits[] = "()=!&|@#\"'$,;-+*/<>?.x1 ";
    std::string out = text;
    size_t at = out.empty() ? 0 : static_cast<size_t>(Pick(static_cast<int>(out.size())));
    switch (Pick(4)) {
        case 0:
            if (!out.empty()) out.erase(at, 1);
            break;
        case 1:
            if (!out.empty()) out[at] = kBits[Pick(sizeof(kBits) - 1)];
            break;
        case 2:
            out.insert(at, 1, kBits[Pick(sizeof(kBits) - 1)]);
            break;
        default:
            out.resize(at);
            break;
    }
    return out;
}

}  // namespace

int main() {
    Writer w;
    std::vector<std::string> ids = MakeAds(w);
    eval_corpus::AdPool pool;
    for (const std::string &line : w.lines) {
        pool.Apply(eval_corpus::Fields(line));
    }
    if (!pool.problems.empty()) {
        fprintf(stderr, "ad pool: %s\n", pool.problems[0].c_str());
        return 1;
    }
    auto any_id = [&](int none_percent) {
        return Chance(none_percent) ? std::string("-") : ids[Pick(static_cast<int>(ids.size()))];
    };
    auto add_case = [&](const std::string &my, const std::string &target, const std::string &e) {
        std::string outcome = eval_corpus::Outcome(e, pool.Find(my), pool.Find(target));
        w.lines.push_back("x\t" + my + "\t" + target + "\t" + eval_corpus::Escape(e) + "\t" +
                          outcome);
    };
    for (const char *e : kFixed) {
        for (const char *my : {"-", "plain", "cyc", "child", "deep"}) {
            add_case(my, my[0] == '-' ? "-" : (my[0] == 'c' && my[1] == 'y' ? "cyc2" : "job"), e);
        }
    }
    for (int n = 0; n < 12000; n++) {
        std::string e = Expr(1 + Pick(4));
        if (Chance(4)) e = std::string(From(kNames)) + " = " + e;
        add_case(any_id(8), any_id(20), e);
    }
    for (int n = 0; n < 1500; n++) {
        add_case(any_id(30), any_id(30), Damage(Expr(1 + Pick(3))));
    }
    for (size_t i = 0; i < ids.size(); i++) {
        for (size_t j = 0; j < ids.size(); j++) {
            std::string outcome = eval_corpus::MatchOutcome(pool.Find(ids[i]), pool.Find(ids[j]));
            w.lines.push_back("m\t" + ids[i] + "\t" + ids[j] + "\t" + outcome);
        }
    }
    for (const std::string &line : w.lines) {
        printf("%s\n", line.c_str());
    }
    return 0;
}
