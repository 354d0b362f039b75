// Typed reads of configuration values from ConfigTab. Every lookup first
// tries "<mySubSystem>.name", then "name" (names ignore case), and expands
// the value in full mode at each call, so $ENV(...) sees the environment of
// the moment and $RANDOM_CHOICE(...) is drawn anew. Reads the macro table
// and the provenance table; never writes them.
#ifndef TORVEL_CONFIG_PARAM_H_
#define TORVEL_CONFIG_PARAM_H_

class MyString;

// The expanded value of name, or null when it is undefined, when the
// subsystem-specific key is defined but empty (it hides the general one),
// when the value expands to "", or when the expansion exceeds its bounds
// (config/macro_expand.h; a "Configuration Error" line is printed).
// Caller free()s. An unset $ENV variable or empty $RANDOM_CHOICE in the
// value ends the process (status 4).
char *param(const char *name);

// The value parsed with "%d" (trailing text ignored), bounded to
// min_value .. max_value (inclusive); the default when undefined (not
// bounded) or not a number. Every fallback logs a D_CONFIG line.
// REQUIRES: name not null (the process ends otherwise).
int param_integer(const char *name, int default_value, int min_value, int max_value);

// As param_integer with "%f" and single precision.
float param_float(const char *name, float default_value, float min_value, float max_value);

// True for a value beginning with 'T', 't' or '1', false for 'F', 'f' or
// '0'; otherwise (or undefined) the default, with a D_CONFIG line.
// REQUIRES: name not null (the process ends otherwise).
bool param_boolean(const char *name, bool default_value);
// The same as 0 or 1; a non-zero default counts as true.
int param_boolean_int(const char *name, int default_value);

// text expanded in full mode against ConfigTab, without the subsystem rule
// and the empty-value rule of param. Caller free()s; null as expand_macro.
char *macro_expand(const char *text);

// 1 when word equals one of the white-space separated words of the value of
// name (compared from the last word to the first), else 0; 0 also when
// name is undefined.
int param_in_pattern(const char *name, const char *word);

// Where the current value of name came from: file and line of the
// assignment, or "<Internal>" / "<Environment>" with -1, and true; false
// with "<Undefined>" and -1 when nothing is recorded. False (outputs
// untouched) when name is null or no provenance table exists.
bool param_get_location(const char *name, MyString &file, int &line);

#endif  // TORVEL_CONFIG_PARAM_H_
