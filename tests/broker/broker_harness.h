// Helpers of the broker tests: long-running programs (the broker, echo
// servers) started with their output read line by line through a pipe, so
// tests wait for what a program says instead of sleeping; and the network
// namespaces of the end-to-end tests, named after the test process and
// removed on every exit path. Test code only.
#ifndef TORVEL_TESTS_BROKER_BROKER_HARNESS_H_
#define TORVEL_TESTS_BROKER_BROKER_HARNESS_H_

#include <dirent.h>
#include <errno.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/run_program.h"

namespace broker_harness {

inline std::string BuiltProgram(const std::string &name) {
    if (name == "nbx_broker") return std::string(TORVEL_BINARY_DIR) + "/broker/nbx_broker";
    return std::string(TORVEL_BINARY_DIR) + "/tests/" + name;
}

const char kIp[] = "/usr/sbin/ip";

// The environment every program of these tests gets: no machine
// configuration, the sanitizer settings, and the given entries.
inline std::vector<std::string> Environment(const std::vector<std::string> &extra) {
    std::vector<std::string> env = torvel_test::SanitizerEnv();
#ifdef __SANITIZE_ADDRESS__
    // Freed memory waits in the sanitizer's quarantine (256 MiB by default)
    // before it is reused, which would hide whether a program's memory stays
    // bounded; a small quarantine keeps resident memory meaningful.
    bool found = false;
    for (std::string &entry : env) {
        if (entry.compare(0, 13, "ASAN_OPTIONS=") == 0) {
            entry += ":quarantine_size_mb=4";
            found = true;
        }
    }
    if (!found) env.push_back("ASAN_OPTIONS=quarantine_size_mb=4");
#endif
    env.push_back("TORVEL_CONFIG=ONLY_ENV");
    env.push_back("PATH=/usr/sbin:/usr/bin:/sbin:/bin");
    env.insert(env.end(), extra.begin(), extra.end());
    return env;
}

// A program running in the background whose standard output and standard
// error come through one pipe, drained at all times by a thread of its own
// (a program must never block on a full pipe while a test waits elsewhere).
// Stopped (SIGTERM, then SIGKILL) when the object goes.
class Daemon {
 public:
    Daemon() = default;
    Daemon(const Daemon &) = delete;
    Daemon &operator=(const Daemon &) = delete;
    ~Daemon() { Kill(); }

    // argv[0] is a path. False when it could not be started.
    bool Start(const std::vector<std::string> &argv, const std::vector<std::string> &env) {
        int channel[2];
        if (pipe(channel) != 0) return false;
        fflush(nullptr);
        pid_ = fork();
        if (pid_ == 0) {
            dup2(channel[1], 1);
            dup2(channel[1], 2);
            close(channel[0]);
            close(channel[1]);
            std::vector<std::string> args = argv, vars = env;
            std::vector<char *> a, e;
            for (std::string &s : args) a.push_back(&s[0]);
            a.push_back(nullptr);
            for (std::string &s : vars) e.push_back(&s[0]);
            e.push_back(nullptr);
            execve(a[0], a.data(), e.data());
            _exit(127);
        }
        close(channel[1]);
        if (pid_ < 0) {
            close(channel[0]);
            return false;
        }
        int output = channel[0];
        reader_ = std::thread([this, output] { Drain(output); });
        return true;
    }

    // The first line after the last one returned that contains text, waiting
    // up to seconds; "" when none came.
    std::string WaitFor(const std::string &text, int seconds) {
        std::unique_lock<std::mutex> lock(mutex_);
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
        for (;;) {
            size_t end;
            while ((end = all_.find('\n', position_)) != std::string::npos) {
                std::string line = all_.substr(position_, end - position_);
                position_ = end + 1;
                if (line.find(text) != std::string::npos) return line;
            }
            if (closed_ || changed_.wait_until(lock, deadline) == std::cv_status::timeout) {
                return "";
            }
        }
    }

    // Sends sig and waits for the exit; the exit status, or -1 when it did
    // not exit normally within seconds (it is then killed).
    int Stop(int sig, int seconds) {
        if (pid_ <= 0) return -1;
        kill(pid_, sig);
        bool ended;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            ended =
                changed_.wait_for(lock, std::chrono::seconds(seconds), [this] { return closed_; });
        }
        if (!ended) {
            Kill();
            return -1;
        }
        // Its output ended with its descriptors: it is exiting now.
        int status = 0;
        waitpid(pid_, &status, 0);
        pid_ = -1;
        Join();
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    void Kill() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
            pid_ = -1;
        }
        Join();
    }

    pid_t pid() const { return pid_; }
    std::string all_output() {
        std::lock_guard<std::mutex> lock(mutex_);
        return all_;
    }

 private:
    // Reads until every writer has closed the pipe (the program ended).
    void Drain(int output) {
        char buffer[4096];
        ssize_t n;
        while ((n = read(output, buffer, sizeof buffer)) != 0) {
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) break;
            std::lock_guard<std::mutex> lock(mutex_);
            all_.append(buffer, static_cast<size_t>(n));
            changed_.notify_all();
        }
        close(output);
        std::lock_guard<std::mutex> lock(mutex_);
        closed_ = true;
        changed_.notify_all();
    }
    void Join() {
        if (reader_.joinable()) reader_.join();
    }

    pid_t pid_ = -1;
    std::thread reader_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::string all_;
    size_t position_ = 0;
    bool closed_ = false;
};

