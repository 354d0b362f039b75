// Runs library calls inside the interpreter with the library's ways of
// ending the process (EXCEPT's status 4, the status 1 of start-up errors,
// the debug log's 44) turned into a return to the module. The module's copy
// of the library is linked with its calls of exit bound to the trap
// (-Wl,--wrap=exit), and EXCEPT hands its line to _torvel_fatal_trap
// before printing it. A trapped call's frames are left by siglongjmp, so no
// destructor of theirs runs and nothing they hold is released: the caller
// repairs what the library can have left half-done (each caller says what).
// Process-wide state: the armed trap, and descriptor 2 while captured.
#ifndef TORVEL_PYTHON_FATAL_TRAP_H_
#define TORVEL_PYTHON_FATAL_TRAP_H_

#include <string>

// Points the library's fatal paths at the trap; called once by the module.
void install_fatal_trap();

// Runs step(context) in this process. True when it returned. False when
// the library would have ended the process: *status is the exit status and
// *message EXCEPT's line (empty for a path that only printed before its
// exit). With keep_mask the signal mask is the one step started with
// either way (the debug log blocks signals while it writes); a step that
// never changes the mask spares that system call. A process forked inside
// step never returns through the trap: its exits are real.
bool run_trapped(void (*step)(void *), void *context, int *status, std::string *message,
                 bool keep_mask);

template <typename Step>
bool run_trapped(Step &step, int *status, std::string *message, bool keep_mask) {
    return run_trapped([](void *context) { (*static_cast<Step *>(context))(); }, &step, status,
                       message, keep_mask);
}

// Standard error (descriptor 2) goes to an anonymous file from construction
// until finish(), which puts the descriptor back and returns what was
// written. Only for calls whose start-up errors print several lines before
// exiting; the lines a call prints and survives are for the caller to pass
// on.
class StderrCapture {
 public:
    StderrCapture();
    ~StderrCapture();
    StderrCapture(const StderrCapture &) = delete;
    StderrCapture &operator=(const StderrCapture &) = delete;

    std::string finish();

 private:
    int file_ = -1;   // where descriptor 2 points meanwhile; -1 if none
    int saved_ = -1;  // the previous descriptor 2; -1 when it was closed
    bool active_ = false;
};

// The message of a trapped failure: what was printed, then EXCEPT's line;
// a description of the status when neither says anything.
std::string fatal_message(int status, const std::string &printed, const std::string &line);

#endif  // TORVEL_PYTHON_FATAL_TRAP_H_
