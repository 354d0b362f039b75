// Checked writes and the final close of the tools' standard output.
#include "tools/tool_output.h"

#include <errno.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdio_ext.h>
#include <string.h>

namespace {

// Why the first lost write failed; 0 while nothing was lost.
int lost_errno = 0;

// Notes a failure of standard output, keeping the first reason.
void note_lost(int reason) {
    if (lost_errno == 0) {
        lost_errno = reason != 0 ? reason : EIO;
    }
}

}  // namespace

bool tool_output_ok() {
    if (ferror(stdout)) {
        note_lost(errno);
    }
    return lost_errno == 0;
}

bool tool_printf(const char *format, ...) {
    va_list args;
    va_start(args, format);
    int written = vprintf(format, args);
    va_end(args);
    if (written < 0) {
        note_lost(errno);
    }
    return tool_output_ok();
}

bool tool_flush_output() {
    if (fflush(stdout) != 0) {
        note_lost(errno);
    }
    return tool_output_ok();
}

int tool_finish_output(const char *program, int status) {
    bool pending = __fpending(stdout) > 0;
    bool ok = tool_output_ok();
    // A descriptor closed before the program started is only a loss when
    // something was to be written to it.
    if (fclose(stdout) != 0 && (pending || errno != EBADF)) {
        note_lost(errno);
        ok = false;
    }
    if (ok) {
        return status;
    }
    fprintf(stderr, "%s: write error: %s\n", program, strerror(lost_errno));
    return 1;
}
