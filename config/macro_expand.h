// Expanding macro references in configuration text: $(NAME) by the value
// stored in a macro table, and in full mode also $ENV(NAME) by the
// environment, $RANDOM_CHOICE(a,b,...) by one item drawn at random, and
// $(DOLLAR) by "$". "$$" keeps the following reference unexpanded.
//
// Expansion is bounded: macros that refer to each other in a cycle (A = $(B)
// and B = $(A)), also through stored self-references, would otherwise
// expand without end. When one expansion needs more than
// MACRO_EXPAND_MAX_PASSES passes, or a substitution would make the text
// grow beyond MACRO_EXPAND_MAX_LENGTH bytes, expand_macro prints a line
// beginning "Configuration Error: " and naming the reference on standard
// error and returns null. Read_config turns that into -1, param into null.
#ifndef TORVEL_CONFIG_MACRO_EXPAND_H_
#define TORVEL_CONFIG_MACRO_EXPAND_H_

#include "config/macro_table.h"

class MyString;

constexpr int MACRO_EXPAND_MAX_PASSES = 4096;
constexpr int MACRO_EXPAND_MAX_LENGTH = 256 * 1024;

// value with its references expanded; caller free()s. self null means full
// mode; otherwise only $(self) (compared ignoring case) is expanded, and
// everything else stays for later lookups. An undefined name expands to "".
// Null when value is null or a bound above was exceeded (message printed).
// Full mode ends the process (status 4) with "Can't find %s in environment!"
// for an unset $ENV variable and with "$RANDOM_CHOICE() macro in config file
// empty!" for a choice without items.
char *expand_macro(const char *value, MacroBucket **table, int table_size,
                   const char *self = nullptr);

// While one lives, full mode refuses what would end the process or could
// differ from one expansion to the next: an unset $ENV variable and every
// $RANDOM_CHOICE make expand_macro return null, the reason in *reason
// (borrowed for the scope's life; nothing printed). For checking a text
// before it is stored. Scopes do not nest.
class MacroExpandCheck {
 public:
    explicit MacroExpandCheck(MyString *reason);
    ~MacroExpandCheck();
    MacroExpandCheck(const MacroExpandCheck &) = delete;
    MacroExpandCheck &operator=(const MacroExpandCheck &) = delete;
};

// Finds the first reference $(NAME) in text: a "$$" is skipped with the
// character after it; NAME holds only letters, digits, "_" and "."; with
// self set only NAME equal to self (ignoring case) counts, without it
// $(DOLLAR) is passed over. On success cuts text in place ("$" and ")"
// become NUL): *left = text, *name = the name, *tail = the text after ")".
bool get_var(char *text, char **left, char **name, char **tail, const char *self);

// The same for prefix followed directly by "(" (prefix matched
// case-sensitively, e.g. "$ENV" or "$RANDOM_CHOICE"). With names_restricted
// the name may hold only letters, digits, "_" and "."; otherwise any text up
// to the first ")".
bool get_special_var(const char *prefix, bool names_restricted, char *text, char **left,
                     char **name, char **tail);

#endif  // TORVEL_CONFIG_MACRO_EXPAND_H_