// The open descriptors of a process, or -1.
inline int DescriptorsOf(pid_t pid) {
    std::string path = "/proc/" + std::to_string(pid) + "/fd";
    DIR *dir = opendir(path.c_str());
    if (dir == nullptr) return -1;
    int count = 0;
    while (readdir(dir) != nullptr) ++count;
    closedir(dir);
    return count - 2;
}

// A process's resident memory in KiB, or -1.
inline long ResidentKiB(pid_t pid) {
    FILE *status = fopen(("/proc/" + std::to_string(pid) + "/status").c_str(), "r");
    if (status == nullptr) return -1;
    char line[256];
    long kib = -1;
    while (fgets(line, sizeof line, status) != nullptr) {
        if (strncmp(line, "VmRSS:", 6) == 0) kib = strtol(line + 6, nullptr, 10);
    }
    fclose(status);
    return kib;
}

// The three namespaces of the end-to-end tests: a private one (the server,
// 10.1.0.2/24), a public one (the client, 198.51.100.2/24) and the broker's,
// joined to both (10.1.0.1 and 198.51.100.1) with forwarding off, so the
// other two cannot reach each other. With a direct link, the private and
// public namespaces also reach each other over a veth pair of their own.
class Topology {
 public:
    static constexpr const char *kBrokerPrivate = "10.1.0.1";
    static constexpr const char *kServer = "10.1.0.2";
    static constexpr const char *kBrokerPublic = "198.51.100.1";
    static constexpr const char *kClient = "198.51.100.2";

    explicit Topology(bool direct_link) {
        tag_ = "nbx" + std::to_string(getpid());
        if (!Run(std::string(kIp) + " netns add " + Ns("b"))) {
            failure_ = "the kernel refused to create a network namespace";
            return;
        }
        made_ = true;
        std::string t = tag_;
        std::string script = Ip("netns add " + Ns("s")) + Ip("netns add " + Ns("c")) +
                             Ip("link add " + t + "a0 type veth peer name " + t + "a1") +
                             Ip("link add " + t + "c0 type veth peer name " + t + "c1") +
                             Ip("link set " + t + "a0 netns " + Ns("s")) +
                             Ip("link set " + t + "a1 netns " + Ns("b")) +
                             Ip("link set " + t + "c0 netns " + Ns("c")) +
                             Ip("link set " + t + "c1 netns " + Ns("b")) +
                             Ip("-n " + Ns("s") + " addr add 10.1.0.2/24 dev " + t + "a0") +
                             Ip("-n " + Ns("b") + " addr add 10.1.0.1/24 dev " + t + "a1") +
                             Ip("-n " + Ns("c") + " addr add 198.51.100.2/24 dev " + t + "c0") +
                             Ip("-n " + Ns("b") + " addr add 198.51.100.1/24 dev " + t + "c1");
        for (const char *ns : {"s", "b", "c"}) script += Ip("-n " + Ns(ns) + " link set lo up");
        for (std::string dev : {"a0", "c0"})
            script += Ip("-n " + Ns(dev == "a0" ? "s" : "c") + " link set " + t + dev + " up");
        for (std::string dev : {"a1", "c1"})
            script += Ip("-n " + Ns("b") + " link set " + t + dev + " up");
        if (direct_link) {
            script += Ip("link add " + t + "d0 type veth peer name " + t + "d1") +
                      Ip("link set " + t + "d0 netns " + Ns("s")) +
                      Ip("link set " + t + "d1 netns " + Ns("c")) +
                      Ip("-n " + Ns("s") + " link set " + t + "d0 up") +
                      Ip("-n " + Ns("c") + " link set " + t + "d1 up") +
                      Ip("-n " + Ns("s") + " route add 198.51.100.2/32 dev " + t + "d0") +
                      Ip("-n " + Ns("c") + " route add 10.1.0.2/32 dev " + t + "d1");
        }
        script += "ip netns exec " + Ns("b") + " sysctl -qw net.ipv4.ip_forward=0";
        if (!Run(script)) failure_ = "ip failed to build the test networks";
    }
    ~Topology() {
        if (!made_) return;
        for (const char *ns : {"s", "b", "c"}) {
            Run("for p in $(" + std::string(kIp) + " netns pids " + Ns(ns) +
                " 2>/dev/null); do kill -9 $p; done; " + kIp + " netns del " + Ns(ns) +
                " 2>/dev/null");
        }
    }
    Topology(const Topology &) = delete;
    Topology &operator=(const Topology &) = delete;

    const std::string &failure() const { return failure_; }
    // "s" (server), "b" (broker), "c" (client).
    std::string Ns(const char *which) const { return tag_ + which; }

    // argv to run program with args inside a namespace.
    std::vector<std::string> In(const char *which, const std::string &program,
                                const std::vector<std::string> &args) const {
        std::vector<std::string> argv = {kIp, "netns", "exec", Ns(which), BuiltProgram(program)};
        argv.insert(argv.end(), args.begin(), args.end());
        return argv;
    }

 private:
    static bool Run(const std::string &command) {
        return system((command + " >/dev/null 2>&1").c_str()) == 0;
    }
    static std::string Ip(const std::string &args) {
        return std::string(kIp) + " " + args + " && ";
    }

    std::string tag_;
    std::string failure_;
    bool made_ = false;
};

}  // namespace broker_harness

#endif  // TORVEL_TESTS_BROKER_BROKER_HARNESS_H_
