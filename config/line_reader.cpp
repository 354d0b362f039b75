// The logical-line reader of configuration sources. The source is read in
// blocks of kBlock bytes; a line that lies whole in the block, is not
// continued and follows no continued line is trimmed and returned in place
// there. Other lines (continued ones, and those that straddle two blocks)
// are gathered in the line buffer. Every physical line's bytes are searched
// for NUL, so a NUL inside a line is reported rather than silently cutting
// it.
#include "config/line_reader.h"

#include <errno.h>
#include <stdlib.h>
#include <string.h>

#include "core/c_locale.h"
#include "diagnostics/except.h"

int ConfigLineNo = 0;

namespace {

// The reader's buffers, kept between calls: the line buffer for gathered
// lines, and the block read ahead from block_file with its unread bytes
// [block_pos, block_end).
char *line_buffer = nullptr;
size_t line_buffer_size = 0;
char *block = nullptr;
size_t block_pos = 0;
size_t block_end = 0;
FILE *block_file = nullptr;

constexpr size_t kBlock = 64 * 1024;
constexpr size_t kGrowth = 4096;
// Free space the line buffer keeps beyond the bytes written.
constexpr size_t kLowWater = 5;

// Makes room for `needed` bytes at position write (and a terminator),
// growing by 4096 bytes, or by half the size once that is more, so that a
// very long line costs linear rather than quadratic copying.
void ensure_room(size_t write, size_t needed) {
    size_t size = line_buffer_size;
    while (size - write <= needed + kLowWater) {
        size += size / 2 > kGrowth ? size / 2 : kGrowth;
    }
    if (size == line_buffer_size) {
        return;
    }
    char *grown = static_cast<char *>(realloc(line_buffer, size));
    if (grown == nullptr) {
        EXCEPT("Out of memory - config file line too long");
    }
    line_buffer = grown;
    line_buffer_size = size;
}

// Reads the next block of file. False at end of file (or on a read error,
// which the caller sees with ferror).
bool refill(FILE *file) {
    if (block == nullptr) {
        block = static_cast<char *>(malloc(kBlock));
        if (block == nullptr) {
            EXCEPT("Out of memory reading configuration");
        }
    }
    block_pos = 0;
    // A handler installed without SA_RESTART (as Python installs its own)
    // interrupts reads of a command's output; the read goes on after it.
    for (;;) {
        errno = 0;
        block_end = fread(block, 1, kBlock, file);
        if (!ferror(file) || errno != EINTR) {
            break;
        }
        clearerr(file);
        if (block_end > 0) {
            break;
        }
    }
    return block_end > 0;
}

// Gathers one physical line (without its newline) at position write of the
// line buffer. Returns the number of bytes stored, or -1 when end of file
// came before any byte (the buffer is then untouched). Adds LINE_HAS_NUL to
// *problems for a NUL byte, LINE_TOO_LONG when the logical line reaches
// LOGICAL_LINE_MAX (reading stops there).
long gather_physical(FILE *file, size_t write, int *problems) {
    size_t start = write;
    bool any = false;
    for (;;) {
        if (block_pos == block_end && !refill(file)) {
            if (!any) {
                return -1;
            }
            line_buffer[write] = '\0';
            return static_cast<long>(write - start);
        }
        any = true;
        const char *piece = block + block_pos;
        size_t available = block_end - block_pos;
        const char *newline = static_cast<const char *>(memchr(piece, '\n', available));
        size_t length = newline != nullptr ? static_cast<size_t>(newline - piece) : available;
        size_t room = static_cast<size_t>(LOGICAL_LINE_MAX) - write;
        bool too_long = length >= room;
        if (too_long) {
            length = room;  // the rest of the line stays unread
        }
        if (memchr(piece, '\0', length) != nullptr) {
            *problems |= LINE_HAS_NUL;
        }
        ensure_room(write, length);
        memcpy(line_buffer + write, piece, length);
        write += length;
        block_pos += length;
        if (too_long) {
            *problems |= LINE_TOO_LONG;
        } else if (newline != nullptr) {
            ++block_pos;
        } else {
            continue;
        }
        line_buffer[write] = '\0';
        return static_cast<long>(write - start);
    }
}

// The bounds of text[0, length) without leading and trailing white space.
void trim_bounds(const char *text, size_t length, size_t *lead, size_t *end) {
    while (length > 0 && is_white(text[length - 1])) {
        --length;
    }
    size_t first = 0;
    while (first < length && is_white(text[first])) {
        ++first;
    }
    *lead = first;
    *end = length;
}

// Trims the segment [start, start + length) of the line buffer in place:
// trailing white space removed, leading white space moved down. Returns
// the new length.
size_t trim_segment(size_t start, size_t length) {
    char *segment = line_buffer + start;
    size_t lead = 0;
    size_t end = 0;
    trim_bounds(segment, length, &lead, &end);
    memmove(segment, segment + lead, end - lead);
    segment[end - lead] = '\0';
    return end - lead;
}

// Sizes the line buffer to initial_size (at least kLowWater + 1) and
// empties it.
void reset_line_buffer(int initial_size) {
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
}

// The next physical line when it lies whole in the block and does not end
// in a backslash once trimmed: counted, trimmed and terminated in place.
// Null (nothing consumed) otherwise.
char *line_in_block(int *problems) {
    char *piece = block + block_pos;
    size_t available = block_end - block_pos;
    char *newline = static_cast<char *>(memchr(piece, '\n', available));
    if (newline == nullptr) {
        return nullptr;
    }
    size_t length = static_cast<size_t>(newline - piece);
    size_t lead = 0;
    size_t end = 0;
    trim_bounds(piece, length, &lead, &end);
    if (end > lead && piece[end - 1] == '\\') {
        return nullptr;  // continued: gathered in the line buffer
    }
    if (memchr(piece, '\0', length) != nullptr) {
        *problems |= LINE_HAS_NUL;
    }
    ++ConfigLineNo;
    block_pos += length + 1;
    piece[end] = '\0';
    return piece + lead;
}

}  // namespace

void release_logical_line_buffer() {
    free(line_buffer);
    line_buffer = nullptr;
    line_buffer_size = 0;
    free(block);
    block = nullptr;
    block_pos = 0;
    block_end = 0;
    block_file = nullptr;
}

char *read_logical_line(FILE *file, int initial_size, int *problems) {
    int found = 0;
    if (problems != nullptr) {
        *problems = 0;
    }
    if (file != block_file) {
        block_pos = block_end = 0;  // read ahead from another source
        block_file = file;
    }
    if (block_pos == block_end && feof(file)) {
        release_logical_line_buffer();
        return nullptr;
    }
    if (block_pos < block_end) {
        char *line = line_in_block(&found);
        if (line != nullptr) {
            if (problems != nullptr) {
                *problems = found;
            }
            return line;
        }
    }
    reset_line_buffer(initial_size);
    size_t segment = 0;
    bool any_line = false;
    for (;;) {
        long length = gather_physical(file, segment, &found);
        if (length < 0) {
            // End of file after a continuation: the line is returned as it
            // stands, its final backslash included.
            if (!any_line) {
                release_logical_line_buffer();
                return nullptr;
            }
            break;
        }
        any_line = true;
        ++ConfigLineNo;
        size_t kept = trim_segment(segment, static_cast<size_t>(length));
        if ((found & LINE_TOO_LONG) == 0 && kept > 0 && line_buffer[segment + kept - 1] == '\\') {
            // The next physical line replaces the backslash.
            segment += kept - 1;
            continue;
        }
        break;
    }
    if (problems != nullptr) {
        *problems = found;
    }
    return line_buffer;
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
