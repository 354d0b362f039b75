// Stand-in for the child-process module until the real one (with
// my_system, my_spawnv and descriptor calls through the socket-call
// indirection) lands; that change deletes this file. my_popenv, my_popen
// and my_pclose here behave as specified: fork, privilege drop, exec with a
// PATH search, child list, wait with EINTR retry.
#include "process/my_popen.h"

#include <errno.h>
#include <grp.h>
#include <stdlib.h>
#include <string.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include "diagnostics/debug_log.h"
#include "process/arg_list.h"

struct popen_entry {
    FILE *stream;
    pid_t pid;
    popen_entry *next;
};

popen_entry *popen_entry_head = nullptr;

namespace {

// In the child: the effective ids become the real and effective ids for
// good, with that one group.
void drop_privileges() {
    uid_t uid = geteuid();
    gid_t gid = getegid();
    if (seteuid(0) == 0) {
        setgroups(1, &gid);
    }
    if (setregid(gid, gid) != 0 || setreuid(uid, uid) != 0) {
        _exit(8);
    }
}

void wire_child(int pipe_ends[2], bool reading, int want_stderr) {
    if (reading) {
        close(pipe_ends[0]);
        int out = pipe_ends[1];
        if (out != 1) {
            dup2(out, 1);
        }
        if (want_stderr && out != 2) {
            dup2(out, 2);
        }
        if (out != 1 && !(want_stderr && out == 2)) {
            close(out);
        }
    } else {
        close(pipe_ends[1]);
        if (pipe_ends[0] != 0) {
            dup2(pipe_ends[0], 0);
            close(pipe_ends[0]);
        }
    }
}

}  // namespace

FILE *my_popenv(char *const argv[], const char *mode, int want_stderr) {
    int pipe_ends[2];
    if (pipe(pipe_ends) < 0) {
        dprintf(D_ALWAYS, "my_popenv: Failed to create the pipe, errno=%d (%s)\n", errno,
                strerror(errno));
        return nullptr;
    }
    bool reading = mode != nullptr && mode[0] == 'r';
    pid_t pid = fork();
    if (pid < 0) {
        int error = errno;
        dprintf(D_ALWAYS, "my_popenv: Failed to fork child, errno=%d (%s)\n", error,
                strerror(error));
        close(pipe_ends[0]);
        close(pipe_ends[1]);
        return nullptr;
    }
    if (pid == 0) {
        wire_child(pipe_ends, reading, want_stderr);
        drop_privileges();
        execvp(argv[0], argv);
        _exit(8);
    }
    int mine = reading ? pipe_ends[0] : pipe_ends[1];
    close(reading ? pipe_ends[1] : pipe_ends[0]);
    FILE *stream = fdopen(mine, mode);
    popen_entry *entry = static_cast<popen_entry *>(malloc(sizeof(popen_entry)));
    if (stream == nullptr || entry == nullptr) {
        // Without a stream the child cannot be reached: reap it and fail.
        free(entry);
        if (stream != nullptr) {
            fclose(stream);
        } else {
            close(mine);
        }
        int status = 0;
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
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
    FILE *stream = nullptr;
    if (argv[0] != nullptr) {
        stream = my_popenv(argv, mode, want_stderr);
    }
    deleteStringArray(argv);
    return stream;
}

int my_pclose(FILE *stream) {
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
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) {
            return -1;
        }
    }
    return status;
}
