// The configuration functions of the torvel module: load_config reads the
// configuration as the programs do, and the lookups use the library's own
// param family. Loading and expansion can end the process (an unreadable
// source, a placeholder value, an unset $ENV variable); such a step is
// first tried in a forked child and raised as torvel.ConfigError with the
// library's message when the child did not survive it.
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "config/config_startup.h"
#include "config/macro_table.h"
#include "config/param.h"
#include "config/subsystem.h"
#include "core/my_string.h"
#include "diagnostics/debug_log.h"
#include "python/bindings.h"
#include "python/fatal_guard.h"

namespace py = pybind11;

namespace {

bool config_loaded = false;

void require_config() {
    if (!config_loaded) {
        throw ConfigFailure{"the configuration is not loaded: call torvel.load_config() first"};
    }
}

void run_guarded(const std::function<void()> &step) {
    std::string message;
    if (!survives_in_child(step, &message)) {
        throw ConfigFailure{message};
    }
    step();
}

bool has_macro(const char *text) {
    return text != nullptr && strchr(text, '$') != nullptr;
}

// The key param reads: "<SUBSYS>.name" when defined (even empty), else name.
std::string effective_key(const std::string &name) {
    std::string specific = std::string(mySubSystem) + "." + name;
    return lookup_macro(specific.c_str(), ConfigTab, CONFIG_TABLE_SIZE) != nullptr ? specific
                                                                                   : name;
}

// Runs a lookup of name, through the forked trial when its raw value needs
// expanding (only expansion can end the process).
void run_lookup(const std::string &name, const std::function<void()> &step) {
    require_config();
    const char *raw = lookup_macro(effective_key(name).c_str(), ConfigTab, CONFIG_TABLE_SIZE);
    if (has_macro(raw)) {
        run_guarded(step);
    } else {
        step();
    }
}

void load_config(const std::string &subsystem) {
    if (subsystem.empty()) {
        throw py::value_error("the subsystem name is empty");
    }
    set_subsystem(subsystem);
    run_guarded([]() { config(0); });
    config_loaded = true;
}

py::object param_value(const std::string &name, py::object fallback) {
    char *value = nullptr;
    run_lookup(name, [&]() { value = param(name.c_str()); });
    if (value == nullptr) {
        return fallback;
    }
    py::str result(value);
    free(value);
    return result;
}

int param_int(const std::string &name, int fallback, int low, int high) {
    int value = fallback;
    run_lookup(name, [&]() { value = param_integer(name.c_str(), fallback, low, high); });
    return value;
}

bool param_bool(const std::string &name, bool fallback) {
    bool value = fallback;
    run_lookup(name, [&]() { value = param_boolean(name.c_str(), fallback); });
    return value;
}

std::string expand(const std::string &text) {
    require_config();
    char *expanded = nullptr;
    auto step = [&]() { expanded = macro_expand(text.c_str()); };
    has_macro(text.c_str()) ? run_guarded(step) : step();
    if (expanded == nullptr) {
        throw ConfigFailure{"can't expand: " + text};
    }
    std::string result = expanded;
    free(expanded);
    return result;
}

py::object where(const std::string &name) {
    require_config();
    MyString file("<Undefined>");
    int line = -1;
    if (!param_get_location(effective_key(name).c_str(), file, line)) {
        return py::none();
    }
    return py::make_tuple(std::string(file.Value()), line);
}

// Replays the debug lines kept in memory through the library's own
// dprintf, with every category on and no header when everything is true.
void replay_saved_lines(bool everything) {
    int previous_flags = DebugFlags;
    FILE *previous = DebugFP;
    DebugFP = stderr;
    DebugFlags = everything ? static_cast<int>(D_ALL | D_NOHEADER) : 0;
    _torvel_dprintf_works = 1;
    _torvel_dprintf_saved_lines();
    _torvel_dprintf_works = 0;
    DebugFlags = previous_flags;
    DebugFP = previous;
}

// The library's debug lines kept in memory (nothing sets up a log inside
// the interpreter), written out and forgotten. Writing takes the service
// account's identity, which a root process without one cannot learn: the
// lines are written in the forked trial, and the interpreter itself only
// drops them (no category on, so nothing is written).
std::string saved_debug_lines() {
    std::string lines;
    if (!survives_in_child([]() { replay_saved_lines(true); }, &lines)) {
        throw ConfigFailure{lines};
    }
    replay_saved_lines(false);
    // Most saved texts end with their own newline, and the replay adds one.
    std::string joined;
    size_t start = 0;
    while (start < lines.size()) {
        size_t end = lines.find('\n', start);
        end = end == std::string::npos ? lines.size() : end;
        if (end > start) {
            joined.append(lines, start, end - start).append("\n");
        }
        start = end + 1;
    }
    return joined;
}

}  // namespace

void bind_config(py::module_ &m) {
    m.def("load_config", &load_config, py::arg("subsystem") = "TOOL",
          "Reads the configuration as the programs do, as subsystem; raises "
          "torvel.ConfigError with the library's message where a program would stop.");
    m.def("param", &param_value, py::arg("name"), py::arg("default") = py::none(),
          "The expanded value of name, or default when it is undefined or empty.");
    m.def("param_int", &param_int, py::arg("name"), py::arg("default"), py::arg("min") = INT_MIN,
          py::arg("max") = INT_MAX,
          "The value of name as an int within min..max; default when undefined or not a number.");
    m.def("param_bool", &param_bool, py::arg("name"), py::arg("default"),
          "The value of name as a bool (T/t/1, F/f/0); default otherwise.");
    m.def("expand", &expand, py::arg("text"), "text with the configuration's macros expanded.");
    m.def("where", &where, py::arg("name"),
          "(file, line) where name's value was set ('<Internal>' / '<Environment>' with -1), "
          "or None when nothing is recorded.");
    m.def("saved_debug_lines", &saved_debug_lines,
          "The library's debug lines kept in memory since the last call, as one text.");
}
