// Reading one configuration source into a macro table: opening the file or
// starting the command, the runtime-source ownership checks and, while
// root, the trust check of files (config/trusted_source.h), and parsing
// "NAME = value" / "NAME : value" lines with name and value expansion.
#include "config/read_config.h"

#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "config/line_reader.h"
#include "config/macro_expand.h"
#include "config/param_provenance.h"
#include "config/trusted_source.h"
#include "core/c_locale.h"
#include "core/line_excerpt.h"
#include "core/my_string.h"
#include "diagnostics/debug_log.h"
#include "identity/privileges.h"
#include "process/arg_list.h"
#include "process/my_popen.h"

namespace {

constexpr int kInitialLineSize = 128;

// The length of name when it is an identifier (name characters only), else
// 0, also for an empty name ("= 5", or one that expands to "").
size_t identifier_length(const char *name) {
    const char *p = name;
    while (_torvel_is_name_char(*p)) {
        ++p;
    }
    return *p == '\0' ? static_cast<size_t>(p - name) : 0;
}

// Where and how the lines of a source go. checking: the read only checks
// the text (into a scratch table), so nothing may end the process: names
// expand under a MacroExpandCheck. reason: where a check's messages go
// (standard error when null).
struct Target {
    MacroBucket **table;
    int table_size;
    int expand_mode;
    ExtraParamTable *provenance;
    bool checking;
    MyString *reason;
};

// An open source: a file, a command's output, or text in memory.
struct Source {
    FILE *stream = nullptr;
    bool piped = false;
    bool in_memory = false;
};

// A message about the source being read: into the check's reason, or on
// standard error.
__attribute__((format(printf, 2, 3))) void complain(const Target &to, const char *format, ...) {
    va_list args;
    va_start(args, format);
    if (to.reason != nullptr) {
        to.reason->vsprintf(format, args);
    } else {
        vfprintf(stderr, format, args);
    }
    va_end(args);
}

// The source being read, until it is closed; what a read that never
// returned left open.
Source reading;

// Starts the command of a piped source. -1 with the message printed.
int open_piped(const char *source, Source *opened) {
    if (!is_valid_command(source)) {
        printf(
            "Specified cmd, %s, not a valid command to execute.  It must have a '|' "
            "character at the end.\n",
            source);
        return -1;
    }
    MyString command(source);
    command.setChar(command.Length() - 1, '\0');
    ArgList args;
    MyString error;
    if (args.AppendArgsV1RawOrV2Quoted(command.Value(), &error) && args.Count() > 0) {
        opened->stream = my_popen(args, "r", 0);
    }
    if (opened->stream == nullptr) {
        printf("Can't open cmd %s\n", command.Value());
        return -1;
    }
    opened->piped = true;
    return 0;
}

// Refuses a runtime source not owned as it must be. -1 with the message.
int check_runtime_owner(const char *source, FILE *stream) {
    struct stat info;
    if (fstat(fileno(stream), &info) < 0) {
        int error = errno;
        fprintf(stderr, "Configuration Error File <%s>, fstat() failed: %s (errno: %d)\n", source,
                strerror(error), error);
        return -1;
    }
    if (can_switch_ids()) {
        if (info.st_uid != 0) {
            fprintf(stderr,
                    "Configuration Error File <%s>, running as root yet runtime config file "
                    "owned by uid %d, not 0!\n",
                    source, static_cast<int>(info.st_uid));
            return -1;
        }
    } else if (info.st_uid != get_my_uid()) {
        fprintf(stderr,
                "Configuration Error File <%s>, running as uid %d yet runtime config file owned "
                "by uid %d!\n",
                source, static_cast<int>(get_my_uid()), static_cast<int>(info.st_uid));
        return -1;
    }
    return 0;
}

// Splits line (trimmed, not a comment, not blank) into name and raw value,
// in place. Returns 1 on success, 0 for a skipped "[Section]" line, -1 for
// a malformed line. *name_has_dollar tells whether the name holds a "$".
int split_assignment(char *line, char **name, char **value, bool *name_has_dollar) {
    char *end = line;
    bool dollar = false;
    while (*end != '\0' && !is_white(*end) && *end != '=' && *end != ':') {
        dollar |= *end == '$';
        ++end;
    }
    *name_has_dollar = dollar;
    if (*end == '\0') {
        return line[0] == '[' ? 0 : -1;
    }
    char *op = end;
    if (is_white(*op)) {
        // Usually a blank or two: a loop does better than strpbrk.
        while (*op != '\0' && *op != '=' && *op != ':') {
            ++op;
        }
        if (*op == '\0') {
            return -1;
        }
    }
    *end = '\0';
    char *rest = op + 1;
    while (is_white(*rest)) {
        ++rest;
    }
    *name = line;
    *value = rest;
    return 1;
}

// Checks the expanded name and stores the value. -1 on an error (message
// printed).
int store_assignment(const char *source, const char *name, const char *raw_value,
                     const Target &to) {
    size_t name_length = identifier_length(name);
    if (name_length == 0) {
        // The name may be megabytes of anything: only an excerpt is quoted.
        complain(to, "Configuration Error File <%s>, Line %d: Illegal Identifier: <%s>\n", source,
                 ConfigLineNo, line_excerpt(name).Value());
        return -1;
    }
    if (name_length > static_cast<size_t>(MACRO_NAME_MAX)) {
        complain(to,
                 "Configuration Error File <%s>, Line %d: Name longer than %d characters: "
                 "<%s>\n",
                 source, ConfigLineNo, MACRO_NAME_MAX, line_excerpt(name).Value());
        return -1;
    }
    char *value_copy = nullptr;
    const char *value = raw_value;
    if (strchr(raw_value, '$') != nullptr) {
        value_copy = to.expand_mode == 2 ? expand_macro(raw_value, to.table, to.table_size, nullptr)
                                         : expand_macro(raw_value, to.table, to.table_size, name);
        if (value_copy == nullptr) {
            if (to.checking) {
                complain(to,
                         "Configuration Error File <%s>, Line %d: the value of %s does not "
                         "expand\n",
                         source, ConfigLineNo, name);
            }
            return -1;
        }
        value = value_copy;
    }
    insert(name, value, to.table, to.table_size);
    if (to.provenance != nullptr) {
        to.provenance->AddFileParam(name, source, ConfigLineNo);
    }
    free(value_copy);
    return 0;
}

// Parses and stores one line. -1 on an error (messages printed as needed).
int handle_line(const char *source, char *line, const Target &to) {
    char *raw_name = nullptr;
    char *raw_value = nullptr;
    bool name_has_dollar = false;
    if (to.checking) {
        // A malformed line fails silently when read; a check says why.
        MyString quoted = line_excerpt(line);
        int split = split_assignment(line, &raw_name, &raw_value, &name_has_dollar);
        if (split < 0) {
            complain(to, "Configuration Error File <%s>, Line %d: not an assignment: \"%s\"\n",
                     source, ConfigLineNo, quoted.Value());
        }
        if (split <= 0) {
            return split;
        }
    } else {
        int split = split_assignment(line, &raw_name, &raw_value, &name_has_dollar);
        if (split <= 0) {
            return split;
        }
    }
    // Text without "$" expands to itself: it is used in place, uncopied.
    char *name_copy = nullptr;
    const char *name = raw_name;
    if (name_has_dollar) {
        if (to.checking) {
            // With the values the real read would have, but nothing may end
            // the process: an unset $ENV refuses the text instead.
            MyString why;
            MacroExpandCheck check(&why);
            name_copy = expand_macro(raw_name, to.table, to.table_size, nullptr);
            if (name_copy == nullptr) {
                complain(
                    to,
                    "Configuration Error File <%s>, Line %d: the name <%s> does not expand%s%s\n",
                    source, ConfigLineNo, line_excerpt(raw_name).Value(),
                    why.Length() > 0 ? ": " : "", why.Length() > 0 ? why.Value() : "");
            }
        } else {
            name_copy = expand_macro(raw_name, to.table, to.table_size, nullptr);
        }
        if (name_copy == nullptr) {
            return -1;
        }
        name = name_copy;
    }
    int result = store_assignment(source, name, raw_value, to);
    free(name_copy);
    return result;
}

// Reads every line of an open source. -1 on the first error.
int read_lines(const char *source, FILE *stream, const Target &to) {
    bool any_line = false;
    int problems = 0;
    char *line = nullptr;
    while ((line = read_logical_line(stream, kInitialLineSize, &problems)) != nullptr) {
        any_line = true;
        if ((problems & LINE_HAS_NUL) != 0) {
            complain(to, "Configuration Error File <%s>, Line %d: line holds a NUL byte\n", source,
                     ConfigLineNo);
            return -1;
        }
        if ((problems & LINE_TOO_LONG) != 0) {
            complain(to, "Configuration Error File <%s>, Line %d: line longer than %ld bytes\n",
                     source, ConfigLineNo, LOGICAL_LINE_MAX);
            return -1;
        }
        if (line[0] == '#' || blankline(line)) {
            continue;
        }
        if (handle_line(source, line, to) < 0) {
            return -1;
        }
    }
    if (ferror(stream)) {
        complain(to, "Configuration Error File <%s>, Line %d: read failed: %s\n", source,
                 ConfigLineNo, strerror(errno));
        return -1;
    }
    if (!any_line) {
        dprintf(D_FULLDEBUG, "WARNING: Config source is empty: %s\n", source);
    }
    return 0;
}

}  // namespace

