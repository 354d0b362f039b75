// Typed reads of configuration values: param with the subsystem rule and
// the empty-value rule, the integer, float and boolean forms that parse,
// bound and log their fallbacks at D_CONFIG, word membership, and where a
// value came from. Reads ConfigTab and the provenance table extra_info;
// never writes them.
#include "config/param.h"

#include <errno.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "config/macro_expand.h"
#include "config/macro_index.h"
#include "config/macro_table.h"
#include "config/param_provenance.h"
#include "config/subsystem.h"
#include "core/mkargv.h"
#include "core/my_string.h"
#include "diagnostics/debug_log.h"
#include "diagnostics/except.h"

namespace {

const char *bool_text(bool value) {
    return value ? "True" : "False";
}

// The raw (unexpanded) value param works from: the "<SUBSYS>.name" key when
// it exists, even if empty, else "name". Owned by the table. The plain key
// is lower-cased into place behind the room for "<SUBSYS>.", which is
// filled only when some name of the table holds a ".".
const char *raw_value(const char *name) {
    char lowered[2 * MACRO_KEY_BUFFER];  // room for "<SUBSYS>." and a whole key behind it
    size_t prefix_length = strnlen(mySubSystem, MACRO_KEY_BUFFER);
    MacroNameKey plain;
    if (prefix_length + 1 > static_cast<size_t>(MACRO_NAME_MAX) ||
        !_torvel_macro_key(name, CONFIG_TABLE_SIZE, lowered + prefix_length + 1, &plain)) {
        return lookup_macro(name, ConfigTab, CONFIG_TABLE_SIZE);
    }
    MacroBucket *node = nullptr;
    if (prefix_length + 1 + plain.length <= static_cast<size_t>(MACRO_NAME_MAX)) {
        node = _torvel_macro_find_dotted(ConfigTab, CONFIG_TABLE_SIZE, mySubSystem, prefix_length,
                                         plain, lowered);
    }
    if (node == nullptr) {
        node = _torvel_macro_find(ConfigTab, CONFIG_TABLE_SIZE, plain);
    }
    return node != nullptr ? node->value : nullptr;
}

}  // namespace

char *param(const char *name) {
    if (name == nullptr) {
        return nullptr;
    }
    const char *raw = raw_value(name);
    if (raw == nullptr || raw[0] == '\0') {
        return nullptr;
    }
    char *expanded = expand_macro(raw, ConfigTab, CONFIG_TABLE_SIZE, nullptr);
    if (expanded != nullptr && expanded[0] == '\0') {
        free(expanded);
        return nullptr;
    }
    return expanded;
}

namespace {
// Reads a leading decimal integer as sscanf "%d" would (leading white space
// and trailing text ignored), but clamps values beyond the int range to
// INT_MIN/INT_MAX instead of leaving them undefined, so the bound checks
// then report them as too low or too high.
bool parse_leading_int(const char *text, int *value) {
    char *end = nullptr;
    errno = 0;
    long parsed = strtol(text, &end, 10);
    if (end == text) {
        return false;
    }
    if (parsed > INT_MAX) {
        parsed = INT_MAX;
    } else if (parsed < INT_MIN) {
        parsed = INT_MIN;
    }
    *value = static_cast<int>(parsed);
    return true;
}
}  // namespace

namespace {

// The D_CONFIG messages of one numeric form: (name, default), (name, text,
// default), (name, value, minimum), (name, value, maximum).
struct BoundedMessages {
    const char *undefined;
    const char *not_a_number;
    const char *too_low;
    const char *too_high;
};

const BoundedMessages kIntegerMessages = {
    "%s is undefined, using default value of %d\n",
    "WARNING: %s not an integer (\"%s\"), using default value of %d\n",
    "WARNING: %s too low (%d), using minimum value of %d\n",
    "WARNING: %s too high (%d), using maximum value of %d\n"};

const BoundedMessages kFloatMessages = {
    "%s is undefined, using default value of %f\n",
    "WARNING: %s not an float (\"%s\"), using default value of %f\n",
    "WARNING: %s too low (%f), using minimum value of %f\n",
    "WARNING: %s too high (%f), using maximum value of %f\n"};

bool parse_leading_float(const char *text, float *value) {
    return sscanf(text, "%f", value) == 1;
}

// The shared shape of the numeric forms: look the name up, parse, keep the
// value within the bounds, and log every fallback. A value that fails both
// comparisons (a float NaN) is taken as it is.
template <typename Number>
Number bounded_param(const char *name, Number default_value, Number min_value, Number max_value,
                     bool (*parse)(const char *, Number *), const BoundedMessages &messages) {
    ASSERT(name);
    char *text = param(name);
    if (text == nullptr) {
        dprintf(D_CONFIG, messages.undefined, name, default_value);
        return default_value;
    }
    Number result = default_value;
    Number value = 0;
    if (!parse(text, &value)) {
        dprintf(D_CONFIG, messages.not_a_number, name, text, default_value);
    } else if (min_value > value) {
        dprintf(D_CONFIG, messages.too_low, name, value, min_value);
        result = min_value;
    } else if (value > max_value) {
        dprintf(D_CONFIG, messages.too_high, name, value, max_value);
        result = max_value;
    } else {
        result = value;
    }
    free(text);
    return result;
}

}  // namespace

int param_integer(const char *name, int default_value, int min_value, int max_value) {
    return bounded_param(name, default_value, min_value, max_value, parse_leading_int,
                         kIntegerMessages);
}

float param_float(const char *name, float default_value, float min_value, float max_value) {
    return bounded_param(name, default_value, min_value, max_value, parse_leading_float,
                         kFloatMessages);
}

bool param_boolean(const char *name, bool default_value) {
    ASSERT(name);
    char *text = param(name);
    if (text == nullptr) {
        dprintf(D_CONFIG, "%s is undefined, using default value of %s\n", name,
                bool_text(default_value));
        return default_value;
    }
    bool result = default_value;
    switch (text[0]) {
        case 'T':
        case 't':
        case '1':
            result = true;
            break;
        case 'F':
        case 'f':
        case '0':
            result = false;
            break;
        default:
            dprintf(D_CONFIG, "WARNING: %s not a boolean (\"%s\"), using default value of %s\n",
                    name, text, bool_text(default_value));
            break;
    }
    free(text);
    return result;
}

int param_boolean_int(const char *name, int default_value) {
    return param_boolean(name, default_value != 0) ? 1 : 0;
}

char *macro_expand(const char *text) {
    return expand_macro(text, ConfigTab, CONFIG_TABLE_SIZE, nullptr);
}

int param_in_pattern(const char *name, const char *word) {
    char *text = param(name);
    if (text == nullptr || word == nullptr) {
        free(text);
        return 0;
    }
    // Words are at least one character apart, so this many slots (with the
    // terminator) hold every word however long the value is.
    size_t slots = strlen(text) / 2 + 2;
    char **words = static_cast<char **>(malloc(slots * sizeof(char *)));
    if (words == nullptr) {
        free(text);
        EXCEPT("Out of memory!");
    }
    int count = 0;
    mkargv(&count, words, text);
    int found = 0;
    for (int i = count - 1; i >= 0 && !found; --i) {
        found = strcmp(words[i], word) == 0 ? 1 : 0;
    }
    free(words);
    free(text);
    return found;
}

bool param_get_location(const char *name, MyString &file, int &line) {
    if (name == nullptr || extra_info == nullptr) {
        return false;
    }
    return extra_info->GetParam(name, file, line);
}
