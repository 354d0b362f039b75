// Test programs run as the launcher's subsystem, so "TOOL." keys apply.
#include "config/subsystem.h"

const char *mySubSystem = "TOOL";
