// Auxiliary programs without a shell: a pipe-connected child in the manner
// of popen/pclose (my_popenv, my_popen, my_pclose), a system built on it
// (my_systemv, my_system), and a spawn-and-wait (my_spawnv, my_spawnl).
// Every child gives up the parent's root privileges for good before it
// executes: the parent's current effective uid and gid become its real and
// effective ids, with that one group.
//
// Process-wide state (unlocked, single-threaded use): the list of open
// pipe-connected children, popen_entry_head, and ChildPid, the child that
// my_spawnv is waiting for.
#ifndef TORVEL_PROCESS_MY_POPEN_H_
#define TORVEL_PROCESS_MY_POPEN_H_

#include <stdio.h>
#include <sys/types.h>

class ArgList;

// One open pipe-connected child. Records are malloc'd by my_popenv and
// freed by my_pclose; newest first.
struct popen_entry {
    FILE *stream;
    pid_t pid;
    popen_entry *next;
};
extern popen_entry *popen_entry_head;

// The child my_spawnv is waiting for, 0 when none.
extern pid_t ChildPid;

// Starts argv[0] (searched along PATH) with argv and returns a stream: with
// a mode starting with 'r' it reads the child's standard output (and, with
// a non-zero want_stderr, its standard error too); with any other mode it
// writes to the child's standard input. Null when the pipe or the fork
// fails (logged at D_ALWAYS), or argv holds no program. A program that
// cannot be executed shows up as a child exiting with status 8. The
// parent's end of the pipe is closed in every program started later, so
// open children never hold each other's input open. Close the stream with
// my_pclose, never fclose.
FILE *my_popenv(char * const argv[], const char *mode, int want_stderr);
// The same with the arguments of args; null for an empty list.
FILE *my_popen(ArgList &args, const char *mode, int want_stderr);

// Closes the stream and returns the child's raw wait status, or -1 when the
// wait fails. A stream that my_popenv did not return is closed and gives -1
// without waiting for anything; null gives -1.
int my_pclose(FILE *stream);

// Starts the program with its standard input on a pipe that is closed at
// once (it sees end of input), waits and returns the wait status; -1 when it
// could not be started.
int my_systemv(char * const argv[]);
int my_system(ArgList &args);

// Starts path (no PATH search) with argv through the brokering layer's exec
// (which hands brokered sockets over when brokering is on), waits and
// returns the wait status. -1 when it could not be started or another
// my_spawnv is still waiting (as from a signal handler).
int my_spawnv(const char *path, char * const argv[]);
// my_spawnv with the child working in the directory open as dir_fd (an
// O_PATH descriptor will do): relative paths in argv then name entries of
// that very directory, whatever happens to its path meanwhile. A child
// that cannot enter it ends with status 8.
int my_spawnv_in(int dir_fd, const char *path, char * const argv[]);
// my_spawnv with the arguments up to the terminating null pointer, at most
// 32 of them (first included); further ones are ignored.
int my_spawnl(const char *path, const char *first, ...);

#endif  // TORVEL_PROCESS_MY_POPEN_H_
