// Wait statuses (as filled in by wait/waitpid) as a phrase for log lines,
// e.g. "/bin/rm exited with status 1".
#ifndef TORVEL_CORE_STATUS_STRING_H_
#define TORVEL_CORE_STATUS_STRING_H_

#include "core/my_string.h"

// Appends "died with signal N" when the status says the process was killed
// by a signal, else "exited with status N" with the exit code.
void statusString(int status, MyString &out);

#endif  // TORVEL_CORE_STATUS_STRING_H_
