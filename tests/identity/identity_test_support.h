// Shared pieces of the identity tests. Everything that learns or switches
// ids runs in a forked child (ids are learned once per process, and a
// switched process must not run other tests) inside a private /etc that
// holds the test's accounts. The child reports by its exit status, its
// standard error and a failure text; it never runs test assertions.
#ifndef TORVEL_TESTS_IDENTITY_IDENTITY_TEST_SUPPORT_H_
#define TORVEL_TESTS_IDENTITY_IDENTITY_TEST_SUPPORT_H_

#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <string>

#include "config/macro_table.h"
#include "diagnostics/debug_log.h"
#include "tests/support/etc_overlay.h"
#include "tests/support/temp_dir.h"

// In a child body: return the failing condition with its line.
#define ID_CHECK(cond)                                                           \
    do {                                                                         \
        if (!(cond)) {                                                           \
            return std::string("line ") + std::to_string(__LINE__) + ": " #cond; \
        }                                                                        \
    } while (0)

namespace identity_test {

// Test accounts: a user with a supplementary group, a second user, and
// the distribution's account with a group of its own.
constexpr uid_t kUser = 4301;
constexpr gid_t kUserGroup = 4310;
constexpr uid_t kOther = 4302;
constexpr uid_t kService = 4242;
constexpr gid_t kServiceGroup = 4250;

struct ChildOutcome {
    int status = -1;      // exit status; -1 when it did not exit
    std::string err;      // its standard error
    std::string failure;  // the body's failure text, or "" when it passed
};

inline void AddTestAccounts(torvel_test::EtcOverlay *etc, bool with_service_account) {
    etc->SetEntry("passwd", "idt_user", "idt_user:x:4301:4301::/nonexistent:/bin/false");
    etc->SetEntry("passwd", "idt_other", "idt_other:x:4302:4302::/nonexistent:/bin/false");
    etc->SetEntry("group", "idt_user", "idt_user:x:4301:");
    etc->SetEntry("group", "idt_other", "idt_other:x:4302:");
    etc->SetEntry("group", "idt_extra", "idt_extra:x:4310:idt_user");
    if (with_service_account) {
        etc->SetEntry("passwd", "torvel", "torvel:x:4242:4242::/nonexistent:/bin/false");
        etc->SetEntry("group", "torvel", "torvel:x:4242:");
        etc->SetEntry("group", "idt_svc", "idt_svc:x:4250:torvel");
    } else {
        etc->RemoveEntry("passwd", "torvel");
    }
}

// Runs body in a forked child inside etc, with TORVEL_IDS and the
// configuration empty and the debug log keeping its lines in memory. The
// child ends with status 0 when body returns "", 1 otherwise, or however
// the code under test ends it.
inline ChildOutcome RunIsolated(torvel_test::EtcOverlay &etc,
                                const std::function<std::string()> &body) {
    ChildOutcome outcome;
    // Opened before the child switches ids, so reports get out whatever
    // it becomes.
    std::string err_path = etc.Path("stderr");
    int report[2];
    if (pipe(report) != 0) {
        outcome.failure = "pipe failed";
        return outcome;
    }
    fflush(nullptr);
    pid_t pid = fork();
    if (pid < 0) {
        outcome.failure = "fork failed";
        return outcome;
    }
    if (pid == 0) {
        close(report[0]);
        int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (err < 0 || dup2(err, 2) < 0 || !etc.EnterInChild()) {
            _exit(125);
        }
        unsetenv("TORVEL_IDS");
        clear_macro_table(ConfigTab, CONFIG_TABLE_SIZE);
        _torvel_dprintf_works = 0;
        std::string failure = body();
        if (!failure.empty() && write(report[1], failure.data(), failure.size()) < 0) {
            _exit(3);
        }
        _exit(failure.empty() ? 0 : 1);
    }
    close(report[1]);
    char chunk[256];
    ssize_t n;
    while ((n = read(report[0], chunk, sizeof chunk)) > 0) {
        outcome.failure.append(chunk, static_cast<size_t>(n));
    }
    close(report[0]);
    int status = 0;
    if (waitpid(pid, &status, 0) == pid && WIFEXITED(status)) {
        outcome.status = WEXITSTATUS(status);
    }
    outcome.err = torvel_test::ReadFile(err_path);
    unlink(err_path.c_str());
    return outcome;
}

}  // namespace identity_test

#endif  // TORVEL_TESTS_IDENTITY_IDENTITY_TEST_SUPPORT_H_
