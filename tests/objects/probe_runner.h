// Runs the objects' test programs (and nm) as child processes and reads
// their key=value output. Test code only.
#ifndef TORVEL_TESTS_OBJECTS_PROBE_RUNNER_H_
#define TORVEL_TESTS_OBJECTS_PROBE_RUNNER_H_

#include <stdio.h>
#include <unistd.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/run_program.h"

namespace torvel_objects_test {

inline std::string object_path(const std::string &name) {
    return std::string(TORVEL_BINARY_DIR) + "/objects/" + name + ".o";
}

inline std::string probe_path(const std::string &name) {
    return std::string(TORVEL_BINARY_DIR) + "/objects/objects_" + name + "_probe";
}

using RunResult = torvel_test::ProgramRun;

// This process's environment with entries set ("NAME=value") or removed
// ("NAME").
inline std::vector<std::string> changed_environment(const std::vector<std::string> &changes) {
    std::vector<std::string> env;
    for (char **entry = environ; *entry != nullptr; ++entry) {
        env.push_back(*entry);
    }
    for (const std::string &change : changes) {
        std::string name = change.substr(0, change.find('='));
        for (size_t i = 0; i < env.size();) {
            if (env[i].compare(0, name.size() + 1, name + "=") == 0) {
                env.erase(env.begin() + static_cast<long>(i));
            } else {
                ++i;
            }
        }
        if (change.find('=') != std::string::npos) {
            env.push_back(change);
        }
    }
    return env;
}

// Runs argv[0] (a path) with argv, environment entries set ("NAME=value") or
// removed ("NAME"), standard input empty; its standard error is passed on to
// ours.
inline RunResult run_program(const std::vector<std::string> &argv,
                             const std::vector<std::string> &env = {}) {
    std::vector<std::string> args(argv.begin() + 1, argv.end());
    RunResult run = torvel_test::RunProgram(argv[0], args, changed_environment(env));
    if (!run.err.empty()) {
        fputs(run.err.c_str(), stderr);
    }
    return run;
}

// The key=value lines of a probe's output; later keys win.
inline std::map<std::string, std::string> parse_values(const std::string &out) {
    std::map<std::string, std::string> values;
    size_t start = 0;
    while (start < out.size()) {
        size_t end = out.find('\n', start);
        if (end == std::string::npos) {
            end = out.size();
        }
        std::string line = out.substr(start, end - start);
        size_t equals = line.find('=');
        if (equals != std::string::npos) {
            values[line.substr(0, equals)] = line.substr(equals + 1);
        }
        start = end + 1;
    }
    return values;
}

// Runs a probe and returns its values; status is the probe's exit status.
inline std::map<std::string, std::string> run_probe(const std::string &name,
                                                    const std::vector<std::string> &args,
                                                    const std::vector<std::string> &env,
                                                    int *status) {
    std::vector<std::string> argv{probe_path(name)};
    argv.insert(argv.end(), args.begin(), args.end());
    RunResult run = run_program(argv, env);
    *status = run.status;
    return parse_values(run.out);
}

}  // namespace torvel_objects_test

#endif  // TORVEL_TESTS_OBJECTS_PROBE_RUNNER_H_
