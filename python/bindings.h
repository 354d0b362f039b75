// What the module's binding files share: the registration functions, the
// parse failure raised as torvel.ParseError, the module's subsystem name,
// and the check that keeps texts with NUL bytes away from the library.
#ifndef TORVEL_PYTHON_BINDINGS_H_
#define TORVEL_PYTHON_BINDINGS_H_

#include <pybind11/pybind11.h>

#include <memory>
#include <string>

// An expression or ad text that does not parse; becomes torvel.ParseError
// with the position (the library's count of characters consumed) and, for
// an ad read from a file, the 1-based line (0 otherwise).
struct ParseFailure {
    std::string message;
    int position;
    int line = 0;
};

// A configuration step the library would end the process for; becomes
// torvel.ConfigError with the library's own message.
struct ConfigFailure {
    std::string message;
};

// The module's classes take Python's own metaclass rather than pybind11's,
// so that they are the plain classes their type stubs declare.
inline pybind11::metaclass plain_class() {
    return pybind11::metaclass(reinterpret_cast<PyObject *>(&PyType_Type));
}

void bind_expressions(pybind11::module_ &m);
void bind_classads(pybind11::module_ &m);
void bind_ad_reading(pybind11::module_ &m);
void bind_config(pybind11::module_ &m);
void bind_analysis(pybind11::module_ &m);

class ClassAd;
// The one ad a whole file object holds (blank lines do not end it).
// Raises torvel.ParseError naming the line, or the file's own error.
std::unique_ptr<ClassAd> ad_from_file(pybind11::handle file);

// The ads of items, each held in held while the caller uses them; raises
// TypeError naming function for anything that is not a ClassAd. Taking them
// all first keeps the caller's loop from calling back into Python.
std::vector<ClassAd *> classads_of(const pybind11::iterable &items, const char *function,
                                   std::vector<pybind11::object> &held);

// value as a C int: TypeError when it is not a Python int, OverflowError
// when it is out of range. what names it in the message.
int int_argument(pybind11::handle value, const char *what);

// text as the library's C string. Raises ValueError("embedded null byte"),
// as Python's os functions do, when text holds a NUL, which the library
// would take for its end. Borrowed from text.
const char *c_text(const std::string &text);

// Points the library's mySubSystem at a copy of name.
void set_subsystem(const std::string &name);

#endif  // TORVEL_PYTHON_BINDINGS_H_
