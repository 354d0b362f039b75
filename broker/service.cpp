// The broker's start-up as a service (see service.h) and its answer to
// SIGHUP. Runs before the event loop, in one thread; the steps touch the
// process's descriptors, session, ids and the environment (TORVEL_IDS).
#include "broker/service.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <grp.h>
#include <linux/capability.h>
#include <pwd.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include "broker/broker.h"
#include "broker/broker_log.h"
#include "identity/privileges.h"

namespace nbx_broker {

namespace {

__attribute__((format(printf, 3, 4))) void fail(StartError *error, int status, const char *format,
                                                ...) {
    va_list args;
    va_start(args, format);
    vsnprintf(error->text, sizeof error->text, format, args);
    va_end(args);
    error->status = status;
}

// Closes the descriptors above 2 that /proc lists, for kernels without
// close_range. Collected first: the directory's own descriptor is listed.
void close_listed_descriptors() {
    DIR *dir = opendir("/proc/self/fd");
    if (dir == nullptr) return;
    int keep = dirfd(dir);
    int found[1024];
    int count = 0;
    bool more = false;
    for (dirent *entry; (entry = readdir(dir)) != nullptr;) {
        int fd = atoi(entry->d_name);
        if (fd <= 2 || fd == keep || entry->d_name[0] == '.') continue;
        if (count == 1024) {
            more = true;
            break;
        }
        found[count++] = fd;
    }
    closedir(dir);
    for (int i = 0; i < count; ++i) close(found[i]);
    if (more) close_listed_descriptors();
}

// The starting process: waits for the broker's readiness byte. Returns the
// status to exit with.
int wait_for_readiness(pid_t broker, int fd) {
    char byte = 0;
    ssize_t n;
    do {
        n = read(fd, &byte, 1);
    } while (n < 0 && errno == EINTR);
    if (n == 1) return 0;
    // The broker ended before it was ready; it said why on standard error.
    int status = 0;
    while (waitpid(broker, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) != 0) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) {
        fprintf(stderr, "nbx_broker: killed by signal %d before it was ready\n", WTERMSIG(status));
    } else {
        fprintf(stderr, "nbx_broker: ended before it was ready\n");
    }
    return kExitStartFailed;
}

// Whether the process holds no capability at all, effective or permitted.
bool holds_no_capability() {
    __user_cap_header_struct header;
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3];
    memset(&header, 0, sizeof header);
    memset(data, 0, sizeof data);
    header.version = _LINUX_CAPABILITY_VERSION_3;
    if (syscall(SYS_capget, &header, data) != 0) return false;
    for (const __user_cap_data_struct &part : data) {
        if (part.effective != 0 || part.permitted != 0) return false;
    }
    return true;
}

}  // namespace

void close_inherited_descriptors() {
#ifdef SYS_close_range
    if (syscall(SYS_close_range, 3U, ~0U, 0U) == 0) return;
#endif
    close_listed_descriptors();
}

int detach_and_wait_for_readiness() {
    int channel[2];
    if (pipe2(channel, O_CLOEXEC) != 0) {
        perror("nbx_broker: pipe");
        exit(kExitStartFailed);
    }
    fflush(nullptr);
    pid_t pid = fork();
    if (pid < 0) {
        perror("nbx_broker: fork");
        exit(kExitStartFailed);
    }
    if (pid > 0) {
        close(channel[1]);
        _exit(wait_for_readiness(pid, channel[0]));
    }
    close(channel[0]);
    setsid();
    return channel[1];
}

void report_ready(int readiness_fd) {
    if (chdir("/") != 0) {
        // Staying in the start directory is harmless.
    }
    fflush(nullptr);
    int null_fd = open("/dev/null", O_RDWR | O_CLOEXEC);
    if (null_fd >= 0) {
        dup2(null_fd, 0);
        dup2(null_fd, 1);
        dup2(null_fd, 2);
        close(null_fd);
    }
    char ready = 'R';
    while (write(readiness_fd, &ready, 1) < 0 && errno == EINTR) {
    }
    close(readiness_fd);
}

