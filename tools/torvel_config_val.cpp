// torvel_config_val: shows an administrator what the configuration really
// says. Loads the configuration exactly as the launcher does (config(0):
// same search order, same failures, messages and exit statuses), then
// answers one query with the library's own lookups:
//
//   torvel_config_val [--subsystem NAME] [--debug] NAME...
//                     | --where NAME | --raw NAME | --expand TEXT | --dump
//                     | --int NAME DEFAULT MIN MAX | --float NAME DEFAULT MIN MAX
//                     | --bool NAME DEFAULT
//
// Exit status: 0, or 1 when a name is undefined (or an expansion fails) or
// the answer cannot be written ("torvel_config_val: write error: REASON"), 2
// for bad usage (checked before the configuration is read); --help and
// --version answer before anything else and exit 0. Options and NAMEs may
// come in any order, "--opt=value" as well as "--opt value"; after "--"
// every word is an operand. Bad usage prints the reason, naming a bad
// option, and then the usage line. --subsystem
// points mySubSystem at its argument; --debug writes the debug lines the
// library kept in memory to standard error before exiting.
#include <errno.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "config/config_startup.h"
#include "config/macro_table.h"
#include "config/param.h"
#include "config/subsystem.h"
#include "core/my_string.h"
#include "diagnostics/debug_log.h"
#include "tools/standard_options.h"
#include "tools/tool_output.h"

// "TOOL" as in the launcher, unless --subsystem names another.
const char *mySubSystem = "TOOL";

