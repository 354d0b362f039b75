// Reading one configuration source (a file, or the output of a command
// named by a text ending in "|") into a macro table. Touches ConfigLineNo
// and the line reader's buffer (config/line_reader.h).
#ifndef TORVEL_CONFIG_READ_CONFIG_H_
#define TORVEL_CONFIG_READ_CONFIG_H_

#include "config/macro_table.h"

class ExtraParamTable;

// Reads source into table. Returns 0, or -1 on the first error, with
// ConfigLineNo telling the line; assignments before it stay in the table.
// expand_mode 2 expands every reference of a value while reading; any other
// value expands only references to the name being assigned (callers pass 1).
// runtime_checks refuses piped sources and files not owned by root (when
// ids can be switched) or by the process's own uid. provenance (may be null)
// gets the file and line of every assignment.
// While the process is root, a file owned by another account than root or
// the service account, or writable by group or others, is refused before
// any line is read (config/trusted_source.h), with a "Configuration
// Error File <source>: ..." message.
// A file source must be a regular file or /dev/null: anything else (a
// FIFO, a device, a directory) is refused without waiting on it, with
// "Configuration Error File <source>: not a regular file".
// Messages: "Can't open ..." and the invalid-command message on standard
// output, every "Configuration Error ..." on standard error; a malformed
// line (no operator, "[My Section]") fails without a message of its own.
// Names longer than 1023 characters, lines holding NUL bytes and macro
// expansions that exceed their bounds (config/macro_expand.h) fail with a
// "Configuration Error File <source>, Line N: ..." message.
// An unset $ENV(...) variable or an empty $RANDOM_CHOICE() met while
// expanding ends the process (status 4).
int Read_config(const char *source, MacroBucket **table, int table_size, int expand_mode,
                bool runtime_checks, ExtraParamTable *provenance);

// Read_config for a source that is a file whatever its name holds: a name
// with "|" in it (as an entry of a local directory may have) is opened,
// never run.
int _torvel_read_config_file(const char *source, MacroBucket **table, int table_size,
                             int expand_mode, bool runtime_checks, ExtraParamTable *provenance);

// Whether the file source would read without error as a runtime-checked
// source (Read_config with runtime_checks), without touching any table:
// its lines go to a scratch table of their own, and a name built from
// macros is checked with every macro it refers to taken as empty. A name
// built from $ENV or $RANDOM_CHOICE is refused, since expanding it could
// end the process. 0, or -1 with ConfigLineNo and the reader's message.
int _torvel_check_config_file(const char *source);

// True when source contains "|" anywhere (a piped source).
bool is_piped_command(const char *source);
// True when the last character of source is "|".
bool is_valid_command(const char *source);

#endif  // TORVEL_CONFIG_READ_CONFIG_H_
