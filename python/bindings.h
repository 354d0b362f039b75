// What the module's binding files share: the registration functions, the
// parse failure raised as torvel.ParseError, the module's subsystem name,
// and the check that keeps texts with NUL bytes away from the library.
#ifndef TORVEL_PYTHON_BINDINGS_H_
#define TORVEL_PYTHON_BINDINGS_H_

#include <pybind11/pybind11.h>

#include <string>

// An expression or ad text that does not parse; becomes torvel.ParseError
// with the position (the library's count of characters consumed).
struct ParseFailure {
    std::string message;
    int position;
};

// A configuration step the library would end the process for; becomes
// torvel.ConfigError with the library's own message.
struct ConfigFailure {
    std::string message;
};

void bind_expressions(pybind11::module_ &m);
void bind_classads(pybind11::module_ &m);
void bind_config(pybind11::module_ &m);
void bind_analysis(pybind11::module_ &m);

// text as the library's C string. Raises ValueError("embedded null byte"),
// as Python's os functions do, when text holds a NUL, which the library
// would take for its end. Borrowed from text.
const char *c_text(const std::string &text);

// Points the library's mySubSystem at a copy of name.
void set_subsystem(const std::string &name);

#endif  // TORVEL_PYTHON_BINDINGS_H_
