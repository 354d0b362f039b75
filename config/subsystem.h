// The running program's subsystem name ("TOOL" in the launcher). Every
// program defines mySubSystem itself; param() uses it to prefer
// "<SUBSYS>.name" keys over plain "name" keys.
#ifndef TORVEL_CONFIG_SUBSYSTEM_H_
#define TORVEL_CONFIG_SUBSYSTEM_H_

// REQUIRES: defined exactly once by each program, never null.
extern const char *mySubSystem;

#endif  // TORVEL_CONFIG_SUBSYSTEM_H_
