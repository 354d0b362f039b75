// Macro expansion. Each pass makes at most one substitution of each kind
// and rebuilds the whole text, and the next pass rescans from the start, so
// text brought in by a substitution is expanded in its turn. The pass and
// length bounds turn reference cycles into an error instead of a hang.
#include "config/macro_expand.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include "core/random_numbers.h"
#include "core/string_list.h"
#include "diagnostics/except.h"

namespace {

bool is_name_char(char c) {
    return torvel_isalnum(c) || c == '_' || c == '.';
}

// What a substitution replaces, for error messages: prefix "(" name ")".
struct Reference {
    const char *prefix;  // "$", "$ENV" or "$RANDOM_CHOICE"
    const char *name;
};

// Gives up on an expansion whose error is already printed: frees *text,
// leaves it null and returns false for the caller to pass on.
bool abandon(char **text) {
    free(*text);
    *text = nullptr;
    return false;
}

// Replaces *text by left + middle + tail (which point into *text or
// elsewhere). On exceeding the length bound prints the error, frees *text
// and returns false.
bool substitute(char **text, const char *left, const char *middle, const char *tail,
                const Reference &ref) {
    size_t left_length = strlen(left);
    size_t middle_length = strlen(middle);
    size_t tail_length = strlen(tail);
    size_t old_length = left_length + tail_length + strlen(ref.prefix) + strlen(ref.name) + 2;
    size_t length = left_length + middle_length + tail_length;
    if (length > static_cast<size_t>(MACRO_EXPAND_MAX_LENGTH) && length > old_length) {
        fprintf(stderr,
                "Configuration Error: expanding %s(%s) makes the text longer than %d bytes; "
                "macros probably refer to each other in a cycle\n",
                ref.prefix, ref.name, MACRO_EXPAND_MAX_LENGTH);
        return abandon(text);
    }
    char *result = static_cast<char *>(malloc(length + 1));
    if (result == nullptr) {
        EXCEPT("Out of memory expanding %s(%s)", ref.prefix, ref.name);
    }
    memcpy(result, left, left_length);
    memcpy(result + left_length, middle, middle_length);
    memcpy(result + left_length + middle_length, tail, tail_length + 1);
    free(*text);
    *text = result;
    return true;
}

// False (error printed, *text freed) when pass is past the bound.
bool within_passes(int pass, char **text, const Reference &ref) {
    if (pass < MACRO_EXPAND_MAX_PASSES) {
        return true;
    }
    fprintf(stderr,
            "Configuration Error: %s(%s) still expanding after %d passes; "
            "macros probably refer to each other in a cycle\n",
            ref.prefix, ref.name, MACRO_EXPAND_MAX_PASSES);
    return abandon(text);
}

// One item of a $RANDOM_CHOICE list, drawn at random. Borrowed from list.
const char *random_item(StringList &list) {
    int count = list.number();
    if (count == 0) {
        EXCEPT("$RANDOM_CHOICE() macro in config file empty!");
    }
    int wanted = get_random_int() % count + 1;
    const char *item = nullptr;
    list.rewind();
    for (int i = 0; i < wanted; ++i) {
        item = list.next();
    }
    return item;
}

// One pass of full-mode-only substitutions. Returns -1 on an error (*text
// freed), else whether something was substituted.
int special_pass(char **text, int pass) {
    int changed = 0;
    char *left = nullptr;
    char *name = nullptr;
    char *tail = nullptr;
    if (get_special_var("$ENV", true, *text, &left, &name, &tail)) {
        Reference ref{"$ENV", name};
        if (!within_passes(pass, text, ref)) {
            return -1;
        }
        const char *env = getenv(name);
        if (env == nullptr) {
            EXCEPT("Can't find %s in environment!", name);
        }
        if (!substitute(text, left, env, tail, ref)) {
            return -1;
        }
        changed = 1;
    }
    if (get_special_var("$RANDOM_CHOICE", false, *text, &left, &name, &tail)) {
        Reference ref{"$RANDOM_CHOICE", name};
        if (!within_passes(pass, text, ref)) {
            return -1;
        }
        StringList items(name, ",");
        if (!substitute(text, left, random_item(items), tail, ref)) {
            return -1;
        }
        changed = 1;
    }
    return changed;
}

// $(DOLLAR) to "$", rescanning from the start, with no further expansion.
void replace_dollars(char **text) {
    char *left = nullptr;
    char *name = nullptr;
    char *tail = nullptr;
    while (get_var(*text, &left, &name, &tail, "DOLLAR")) {
        // The result is never longer than the text, so no bound applies.
        substitute(text, left, "$", tail, Reference{"$", name});
    }
}

}  // namespace

char *expand_macro(const char *value, MacroBucket **table, int table_size, const char *self) {
    if (value == nullptr) {
        return nullptr;
    }
    char *text = strdup(value);
    if (text == nullptr) {
        EXCEPT("Out of memory expanding configuration text");
    }
    if (strchr(text, '$') == nullptr) {
        return text;  // no reference of any kind can be in it
    }
    for (int pass = 0;; ++pass) {
        int changed = 0;
        if (self == nullptr) {
            changed = special_pass(&text, pass);
            if (changed < 0) {
                return nullptr;
            }
        }
        char *left = nullptr;
        char *name = nullptr;
        char *tail = nullptr;
        if (get_var(text, &left, &name, &tail, self)) {
            Reference ref{"$", name};
            if (!within_passes(pass, &text, ref)) {
                return nullptr;
            }
            const char *found = lookup_macro(name, table, table_size);
            if (!substitute(&text, left, found != nullptr ? found : "", tail, ref)) {
                return nullptr;
            }
            changed = 1;
        }
        if (!changed) {
            break;
        }
    }
    if (self == nullptr) {
        replace_dollars(&text);
    }
    return text;
}

bool get_var(char *text, char **left, char **name, char **tail, const char *self) {
    size_t self_length = self != nullptr ? strlen(self) : 0;
    char *p = text;
    while ((p = strchr(p, '$')) != nullptr) {
        if (p[1] == '$') {
            p += 2;  // "$$" keeps what follows unexpanded
            continue;
        }
        if (p[1] != '(') {
            ++p;
            continue;
        }
        char *start = p + 2;
        char *end = start;
        while (is_name_char(*end)) {
            ++end;
        }
        size_t length = static_cast<size_t>(end - start);
        bool wanted = *end == ')';
        if (wanted && self != nullptr) {
            wanted = length == self_length && strncasecmp(start, self, length) == 0;
        } else if (wanted) {
            wanted = !(length == 6 && strncasecmp(start, "DOLLAR", 6) == 0);
        }
        if (!wanted) {
            p = start;  // resume after the "("
            continue;
        }
        *p = '\0';
        *end = '\0';
        *left = text;
        *name = start;
        *tail = end + 1;
        return true;
    }
    return false;
}

bool get_special_var(const char *prefix, bool names_restricted, char *text, char **left,
                     char **name, char **tail) {
    size_t prefix_length = strlen(prefix);
    char *p = text;
    while ((p = strstr(p, prefix)) != nullptr) {
        char *open = p + prefix_length;
        if (*open != '(') {
            ++p;
            continue;
        }
        char *start = open + 1;
        char *end = start;
        if (names_restricted) {
            while (is_name_char(*end)) {
                ++end;
            }
            if (*end != ')') {
                p = start;
                continue;
            }
        } else {
            end = strchr(start, ')');
            if (end == nullptr) {
                return false;
            }
        }
        *p = '\0';
        *end = '\0';
        *left = text;
        *name = start;
        *tail = end + 1;
        return true;
    }
    return false;
}
