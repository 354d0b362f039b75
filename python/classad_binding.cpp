// torvel.Expr, torvel.ClassAd and torvel.match_all: the library's parser,
// printer, evaluator and matcher behind Python objects. Each Python object
// owns its own tree or ad outright (lookups hand out deep copies), so no
// object ever borrows from another and any may outlive the rest.
#include <limits.h>
#include <pybind11/stl.h>
#include <stdlib.h>
#include <strings.h>

#include <memory>
#include <string>
#include <vector>

#include "classad/attr_names.h"
#include "classad/class_ad.h"
#include "classad/classad_xml.h"
#include "classad/eval_result.h"
#include "classad/expr_tree.h"
#include "classad/parser.h"
#include "core/my_string.h"
#include "python/bindings.h"

namespace py = pybind11;

namespace {

// An immutable parsed expression; shared between Python copies.
struct Expr {
    std::shared_ptr<ExprTree> tree;
};

// The two value singletons; leaked on purpose so they outlive the module.
struct UndefinedValue {};
struct ErrorValue {};
py::object *undefined_object = nullptr;
py::object *error_object = nullptr;

// Parses text into a tree the caller owns, or throws ParseFailure.
ExprTree *parse_or_throw(const std::string &text, const char *what) {
    ExprTree *tree = nullptr;
    int position = Parse(c_text(text), tree);
    if (position != 0 || tree == nullptr) {
        delete tree;
        throw ParseFailure{std::string(what) + " does not parse: " + text, position};
    }
    return tree;
}

std::string print_tree(ExprTree *tree) {
    char *text = nullptr;
    tree->PrintToNewStr(&text);
    std::string printed = text != nullptr ? text : "";
    free(text);
    return printed;
}

py::object to_python(const EvalResult &result) {
    switch (result.type) {
        case LX_INTEGER:
            return py::int_(result.i);
        case LX_FLOAT:
            return py::float_(static_cast<double>(result.f));
        case LX_STRING:
        case LX_TIME:
            return py::str(result.s != nullptr ? result.s : "");
        case LX_UNDEFINED:
            return *undefined_object;
        default:
            return *error_object;
    }
}

py::object evaluate(ExprTree *tree, const ClassAd *my, const ClassAd *target) {
    EvalResult result;
    tree->EvalTree(my, target, &result);
    return to_python(result);
}

// A plain attribute name: one the parser reads back as that very Variable.
void check_name(const std::string &name) {
    ExprTree *tree = nullptr;
    bool plain = Parse(c_text(name), tree) == 0 && tree != nullptr &&
                 tree->MyType() == LX_VARIABLE && name == static_cast<VariableBase *>(tree)->Name();
    delete tree;
    if (!plain) {
        throw py::value_error("not an attribute name: " + name);
    }
}

bool is_name(const std::string &name, const char *attribute) {
    return strcasecmp(name.c_str(), attribute) == 0;
}

// The tree name = value for a Python value; owned by the caller.
ExprTree *value_tree(const std::string &name, py::handle value) {
    const char *n = name.c_str();
    if (py::isinstance<py::bool_>(value)) {
        return new AssignOp(new Variable(n), new ClassadBoolean(value.cast<bool>() ? 1 : 0));
    }
    if (py::isinstance<py::int_>(value)) {
        long long i = value.cast<long long>();
        if (i < INT_MIN || i > INT_MAX) {
            throw py::value_error("integer out of the 32-bit range of ClassAd values");
        }
        return AttrList::ProcToTree(n, LX_INTEGER, static_cast<int>(i), 0, nullptr);
    }
    if (py::isinstance<py::float_>(value)) {
        return AttrList::ProcToTree(n, LX_FLOAT, 0, value.cast<float>(), nullptr);
    }
    if (py::isinstance<py::str>(value)) {
        std::string s = value.cast<std::string>();
        return AttrList::ProcToTree(n, LX_STRING, 0, 0, c_text(s));
    }
    if (py::isinstance<Expr>(value)) {
        return new AssignOp(new Variable(n), value.cast<Expr &>().tree->DeepCopy());
    }
    throw py::type_error("ClassAd values are int, float, str, bool or torvel.Expr");
}

void set_item(ClassAd &ad, const std::string &name, py::handle value) {
    check_name(name);
    bool my_type = is_name(name, ATTR_MY_TYPE);
    if (my_type || is_name(name, ATTR_TARGET_TYPE)) {
        // The types live beside the attributes, never among them.
        if (!py::isinstance<py::str>(value)) {
            throw py::type_error(name + " is a type name: a str");
        }
        const char *type = c_text(value.cast<std::string>());
        my_type ? ad.SetMyTypeName(type) : ad.SetTargetTypeName(type);
        return;
    }
    ExprTree *tree = value_tree(name, value);
    if (tree == nullptr || !ad.Insert(tree, true)) {
        delete tree;
        throw py::value_error("can't assign " + name);
    }
}

// The pieces of the text form: lines or ';'-separated assignments, split
// outside string literals; blank pieces and "#" comment lines dropped.
std::vector<std::string> split_assignments(const std::string &text) {
    std::vector<std::string> pieces;
    std::string piece;
    bool quoted = false;
    auto flush = [&]() {
        size_t first = piece.find_first_not_of(" \t\r");
        if (first != std::string::npos && piece[first] != '#') {
            size_t last = piece.find_last_not_of(" \t\r");
            pieces.push_back(piece.substr(first, last - first + 1));
        }
        piece.clear();
    };
    for (size_t k = 0; k < text.size(); ++k) {
        char c = text[k];
        if (!quoted && (c == '\n' || c == ';')) {
            flush();
            continue;
        }
        piece += c;
        if (c == '\\' && quoted && k + 1 < text.size()) {
            piece += text[++k];
        } else if (c == '"') {
            quoted = !quoted;
        }
    }
    flush();
    return pieces;
}

std::unique_ptr<ClassAd> ad_from_text(const std::string &text) {
    c_text(text);
    auto ad = std::make_unique<ClassAd>();
    for (const std::string &piece : split_assignments(text)) {
        ExprTree *tree = parse_or_throw(piece, "attribute");
        if (!ad->Insert(tree, true)) {
            delete tree;
            throw ParseFailure{"not an attribute assignment: " + piece, 0};
        }
    }
    ad->TakeTypesFromAttributes();
    return ad;
}

std::unique_ptr<ClassAd> ad_from_dict(const py::dict &values) {
    auto ad = std::make_unique<ClassAd>();
    for (auto item : values) {
        set_item(*ad, py::cast<std::string>(item.first), item.second);
    }
    return ad;
}

// The ad's attribute names in its own order.
std::vector<std::string> names_of(ClassAd &ad) {
    std::vector<std::string> names;
    ad.ResetName();
    for (const char *name = ad.NextNameOriginal(); name != nullptr; name = ad.NextNameOriginal()) {
        names.push_back(name);
    }
    return names;
}

ExprTree *assignment_or_throw(const ClassAd &ad, const std::string &name) {
    ExprTree *tree = ad.Lookup(c_text(name));
    if (tree == nullptr) {
        throw py::key_error(name);
    }
    return tree;
}

// The same types and, whatever their order, the same attributes with equal
// expressions.
bool same_contents(ClassAd &a, ClassAd &b) {
    if (strcmp(a.GetMyTypeName(), b.GetMyTypeName()) != 0 ||
        strcmp(a.GetTargetTypeName(), b.GetTargetTypeName()) != 0) {
        return false;
    }
    std::vector<std::string> names = names_of(a);
    if (names.size() != names_of(b).size()) {
        return false;
    }
    for (const std::string &name : names) {
        ExprTree *mine = a.Lookup(name.c_str());
        ExprTree *theirs = b.Lookup(name.c_str());
        if (theirs == nullptr || !(*mine->RArg() == *theirs->RArg())) {
            return false;
        }
    }
    return true;
}

std::string text_of(ClassAd &ad) {
    MyString out;
    ad.sPrint(out);
    return out.Value();
}

std::string xml_of(ClassAd &ad) {
    ClassAdXMLUnparser unparser;
    MyString out;
    unparser.Unparse(&ad, out);
    return out.Value();
}

// An expression given as text or as a torvel.Expr; owned by the caller.
ExprTree *expression_argument(py::handle expr) {
    if (py::isinstance<Expr>(expr)) {
        return expr.cast<Expr &>().tree->DeepCopy();
    }
    return parse_or_throw(expr.cast<std::string>(), "expression");
}

py::object eval_in(ClassAd &ad, py::handle expr, const ClassAd *target) {
    std::unique_ptr<ExprTree> tree(expression_argument(expr));
    return evaluate(tree.get(), &ad, target);
}

std::vector<int> match_all(ClassAd &job, const py::sequence &machines) {
    // Every argument is checked before the first match, so the loop itself
    // never calls back into Python.
    std::vector<ClassAd *> ads;
    ads.reserve(machines.size());
    for (auto machine : machines) {
        if (!py::isinstance<ClassAd>(machine)) {
            throw py::type_error("match_all takes a sequence of torvel.ClassAd");
        }
        ads.push_back(machine.cast<ClassAd *>());
    }
    std::vector<int> matching;
    for (size_t k = 0; k < ads.size(); ++k) {
        if (job.IsAMatch(ads[k])) {
            matching.push_back(static_cast<int>(k));
        }
    }
    return matching;
}

}  // namespace