bool choose_identity(const BrokerConfig &config, ServiceIdentity *identity, StartError *error) {
    if (geteuid() != 0) return true;
    passwd *account = getpwnam(config.account);
    if (account == nullptr && config.account_named) {
        fail(error, kExitStartFailed, "nbx_broker: NBX_BROKER_USER names no account: %s",
             config.account);
        return false;
    }
    if (account == nullptr || account->pw_uid == 0) {
        snprintf(identity->warning, sizeof identity->warning,
                 "WARNING: running as root: %s account \"%s\"",
                 account == nullptr ? "no" : "root is the", config.account);
        return true;
    }
    identity->switch_needed = true;
    identity->uid = account->pw_uid;
    identity->gid = account->pw_gid;
    snprintf(identity->name, sizeof identity->name, "%s", config.account);
    return true;
}

bool prepare_log_file(const char *path, const ServiceIdentity &identity, StartError *error) {
    int fd = open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0640);
    if (fd < 0) {
        fail(error, kExitLogFailed, "nbx_broker: %s: %s", path, strerror(errno));
        return false;
    }
    struct stat status;
    bool ok = true;
    if (identity.switch_needed && fstat(fd, &status) == 0 && S_ISREG(status.st_mode) &&
        status.st_uid != identity.uid) {
        ok = fchown(fd, identity.uid, identity.gid) == 0;
        if (!ok) {
            fail(error, kExitLogFailed,
                 "nbx_broker: %s: can't give the log to the service account: %s", path,
                 strerror(errno));
        }
    }
    close(fd);
    return ok;
}

bool write_pid_file(const char *path, StartError *error) {
    int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0644);
    char text[32];
    int length = snprintf(text, sizeof text, "%ld\n", static_cast<long>(getpid()));
    if (fd < 0 || write(fd, text, static_cast<size_t>(length)) != length) {
        fail(error, kExitStartFailed, "nbx_broker: %s: %s", path, strerror(errno));
        if (fd >= 0) close(fd);
        return false;
    }
    close(fd);
    return true;
}

bool switch_to_service_account(const ServiceIdentity &identity, const char *log_path,
                               StartError *error) {
    uid_t u = identity.uid;
    gid_t g = identity.gid;
    uid_t ruid, euid, suid;
    gid_t rgid, egid, sgid;
    errno = 0;
    if (setgroups(0, nullptr) != 0 || setresgid(g, g, g) != 0 || setresuid(u, u, u) != 0 ||
        getresuid(&ruid, &euid, &suid) != 0 || getresgid(&rgid, &egid, &sgid) != 0 || ruid != u ||
        euid != u || suid != u || rgid != g || egid != g || sgid != g ||
        getgroups(0, nullptr) != 0 || !holds_no_capability()) {
        fail(error, kExitStartFailed, "nbx_broker: can't switch to the account %s: %s",
             identity.name, errno != 0 ? strerror(errno) : "ids or capabilities remain");
        return false;
    }
    // The library's own log writes switch to its service account: from
    // now on that is this account, and no switch changes any id.
    char ids[64];
    snprintf(ids, sizeof ids, "%u.%u", static_cast<unsigned>(u), static_cast<unsigned>(g));
    setenv("TORVEL_IDS", ids, 1);
    if (can_switch_ids()) {
        fail(error, kExitStartFailed, "%s",
             "nbx_broker: the library switched ids before the broker gave up root");
        return false;
    }
    if (log_path[0] != '\0') {
        int fd = open(log_path, O_WRONLY | O_APPEND | O_CLOEXEC);
        if (fd < 0) {
            fail(error, kExitLogFailed,
                 "nbx_broker: %s: the service account can't write the log: %s", log_path,
                 strerror(errno));
            return false;
        }
        close(fd);
    }
    return true;
}

void broker_reopen_log(Broker *broker) {
    // Log rotation moved the file away: the next lines go to a new file at
    // the configured path.
    const BrokerConfig &config = broker->config;
    if (config.log_path[0] == '\0') {
        broker_log("SIGHUP: the log is standard error; nothing to reopen\n");
        return;
    }
    broker_log_close();
    broker_log_open(config.log_path, config.log_max_size, config.log_repeat_interval);
    broker_log("SIGHUP: log reopened at %s\n", config.log_path);
}

}  // namespace nbx_broker