void _torvel_abandon_config_read() {
    if (reading.stream == nullptr) {
        return;
    }
    release_logical_line_buffer();
    if (reading.piped) {
        my_pclose(reading.stream);
    } else {
        fclose(reading.stream);
    }
    reading = Source{};
}

bool is_piped_command(const char *source) {
    return source != nullptr && strchr(source, '|') != nullptr;
}

bool is_valid_command(const char *source) {
    if (source == nullptr) {
        return false;
    }
    size_t length = strlen(source);
    return length > 0 && source[length - 1] == '|';
}

namespace {

// Reads an opened source and closes it. The runtime checks and, while
// root, the trust check of a file come before any line is read.
int read_opened(const char *source, Source &opened, const Target &to, bool runtime_checks) {
    reading = opened;
    int result = 0;
    if (runtime_checks) {
        result = check_runtime_owner(source, opened.stream);
    }
    if (result == 0 && !opened.piped && !opened.in_memory) {
        result = _torvel_check_trusted_fd(fileno(opened.stream), source);
    }
    if (result == 0) {
        result = read_lines(source, opened.stream, to);
    }
    release_logical_line_buffer();

    if (opened.piped) {
        int status = my_pclose(opened.stream);
        if (result == 0 && status != 0) {
            fprintf(stderr, "Configuration Error File <%s>: command terminated with exit code %d\n",
                    source, status);
            result = -1;
        }
    } else {
        fclose(opened.stream);
    }
    reading = Source{};
    return result;
}

// Whether a source with this status may be read as a file: a regular file
// or /dev/null. A FIFO would block the start until some writer came (and
// then read whatever it wrote), a terminal would wait for a user, a
// directory reads as nothing.
bool readable_kind(const struct stat &info) {
    if (S_ISREG(info.st_mode)) {
        return true;
    }
    struct stat null_device;
    return S_ISCHR(info.st_mode) && stat("/dev/null", &null_device) == 0 &&
           S_ISCHR(null_device.st_mode) && info.st_rdev == null_device.st_rdev;
}

// Opens a file source without waiting: the open itself never blocks (on a
// FIFO without a writer it would), and anything but a regular file or
// /dev/null is refused before any check or read. -1 with a message.
int open_file(const char *source, Source *opened) {
    int fd = open(source, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        printf("Can't open file %s\n", source);
        return -1;
    }
    struct stat info;
    if (fstat(fd, &info) != 0 || !readable_kind(info)) {
        fprintf(stderr, "Configuration Error File <%s>: not a regular file\n", source);
        close(fd);
        return -1;
    }
    int flags = fcntl(fd, F_GETFL);
    opened->stream =
        flags >= 0 && fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0 ? fdopen(fd, "r") : nullptr;
    if (opened->stream == nullptr) {
        printf("Can't open file %s\n", source);
        close(fd);
        return -1;
    }
    return 0;
}

// A stream over text in memory: no file is made. An empty text reads as
// an empty file.
int open_text(const char *text, Source *opened) {
    static char nothing[1] = {'\n'};
    size_t length = strlen(text);
    opened->stream = length > 0 ? fmemopen(const_cast<char *>(text), length, "r")
                                : fmemopen(nothing, sizeof nothing, "r");
    if (opened->stream == nullptr) {
        return -1;
    }
    opened->in_memory = true;
    return 0;
}

}  // namespace