void bind_expressions(py::module_ &m) {
    py::class_<UndefinedValue>(m, "UndefinedType", "The type of torvel.Undefined.", plain_class())
        .def(
            "__repr__", [](const UndefinedValue &) { return "Undefined"; }, "'Undefined'.")
        .def(
            "__bool__", [](const UndefinedValue &) { return false; }, "Always false.");
    py::class_<ErrorValue>(m, "ErrorType", "The type of torvel.Error.", plain_class())
        .def(
            "__repr__", [](const ErrorValue &) { return "Error"; }, "'Error'.")
        .def(
            "__bool__", [](const ErrorValue &) { return false; }, "Always false.");
    undefined_object = new py::object(py::cast(UndefinedValue{}));
    error_object = new py::object(py::cast(ErrorValue{}));
    m.attr("Undefined") = *undefined_object;
    m.attr("Error") = *error_object;

    py::class_<Expr>(m, "Expr", "A parsed ClassAd expression (immutable).", plain_class())
        .def(py::init([](const std::string &text) {
                 return Expr{std::shared_ptr<ExprTree>(parse_or_throw(text, "expression"))};
             }),
             py::arg("text"), "Parses text; raises torvel.ParseError when it does not parse.")
        .def(
            "__str__", [](const Expr &e) { return print_tree(e.tree.get()); },
            "The expression as the library prints it.")
        .def(
            "__repr__",
            [](const Expr &e) {
                return "Expr(" + py::repr(py::str(print_tree(e.tree.get()))).cast<std::string>() +
                       ")";
            },
            "Expr('<printed form>').")
        .def(
            "eval",
            [](const Expr &e, const ClassAd *my, const ClassAd *target) {
                return evaluate(e.tree.get(), my, target);
            },
            py::arg("my") = nullptr, py::arg("target") = nullptr,
            "The value with MY = my and TARGET = target: int, float, str, "
            "torvel.Undefined or torvel.Error.")
        .def(
            "__eq__",
            [](const Expr &a, py::object other) {
                return py::isinstance<Expr>(other) && *a.tree == *other.cast<Expr &>().tree;
            },
            "Whether other is an Expr of the same tree.")
        .def(
            "__copy__", [](const Expr &e) { return e; }, "The same expression (immutable).")
        .def(
            "__deepcopy__", [](const Expr &e, py::dict) { return e; }, py::arg("memo"),
            "The same expression (immutable).");
}

