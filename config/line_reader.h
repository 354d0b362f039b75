// Reading configuration text one logical line at a time: physical lines
// are trimmed and joined when one ends in a backslash. The reader reads the
// source ahead in blocks and keeps them and one line buffer between calls
// (process-wide, unlocked), released when a read starts at end of file or by
// release_logical_line_buffer. A caller that stops before the end of a
// source calls release_logical_line_buffer before reading any source again.
// A logical line is cut at LOGICAL_LINE_MAX bytes (so that a source without
// newlines, such as /dev/zero, cannot exhaust memory or hang the reader)
// and flagged.
#ifndef TORVEL_CONFIG_LINE_READER_H_
#define TORVEL_CONFIG_LINE_READER_H_

#include <stdio.h>

// Number of the physical line last read from the source being read.
// Read_config resets it to 0; callers print it after a failure.
extern int ConfigLineNo;

// Longest logical line read whole.
constexpr long LOGICAL_LINE_MAX = 16L * 1024 * 1024;

// Problems of a returned line, as bits of read_logical_line's *problems.
enum LogicalLineProblem {
    LINE_HAS_NUL = 1,   // it held NUL bytes (its text looks cut at the first)
    LINE_TOO_LONG = 2,  // reading stopped at LOGICAL_LINE_MAX bytes
};

// The next logical line of file, or null at end of file. Each physical line
// (also a last one without newline) is counted in ConfigLineNo and trimmed
// of leading and trailing white space; a line whose last character is a
// backslash is joined with the next physical line, which replaces the
// backslash (nothing is inserted between them).
// Borrowed: lives in the reader's buffers until the next call. initial_size
// is the line buffer's size to start with (Read_config uses 128); it grows
// by 4096 bytes (by half its size once that is more) as needed, and a
// failed growth ends the process.
// When problems is given, it is set to the LogicalLineProblem bits of the
// returned line (0 for a sound one); without it such lines are returned as
// they are. After LINE_TOO_LONG the rest of that line is what the next call
// reads.
char *read_logical_line(FILE *file, int initial_size, int *problems = nullptr);

// Releases the line buffer now (Read_config calls it when it is done).
void release_logical_line_buffer();

// True when line holds only white space (isspace) or nothing.
bool blankline(const char *line);

// Removes trailing white space in place; returns a pointer to the first
// character that is not white space (inside line).
char *ltrunc(char *line);

#endif  // TORVEL_CONFIG_LINE_READER_H_
