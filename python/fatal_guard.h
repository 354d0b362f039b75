// Keeps the library's fatal paths (exit with a message on standard error)
// away from the interpreter: a step that could end the process is first
// tried in a forked child, whose standard error is captured; only a step
// the child survived is then run in the interpreter itself.
#ifndef TORVEL_PYTHON_FATAL_GUARD_H_
#define TORVEL_PYTHON_FATAL_GUARD_H_

#include <functional>
#include <string>

// Runs step in a forked child with standard error captured. True, with
// *message set to what the child printed, when it returned from step (it
// then exits 0); false with *message set to what it printed (or how it
// ended) when it did not.
bool survives_in_child(const std::function<void()> &step, std::string *message);

#endif  // TORVEL_PYTHON_FATAL_GUARD_H_
