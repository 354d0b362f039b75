// Test program linked with dprintf_shim.o alone. It supplies the two
// functions the object expects from its program: _torvel_dprintf_va (here it
// prints what it was handed) and _torvel_mkargv (a plain splitter that counts
// its calls). Modes, one per run, print key=value lines for objects_tests:
//   initial              the object's globals as the program starts
//   dprintf              one dprintf call and what reached _torvel_dprintf_va
//   flags START TEXT     DebugFlags = START, then _torvel_set_debug_flags(TEXT)
//   alias START TEXT     the same through set_debug_flags
//   long                 a flag text longer than the parser's buffer
#include <ctype.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "diagnostics/debug_log.h"

namespace {
int splitter_calls = 0;
}  // namespace

extern "C" void _torvel_dprintf_va(int flags, const char *format, va_list args) {
    char text[256];
    vsnprintf(text, sizeof text, format, args);
    printf("va.flags=%#x\nva.text=%s\n", static_cast<unsigned>(flags), text);
}

extern "C" int _torvel_mkargv(int *argc, char **argv, char *line) {
    ++splitter_calls;
    int count = 0;
    char *p = line;
    while (*p != '\0') {
        while (*p != '\0' && isspace(static_cast<unsigned char>(*p))) {
            *p++ = '\0';
        }
        if (*p == '\0') {
            break;
        }
        argv[count++] = p;
        while (*p != '\0' && !isspace(static_cast<unsigned char>(*p))) {
            ++p;
        }
    }
    argv[count] = nullptr;
    *argc = count;
    return 0;
}

namespace {
void report_flags() {
    printf("flags=%#x\nsplitter_calls=%d\n", static_cast<unsigned>(DebugFlags), splitter_calls);
}
}  // namespace

int main(int argc, char **argv) {
    const char *mode = argc > 1 ? argv[1] : "";
    if (strcmp(mode, "initial") == 0) {
        printf("DebugFlags=%d\n_torvel_dprintf_works=%d\n", DebugFlags, _torvel_dprintf_works);
        for (int bit = 0; bit < D_NUMLEVELS; ++bit) {
            printf("name%d=%s\n", bit, _torvel_DebugFlagNames[bit]);
        }
        return 0;
    }
    if (strcmp(mode, "dprintf") == 0) {
        int result = dprintf(D_ALWAYS | D_FULLDEBUG, "value %d of %s\n", 42, "answer");
        printf("result=%d\n", result);
        return 0;
    }
    if ((strcmp(mode, "flags") == 0 || strcmp(mode, "alias") == 0) && argc == 4) {
        DebugFlags = static_cast<int>(strtoul(argv[2], nullptr, 0));
        if (strcmp(mode, "flags") == 0) {
            _torvel_set_debug_flags(argv[3]);
        } else {
            set_debug_flags(argv[3]);
        }
        report_flags();
        return 0;
    }
    if (strcmp(mode, "long") == 0) {
        // "D_CONFIG", blanks up to 9000 characters, then "D_PID": the parser
        // keeps 8191 characters, so D_PID is cut off.
        std::string text = "D_CONFIG";
        text.resize(9000, ' ');
        text += "D_PID";
        DebugFlags = 0;
        _torvel_set_debug_flags(text.c_str());
        report_flags();
        return 0;
    }
    fprintf(stderr, "usage: %s initial|dprintf|flags START TEXT|alias START TEXT|long\n", argv[0]);
    return 2;
}
