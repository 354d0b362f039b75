// torvel.Expr, torvel.ClassAd and torvel.match_all: the library's parser,
// printer, evaluator and matcher behind Python objects. Each Python object
// owns its own tree or ad outright (lookups hand out deep copies), so no
// object ever borrows from another and any may outlive the rest.
#include <limits.h>
#include <pybind11/stl.h>
#include <stdlib.h>
#include <string.h>
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
#include "python/expr_equality.h"

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
        int i = int_argument(value, "a ClassAd integer");
        return AttrList::ProcToTree(n, LX_INTEGER, i, 0, nullptr);
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
// outside string literals and outside parentheses (a call's arguments may
// be ';'-separated, as the library prints them); blank pieces and "#"
// comment lines dropped.
std::vector<std::string> split_assignments(const std::string &text) {
    std::vector<std::string> pieces;
    std::string piece;
    bool quoted = false;
    int depth = 0;
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
        if (!quoted && (c == '\n' || (c == ';' && depth <= 0))) {
            flush();
            depth = 0;
            continue;
        }
        piece += c;
        if (c == '\\' && quoted && k + 1 < text.size()) {
            piece += text[++k];
        } else if (c == '"') {
            quoted = !quoted;
        } else if (!quoted && (c == '(' || c == ')')) {
            depth += c == '(' ? 1 : -1;
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

// The ad's attribute names in its own order.
std::vector<std::string> names_of(ClassAd &ad) {
    std::vector<std::string> names;
    ad.ResetName();
    for (const char *name = ad.NextNameOriginal(); name != nullptr; name = ad.NextNameOriginal()) {
        names.push_back(name);
    }
    return names;
}

// Copies of from's attributes into to, replacing those of the same names.
void copy_attributes(ClassAd &to, ClassAd &from) {
    for (const std::string &name : names_of(from)) {
        ExprTree *tree = from.Lookup(name.c_str())->DeepCopy();
        if (!to.Insert(tree, true)) {
            delete tree;
            throw py::value_error("can't assign " + name);
        }
    }
}

// Sets name = value for every item of a mapping, keys() then [name]; from
// another ad, its expressions rather than their values.
void set_items(ClassAd &ad, py::handle mapping) {
    if (py::isinstance<ClassAd>(mapping)) {
        copy_attributes(ad, mapping.cast<ClassAd &>());
        return;
    }
    for (py::handle name : mapping.attr("keys")()) {
        if (!py::isinstance<py::str>(name)) {
            throw py::type_error("ClassAd attribute names are str");
        }
        set_item(ad, name.cast<std::string>(), mapping[name]);
    }
}

// A copy of another ad, an ad from a mapping of values, from a file object
// (the whole file as one ad), or empty for None.
std::unique_ptr<ClassAd> ad_from_object(py::object source) {
    if (source.is_none()) {
        return std::make_unique<ClassAd>();
    }
    if (py::isinstance<ClassAd>(source)) {
        return std::make_unique<ClassAd>(source.cast<const ClassAd &>());
    }
    if (py::hasattr(source, "keys")) {
        auto ad = std::make_unique<ClassAd>();
        set_items(*ad, source);
        return ad;
    }
    if (py::hasattr(source, "read")) {
        return ad_from_file(source);
    }
    throw py::type_error("ClassAd takes a text, a mapping, a file object or nothing");
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
        if (theirs == nullptr || !same_tree(mine->RArg(), theirs->RArg())) {
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
    if (!py::isinstance<py::str>(expr)) {
        throw py::type_error("an expression is a str or a torvel.Expr");
    }
    return parse_or_throw(expr.cast<std::string>(), "expression");
}

py::object eval_in(ClassAd &ad, py::handle expr, const ClassAd *target) {
    std::unique_ptr<ExprTree> tree(expression_argument(expr));
    return evaluate(tree.get(), &ad, target);
}

}  // namespace

std::vector<ClassAd *> classads_of(const py::iterable &items, const char *function,
                                   std::vector<py::object> &held) {
    std::vector<ClassAd *> ads;
    for (auto item : items) {
        if (!py::isinstance<ClassAd>(item)) {
            throw py::type_error(std::string(function) + " takes an iterable of torvel.ClassAd");
        }
        held.push_back(py::reinterpret_borrow<py::object>(item));
        ads.push_back(item.cast<ClassAd *>());
    }
    return ads;
}

namespace {

std::vector<int> match_all(ClassAd &job, const py::iterable &machines) {
    std::vector<py::object> held;
    std::vector<ClassAd *> ads = classads_of(machines, "match_all", held);
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
                return py::isinstance<Expr>(other) &&
                       same_tree(a.tree.get(), other.cast<Expr &>().tree.get());
            },
            "Whether other is an Expr of the same tree (shape, names and values).")
        .def(
            "__hash__", [](const Expr &e) { return tree_hash(e.tree.get()); },
            "A hash that agrees with ==.")
        .def(
            "__copy__", [](const Expr &e) { return e; }, "The same expression (immutable).")
        .def(
            "__deepcopy__", [](const Expr &e, py::dict) { return e; }, py::arg("memo"),
            "The same expression (immutable).");
}

namespace {

using PyClassAd = py::class_<ClassAd, std::unique_ptr<ClassAd>>;

// update(other, **named): a mapping, or else an iterable of pairs.
void update(ClassAd &ad, py::object other, py::kwargs named) {
    if (py::hasattr(other, "keys")) {
        set_items(ad, other);
    } else if (!other.is_none()) {
        for (py::handle pair : other) {
            py::tuple items = py::tuple(py::reinterpret_borrow<py::object>(pair));
            if (items.size() != 2 || !py::isinstance<py::str>(items[0])) {
                throw py::type_error("update takes (name, value) pairs");
            }
            set_item(ad, items[0].cast<std::string>(), items[1]);
        }
    }
    set_items(ad, named);
}

// What pickle keeps of an ad: its types and, in order, each attribute's
// expression as text, except float literals, kept as exact floats (their
// text has six decimals only).
py::tuple ad_state(ClassAd &ad) {
    py::list attributes;
    for (const std::string &name : names_of(ad)) {
        ExprTree *value = ad.Lookup(name.c_str())->RArg();
        py::object kept = value->MyType() == LX_FLOAT
                              ? py::object(py::float_(static_cast<Float *>(value)->Value()))
                              : py::object(py::str(print_tree(value)));
        attributes.append(py::make_tuple(name, kept));
    }
    return py::make_tuple(ad.GetMyTypeName(), ad.GetTargetTypeName(), attributes);
}

std::unique_ptr<ClassAd> ad_from_state(const py::tuple &state) {
    if (state.size() != 3) {
        throw py::value_error("not the pickled state of a ClassAd");
    }
    auto ad = std::make_unique<ClassAd>();
    ad->SetMyTypeName(c_text(state[0].cast<std::string>()));
    ad->SetTargetTypeName(c_text(state[1].cast<std::string>()));
    for (py::handle item : state[2].cast<py::list>()) {
        auto pair = item.cast<std::pair<std::string, py::object>>();
        if (py::isinstance<py::float_>(pair.second)) {
            set_item(*ad, pair.first, pair.second);
            continue;
        }
        ExprTree *tree =
            parse_or_throw(pair.first + " = " + pair.second.cast<std::string>(), "attribute");
        if (!ad->Insert(tree, true)) {
            delete tree;
            throw py::value_error("not the pickled state of a ClassAd");
        }
    }
    return ad;
}

// The value of an attribute evaluated in ad, as a new reference. Integer
// and string literals, most of an ad, evaluate to themselves: they are
// taken as they are.
PyObject *value_of(ExprTree *assignment, ClassAd *ad) {
    ExprTree *value = assignment->RArg();
    switch (value->MyType()) {
        case LX_INTEGER:
            return PyLong_FromLong(static_cast<Integer *>(value)->Value());
        case LX_STRING:
            return PyUnicode_FromString(static_cast<String *>(value)->Value());
        default:
            return evaluate(assignment, ad, nullptr).release().ptr();
    }
}

// ad[name] straight from the type's mapping slot: the lookup Python code
// makes most often, without the generic dispatch of a bound method. The
// same answers and errors as __getitem__.
PyObject *subscript(PyObject *self, PyObject *key) {
    try {
        auto *instance = reinterpret_cast<py::detail::instance *>(self);
        auto *ad = static_cast<ClassAd *>(instance->get_value_and_holder().value_ptr());
        if (ad == nullptr || !PyUnicode_Check(key)) {
            PyErr_SetString(PyExc_TypeError, "ClassAd attribute names are str");
            return nullptr;
        }
        Py_ssize_t size = 0;
        const char *name = PyUnicode_AsUTF8AndSize(key, &size);
        if (name == nullptr) {
            return nullptr;
        }
        if (strlen(name) != static_cast<size_t>(size)) {
            PyErr_SetString(PyExc_ValueError, "embedded null byte");
            return nullptr;
        }
        ExprTree *tree = ad->Lookup(name);
        if (tree == nullptr) {
            PyErr_SetObject(PyExc_KeyError, key);
            return nullptr;
        }
        return value_of(tree, ad);
    } catch (py::error_already_set &e) {
        e.restore();
    } catch (const std::exception &e) {
        PyErr_SetString(PyExc_RuntimeError, e.what());
    }
    return nullptr;
}

void use_fast_subscript(PyClassAd &ads) {
    auto *type = reinterpret_cast<PyTypeObject *>(ads.ptr());
    type->tp_as_mapping->mp_subscript = &subscript;
    PyType_Modified(type);
}

// The constructors: empty, from the text form, from a dict, from XML.
void bind_construction(PyClassAd &ads) {
    ads.def(py::init([]() { return std::make_unique<ClassAd>(); }), "An empty ad.")
        .def(py::init(&ad_from_text), py::arg("text"),
             "An ad from its text form: one assignment per line or ';'-separated. "
             "MyType and TargetType become the ad's types. Raises torvel.ParseError.")
        .def(py::init(&ad_from_object), py::arg("source"),
             "An ad from a mapping of int, float, str, bool or torvel.Expr values, or "
             "from a file object holding one ad, one assignment per line.")
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
        .def("update", &update, py::arg("other") = py::none(),
             "Sets the attributes of a mapping (another ad's expressions), an iterable of "
             "(name, value) pairs, and keyword arguments.")
        .def(
            "clear",
            [](ClassAd &ad) {
                for (const std::string &name : names_of(ad)) {
                    ad.Delete(name.c_str());
                }
            },
            "Removes every attribute (the types stay).");
}

// The rest of the mutable mapping's methods (keys, items, values, pop,
// popitem, setdefault) come from collections.abc over the methods above,
// and ClassAd counts as a MutableMapping.
void adopt_mapping_mixins(PyClassAd &ads) {
    py::object mapping = py::module_::import("collections.abc").attr("MutableMapping");
    // pop's "no default" marker, a private class attribute of MutableMapping.
    for (const char *name :
         {"keys", "items", "values", "pop", "popitem", "setdefault", "_MutableMapping__marker"}) {
        ads.attr(name) = mapping.attr(name);
    }
    mapping.attr("register")(ads);
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
            "Same types and the same attributes with equal expressions, in any order.")
        .def(py::pickle(&ad_state, &ad_from_state));
}

}  // namespace

void bind_classads(py::module_ &m) {
    PyClassAd ads(m, "ClassAd", "A ClassAd: typed, ordered attributes.", plain_class());
    bind_construction(ads);
    bind_attributes(ads);
    bind_forms(ads);
    adopt_mapping_mixins(ads);
    use_fast_subscript(ads);

    m.def("match_all", &match_all, py::arg("job"), py::arg("machines"),
          "The indices of the machines that match job symmetrically, in order.");
}
