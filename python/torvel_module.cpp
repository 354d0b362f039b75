// The torvel module: its exceptions, version and the subsystem name the
// library asks every program for; the bindings proper are in the other
// files of this folder.
#include <limits.h>
#include <pybind11/pybind11.h>

#include <string>

#include "python/bindings.h"
#include "python/fatal_trap.h"
#include "version/torvel_version.h"

namespace py = pybind11;

// The library reads mySubSystem from the program; load_config changes it.
const char *mySubSystem = "TOOL";

namespace {

// Never thrown: the C++ side of torvel.TorvelError.
struct TorvelFailure {};

std::string *subsystem_storage = nullptr;

}  // namespace

const char *c_text(const std::string &text) {
    if (text.find('\0') != std::string::npos) {
        throw py::value_error("embedded null byte");
    }
    return text.c_str();
}

int int_argument(py::handle value, const char *what) {
    if (!PyLong_Check(value.ptr())) {
        throw py::type_error(std::string(what) + " must be an int");
    }
    int overflow = 0;
    long long number = PyLong_AsLongLongAndOverflow(value.ptr(), &overflow);
    if (overflow != 0 || number < INT_MIN || number > INT_MAX) {
        PyErr_SetString(PyExc_OverflowError,
                        (std::string(what) + " is out of the 32-bit range").c_str());
        throw py::error_already_set();
    }
    return static_cast<int>(number);
}

void set_subsystem(const std::string &name) {
    if (subsystem_storage == nullptr) {
        subsystem_storage = new std::string;  // kept for the process's life
    }
    *subsystem_storage = name;
    mySubSystem = subsystem_storage->c_str();
}

PYBIND11_MODULE(_torvel, m) {
    m.doc() = "ClassAds, expressions and configuration of the Torvel library.";
    install_fatal_trap();
    // One base for the module's own errors; each keeps the built-in base it
    // has always had, so handlers of either catch it.
    static py::exception<TorvelFailure> torvel_error(m, "TorvelError", PyExc_Exception);
    static py::exception<ParseFailure> parse_error(
        m, "ParseError", py::make_tuple(torvel_error, py::handle(PyExc_ValueError)));
    static py::exception<ConfigFailure> config_error(
        m, "ConfigError", py::make_tuple(torvel_error, py::handle(PyExc_RuntimeError)));
    torvel_error.attr("__doc__") = "The base of the module's own errors.";
    parse_error.attr("__doc__") =
        "An expression or ad text that does not parse; .position is where the parser stopped.";
    config_error.attr("__doc__") =
        "A configuration step the library would have ended the process for, with its message.";
    py::register_exception_translator([](std::exception_ptr failure) {
        try {
            if (failure) {
                std::rethrow_exception(failure);
            }
        } catch (const ParseFailure &e) {
            py::object error = py::handle(parse_error.ptr())(e.message);
            error.attr("position") = e.position;
            error.attr("line") = e.line;
            PyErr_SetObject(parse_error.ptr(), error.ptr());
        } catch (const ConfigFailure &e) {
            config_error(e.message.c_str());
        } catch (const py::cast_error &e) {
            // A Python value of the wrong type, whichever conversion met it.
            PyErr_SetString(PyExc_TypeError, e.what());
        }
    });
    bind_expressions(m);
    bind_classads(m);
    bind_ad_reading(m);
    bind_config(m);
    bind_analysis(m);
    m.attr("__version__") = TORVEL_MODULE_VERSION;
    m.def(
        "version", []() { return std::string(TorvelVersion()); }, "The library's version string.");
}
