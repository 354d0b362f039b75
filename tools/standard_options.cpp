// The shared command-line reader of the administrator tools and the broker,
// and their answers to --help and --version. The version answer names the
// package's version and then the library's own marker string, so what a
// program reports is also what TorvelVersionInfo reads out of its file.
#include "tools/standard_options.h"

#include <stdio.h>
#include <string.h>

#include "core/line_excerpt.h"
#include "tools/tool_output.h"
#include "version/torvel_version.h"

#ifndef TORVEL_PACKAGE_VERSION
#error "the build defines TORVEL_PACKAGE_VERSION (the project's version)"
#endif

namespace {

// Options every program understands; their indexes are below the table's.
const ToolOption kStandard[] = {{"--help", false}, {"--version", false}};

// The table entry named by the first name_length bytes of word, or null.
const ToolOption *find_option(const ToolOption *options, int count, const char *word,
                              size_t name_length, int *index) {
    for (int k = 0; k < count; ++k) {
        if (strlen(options[k].name) == name_length &&
            strncmp(options[k].name, word, name_length) == 0) {
            *index = k;
            return &options[k];
        }
    }
    return nullptr;
}

// Reads the option word argv[*i] (which starts with "--") into line;
// advances *i past a separate value. kToolRun, kToolHelp, kToolVersion or
// kToolBadUsage.
ToolRequest read_option(int argc, char **argv, int *i, const ToolOption *options, int count,
                        ToolCommandLine *line) {
    const char *word = argv[*i];
    const char *equals = strchr(word, '=');
    size_t name_length = equals != nullptr ? static_cast<size_t>(equals - word) : strlen(word);
    int index = -1;
    const ToolOption *option = find_option(kStandard, 2, word, name_length, &index);
    bool standard = option != nullptr;
    if (!standard) {
        option = find_option(options, count, word, name_length, &index);
    }
    if (option == nullptr) {
        line->error = "unknown option " + tool_quote(word);
        return kToolBadUsage;
    }
    const char *value = nullptr;
    if (!option->takes_value && equals != nullptr) {
        line->error = "option " + tool_quote(option->name) + " takes no value";
        return kToolBadUsage;
    }
    if (option->takes_value) {
        if (equals != nullptr) {
            value = equals + 1;
        } else if (*i + 1 < argc) {
            value = argv[++*i];
        } else {
            line->error = "option " + tool_quote(option->name) + " needs a value";
            return kToolBadUsage;
        }
    }
    if (standard) {
        return index == 0 ? kToolHelp : kToolVersion;
    }
    line->uses.push_back({index, value});
    return kToolRun;
}

}  // namespace

ToolRequest tool_read_command_line(int argc, char **argv, const ToolOption *options,
                                   int option_count, bool dash_operands, ToolCommandLine *line) {
    line->uses.clear();
    line->operands.clear();
    line->error.clear();
    bool options_ended = false;
    for (int i = 1; i < argc; ++i) {
        char *word = argv[i];
        if (options_ended || word[0] != '-' || word[1] == '\0') {
            line->operands.push_back(word);
        } else if (strcmp(word, "--") == 0) {
            options_ended = true;
        } else if (word[1] != '-') {
            if (!dash_operands) {
                line->error = "unknown option " + tool_quote(word);
                return kToolBadUsage;
            }
            line->operands.push_back(word);
        } else {
            ToolRequest request = read_option(argc, argv, &i, options, option_count, line);
            if (request != kToolRun) {
                return request;
            }
        }
    }
    return kToolRun;
}

int tool_answer(const char *program, ToolRequest request, const char *help_text) {
    if (request == kToolHelp) {
        tool_printf("%s", help_text);
    } else {
        tool_printf("%s (Torvel) %s\n%s\n", program, TORVEL_PACKAGE_VERSION, TorvelVersion());
    }
    return tool_finish_output(program, 0);
}

int tool_usage_error(const char *program, const std::string &reason, const char *usage) {
    fprintf(stderr, "%s: %s\n%s", program, reason.c_str(), usage);
    return 2;
}

std::string tool_quote(const char *word) {
    return "'" + std::string(line_excerpt(word).Value()) + "'";
}
