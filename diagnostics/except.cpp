// The general fatal-error path. The message is formatted into a fixed buffer
// so that reporting works even when memory is exhausted.
#include "diagnostics/except.h"

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>

#include "diagnostics/debug_log.h"

extern "C" {
int _EXCEPT_Line = 0;
const char *_EXCEPT_File = nullptr;
int _EXCEPT_Errno = 0;
void (*_EXCEPT_Cleanup)(int line, int error, const char *message) = nullptr;
}

void (*_torvel_fatal_trap)(int status, const char *message) = nullptr;

void _EXCEPT_(const char *format, ...) {
    char message[8192];
    va_list args;
    va_start(args, format);
    vsnprintf(message, sizeof message, format, args);
    va_end(args);

    const char *file = _EXCEPT_File != nullptr ? _EXCEPT_File : "";
    if (_torvel_fatal_trap != nullptr) {
        char line[8448];
        snprintf(line, sizeof line, "ERROR \"%s\" at line %d in file %s", message, _EXCEPT_Line,
                 file);
        _torvel_fatal_trap(4, line);
    }
    if (_torvel_dprintf_works) {
        dprintf(D_ALWAYS | D_FAILURE, "ERROR \"%s\" at line %d in file %s\n", message, _EXCEPT_Line,
                file);
    } else {
        fprintf(stderr, "ERROR \"%s\" at line %d in file %s\n", message, _EXCEPT_Line, file);
    }
    if (_EXCEPT_Cleanup != nullptr) {
        _EXCEPT_Cleanup(_EXCEPT_Line, _EXCEPT_Errno, message);
    }
    fflush(stderr);
    exit(4);
}
