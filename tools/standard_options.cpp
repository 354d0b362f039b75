// --help and --version of the administrator tools. The version line is the
// library's own marker string, so what a tool reports is exactly what
// TorvelVersionInfo reads out of the program file.
#include "tools/standard_options.h"

#include <string.h>

#include "tools/tool_output.h"
#include "version/torvel_version.h"

int tool_standard_option(int argc, char **argv, const char *help_text) {
    if (argc < 2) {
        return -1;
    }
    if (strcmp(argv[1], "--help") == 0) {
        tool_printf("%s", help_text);
    } else if (strcmp(argv[1], "--version") == 0) {
        tool_printf("%s\n", TorvelVersion());
    } else {
        return -1;
    }
    return 0;
}
