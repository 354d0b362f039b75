// The configuration functions of the torvel module: load_config reads the
// configuration as the programs do, and the lookups use the library's own
// param family. Loading and expansion can end the process (an unreadable
// source, a placeholder value, an unset $ENV variable); every such call
// runs under the module's fatal trap (fatal_trap.h), and a trapped failure
// is raised as torvel.ConfigError with the library's message.
#include <float.h>
#include <limits.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "config/config_startup.h"
#include "config/macro_table.h"
#include "config/param.h"
#include "config/read_config.h"
#include "config/subsystem.h"
#include "core/my_string.h"
#include "diagnostics/debug_log.h"
#include "diagnostics/debug_log_internal.h"
#include "identity/privileges.h"
#include "python/bindings.h"
#include "python/fatal_trap.h"

namespace py = pybind11;

namespace {

bool config_loaded = false;

void require_config() {
    if (!config_loaded) {
        throw ConfigFailure{"the configuration is not loaded: call torvel.load_config() first"};
    }
}

// Runs a lookup under the trap. Expansion changes no table and no signal
// mask: a trapped one leaves only its own work buffer behind (lost, not
// corrupt).
template <typename Step>
void run_lookup(Step step) {
    require_config();
    int status = 0;
    std::string line;
    if (!run_trapped(step, &status, &line, /*keep_mask=*/false)) {
        throw ConfigFailure{fatal_message(status, "", line)};
    }
}

// The key param reads: "<SUBSYS>.name" when defined (even empty), else name.
std::string effective_key(const std::string &name) {
    std::string specific = std::string(mySubSystem) + "." + name;
    return lookup_macro(specific.c_str(), ConfigTab, CONFIG_TABLE_SIZE) != nullptr ? specific
                                                                                   : name;
}

// Writes text to standard error as it was printed: lines a call printed
// while captured and survived.
void pass_on(const std::string &text) {
    if (!text.empty()) {
        fwrite(text.data(), 1, text.size(), stderr);
        fflush(stderr);
    }
}

// A command source's status is read with waitpid, which an ignored SIGCHLD
// defeats (the child is reaped unseen): while loading, SIGCHLD is back to
// its default.
class ChildStatusScope {
 public:
    ChildStatusScope() {
        sigaction(SIGCHLD, nullptr, &previous_);
        changed_ = previous_.sa_handler == SIG_IGN || (previous_.sa_flags & SA_NOCLDWAIT) != 0;
        if (changed_) {
            struct sigaction plain;
            memset(&plain, 0, sizeof plain);
            plain.sa_handler = SIG_DFL;
            sigemptyset(&plain.sa_mask);
            sigaction(SIGCHLD, &plain, nullptr);
        }
    }
    ~ChildStatusScope() {
        if (changed_) {
            sigaction(SIGCHLD, &previous_, nullptr);
        }
    }
    ChildStatusScope(const ChildStatusScope &) = delete;
    ChildStatusScope &operator=(const ChildStatusScope &) = delete;

 private:
    struct sigaction previous_;
    bool changed_ = false;
};

// Runs the whole start-up once. A trapped failure leaves the sources it
// had open, a half-filled table and perhaps switched ids: the open source
// is closed (a command is reaped), the ids put back, and the table cleared,
// so the module is cleanly unloaded (param then says so).
void load_config(const std::string &subsystem) {
    if (c_text(subsystem)[0] == '\0') {
        throw py::value_error("the subsystem name is empty");
    }
    set_subsystem(subsystem);
    config_loaded = false;
    priv_state ids = get_priv();
    int status = 0;
    std::string line;
    std::string printed;
    bool loaded = false;
    {
        ChildStatusScope children;
        StderrCapture capture;
        auto step = []() { config(0); };
        loaded = run_trapped(step, &status, &line, /*keep_mask=*/true);
        if (!loaded) {
            _torvel_abandon_config_read();
        }
        printed = capture.finish();
    }
    if (!loaded) {
        _set_priv(ids, __FILE__, __LINE__, 0);
        clear_config();
        throw ConfigFailure{fatal_message(status, printed, line)};
    }
    pass_on(printed);
    config_loaded = true;
}

py::object param_value(const std::string &name, py::object fallback) {
    const char *key = c_text(name);
    char *value = nullptr;
    run_lookup([&]() { value = param(key); });
    if (value == nullptr) {
        return fallback;
    }
    py::str result(value);
    free(value);
    return result;
}

int param_int(const std::string &name, py::handle fallback_value, py::handle low_value,
              py::handle high_value) {
    const char *key = c_text(name);
    int fallback = int_argument(fallback_value, "default");
    int low = int_argument(low_value, "min");
    int high = int_argument(high_value, "max");
    int value = fallback;
    run_lookup([&]() { value = param_integer(key, fallback, low, high); });
    return value;
}

double param_float_value(const std::string &name, float fallback, float low, float high) {
    const char *key = c_text(name);
    float value = fallback;
    run_lookup([&]() { value = param_float(key, fallback, low, high); });
    return static_cast<double>(value);
}

bool param_bool(const std::string &name, bool fallback) {
    const char *key = c_text(name);
    bool value = fallback;
    run_lookup([&]() { value = param_boolean(key, fallback); });
    return value;
}

std::string expand(const std::string &text) {
    const char *raw = c_text(text);
    char *expanded = nullptr;
    run_lookup([&]() { expanded = macro_expand(raw); });
    if (expanded == nullptr) {
        throw ConfigFailure{"can't expand: " + text};
    }
    std::string result = expanded;
    free(expanded);
    return result;
}

py::object where(const std::string &name) {
    c_text(name);
    require_config();
    MyString file("<Undefined>");
    int line = -1;
    if (!param_get_location(effective_key(name).c_str(), file, line)) {
        return py::none();
    }
    return py::make_tuple(std::string(file.Value()), line);
}

// The debug-log state a replay changes, put back whatever becomes of it.
struct ReplayState {
    int flags = DebugFlags;
    FILE *stream = DebugFP;
    int works = _torvel_dprintf_works;
    int broken = _torvel_dprintf_broken;
    mode_t mask = umask(022);

