// The torvel module: its exceptions, version and the subsystem name the
// library asks every program for; the bindings proper are in the other
// files of this folder.
#include <pybind11/pybind11.h>

#include <string>

#include "python/bindings.h"
#include "python/fatal_trap.h"
#include "version/torvel_version.h"

namespace py = pybind11;

// The library reads mySubSystem from the program; load_config changes it.
const char *mySubSystem = "TOOL";

namespace {

std::string *subsystem_storage = nullptr;

}  // namespace

const char *c_text(const std::string &text) {
    if (text.find('\0') != std::string::npos) {
        throw py::value_error("embedded null byte");
    }
    return text.c_str();
}

void set_subsystem(const std::string &name) {
    if (subsystem_storage == nullptr) {
        subsystem_storage = new std::string;  // kept for the process's life
    }
    *subsystem_storage = name;
    mySubSystem = subsystem_storage->c_str();
}

PYBIND11_MODULE(torvel, m) {
    m.doc() = "ClassAds, expressions and configuration of the Torvel library.";
    install_fatal_trap();
    static py::exception<ParseFailure> parse_error(m, "ParseError", PyExc_ValueError);
    static py::exception<ConfigFailure> config_error(m, "ConfigError", PyExc_RuntimeError);
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
            PyErr_SetObject(parse_error.ptr(), error.ptr());
        } catch (const ConfigFailure &e) {
            config_error(e.message.c_str());
        }
    });
    bind_expressions(m);
    bind_classads(m);
    bind_config(m);
    bind_analysis(m);
    m.attr("__version__") = TORVEL_MODULE_VERSION;
    m.def(
        "version", []() { return std::string(TorvelVersion()); }, "The library's version string.");
}
