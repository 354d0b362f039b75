// Pipe-connected children without a shell: my_popenv starts a program
// (searched along PATH) and returns a stream on its standard output (mode
// "r") or standard input (any other mode); my_pclose closes it and waits.
// Children give up the parent's root privileges for good: they run with the
// parent's effective ids as real and effective ids and that one group.
// A process-wide list (unlocked) remembers which child belongs to which
// stream.
#ifndef TORVEL_PROCESS_MY_POPEN_H_
#define TORVEL_PROCESS_MY_POPEN_H_

#include <stdio.h>

class ArgList;

// Null when the pipe or the fork fails (logged at D_ALWAYS). A program that
// cannot be executed shows up as a child exiting with status 8.
// want_stderr (mode "r" only) sends the child's standard error to the
// stream too. Close the stream with my_pclose, never fclose.
// REQUIRES: argv[0] not null; argv null-terminated.
FILE *my_popenv(char *const argv[], const char *mode, int want_stderr);
FILE *my_popen(ArgList &args, const char *mode, int want_stderr);

// Closes the stream and returns the child's raw wait status, or -1 when the
// wait fails. A stream that my_popenv did not return is closed and gives -1
// without waiting for anything.
int my_pclose(FILE *stream);

#endif  // TORVEL_PROCESS_MY_POPEN_H_
