// Runs the objects' test programs (and nm) as child processes and reads
// their key=value output. Test code only.
#ifndef TORVEL_TESTS_OBJECTS_PROBE_RUNNER_H_
#define TORVEL_TESTS_OBJECTS_PROBE_RUNNER_H_

#include <fcntl.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

namespace torvel_objects_test {

inline std::string object_path(const std::string &name) {
    return std::string(TORVEL_BINARY_DIR) + "/objects/" + name + ".o";
}

inline std::string probe_path(const std::string &name) {
    return std::string(TORVEL_BINARY_DIR) + "/objects/objects_" + name + "_probe";
}

struct RunResult {
    int status = -1;  // exit status, or -1 when the program did not exit normally
    std::string out;
};

// Runs argv[0] (a path) with argv, environment entries set ("NAME=value") or
// removed ("NAME"), standard input from /dev/null and standard error kept.
inline RunResult run_program(const std::vector<std::string> &argv,
                             const std::vector<std::string> &env = {}) {
    RunResult result;
    int pipe_fds[2];
    if (pipe2(pipe_fds, O_CLOEXEC) != 0) {
        return result;
    }
    pid_t pid = fork();
    if (pid == 0) {
        close(pipe_fds[0]);
        dup2(pipe_fds[1], 1);
        close(pipe_fds[1]);
        int null_fd = open("/dev/null", O_RDONLY);
        dup2(null_fd, 0);
        for (const std::string &entry : env) {
            size_t equals = entry.find('=');
            if (equals == std::string::npos) {
                unsetenv(entry.c_str());
            } else {
                setenv(entry.substr(0, equals).c_str(), entry.c_str() + equals + 1, 1);
            }
        }
        std::vector<char *> args;
        for (const std::string &arg : argv) {
            args.push_back(const_cast<char *>(arg.c_str()));
        }
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    close(pipe_fds[1]);
    if (pid < 0) {
        close(pipe_fds[0]);
        return result;
    }
    char buffer[4096];
    ssize_t got;
    while ((got = read(pipe_fds[0], buffer, sizeof buffer)) > 0) {
        result.out.append(buffer, static_cast<size_t>(got));
    }
    close(pipe_fds[0]);
    int status = 0;
    if (waitpid(pid, &status, 0) == pid && WIFEXITED(status)) {
        result.status = WEXITSTATUS(status);
    }
    return result;
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
