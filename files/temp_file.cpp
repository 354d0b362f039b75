// Temporary files: the configured temporary directory and the creation of
// a new empty file in it under a name made from the process id and the
// time. Names are claimed by exclusive creation, not by locking, so two
// processes never get the same file and a name that already exists (a
// file, or a link planted by someone else) is passed over, never opened.
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include "config/param.h"
#include "files/path_helpers.h"

namespace {

// Size of the name buffer handed to the caller.
constexpr size_t kTempNameSize = 500;
// Names tried, at successive times, before giving up.
constexpr int kTempNameTries = 9;

}  // namespace

char *temp_dir_path() {
    char *dir = param("TMP_DIR");
    if (dir == nullptr) {
        dir = param("TEMP_DIR");
    }
    if (dir == nullptr) {
        dir = strdup("/tmp");
    }
    return dir;
}

char *create_temp_file() {
    char *dir = temp_dir_path();
    char *name = static_cast<char *>(malloc(kTempNameSize));
    if (dir == nullptr || name == nullptr) {
        free(dir);
        free(name);
        return nullptr;
    }
    int pid = static_cast<int>(getpid());
    long t = static_cast<long>(time(nullptr));
    for (int i = 0; i < kTempNameTries; i++, t++) {
        int len = snprintf(name, kTempNameSize, "%s/tmp.%d.%d", dir, pid, static_cast<int>(t));
        if (len < 0 || static_cast<size_t>(len) >= kTempNameSize) {
            break;  // a cut name would be some other file's name
        }
        // O_EXCL refuses an existing name even when it is a link, dangling
        // or not; O_NOFOLLOW says so once more.
        int fd = open(name, O_CREAT | O_EXCL | O_RDONLY | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd >= 0) {
            close(fd);
            free(dir);
            return name;
        }
    }
    free(dir);
    free(name);
    return nullptr;
}
