// Pipe-connected children (my_popenv, my_popen, my_pclose), my_system on top
// of them, and my_spawnv/my_spawnl. Keeps the process-wide child list
// popen_entry_head and ChildPid. Descriptor work and my_spawnv's exec go
// through the brokering layer's wrappers, so brokered sockets are handled
// as in any other program of the library.
#include "process/my_popen.h"

#include <errno.h>
#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <stdarg.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include "diagnostics/debug_log.h"
#include "nbx/wrap_exec.h"
#include "process/arg_list.h"

popen_entry *popen_entry_head = nullptr;
pid_t ChildPid = 0;

namespace {

// Most arguments my_spawnl passes on, the first included.
const int kSpawnlMaxArgs = 32;
// A child whose program could not be started ends with this status.
const int kExecFailedStatus = 8;

// In the child: the effective ids become the real and effective ids for
// good, with that one group. A child that cannot drop what it holds must
// not run the program with it.
void drop_privileges() {
    uid_t uid = geteuid();
    gid_t gid = getegid();
    // Only a process whose real or saved uid is root can do this; an
    // unprivileged one has no groups or ids to give up beyond its own.
    if (seteuid(0) == 0 && setgroups(1, &gid) != 0) {
        _exit(kExecFailedStatus);
    }
    if (setregid(gid, gid) != 0 || setreuid(uid, uid) != 0) {
        _exit(kExecFailedStatus);
    }
}

// In the child: puts its end of the pipe on standard output (and error) or
// standard input, and closes the rest of the pipe.
void wire_child(const int pipe_ends[2], bool reading, int want_stderr) {
    if (reading) {
        __wrap_close(pipe_ends[0]);
        int out = pipe_ends[1];
        if (out != 1) {
            __wrap_dup2(out, 1);
        }
        if (want_stderr && out != 2) {
            __wrap_dup2(out, 2);
        }
        if (out != 1 && !(want_stderr && out == 2)) {
            __wrap_close(out);
        }
    } else {
        __wrap_close(pipe_ends[1]);
        if (pipe_ends[0] != 0) {
            __wrap_dup2(pipe_ends[0], 0);
            __wrap_close(pipe_ends[0]);
        }
    }
}

// Waits for pid, repeating interrupted waits. The wait status, or -1.
int wait_for(pid_t pid) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) {
            return -1;
        }
    }
    return status;
}

}  // namespace

FILE *my_popenv(char * const argv[], const char *mode, int want_stderr) {
    if (argv == nullptr || argv[0] == nullptr || mode == nullptr) {
        return nullptr;
    }
    int pipe_ends[2];
    if (pipe(pipe_ends) < 0) {
        int error = errno;
        dprintf(D_ALWAYS, "my_popenv: Failed to create the pipe, errno=%d (%s)\n", error,
                strerror(error));
        return nullptr;
    }
    bool reading = mode[0] == 'r';
    int mine = reading ? pipe_ends[0] : pipe_ends[1];
    int theirs = reading ? pipe_ends[1] : pipe_ends[0];
    // Later children must not inherit this end: a writer's child would
    // otherwise never see the end of its input while another child lives.
    fcntl(mine, F_SETFD, FD_CLOEXEC);

    pid_t pid = fork();
    if (pid < 0) {
        int error = errno;
        dprintf(D_ALWAYS, "my_popenv: Failed to fork child, errno=%d (%s)\n", error,
                strerror(error));
        __wrap_close(pipe_ends[0]);
        __wrap_close(pipe_ends[1]);
        return nullptr;
    }
    if (pid == 0) {
        wire_child(pipe_ends, reading, want_stderr);
        drop_privileges();
        execvp(argv[0], argv);
        _exit(kExecFailedStatus);
    }

    __wrap_close(theirs);
    FILE *stream = fdopen(mine, mode);
    popen_entry *entry = static_cast<popen_entry *>(malloc(sizeof(popen_entry)));
    if (stream == nullptr || entry == nullptr) {
        // Nobody can reach this child any more: stop and reap it.
        free(entry);
        if (stream != nullptr) {
            fclose(stream);
        } else {
            __wrap_close(mine);
        }
        kill(pid, SIGKILL);
        wait_for(pid);
        return nullptr;
    }
    entry->stream = stream;
    entry->pid = pid;
    entry->next = popen_entry_head;
    popen_entry_head = entry;
    return stream;
}

FILE *my_popen(ArgList &args, const char *mode, int want_stderr) {
    char **argv = args.GetStringArray();
    FILE *stream = my_popenv(argv, mode, want_stderr);
    deleteStringArray(argv);
    return stream;
}

int my_pclose(FILE *stream) {
    if (stream == nullptr) {
        return -1;
    }
    pid_t pid = -1;
    for (popen_entry **link = &popen_entry_head; *link != nullptr; link = &(*link)->next) {
        if ((*link)->stream == stream) {
            popen_entry *found = *link;
            pid = found->pid;
            *link = found->next;
            free(found);
            break;
        }
    }
    fclose(stream);
    if (pid < 0) {
        return -1;  // not one of ours: never wait for an unrelated child
    }
    return wait_for(pid);
}

int my_systemv(char * const argv[]) {
    FILE *stream = my_popenv(argv, "w", 0);
    if (stream == nullptr) {
        return -1;
    }
    return my_pclose(stream);
}

int my_system(ArgList &args) {
    char **argv = args.GetStringArray();
    int status = my_systemv(argv);
    deleteStringArray(argv);
    return status;
}

namespace {

// my_spawnv, the child first moving into the directory open as dir_fd
// (none when negative); a child that cannot ends with the exec failure's
// status.
int spawn_and_wait(int dir_fd, const char *path, char * const argv[]) {
    if (ChildPid != 0) {
        return -1;
    }
    ChildPid = fork();
    if (ChildPid < 0) {
        ChildPid = 0;
        return -1;
    }
    if (ChildPid == 0) {
        if (dir_fd >= 0 && fchdir(dir_fd) != 0) {
            _exit(kExecFailedStatus);
        }
        drop_privileges();
        __wrap_execv(path, argv);
        _exit(kExecFailedStatus);
    }
    int status = wait_for(ChildPid);
    ChildPid = 0;
    return status;
}

}  // namespace

int my_spawnv(const char *path, char * const argv[]) {
    return spawn_and_wait(-1, path, argv);
}

int my_spawnv_in(int dir_fd, const char *path, char * const argv[]) {
    return spawn_and_wait(dir_fd, path, argv);
}

int my_spawnl(const char *path, const char *first, ...) {
    char *argv[kSpawnlMaxArgs + 1];
    int count = 0;
    va_list args;
    va_start(args, first);
    for (const char *arg = first; arg != nullptr && count < kSpawnlMaxArgs;
         arg = va_arg(args, const char *)) {
        argv[count++] = const_cast<char *>(arg);
    }
    va_end(args);
    argv[count] = nullptr;
    return my_spawnv(path, argv);
}
