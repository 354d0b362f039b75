// The logical-line reader of configuration sources. Lines are read with
// fgets into a region first filled with non-NUL bytes, so the terminator
// fgets writes is the last NUL of the region: NUL bytes inside a line are
// then seen and reported rather than silently cutting the line.
#include "config/line_reader.h"

#include <stdlib.h>
#include <string.h>

#include "core/c_locale.h"
#include "diagnostics/except.h"

int ConfigLineNo = 0;

namespace {

// The reader's buffer, kept between calls.
char *line_buffer = nullptr;
size_t line_buffer_size = 0;

constexpr size_t kGrowth = 4096;
// Free space at or below which the buffer grows before the next byte.
constexpr size_t kLowWater = 5;

// Grows by 4096 bytes, or by half the size once that is more, so that a
// very long line costs linear rather than quadratic copying.
void ensure_room(size_t write) {
    if (line_buffer_size - write > kLowWater) {
        return;
    }
    size_t growth = line_buffer_size / 2 > kGrowth ? line_buffer_size / 2 : kGrowth;
    char *grown = static_cast<char *>(realloc(line_buffer, line_buffer_size + growth));
    if (grown == nullptr) {
        EXCEPT("Out of memory - config file line too long");
    }
    line_buffer = grown;
    line_buffer_size += growth;
}

// Bytes fgets may store per call: the region filled beforehand stays small
// however large the buffer has grown.
constexpr size_t kChunk = 256;

// Reads one physical line (without its newline) to position write.
// Returns the number of bytes stored, or -1 when end of file came before
// any byte. Adds LINE_HAS_NUL to *problems for a NUL byte, LINE_TOO_LONG
// when the logical line reaches LOGICAL_LINE_MAX (reading stops there).
long read_physical(FILE *file, size_t write, int *problems) {
    size_t start = write;
    for (;;) {
        ensure_room(write);
        size_t room = line_buffer_size - write;
        size_t allowed = static_cast<size_t>(LOGICAL_LINE_MAX) - write + 1;
        room = room < kChunk ? room : kChunk;
        room = room < allowed ? room : allowed;
        char *region = line_buffer + write;
        // At the start of a continuation the region begins with the joined
        // line's backslash and terminator, which a line at end of file keeps.
        char kept[2] = {region[0], region[1]};
        memset(region, '\n', room);
        if (fgets(region, static_cast<int>(room), file) == nullptr) {
            if (write == start) {
                region[0] = kept[0];
                region[1] = kept[1];
                return -1;
            }
            line_buffer[write] = '\0';
            return static_cast<long>(write - start);
        }
        size_t got = static_cast<size_t>(static_cast<char *>(memrchr(region, '\0', room)) - region);
        if (memchr(region, '\0', got) != nullptr) {
            *problems |= LINE_HAS_NUL;
        }
        write += got;
        if (got > 0 && line_buffer[write - 1] == '\n') {
            line_buffer[--write] = '\0';
            return static_cast<long>(write - start);
        }
        if (write >= static_cast<size_t>(LOGICAL_LINE_MAX)) {
            *problems |= LINE_TOO_LONG;
            return static_cast<long>(write - start);
        }
    }
}

// Trims the segment [start, start + length) in place: trailing white space
// removed, leading white space moved down. Returns the new length.
size_t trim_segment(size_t start, size_t length) {
    char *segment = line_buffer + start;
    while (length > 0 && is_white(segment[length - 1])) {
        --length;
    }
    size_t lead = 0;
    while (lead < length && is_white(segment[lead])) {
        ++lead;
    }
    length -= lead;
    memmove(segment, segment + lead, length);
    segment[length] = '\0';
    return length;
}

}  // namespace

void release_logical_line_buffer() {
    free(line_buffer);
    line_buffer = nullptr;
    line_buffer_size = 0;
}

char *read_logical_line(FILE *file, int initial_size, int *problems) {
    if (problems != nullptr) {
        *problems = 0;
    }
    if (feof(file)) {
        release_logical_line_buffer();
        return nullptr;
    }
    size_t wanted = initial_size > static_cast<int>(kLowWater) + 1
                        ? static_cast<size_t>(initial_size)
                        : kLowWater + 1;
    if (line_buffer == nullptr || line_buffer_size != wanted) {
        char *fresh = static_cast<char *>(realloc(line_buffer, wanted));
        if (fresh == nullptr) {
            EXCEPT("Out of memory - config file line too long");
        }
        line_buffer = fresh;
        line_buffer_size = wanted;
    }
    line_buffer[0] = '\0';
    size_t segment = 0;
    int found = 0;
    bool any_line = false;
    for (;;) {
        long length = read_physical(file, segment, &found);
        if (length < 0) {
            // End of file after a continuation: the line is returned as it
            // stands, its final backslash included.
            if (!any_line) {
                release_logical_line_buffer();
                return nullptr;
            }
            if (problems != nullptr) {
                *problems = found;
            }
            return line_buffer;
        }
        any_line = true;
        ++ConfigLineNo;
        size_t kept = trim_segment(segment, static_cast<size_t>(length));
        if ((found & LINE_TOO_LONG) == 0 && kept > 0 && line_buffer[segment + kept - 1] == '\\') {
            // The next physical line replaces the backslash.
            segment += kept - 1;
            continue;
        }
        if (problems != nullptr) {
            *problems = found;
        }
        return line_buffer;
    }
}

bool blankline(const char *line) {
    for (const char *p = line; *p != '\0'; ++p) {
        if (!is_white(*p)) {
            return false;
        }
    }
    return true;
}

char *ltrunc(char *line) {
    size_t length = strlen(line);
    while (length > 0 && is_white(line[length - 1])) {
        line[--length] = '\0';
    }
    char *first = line;
    while (*first != '\0' && is_white(*first)) {
        ++first;
    }
    return first;
}