namespace {

using PyClassAd = py::class_<ClassAd, std::unique_ptr<ClassAd>>;

// The constructors: empty, from the text form, from a dict, from XML.
void bind_construction(PyClassAd &ads) {
    ads.def(py::init([]() { return std::make_unique<ClassAd>(); }), "An empty ad.")
        .def(py::init(&ad_from_text), py::arg("text"),
             "An ad from its text form: one assignment per line or ';'-separated. "
             "MyType and TargetType become the ad's types. Raises torvel.ParseError.")
        .def(py::init(&ad_from_dict), py::arg("values"),
             "An ad from a dict of int, float, str, bool or torvel.Expr values.")
        .def_static(
            "from_xml",
            [](const std::string &text) {
                ClassAdXMLParser parser;
                return std::unique_ptr<ClassAd>(parser.ParseClassAd(c_text(text)));
            },
            py::arg("text"), "The first ad of an XML document (empty when there is none).");
}

// The mapping protocol over attribute names.
void bind_attributes(PyClassAd &ads) {
    ads.def(
           "__getitem__",
           [](ClassAd &ad, const std::string &name) {
               return evaluate(assignment_or_throw(ad, name), &ad, nullptr);
           },
           "The attribute evaluated in the ad; KeyError when absent.")
        .def(
            "get",
            [](ClassAd &ad, const std::string &name, py::object fallback) {
                ExprTree *tree = ad.Lookup(c_text(name));
                return tree != nullptr ? evaluate(tree, &ad, nullptr) : fallback;
            },
            py::arg("name"), py::arg("default") = py::none(),
            "The attribute evaluated in the ad, or default when absent.")
        .def(
            "lookup",
            [](ClassAd &ad, const std::string &name) {
                ExprTree *value = assignment_or_throw(ad, name)->RArg();
                return Expr{std::shared_ptr<ExprTree>(value->DeepCopy())};
            },
            py::arg("name"), "The attribute's unevaluated expression; KeyError when absent.")
        .def("__setitem__", &set_item,
             "Assigns an int, float, str, bool or torvel.Expr (MyType/TargetType: the types).")
        .def(
            "__delitem__",
            [](ClassAd &ad, const std::string &name) {
                if (!ad.Delete(c_text(name))) {
                    throw py::key_error(name);
                }
            },
            "Removes the attribute; KeyError when absent.")
        .def(
            "__contains__",
            [](ClassAd &ad, py::object name) {
                if (!py::isinstance<py::str>(name)) {
                    return false;
                }
                // No attribute's name holds a NUL byte.
                std::string text = name.cast<std::string>();
                return text.find('\0') == std::string::npos && ad.Lookup(text.c_str()) != nullptr;
            },
            "Whether the ad has the attribute (names ignore case).")
        .def(
            "__len__", [](ClassAd &ad) { return names_of(ad).size(); },
            "The number of attributes (the types not counted).")
        .def(
            "__iter__", [](ClassAd &ad) { return py::iter(py::cast(names_of(ad))); },
            "The attribute names in the ad's order (a snapshot).")
        .def("keys", &names_of, "The attribute names in the ad's order.");
}

// Evaluation, matching, the type names, the text and XML forms, copies and
// equality.
void bind_forms(PyClassAd &ads) {
    ads.def(
           "eval",
           [](ClassAd &ad, py::object expr, const ClassAd *target) {
               return eval_in(ad, expr, target);
           },
           py::arg("expr"), py::arg("target") = nullptr,
           "Evaluates expr (text or torvel.Expr) with MY = this ad and TARGET = target.")
        .def(
            "matches", [](ClassAd &ad, ClassAd &other) { return ad.IsAMatch(&other) != 0; },
            py::arg("other"), "Whether the two ads match symmetrically.")
        .def_property(
            "my_type", [](const ClassAd &ad) { return std::string(ad.GetMyTypeName()); },
            [](ClassAd &ad, const std::string &type) { ad.SetMyTypeName(c_text(type)); },
            "The ad's type name ('' without one).")
        .def_property(
            "target_type", [](const ClassAd &ad) { return std::string(ad.GetTargetTypeName()); },
            [](ClassAd &ad, const std::string &type) { ad.SetTargetTypeName(c_text(type)); },
            "The type name of the ads this one wants to match ('' without one).")
        .def("__str__", &text_of, "The text form, one assignment per line.")
        .def(
            "__repr__",
            [](ClassAd &ad) {
                return "ClassAd(" + py::repr(py::str(text_of(ad))).cast<std::string>() + ")";
            },
            "ClassAd('<text form>').")
        .def("to_xml", &xml_of, "The ad as a ClassAd XML element.")
        .def(
            "__copy__", [](const ClassAd &ad) { return std::make_unique<ClassAd>(ad); },
            "An independent copy.")
        .def(
            "__deepcopy__",
            [](const ClassAd &ad, py::dict) { return std::make_unique<ClassAd>(ad); },
            py::arg("memo"), "An independent copy.")
        .def(
            "__eq__",
            [](ClassAd &ad, py::object other) {
                return py::isinstance<ClassAd>(other) && same_contents(ad, other.cast<ClassAd &>());
            },
            "Same types and the same attributes with equal expressions, in any order.");
}

}  // namespace

void bind_classads(py::module_ &m) {
    PyClassAd ads(m, "ClassAd", "A ClassAd: typed, ordered attributes.", plain_class());
    bind_construction(ads);
    bind_attributes(ads);
    bind_forms(ads);

    m.def("match_all", &match_all, py::arg("job"), py::arg("machines"),
          "The indices of the machines that match job symmetrically, in order.");
}
