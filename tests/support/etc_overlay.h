// A private /etc for a forked child: the child enters a mount namespace of
// its own whose /etc is an overlay of the test's files (passwd, group, ...)
// over the machine's, which is never touched; the namespace ends with the
// child. The test's account lines replace any machine line of the same
// name. Test code only; needs root and overlay support (Usable says why
// not). The scratch directory goes with the object.
#ifndef TORVEL_TESTS_SUPPORT_ETC_OVERLAY_H_
#define TORVEL_TESTS_SUPPORT_ETC_OVERLAY_H_

#include <sched.h>
#include <stdlib.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "tests/support/temp_dir.h"

namespace torvel_test {

class EtcOverlay {
 public:
    EtcOverlay() : scratch_("torvel_etc", "/tmp") {
        if (!scratch_.path().empty()) {
            scratch_.MakeDir("upper");
            scratch_.MakeDir("work");
        }
    }

    // Whether a child can mount the overlay; why says why not.
    static bool Usable(std::string *why) {
        static int usable = -1;
        static std::string reason;
        if (usable < 0) {
            EtcOverlay probe;
            pid_t pid = fork();
            if (pid == 0) {
                _exit(probe.EnterInChild() ? 0 : 1);
            }
            int status = 0;
            bool ok = pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status) &&
                      WEXITSTATUS(status) == 0;
            usable = ok ? 1 : 0;
            reason = ok ? "" : "no private mount namespace with an overlay on /etc";
        }
        *why = reason;
        return usable == 1;
    }

    // Adds (or replaces) the line of name in /etc/<file>, a colon-separated
    // database such as passwd or group: line is the whole entry.
    void SetEntry(const std::string &file, const std::string &name, const std::string &line) {
        entries_[file][name] = line;
    }
    // Hides the machine's entry of name in /etc/<file>.
    void RemoveEntry(const std::string &file, const std::string &name) {
        entries_[file][name] = "";
    }

    // Writes the overlay's files; then, in the forked child, a private
    // namespace with the overlay on /etc. False when any step failed.
    bool EnterInChild() {
        if (!WriteFiles()) {
            return false;
        }
        std::string opts = "lowerdir=/etc,upperdir=" + scratch_.Path("upper") +
                           ",workdir=" + scratch_.Path("work");
        return unshare(CLONE_NEWNS) == 0 &&
               mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
               mount("overlay", "/etc", "overlay", 0, opts.c_str()) == 0;
    }

    // A scratch path outside the overlay, for the child's reports.
    std::string Path(const std::string &name) const { return scratch_.Path(name); }

 private:
    bool WriteFiles() {
        if (scratch_.path().empty()) {
            return false;
        }
        for (const auto &file : entries_) {
            std::ifstream in("/etc/" + file.first);
            std::ofstream out(scratch_.Path("upper/" + file.first));
            std::string line;
            while (std::getline(in, line)) {
                std::string name = line.substr(0, line.find(':'));
                if (file.second.count(name) == 0) {
                    out << line << "\n";
                }
            }
            for (const auto &entry : file.second) {
                if (!entry.second.empty()) {
                    out << entry.second << "\n";
                }
            }
            if (!out) {
                return false;
            }
        }
        return true;
    }

    TempDir scratch_;
    std::map<std::string, std::map<std::string, std::string>> entries_;
};

}  // namespace torvel_test

#endif  // TORVEL_TESTS_SUPPORT_ETC_OVERLAY_H_
