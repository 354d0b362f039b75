// Shared by the tools' end-to-end tests: runs a built program in a child
// process with an explicit minimal environment (never the machine's own
// configuration or variables), optional standard input, and collects its
// exit status and both output streams; and a scratch directory for the
// configuration and ad files a test writes.
#ifndef TORVEL_TESTS_TOOLS_TOOL_RUNNER_H_
#define TORVEL_TESTS_TOOLS_TOOL_RUNNER_H_

#include <stdio.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "tests/support/run_program.h"
#include "tests/support/temp_dir.h"

namespace tools_test {

const char kConfigVal[] = TORVEL_BINARY_DIR "/tools/torvel_config_val";
const char kClassadEval[] = TORVEL_BINARY_DIR "/tools/classad_eval";
const char kLauncher[] = TORVEL_BINARY_DIR "/launcher/gt3_gahp_launcher";

using RunResult = torvel_test::ProgramRun;

// The lines of text, without their newlines.
inline std::vector<std::string> Lines(const std::string &text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

// Runs program with args and exactly the environment env (plus PATH and the
// sanitizer settings), feeding input on standard input.
inline RunResult RunProgram(const char *program, const std::vector<std::string> &args,
                            const std::vector<std::string> &env, const std::string &input = "") {
    std::vector<std::string> child_env = {"PATH=/usr/bin:/bin"};
    for (const std::string &entry : torvel_test::SanitizerEnv()) child_env.push_back(entry);
    child_env.insert(child_env.end(), env.begin(), env.end());
    torvel_test::ProgramOptions options;
    options.input = input;
    return torvel_test::RunProgram(program, args, child_env, options);
}

// A scratch directory removed with everything written into it.
class ScratchDir : public torvel_test::TempDir {
 public:
    ScratchDir() : TempDir("torvel_tools_test", "/tmp") {}
};

}  // namespace tools_test

#endif  // TORVEL_TESTS_TOOLS_TOOL_RUNNER_H_