int Read_config(const char *source, MacroBucket **table, int table_size, int expand_mode,
                bool runtime_checks, ExtraParamTable *provenance) {
    ConfigLineNo = 0;
    if (source == nullptr) {
        return -1;
    }
    if (!is_piped_command(source)) {
        return _torvel_read_config_file(source, table, table_size, expand_mode, runtime_checks,
                                        provenance);
    }
    // Refused before the command is started: running a command whose
    // output would be thrown away serves nothing.
    if (runtime_checks && is_valid_command(source)) {
        fprintf(stderr,
                "Configuration Error File <%s>: runtime config not allowed to come from a "
                "pipe command\n",
                source);
        return -1;
    }
    Source opened;
    if (open_piped(source, &opened) < 0) {
        return -1;
    }
    Target to{table, table_size, expand_mode, provenance, false, nullptr};
    return read_opened(source, opened, to, runtime_checks);
}

int _torvel_read_config_file(const char *source, MacroBucket **table, int table_size,
                             int expand_mode, bool runtime_checks, ExtraParamTable *provenance) {
    ConfigLineNo = 0;
    if (source == nullptr) {
        return -1;
    }
    Source opened;
    if (open_file(source, &opened) < 0) {
        return -1;
    }
    Target to{table, table_size, expand_mode, provenance, false, nullptr};
    return read_opened(source, opened, to, runtime_checks);
}

