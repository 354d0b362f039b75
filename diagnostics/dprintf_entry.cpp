// The debug log's entry point and its category-name parser, with the log's
// three core globals (DebugFlags, _torvel_dprintf_works and the category
// names). This file is also built alone into the relocatable object
// dprintf_shim, so it uses nothing but the C library and the two functions
// that a program linking that object supplies: _torvel_dprintf_va (which
// does the writing) and _torvel_mkargv (word splitting). All names have C
// linkage so that the object's symbols are the plain names.
#include <stdarg.h>
#include <string.h>
#include <strings.h>

#include "core/mkargv.h"
#include "diagnostics/debug_log.h"

extern "C" {
int DebugFlags = 0;
int _torvel_dprintf_works = 0;
const char *_torvel_DebugFlagNames[D_NUMLEVELS] = {
    "D_ALWAYS",     "D_SYSCALLS",  "D_CKPT",       "D_HOSTNAME", "D_MALLOC",    "D_LOAD",
    "D_EXPR",       "D_PROC",      "D_JOB",        "D_MACHINE",  "D_FULLDEBUG", "D_NFS",
    "D_CONFIG",     "D_NET_REMAP", "D_PREEMPT",    "D_PROTOCOL", "D_PRIV",      "D_SECURITY",
    "D_DAEMONCORE", "D_COMMAND",   "D_BANDWIDTH",  "D_NETWORK",  "D_KEYBOARD",  "D_PROCFAMILY",
    "D_IDLE",       "D_MATCH",     "D_ACCOUNTANT", "D_FAILURE",  "D_PID",       "D_FDS",
    "D_SECONDS",    "D_NOHEADER",
};
}

namespace {
// The parser copies its input into a buffer of this size (longer text is
// cut); words are separated by at least one character, so half as many slots
// plus the terminating null always suffice.
constexpr size_t kFlagTextSize = 8192;
constexpr size_t kFlagWordSlots = kFlagTextSize / 2 + 1;

// The bits a category word stands for; 0 for an unknown word.
unsigned flag_bits(const char *word) {
    if (strcasecmp(word, "D_ALL") == 0) {
        return D_ALL;
    }
    for (unsigned bit = 0; bit < D_NUMLEVELS; ++bit) {
        if (strcasecmp(word, _torvel_DebugFlagNames[bit]) == 0) {
            return 1u << bit;
        }
    }
    return 0;
}
}  // namespace

// The header's inline category test is for callers; this is the function.
#undef dprintf

extern "C" int dprintf(int flags, const char *format, ...) {
    va_list args;
    va_start(args, format);
    _torvel_dprintf_va(flags, format, args);
    va_end(args);
    return 0;
}

// A program compiled with _FORTIFY_SOURCE has its dprintf calls turned into
// __dprintf_chk(flags, level, format, ...) by the C library's headers; this
// definition keeps them on the debug log. The checking level has nothing to
// check here: the format is the debug log's own.
extern "C" int __dprintf_chk(int flags, int level, const char *format, ...) {
    va_list args;
    va_start(args, format);
    _torvel_dprintf_va(flags, format, args);
    va_end(args);
    return 0;
}

extern "C" void _torvel_set_debug_flags(const char *names) {
    DebugFlags |= D_ALWAYS;
    if (names == nullptr) {
        return;
    }
    char text[kFlagTextSize];
    strncpy(text, names, sizeof text - 1);
    text[sizeof text - 1] = '\0';

    char *words[kFlagWordSlots];
    int count = 0;
    _torvel_mkargv(&count, words, text);

    // Words apply in the order written, so a later word overrides an earlier
    // one: "D_ALL -D_NET_REMAP" is every category but D_NET_REMAP.
    for (int i = 0; i < count; ++i) {
        const char *word = words[i];
        bool add = true;
        if (word[0] == '-') {
            add = false;
            ++word;
        }
        unsigned bits = flag_bits(word);
        unsigned flags = static_cast<unsigned>(DebugFlags);
        flags = add ? (flags | bits) : (flags & ~bits);
        DebugFlags = static_cast<int>(flags);
    }
}

extern "C" void set_debug_flags(const char *names)
    __attribute__((alias("_torvel_set_debug_flags")));
