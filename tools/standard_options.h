// The command lines of torvel_config_val, classad_eval and nbx_broker, read
// alike by GNU's rules for long options: "--opt value" and "--opt=value",
// options and operands in any order, "--" ending the options, --help and
// --version understood by every program, and a bad option named in the
// message. Single-dash words are operands where the program allows them (an
// expression such as "-v"), unknown options otherwise; there are no short
// options and no abbreviations, so adding an option never changes what an
// existing command line means. Touches no process-wide state except
// standard output and standard error in the printing helpers.
#ifndef TORVEL_TOOLS_STANDARD_OPTIONS_H_
#define TORVEL_TOOLS_STANDARD_OPTIONS_H_

#include <string>
#include <vector>

// One long option of a program.
struct ToolOption {
    const char *name;  // with its dashes: "--my"
    bool takes_value;  // "--my FILE" or "--my=FILE"
};

// One option as given: its index in the program's table and its value.
struct ToolOptionUse {
    int option;
    const char *value;  // borrowed from argv; null for an option without a value
};

// What a command line asks for.
enum ToolRequest {
    kToolRun,       // uses and operands hold the command line
    kToolHelp,      // --help came first among the options
    kToolVersion,   // --version came first among the options
    kToolBadUsage,  // error holds the reason, naming the bad word
};

struct ToolCommandLine {
    std::vector<ToolOptionUse> uses;  // in the order given
    std::vector<char *> operands;     // in the order given, "--" left out; borrowed from argv
    std::string error;                // for kToolBadUsage: "unknown option '--x'"
};

// Reads argv[1..argc-1] into line. Options are read in order, so --help or
// --version answers at once and a bad option before it wins. A word that
// takes a value takes the next word whatever it is (as getopt does).
// dash_operands: whether "-x" is an operand (otherwise an unknown option);
// "-" alone is always an operand. options has option_count entries and is
// borrowed for the call.
ToolRequest tool_read_command_line(int argc, char **argv, const ToolOption *options,
                                   int option_count, bool dash_operands, ToolCommandLine *line);

// Prints the answer to kToolHelp (help_text as it is) or kToolVersion
// ("PROGRAM (Torvel) VERSION", then the library's version string) on
// standard output and returns the exit status: 0, or 1 with
// "PROGRAM: write error: REASON" when the answer was lost. Closes standard
// output: call as the program's last step.
int tool_answer(const char *program, ToolRequest request, const char *help_text);

// Writes "PROGRAM: REASON" and then usage on standard error; returns 2, the
// status of bad usage.
int tool_usage_error(const char *program, const std::string &reason, const char *usage);

// "'WORD'" with WORD quoted by at most its first 200 bytes, escaped, as a
// bad word appears in messages.
std::string tool_quote(const char *word);

#endif  // TORVEL_TOOLS_STANDARD_OPTIONS_H_
