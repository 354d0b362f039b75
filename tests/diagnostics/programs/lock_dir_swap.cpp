// Helper for the lock-directory tests: opens the lock file argv[1] with the
// service account learned from TORVEL_IDS, while another account plays its
// part. This program's mkdir stands for the race that account could win:
// once root has made the lock's directory, it is moved aside and a link to
// argv[2] is planted in its place, before the library changes its owner.
// Prints the descriptor the library returned.
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "config/subsystem.h"
#include "diagnostics/debug_log.h"
#include "identity/privileges.h"

const char *mySubSystem = "TOOL";

namespace {
const char *victim = nullptr;
}  // namespace

extern "C" int mkdir(const char *path, mode_t mode) noexcept {
    int rc = mkdirat(AT_FDCWD, path, mode);
    if (rc == 0 && geteuid() == 0 && victim != nullptr) {
        std::string aside = std::string(path) + ".aside";
        if (rename(path, aside.c_str()) != 0 || symlink(victim, path) != 0) {
            _exit(3);
        }
    }
    return rc;
}

int main(int argc, char **argv) {
    if (argc != 3) {
        return 2;
    }
    init_torvel_ids();
    victim = argv[2];
    int fd = _torvel_open_lock_file(argv[1], O_WRONLY | O_CREAT, 0660);
    printf("fd %d\n", fd);
    return 0;
}
