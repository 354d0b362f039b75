// The exec entry of the connection-brokering layer, for programs that start
// another program: __wrap_execv hands brokered sockets to the new program
// (when brokering is on) and execs. The full set of wrappers is declared in
// nbx/wrappers.h.
#ifndef TORVEL_NBX_WRAP_EXEC_H_
#define TORVEL_NBX_WRAP_EXEC_H_

#include "nbx/wrappers.h"

#endif  // TORVEL_NBX_WRAP_EXEC_H_
