// Stand-in for the debug log until the real one (files, locks, rotation,
// privilege switching) lands; that change deletes this file. It keeps lines
// in memory before set-up and writes matching lines to DebugFP after it.
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <string>
#include <utility>
#include <vector>

#include "core/bounded_printf.h"
#include "diagnostics/debug_log.h"

extern "C" {
int DebugFlags = 0;
int _torvel_dprintf_works = 0;
FILE *DebugFP = nullptr;
char *DebugFile[D_MAX_LOG_FILES] = {};
int MaxLog[D_MAX_LOG_FILES] = {};
char *DebugLock = nullptr;
int LockFd = -1;
}

namespace {
std::vector<std::pair<int, std::string>> &saved_lines() {
    static auto *lines = new std::vector<std::pair<int, std::string>>;
    return *lines;
}

void save_line(int flags, const char *format, va_list args) {
    int length = vprintf_length(format, args);
    if (length < 0) {
        return;
    }
    std::string text(static_cast<size_t>(length) + 1, '\0');
    va_list copy;
    va_copy(copy, args);
    vsnprintf(&text[0], text.size(), format, copy);
    va_end(copy);
    text.resize(static_cast<size_t>(length));
    saved_lines().emplace_back(flags, std::move(text));
}

void write_line(int flags, const char *format, va_list args) {
    unsigned all = static_cast<unsigned>(flags) | static_cast<unsigned>(DebugFlags);
    if ((all & D_NOHEADER) == 0) {
        time_t now = time(nullptr);
        struct tm local;
        localtime_r(&now, &local);
        fprintf(DebugFP, "%d/%d %02d:%02d:%02d ", local.tm_mon + 1, local.tm_mday,
                local.tm_hour, local.tm_min, local.tm_sec);
    }
    va_list copy;
    va_copy(copy, args);
    vfprintf(DebugFP, format, copy);
    va_end(copy);
    fflush(DebugFP);
}
}  // namespace

void _torvel_dprintf_va(int flags, const char *format, va_list args) {
    if (DebugFP == nullptr) {
        DebugFP = stderr;
    }
    if (!_torvel_dprintf_works) {
        save_line(flags, format, args);
        return;
    }
    if ((DebugFlags & flags) == 0) {
        return;
    }
    write_line(flags, format, args);
}

extern "C" int dprintf(int flags, const char *format, ...) {
    va_list args;
    va_start(args, format);
    _torvel_dprintf_va(flags, format, args);
    va_end(args);
    return 0;
}

void _torvel_dprintf_saved_lines() {
    std::vector<std::pair<int, std::string>> lines;
    lines.swap(saved_lines());
    for (const auto &line : lines) {
        dprintf(line.first, "%s\n", line.second.c_str());
    }
}
