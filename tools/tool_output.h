// Standard output of the administrator tools: every write is checked and
// the final close decides the exit status, so that a full disk, /dev/full
// or a closed descriptor never passes for a printed answer. Keeps one
// process-wide note: the reason the first lost write failed.
#ifndef TORVEL_TOOLS_TOOL_OUTPUT_H_
#define TORVEL_TOOLS_TOOL_OUTPUT_H_

// printf to standard output. False once anything written there was lost,
// by this call or an earlier one.
bool tool_printf(const char *format, ...) __attribute__((format(printf, 1, 2)));

// True while nothing written to standard output was lost.
bool tool_output_ok();

// Flushes standard output; false once anything written there was lost.
bool tool_flush_output();

// Flushes and closes standard output. When anything written to it was
// lost, writes "PROGRAM: write error: REASON" on standard error and returns
// 1; otherwise returns status. Call once, as the program's last step.
int tool_finish_output(const char *program, int status);

#endif  // TORVEL_TOOLS_TOOL_OUTPUT_H_