    ReplayState() { umask(mask); }
    void restore() const {
        DebugFlags = flags;
        DebugFP = stream;
        _torvel_dprintf_works = works;
        _torvel_dprintf_broken = broken;
        umask(mask);
    }
};

// Replays the debug lines kept in memory into out through the library's own
// dprintf, with every category on and no header. Writing takes the service
// account's identity, which a root process without one cannot learn: that
// switch is tried first, so a failure comes before any line is taken from
// the list and the lines stay for the next call.
void replay_saved_lines(FILE *out) {
    priv_state previous = _torvel_set_priv_for_files(PRIV_TORVEL, __FILE__, __LINE__);
    _set_priv(previous, __FILE__, __LINE__, 0);
    DebugFP = out;
    DebugFlags = static_cast<int>(D_ALL | D_NOHEADER);
    _torvel_dprintf_works = 1;
    _torvel_dprintf_saved_lines();
}

// Most saved texts end with their own newline, and the replay adds one:
// empty lines are dropped.
std::string without_empty_lines(const char *text, size_t size) {
    std::string joined;
    size_t start = 0;
    while (start < size) {
        const char *newline = static_cast<const char *>(memchr(text + start, '\n', size - start));
        size_t end = newline != nullptr ? static_cast<size_t>(newline - text) : size;
        if (end > start) {
            joined.append(text + start, end - start).append("\n");
        }
        start = end + 1;
    }
    return joined;
}

// The library's debug lines kept in memory (nothing sets up a log inside
// the interpreter), written out and forgotten.
std::string saved_debug_lines() {
    char *text = nullptr;
    size_t size = 0;
    FILE *out = open_memstream(&text, &size);
    if (out == nullptr) {
        throw ConfigFailure{"can't collect the debug lines: out of memory"};
    }
    ReplayState state;
    priv_state ids = get_priv();
    int status = 0;
    std::string line;
    std::string printed;
    bool replayed = false;
    {
        StderrCapture capture;
        auto step = [out]() { replay_saved_lines(out); };
        replayed = run_trapped(step, &status, &line, /*keep_mask=*/true);
        printed = capture.finish();
    }
    state.restore();
    fclose(out);
    std::string lines = without_empty_lines(text, size);
    free(text);
    if (!replayed) {
        _set_priv(ids, __FILE__, __LINE__, 0);
        throw ConfigFailure{fatal_message(status, printed, line)};
    }
    pass_on(printed);
    return lines;
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
    m.def("param_float", &param_float_value, py::arg("name"), py::arg("default"),
          py::arg("min") = -FLT_MAX, py::arg("max") = FLT_MAX,
          "The value of name as a float (single precision) within min..max; default when "
          "undefined or not a number.");
    m.def("param_bool", &param_bool, py::arg("name"), py::arg("default"),
          "The value of name as a bool (T/t/1, F/f/0); default otherwise.");
    m.def("expand", &expand, py::arg("text"), "text with the configuration's macros expanded.");
    m.def("where", &where, py::arg("name"),
          "(file, line) where name's value was set ('<Internal>' / '<Environment>' with -1), "
          "or None when nothing is recorded.");
    m.def("saved_debug_lines", &saved_debug_lines,
          "The library's debug lines kept in memory since the last call, as one text.");
}
