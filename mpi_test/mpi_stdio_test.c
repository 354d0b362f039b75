/* MPI standard-I/O test job: every rank announces itself on standard output
 * and standard error, then echoes one line read from standard input. The
 * batch system runs it to check how an MPI job's streams are wired up.
 *
 * Built twice from this file: statically against MPICH and dynamically
 * against LAM MPI. It uses nothing of the rest of the library. */
#include <mpi.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#ifdef TORVEL_MPI_BIND_NOW
/* LAM 7.1.4 on x86-64 sends a message header whose data pointer is never
 * set during MPI_Init; the stale stack word it picks up is often left there
 * by lazy symbol binding and is then no valid address, so the kernel refuses
 * the send (EFAULT) and start-up fails about one time in three. With every
 * symbol bound at load time that word is harmless, so the LAM build restarts
 * itself once with LD_BIND_NOW set. The process id stays the same, which is
 * what LAM's daemon knows the process by. */
static void bind_symbols_at_load(char **argv) {
    if (getenv("LD_BIND_NOW") != NULL) {
        return;
    }
    if (setenv("LD_BIND_NOW", "1", 1) != 0) {
        return;
    }
    execv("/proc/self/exe", argv);
    /* Could not restart: carry on and take the chance. */
    unsetenv("LD_BIND_NOW");
}
#endif

int main(int argc, char **argv) {
    int rank = 0;
    /* At most 127 characters and the terminator. Cleared so that end of
     * input before any character echoes nothing. */
    char line[128] = "";

#ifdef TORVEL_MPI_BIND_NOW
    bind_symbols_at_load(argv);
#endif

    MPI_Init(&argc, &argv);
    MPI_Comm_rank(MPI_COMM_WORLD, &rank);

    printf("Printing to stdout...%d\n", rank);
    /* Show the line before waiting for input, so a job whose input never
     * comes still shows that its output is connected. */
    fflush(stdout);
    fprintf(stderr, "Printing to stderr...%d\n", rank);

    if (fgets(line, sizeof line, stdin) == NULL) {
        line[0] = '\0';
    }
    printf("From stdin: %s", line);
    fflush(stdout);

    MPI_Finalize();
    return 0;
}
