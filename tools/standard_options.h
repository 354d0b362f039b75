// The options every administrator tool answers alike, before it reads its
// other arguments or the configuration: --help prints the tool's help text
// on standard output and --version the library's version string; both exit
// 0. Usage errors are the tool's own (one usage line on standard error,
// status 2).
#ifndef TORVEL_TOOLS_STANDARD_OPTIONS_H_
#define TORVEL_TOOLS_STANDARD_OPTIONS_H_

// When argv[1] is "--help" or "--version", prints the answer (help_text is
// printed as it is) and returns 0, the status to hand to tool_finish_output
// (which turns a lost answer into 1); otherwise -1 and prints nothing.
// help_text is borrowed for the call.
int tool_standard_option(int argc, char **argv, const char *help_text);

#endif  // TORVEL_TOOLS_STANDARD_OPTIONS_H_