namespace {

// The name that begins the program's own messages.
const char kProgram[] = "torvel_config_val";

// The usage line: alone on bad usage, first line of --help.
#define CONFIG_VAL_USAGE                                                            \
    "Usage: torvel_config_val [--subsystem NAME] [--debug] {NAME... | --where NAME" \
    " | --raw NAME | --int NAME DEFAULT MIN MAX | --float NAME DEFAULT MIN MAX"     \
    " | --bool NAME DEFAULT | --expand TEXT | --dump}\n"

const char kUsage[] = CONFIG_VAL_USAGE;

// --help: the usage line, then one line per query.
const char kHelp[] = CONFIG_VAL_USAGE
    "Loads the configuration as every program of the product does and answers one query.\n"
    "\n"
    "  NAME...                     the expanded value of each NAME, one per line\n"
    "  --where NAME                NAME = value, then the file and line that set it\n"
    "  --raw NAME                  the stored value, macros not expanded\n"
    "  --int NAME DEFAULT MIN MAX  the value as an integer within MIN..MAX\n"
    "  --float NAME DEFAULT MIN MAX\n"
    "                              the value as a float within MIN..MAX\n"
    "  --bool NAME DEFAULT         the value as true or false (DEFAULT: true or false)\n"
    "  --expand TEXT               TEXT with its macros expanded\n"
    "  --dump                      every entry of the configuration: name = raw value\n"
    "  --subsystem NAME            look SUBSYSTEM.NAME up before NAME (default TOOL)\n"
    "  --debug                     write the library's saved debug lines to standard error\n"
    "  --help                      this text\n"
    "  --version                   the program's version and the library's version string\n"
    "\n"
    "Options take their value as --raw NAME or --raw=NAME; after --, every word is\n"
    "an operand.\n"
    "The configuration is found through TORVEL_CONFIG, /etc/torvel/torvel_config,\n"
    "~torvel/torvel_config or $GLOBUS_LOCATION/etc/torvel_config.\n"
    "Exit status: 0; 1 when a NAME is undefined, an expansion fails or the answer\n"
    "cannot be written; 2 for bad usage.\n";

enum class Mode { kNames, kWhere, kRaw, kInt, kFloat, kBool, kExpand, kDump };

// One parsed command line. name and operands borrow argv.
struct Request {
    Mode mode = Mode::kNames;
    bool debug = false;
    const char *name = nullptr;    // the query option's NAME or TEXT
    std::vector<char *> operands;  // the NAMEs, or what follows a query option's NAME
    int int_default = 0, int_min = 0, int_max = 0;
    float float_default = 0, float_min = 0, float_max = 0;
    bool bool_default = false;
};

// The options, query options first: their index is their place in kModes.
const ToolOption kOptions[] = {
    {"--where", true}, {"--raw", true},       {"--int", true},
    {"--float", true}, {"--bool", true},      {"--expand", true},
    {"--dump", false}, {"--subsystem", true}, {"--debug", false},
};
const int kOptionCount = sizeof kOptions / sizeof kOptions[0];
const int kSubsystemOption = 7;
const int kDebugOption = 8;

// A query option's mode, the operands after its NAME and what they are.
struct ModeOption {
    Mode mode;
    size_t operands;
    const char *form;
};

const ModeOption kModes[] = {
    {Mode::kWhere, 0, "NAME"},
    {Mode::kRaw, 0, "NAME"},
    {Mode::kInt, 3, "NAME DEFAULT MIN MAX"},
    {Mode::kFloat, 3, "NAME DEFAULT MIN MAX"},
    {Mode::kBool, 1, "NAME DEFAULT (true or false)"},
    {Mode::kExpand, 0, "TEXT"},
    {Mode::kDump, 0, ""},
};
static_assert(sizeof kModes / sizeof kModes[0] == kSubsystemOption &&
                  kDebugOption + 1 == kOptionCount,
              "kOptions lists the query options, then --subsystem and --debug");

bool parse_int(const char *text, int &out) {
    char *end = nullptr;
    errno = 0;
    long value = strtol(text, &end, 10);
    if (end == text || *end != '\0' || errno != 0 || value < INT_MIN || value > INT_MAX) {
        return false;
    }
    out = static_cast<int>(value);
    return true;
}

bool parse_float(const char *text, float &out) {
    char *end = nullptr;
    errno = 0;
    float value = strtof(text, &end);
    if (end == text || *end != '\0' || errno == ERANGE) {
        return false;
    }
    out = value;
    return true;
}

bool parse_bool(const char *text, bool &out) {
    if (strcmp(text, "true") == 0 || strcmp(text, "false") == 0) {
        out = text[0] == 't';
        return true;
    }
    return false;
}

// The DEFAULT MIN MAX (or DEFAULT) operands of the typed queries.
bool parse_typed_operands(Request &request) {
    const std::vector<char *> &ops = request.operands;
    switch (request.mode) {
        case Mode::kInt:
            return parse_int(ops[0], request.int_default) && parse_int(ops[1], request.int_min) &&
                   parse_int(ops[2], request.int_max);
        case Mode::kFloat:
            return parse_float(ops[0], request.float_default) &&
                   parse_float(ops[1], request.float_min) && parse_float(ops[2], request.float_max);
        case Mode::kBool:
            return parse_bool(ops[0], request.bool_default);
        default:
            return true;
    }
}

// Fills request from the options read; "" or the reason of bad usage.
std::string apply_options(const ToolCommandLine &line, Request &request) {
    int query = -1;
    bool subsystem_given = false;
    for (const ToolOptionUse &use : line.uses) {
        if (use.option == kDebugOption) {
            request.debug = true;
        } else if (use.option == kSubsystemOption) {
            if (subsystem_given) {
                return "option '--subsystem' given twice";
            }
            subsystem_given = true;
            mySubSystem = use.value;
        } else if (query >= 0) {
            return "option " + tool_quote(kOptions[use.option].name) + " does not go with " +
                   tool_quote(kOptions[query].name);
        } else {
            query = use.option;
            request.mode = kModes[query].mode;
            request.name = use.value;
        }
    }
    request.operands = line.operands;
    if (query < 0) {
        // Configuration names never begin with "-": such a word is a
        // misspelt option.
        for (char *name : request.operands) {
            if (name[0] == '-') {
                return "unknown option " + tool_quote(name);
            }
        }
        return request.operands.empty() ? "no NAME given" : "";
    }
    const ModeOption &mode = kModes[query];
    if (request.operands.size() != mode.operands) {
        if (mode.operands == 0) {
            return "extra operand " + tool_quote(request.operands[0]);
        }
        return "option " + tool_quote(kOptions[query].name) + " takes " + mode.form;
    }
    if (!parse_typed_operands(request)) {
        return "option " + tool_quote(kOptions[query].name) + " takes " + mode.form + ": bad value";
    }
    return "";
}

// param(name) on its own line, as "name = value" with with_name; false
// (with the message) when undefined.
bool print_value(const char *name, bool with_name) {
    char *value = param(name);
    if (value == nullptr) {
        fprintf(stderr, "Not defined: %s\n", name);
        return false;
    }
    if (with_name) {
        tool_printf("%s = %s\n", name, value);
    } else {
        tool_printf("%s\n", value);
    }
    free(value);
    return true;
}

// The provenance line of the key param used: "<SUBSYS>.name" when that key
// exists (even empty, it decides the value), else name itself.
void print_location(const char *name) {
    std::string specific = std::string(mySubSystem) + "." + name;
    const char *key = lookup_macro(specific.c_str(), ConfigTab, CONFIG_TABLE_SIZE) != nullptr
                          ? specific.c_str()
                          : name;
    MyString file("<Undefined>");
    int line = -1;
    param_get_location(key, file, line);
    tool_printf("  # file %s, line %d\n", file.Value(), line);
}

int query_names(const Request &request) {
    int status = 0;
    for (size_t k = 0; k < request.operands.size() && tool_output_ok(); ++k) {
        if (!print_value(request.operands[k], false)) {
            status = 1;
        }
    }
    return status;
}

int query_raw(const char *name) {
    const char *raw = lookup_macro(name, ConfigTab, CONFIG_TABLE_SIZE);
    if (raw == nullptr) {
        fprintf(stderr, "Not defined: %s\n", name);
        return 1;
    }
    tool_printf("%s\n", raw);
    return 0;
}

int query_expand(const char *text) {
    char *expanded = macro_expand(text);
    if (expanded == nullptr) {
        return 1;  // expansion exceeded its bounds; the library said why
    }
    tool_printf("%s\n", expanded);
    free(expanded);
    return 0;
}

int query_dump() {
    MacroTableCursor *iter = hash_iter_begin(ConfigTab, CONFIG_TABLE_SIZE);
    for (; !hash_iter_done(iter); hash_iter_next(iter)) {
        if (!tool_printf("%s = %s\n", hash_iter_key(iter), hash_iter_value(iter))) {
            break;  // the rest would be lost as well
        }
    }
    hash_iter_delete(&iter);
    return 0;
}

int run_query(const Request &request) {
    const char *name = request.name;
    switch (request.mode) {
        case Mode::kNames:
            return query_names(request);
        case Mode::kWhere: {
            int status = print_value(name, true) ? 0 : 1;
            print_location(name);
            return status;
        }
        case Mode::kRaw:
            return query_raw(name);
        case Mode::kInt:
            tool_printf("%d\n",
                        param_integer(name, request.int_default, request.int_min, request.int_max));
            return 0;
        case Mode::kFloat:
            tool_printf("%f\n", param_float(name, request.float_default, request.float_min,
                                            request.float_max));
            return 0;
        case Mode::kBool:
            tool_printf("%s\n", param_boolean(name, request.bool_default) ? "true" : "false");
            return 0;
        case Mode::kExpand:
            return query_expand(name);
        case Mode::kDump:
            return query_dump();
    }
    return 0;
}

// Writes the debug lines kept in memory to standard error, one per line.
// The library writes each saved text followed by a newline, and most texts
// end with their own, so the lines go through a buffer and empty lines are
// dropped.
void write_saved_debug_lines() {
    char *text = nullptr;
    size_t size = 0;
    FILE *capture = open_memstream(&text, &size);
    if (capture == nullptr) {
        fprintf(stderr, "%s: can't capture the debug lines: %s\n", kProgram, strerror(errno));
        return;
    }
    FILE *previous = DebugFP;
    DebugFP = capture;
    DebugFlags = static_cast<int>(D_ALL | D_NOHEADER);
    _torvel_dprintf_works = 1;
    _torvel_dprintf_saved_lines();
    _torvel_dprintf_works = 0;
    DebugFP = previous;
    fclose(capture);
    for (char *line = text; line != nullptr && *line != '\0';) {
        char *end = strchr(line, '\n');
        size_t length = end != nullptr ? static_cast<size_t>(end - line) : strlen(line);
        if (length > 0) {
            fprintf(stderr, "%.*s\n", static_cast<int>(length), line);
        }
        line = end != nullptr ? end + 1 : nullptr;
    }
    free(text);
}

}  // namespace

int main(int argc, char **argv) {
    ToolCommandLine line;
    // Single-dash words are operands: the numbers of --int and --float.
    ToolRequest asked = tool_read_command_line(argc, argv, kOptions, kOptionCount, true, &line);
    if (asked == kToolHelp || asked == kToolVersion) {
        return tool_answer(kProgram, asked, kHelp);
    }
    Request request;
    std::string reason = asked == kToolBadUsage ? line.error : apply_options(line, request);
    if (!reason.empty()) {
        return tool_usage_error(kProgram, reason, kUsage);
    }
    config(0);
    int status = run_query(request);
    if (request.debug) {
        tool_flush_output();
        write_saved_debug_lines();
    }
    return tool_finish_output(kProgram, status);
}