int _torvel_read_config_text(const char *name, const char *text, MacroBucket **table,
                             int table_size, int expand_mode, ExtraParamTable *provenance) {
    ConfigLineNo = 0;
    Source opened;
    if (name == nullptr || text == nullptr || open_text(text, &opened) < 0) {
        return -1;
    }
    Target to{table, table_size, expand_mode, provenance, false, nullptr};
    return read_opened(name, opened, to, false);
}

int _torvel_check_config_file(const char *source, MacroBucket **table, int table_size,
                              MyString *reason) {
    ConfigLineNo = 0;
    Source opened;
    if (source == nullptr || open_file(source, &opened) < 0) {
        if (reason != nullptr) {
            reason->sprintf("Configuration Error File <%s>: cannot be opened\n",
                            source != nullptr ? source : "(null)");
        }
        return -1;
    }
    Target to{table, table_size, 1, nullptr, true, reason};
    return read_opened(source, opened, to, true);
}

int _torvel_check_config_text(const char *name, const char *text, MacroBucket **table,
                              int table_size, MyString *reason) {
    ConfigLineNo = 0;
    Source opened;
    if (name == nullptr || text == nullptr || open_text(text, &opened) < 0) {
        return -1;
    }
    Target to{table, table_size, 1, nullptr, true, reason};
    return read_opened(name, opened, to, false);
}

int _torvel_check_config_file(const char *source) {
    MacroBucket *scratch[CONFIG_TABLE_SIZE] = {};
    int result = _torvel_check_config_file(source, scratch, CONFIG_TABLE_SIZE, nullptr);
    clear_macro_table(scratch, CONFIG_TABLE_SIZE);
    return result;
}
