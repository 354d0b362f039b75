// Helpers of the network-identity tests. Host discovery is process-wide
// and reads the machine's name and resolver, so those tests run their body
// in a forked child that first enters its own namespaces: a private mount
// namespace with the test's hosts, nsswitch.conf ("hosts: files", so no DNS
// is ever asked) and host.conf bound over the machine's, a private UTS
// namespace with the test's host name, and, for binding tests, a private
// network namespace with only its loopback interface up. The machine's own
// files, name and network are never touched; everything ends with the
// child.
//
// The body returns text (one line per fact); the parent gets it back with
// the child's exit status and standard error, so tests compare whole
// results and can check fatal exits.
#ifndef TORVEL_TESTS_NET_NET_CHILD_H_
#define TORVEL_TESTS_NET_NET_CHILD_H_

#include <errno.h>
#include <net/if.h>
#include <sched.h>
#include <stdio.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <string>

#include "nbx/wrappers.h"
#include "tests/support/read_to_end.h"
#include "tests/support/temp_dir.h"

namespace net_test {

struct ChildResult {
    int status = -1;  // exit status; -1 when killed by a signal
    std::string out;  // what the body returned
    std::string err;  // the child's standard error
};

// Exit status of a child whose namespace set-up failed.
constexpr int kSetupFailed = 125;

namespace child_internal {

inline void WriteAll(int fd, const std::string &text) {
    const char *p = text.data();
    size_t left = text.size();
    while (left > 0) {
        ssize_t n = __real_write(fd, p, left);
        if (n <= 0) {
            break;
        }
        p += n;
        left -= static_cast<size_t>(n);
    }
}

}  // namespace child_internal

// Runs setup and then body in a forked child. A false setup ends the child
// with kSetupFailed. Standard error is collected after the body's text
// (both are small: the pipes are read after the child ends).
inline ChildResult RunChild(const std::function<bool()> &setup,
                            const std::function<std::string()> &body) {
    ChildResult result;
    int out[2], err[2];
    if (pipe(out) != 0 || pipe(err) != 0) {
        result.err = std::string("pipe: ") + strerror(errno);
        return result;
    }
    fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        __real_close(out[0]);
        __real_close(err[0]);
        dup2(err[1], 2);
        if (setup && !setup()) {
            _exit(kSetupFailed);
        }
        child_internal::WriteAll(out[1], body());
        fflush(nullptr);
        _exit(0);
    }
    __real_close(out[1]);
    __real_close(err[1]);
    result.out = torvel_test::ReadToEnd(out[0]);
    result.err = torvel_test::ReadToEnd(err[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

// Brings the loopback interface of the current network namespace up.
inline bool LoopbackUp() {
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0) {
        return false;
    }
    struct ifreq request;
    memset(&request, 0, sizeof request);
    strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
    bool ok = ioctl(fd, SIOCGIFFLAGS, &request) == 0;
    request.ifr_flags = static_cast<short>(request.ifr_flags | IFF_UP);
    ok = ok && ioctl(fd, SIOCSIFFLAGS, &request) == 0;
    __real_close(fd);
    return ok;
}

// In the child: a private network namespace with loopback up.
inline bool EnterNetNamespace() {
    return unshare(CLONE_NEWNET) == 0 && LoopbackUp();
}

// The files a host namespace lays over the machine's /etc.
class HostFiles {
 public:
    explicit HostFiles(const std::string &hosts) : dir_("torvel_net") {
        hosts_ = dir_.Write("hosts", hosts);
        nsswitch_ = dir_.Write("nsswitch.conf", "hosts: files\n");
        host_conf_ = dir_.Write("host.conf", "multi on\n");
    }

    // In the child: private mount and UTS namespaces, the files bound over
    // /etc, and hostname as the system's host name.
    bool Enter(const std::string &hostname) const {
        if (unshare(CLONE_NEWNS | CLONE_NEWUTS) != 0 ||
            mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
            return false;
        }
        if (!Bind(hosts_, "/etc/hosts") || !Bind(nsswitch_, "/etc/nsswitch.conf")) {
            return false;
        }
        // host.conf is optional; without it the resolver's default applies.
        if (access("/etc/host.conf", F_OK) == 0 && !Bind(host_conf_, "/etc/host.conf")) {
            return false;
        }
        return sethostname(hostname.data(), hostname.size()) == 0;
    }

 private:
    static bool Bind(const std::string &from, const char *to) {
        return mount(from.c_str(), to, nullptr, MS_BIND, nullptr) == 0;
    }

    torvel_test::TempDir dir_;
    std::string hosts_, nsswitch_, host_conf_;
};

// Whether a child can enter host and network namespaces here; why not in
// *reason. Checked once per test program.
inline bool NamespacesUsable(std::string *reason) {
    static int usable = -1;
    if (usable < 0) {
        HostFiles files("127.0.0.1 localhost\n");
        ChildResult probe = RunChild([&] { return files.Enter("probe") && EnterNetNamespace(); },
                                     [] { return std::string("ok"); });
        usable = probe.status == 0 && probe.out == "ok" ? 1 : 0;
    }
    *reason = "cannot enter private mount, UTS and network namespaces";
    return usable == 1;
}

}  // namespace net_test

#endif  // TORVEL_TESTS_NET_NET_CHILD_H_
