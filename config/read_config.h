// Reading one configuration source (a file, or the output of a command
// named by a text ending in "|") into a macro table. Touches ConfigLineNo
// and the line reader's buffer (config/line_reader.h).
#ifndef TORVEL_CONFIG_READ_CONFIG_H_
#define TORVEL_CONFIG_READ_CONFIG_H_

#include "config/macro_table.h"

class ExtraParamTable;
class MyString;

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

// Read_config of text held in memory (a runtime setting), named name in
// messages and provenance records. No file is made, so none can outlive
// the process; nothing is checked about ownership or trust.
int _torvel_read_config_text(const char *name, const char *text, MacroBucket **table,
                             int table_size, int expand_mode, ExtraParamTable *provenance);

// Checks that the file source would read without error as a
// runtime-checked source (Read_config with runtime_checks) read into
// table, and reads it there: the caller passes a scratch table holding
// what the real read would find before it, so names built from macros
// expand as they will for real. Nothing ends the process: an unset $ENV
// variable or any $RANDOM_CHOICE met in a name refuses the text
// (config/macro_expand.h, MacroExpandCheck). 0, or -1 with ConfigLineNo
// and the reader's message in *reason (on standard error when reason is
// null; ownership and trust refusals always go there).
int _torvel_check_config_file(const char *source, MacroBucket **table, int table_size,
                              MyString *reason);
// The same for text held in memory, named name in the reason; no
// ownership or trust check.
int _torvel_check_config_text(const char *name, const char *text, MacroBucket **table,
                              int table_size, MyString *reason);
// The check into a scratch table of its own, so every macro a name refers
// to is taken as empty; messages on standard error. Touches no table.
int _torvel_check_config_file(const char *source);

// Closes the source (file or command) of a read that never returned, as
// when a host trapped the fatal error that ended it (diagnostics/except.h),
// and drops the reader's buffers; nothing when no read is under way.
void _torvel_abandon_config_read();

// True when source contains "|" anywhere (a piped source).
bool is_piped_command(const char *source);
// True when the last character of source is "|".
bool is_valid_command(const char *source);

#endif  // TORVEL_CONFIG_READ_CONFIG_H_
