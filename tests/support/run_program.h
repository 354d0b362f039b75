// Runs a built program in a child process with an explicit environment
// (never the machine's own variables), text on standard input, and collects
// its exit status and both output streams. Test code only: the caller's
// process forks, and a child that outlives the time limit is killed.
#ifndef TORVEL_TESTS_SUPPORT_RUN_PROGRAM_H_
#define TORVEL_TESTS_SUPPORT_RUN_PROGRAM_H_

#include <errno.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

namespace torvel_test {

struct ProgramRun {
    int status = -1;           // exit status, or -1 when the child did not exit normally
    bool timed_out = false;    // killed after the time limit
    bool input_short = false;  // standard input could not be written whole
    std::string failure;       // why the child could not be started, or ""
    std::string out;
    std::string err;
};

struct ProgramOptions {
    std::string input;  // small: written before reading, so it must fit a pipe
    int timeout_seconds = 60;
    // Runs in the child just before exec; false makes it exit with
    // setup_failed_status.
    std::function<bool()> child_setup;
    int setup_failed_status = 126;
    int exec_failed_status = 127;
};

// The sanitizer settings of this process as "NAME=value" entries, so a
// sanitizer build keeps them in the child; configuration reads none of them.
inline std::vector<std::string> SanitizerEnv() {
    std::vector<std::string> env;
    for (const char *name : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"}) {
        const char *value = getenv(name);
        if (value != nullptr) {
            env.push_back(std::string(name) + "=" + value);
        }
    }
    return env;
}

// SanitizerEnv for a program run under ptrace (strace, gdb): the leak
// check cannot run there and would fail the program at exit, so it is off.
inline std::vector<std::string> SanitizerEnvUnderPtrace() {
    std::vector<std::string> env;
    bool asan_seen = false;
    for (std::string entry : SanitizerEnv()) {
        if (entry.compare(0, 13, "ASAN_OPTIONS=") == 0) {
            entry += entry.size() > 13 ? ":detect_leaks=0" : "detect_leaks=0";
            asan_seen = true;
        }
        env.push_back(entry);
    }
    if (!asan_seen) env.push_back("ASAN_OPTIONS=detect_leaks=0");
    return env;
}

namespace run_program_internal {

[[noreturn]] inline void ExecChild(const std::string &program, const std::vector<std::string> &args,
                                   const std::vector<std::string> &env,
                                   const ProgramOptions &options, int fds[6]) {
    dup2(fds[0], 0);
    dup2(fds[3], 1);
    dup2(fds[5], 2);
    for (int i = 0; i < 6; ++i) {
        if (fds[i] > 2) {
            close(fds[i]);
        }
    }
    std::vector<std::string> child_args = {program};
    child_args.insert(child_args.end(), args.begin(), args.end());
    std::vector<std::string> child_env = env;
    std::vector<char *> argv, envp;
    for (std::string &a : child_args) argv.push_back(&a[0]);
    argv.push_back(nullptr);
    for (std::string &e : child_env) envp.push_back(&e[0]);
    envp.push_back(nullptr);
    if (options.child_setup && !options.child_setup()) {
        _exit(options.setup_failed_status);
    }
    execve(program.c_str(), argv.data(), envp.data());
    _exit(options.exec_failed_status);
}

// Reads both pipes to their end; false when the deadline passed first.
inline bool Drain(int out_fd, int err_fd, ProgramRun *run, int timeout_seconds) {
    struct pollfd fds[2] = {{out_fd, POLLIN, 0}, {err_fd, POLLIN, 0}};
    std::string *sinks[2] = {&run->out, &run->err};
    time_t deadline = time(nullptr) + timeout_seconds;
    int open_count = 2;
    while (open_count > 0) {
        int left = static_cast<int>(deadline - time(nullptr));
        if (left <= 0 || poll(fds, 2, left * 1000) <= 0) {
            return false;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) continue;
            char buffer[4096];
            ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
            if (n > 0) {
                sinks[i]->append(buffer, static_cast<size_t>(n));
            } else {
                fds[i].fd = -1;
                --open_count;
            }
        }
    }
    return true;
}

}  // namespace run_program_internal

// Runs program (a path) with args after argv[0] and exactly the environment
// env ("NAME=value" entries).
inline ProgramRun RunProgram(const std::string &program, const std::vector<std::string> &args,
                             const std::vector<std::string> &env,
                             const ProgramOptions &options = ProgramOptions()) {
    ProgramRun run;
    int fds[6];  // stdin read/write, stdout read/write, stderr read/write
    if (pipe(fds) != 0 || pipe(fds + 2) != 0 || pipe(fds + 4) != 0) {
        run.failure = std::string("pipe: ") + strerror(errno);
        return run;
    }
    pid_t pid = fork();
    if (pid == 0) {
        int child_fds[6] = {fds[0], fds[1], fds[2], fds[3], fds[4], fds[5]};
        run_program_internal::ExecChild(program, args, env, options, child_fds);
    }
    close(fds[0]);
    close(fds[3]);
    close(fds[5]);
    if (pid < 0) {
        run.failure = std::string("fork: ") + strerror(errno);
        close(fds[1]);
        close(fds[2]);
        close(fds[4]);
        return run;
    }
    if (!options.input.empty() && write(fds[1], options.input.data(), options.input.size()) !=
                                      static_cast<ssize_t>(options.input.size())) {
        run.input_short = true;
    }
    close(fds[1]);
    bool finished = run_program_internal::Drain(fds[2], fds[4], &run, options.timeout_seconds);
    close(fds[2]);
    close(fds[4]);
    if (!finished) {
        run.timed_out = true;
        kill(pid, SIGKILL);
    }
    int status = 0;
    if (waitpid(pid, &status, 0) == pid && WIFEXITED(status)) {
        run.status = WEXITSTATUS(status);
    }
    return run;
}

}  // namespace torvel_test

#endif  // TORVEL_TESTS_SUPPORT_RUN_PROGRAM_H_
