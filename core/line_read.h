// Reading one line from a stdio stream so that a signal never cuts it:
// getline reports a read interrupted by a handler installed without
// SA_RESTART as an error, or returns the part of the line read so far as if
// it were whole. Touches no process-wide state.
#ifndef TORVEL_CORE_LINE_READ_H_
#define TORVEL_CORE_LINE_READ_H_

#include <stdio.h>
#include <sys/types.h>

// getline, resumed after EINTR: the next line of file with its newline (if
// any) into *line, grown with realloc as needed (*line and *capacity as
// getline has them; caller free()s *line). The line's length, or -1 at end
// of file before any byte and on a read error other than EINTR (ferror
// then tells which) or when memory is short (errno ENOMEM).
ssize_t _torvel_getline(char **line, size_t *capacity, FILE *file);

#endif  // TORVEL_CORE_LINE_READ_H_
