// Macro expansion. Each pass makes at most one substitution of each kind
// and the next pass rescans from the start, so text brought in by a
// substitution is expanded in its turn. The pass and length bounds turn
// reference cycles into an error instead of a hang.
//
// While the text holds no "$ENV(" and no "$RANDOM_CHOICE(", a pass can only
// substitute the first $(NAME), and a rescan from the start would walk the
// same way up to the substituted reference: so the fast path resumes there
// instead (or at the one earlier "$(" whose name ran up to it), keeps the
// text before that point aside for good and builds the rest in front of the
// unscanned tail, which makes expansion linear in the references. As soon as
// a substitution could have formed one of those prefixes, the rest of the
// expansion goes through the pass loop itself.
//
// The usual text is simpler still: a few references, every "$" the start of
// one, values without "$". Nothing substituted is then scanned again, and
// the result is put together in one go before either of the above.
#include "config/macro_expand.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include "config/macro_index.h"
#include "core/my_string.h"
#include "core/random_numbers.h"
#include "core/string_list.h"
#include "diagnostics/except.h"

namespace {

// The reason of the live MacroExpandCheck, or null outside one.
MyString *check_reason = nullptr;

bool is_name_char(char c) {
    return _torvel_is_name_char(c);
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
        if (env == nullptr && check_reason != nullptr) {
            check_reason->sprintf("$ENV(%s): not in the environment", name);
            return abandon(text) ? 0 : -1;
        }
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
        if (check_reason != nullptr) {
            check_reason->sprintf("$RANDOM_CHOICE(%s): its draw cannot be checked", name);
            return abandon(text) ? 0 : -1;
        }
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

char *copy_text(const char *value, size_t length) {
    char *text = static_cast<char *>(malloc(length + 1));
    if (text == nullptr) {
        EXCEPT("Out of memory expanding configuration text");
    }
    memcpy(text, value, length + 1);
    return text;
}

// The pass loop over text (a heap string, taken over), from pass first on.
// The expanded text, or null after a bound's message.
char *expand_passes(char *text, int first, MacroBucket **table, int table_size, const char *self) {
    for (int pass = first;; ++pass) {
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
            return text;
        }
    }
}

// Whether text could hold a $ENV or $RANDOM_CHOICE reference.
bool has_special(const char *text, size_t length) {
    const char *end = text + length;
    for (const char *p = text; p < end; ++p) {
        p = static_cast<const char *>(memchr(p, '$', static_cast<size_t>(end - p)));
        if (p == nullptr) {
            return false;
        }
        // Within bounds, the second byte tells the two prefixes apart and
        // rules out most other "$" at once.
        size_t left = static_cast<size_t>(end - p);
        if ((left >= 5 && p[1] == 'E' && p[2] == 'N' && p[3] == 'V' && p[4] == '(') ||
            (left >= 15 && p[1] == 'R' && memcmp(p, "$RANDOM_CHOICE(", 15) == 0)) {
            return true;
        }
    }
    return false;
}
// Characters of a special prefix beyond its first: how far one can reach.
constexpr size_t kSpecialReach = 14;

// A reference found by scan_reference; offsets into the scanned text.
struct Found {
    size_t at;      // its "$"
    size_t resume;  // where the next scan must start once it is replaced
    const char *name;
    size_t name_length;
};

// Finds the first reference of text exactly as get_var does, without
// cutting the text. Every decision before the reference reads only text
// before it, except possibly the last one (a "$(" whose name characters run
// up to the reference's "$"): the next scan resumes at that decision.
// *saw_dollar is set when a $(DOLLAR) was passed over (full mode).
bool scan_reference(const char *text, const char *self, size_t self_length, Found *found,
                    bool *saw_dollar) {
    const char *decision = nullptr;      // "$" of the last decision
    const char *decision_end = nullptr;  // last character it read
    const char *p = text;
    while ((p = strchr(p, '$')) != nullptr) {
        if (p[1] == '$' || p[1] != '(') {
            decision = p;
            decision_end = p + 1;
            p += p[1] == '$' ? 2 : 1;
            continue;
        }
        const char *start = p + 2;
        const char *end = start;
        while (is_name_char(*end)) {
            ++end;
        }
        size_t length = static_cast<size_t>(end - start);
        bool wanted = *end == ')';
        if (wanted && self != nullptr) {
            wanted = length == self_length && strncasecmp(start, self, length) == 0;
        } else if (wanted && length == 6 && (start[0] | 0x20) == 'd' &&
                   strncasecmp(start, "DOLLAR", 6) == 0) {
            wanted = false;
            *saw_dollar = true;
        }
        if (!wanted) {
            decision = p;
            decision_end = end;
            p = start;
            continue;
        }
        found->at = static_cast<size_t>(p - text);
        found->resume = decision != nullptr && decision_end >= p
                            ? static_cast<size_t>(decision - text)
                            : found->at;
        found->name = start;
        found->name_length = length;
        return true;
    }
    return false;
}

// Text under fast expansion, in one heap buffer: the finished part
// buf[0, done) is never scanned again; the rest buf[rest, capacity - 1) is
// NUL-terminated at the buffer's end, with free room between the two.
struct Work {
    char *buf;
    size_t capacity;
    size_t done;
    size_t rest;

    size_t rest_length() const { return capacity - 1 - rest; }
    size_t length() const { return done + rest_length(); }
    // The whole text as one heap string (its buffer, at most twice the
    // text's size); the work is used up.
    char *joined() {
        memmove(buf + done, buf + rest, rest_length() + 1);
        return buf;
    }
};

void grow_work(Work &w, size_t needed_front) {
    size_t tail = w.rest_length() + 1;
    size_t capacity = w.capacity * 2;
    if (capacity < needed_front + tail) {
        capacity = needed_front + tail + w.capacity;
    }
    char *grown = static_cast<char *>(malloc(capacity));
    if (grown == nullptr) {
        EXCEPT("Out of memory expanding configuration text");
    }
    memcpy(grown, w.buf, w.done);
    memcpy(grown + capacity - tail, w.buf + w.rest, tail);
    free(w.buf);
    w.buf = grown;
    w.rest = capacity - tail;
    w.capacity = capacity;
}

// Replaces the reference f of the rest by value: the rest before f.resume
// joins the finished part. False after the length bound's message.
bool replace_in_work(Work &w, const Found &f, const char *value, size_t value_length) {
    size_t ref_length = f.name_length + 3;
    size_t old_length = w.length();
    size_t length = old_length - ref_length + value_length;
    if (length > static_cast<size_t>(MACRO_EXPAND_MAX_LENGTH) && length > old_length) {
        fprintf(stderr,
                "Configuration Error: expanding $(%.*s) makes the text longer than %d bytes; "
                "macros probably refer to each other in a cycle\n",
                static_cast<int>(f.name_length), f.name, MACRO_EXPAND_MAX_LENGTH);
        return false;
    }
    memmove(w.buf + w.done, w.buf + w.rest, f.resume);
    w.done += f.resume;
    w.rest += f.resume;
    size_t kept = f.at - f.resume;  // the "$(name" of the last decision
    size_t tail = w.rest + kept + ref_length;
    if (tail < w.done + kept + value_length) {
        size_t offset = tail - w.rest;
        grow_work(w, w.done + kept + value_length);  // moves the rest, kept part included
        tail = w.rest + offset;
    }
    size_t start = tail - value_length - kept;
    memmove(w.buf + start, w.buf + w.rest, kept);
    memcpy(w.buf + start + kept, value, value_length);
    w.rest = start;
    return true;
}

// Whether the replacement just made (value_length bytes after kept ones at
// the start of the rest) could have formed a special prefix, also across
// the edge of the finished part.
bool formed_special_near(const Work &w, size_t kept, size_t value_length) {
    size_t window = kept + value_length + kSpecialReach;
    if (window > w.rest_length()) {
        window = w.rest_length();
    }
    if (has_special(w.buf + w.rest, window)) {
        return true;
    }
    char edge[2 * kSpecialReach];
    size_t before = w.done < kSpecialReach ? w.done : kSpecialReach;
    size_t after = w.rest_length() < kSpecialReach ? w.rest_length() : kSpecialReach;
    memcpy(edge, w.buf + w.done - before, before);
    memcpy(edge + before, w.buf + w.rest, after);
    return has_special(edge, before + after);
}

// The same, first ruling it out cheaply: with no "$" in the value, only a
// "$" among the characters just before it can start a new prefix.
bool formed_special(const Work &w, size_t kept, size_t value_length) {
    const char *value = w.buf + w.rest + kept;
    if (memchr(value, '$', value_length) == nullptr) {
        // A new prefix would have to start just before the value: in the
        // kept part, or at the end of the finished part.
        size_t from_kept = kept < kSpecialReach ? kept : kSpecialReach;
        size_t from_done = kSpecialReach - from_kept;
        from_done = w.done < from_done ? w.done : from_done;
        if (memchr(value - from_kept, '$', from_kept) == nullptr &&
            memchr(w.buf + w.done - from_done, '$', from_done) == nullptr) {
            return false;
        }
    }
    return formed_special_near(w, kept, value_length);
}

// A reference of a direct expansion: where it lies in the text and what
// replaces it.
struct Piece {
    size_t at;   // its "$"
    size_t end;  // just past its ")"
    const char *value;
    size_t value_length;
};

// References a direct expansion replaces; more take the resuming way.
constexpr int kDirectPieces = 8;

// The value stored under the reference's name ("" when undefined).
const char *referenced_value(const char *name, size_t name_length, MacroBucket **table,
                             int table_size) {
    char lowered[MACRO_KEY_BUFFER];
    MacroNameKey key;
    if (!_torvel_macro_key_n(name, name_length, table_size, lowered, &key)) {
        return "";
    }
    MacroBucket *node = _torvel_macro_find(table, table_size, key);
    return node != nullptr ? node->value : "";
}

// text with its pieces replaced, in one new string of length bytes.
char *join_pieces(const char *text, size_t length, const Piece *pieces, int count) {
    char *result = static_cast<char *>(malloc(length + 1));
    if (result == nullptr) {
        EXCEPT("Out of memory expanding configuration text");
    }
    char *out = result;
    size_t from = 0;
    for (int i = 0; i < count; ++i) {
        memcpy(out, text + from, pieces[i].at - from);
        out += pieces[i].at - from;
        memcpy(out, pieces[i].value, pieces[i].value_length);
        out += pieces[i].value_length;
        from = pieces[i].end;
    }
    strcpy(out, text + from);
    return result;
}

// Expands text in one go when every "$" in it starts a reference $(NAME)
// (in full mode none of them $(DOLLAR)), at most kDirectPieces of them are
// replaced, no value replacing one holds a "$", and the result stays within
// the length bound. Then no scan decision reaches into a reference, no
// special prefix is in the text or can form, and nothing substituted is
// scanned again: the result is known from the text alone, sized once and
// copied once. first: the first "$" of text. Null (nothing printed) when it
// cannot be done this way.
char *expand_direct(const char *text, const char *first, MacroBucket **table, int table_size,
                    const char *self) {
    Piece pieces[kDirectPieces];
    int count = 0;
    size_t self_length = self != nullptr ? strlen(self) : 0;
    size_t growth = 0;  // the values' bytes
    size_t shrink = 0;  // the replaced references' bytes
    const char *end = text;
    for (const char *p = first; p != nullptr; p = strchr(end, '$')) {
        if (p[1] != '(') {
            return nullptr;
        }
        const char *name = p + 2;
        const char *close = name;
        while (is_name_char(*close)) {
            ++close;
        }
        size_t name_length = static_cast<size_t>(close - name);
        if (*close != ')' ||
            (self == nullptr && name_length == 6 && strncasecmp(name, "DOLLAR", 6) == 0)) {
            return nullptr;
        }
        end = close + 1;
        if (self != nullptr &&
            (name_length != self_length || strncasecmp(name, self, name_length) != 0)) {
            continue;  // kept for a later lookup
        }
        const char *value = referenced_value(name, name_length, table, table_size);
        const char *stop = strchrnul(value, '$');  // its end unless it holds a "$"
        if (count == kDirectPieces || *stop != '\0') {
            return nullptr;
        }
        size_t value_length = static_cast<size_t>(stop - value);
        pieces[count++] = Piece{static_cast<size_t>(p - text), static_cast<size_t>(end - text),
                                value, value_length};
        growth += value_length;
        shrink += name_length + 3;
    }
    size_t length = static_cast<size_t>(end - text) + strlen(end);
    // No step of the resuming way is longer than this, so none meets the bound.
    if (length + growth > static_cast<size_t>(MACRO_EXPAND_MAX_LENGTH)) {
        return nullptr;
    }
    return join_pieces(text, length + growth - shrink, pieces, count);
}

// *dollars tells whether the result may hold $(DOLLAR): the scans see every
// one that the result keeps.
char *expand_fast(const char *value, size_t length, MacroBucket **table, int table_size,
                  const char *self, bool *dollars) {
    Work w;
    w.capacity = 2 * length + 64;
    w.buf = static_cast<char *>(malloc(w.capacity));
    if (w.buf == nullptr) {
        EXCEPT("Out of memory expanding configuration text");
    }
    w.done = 0;
    w.rest = w.capacity - 1 - length;
    memcpy(w.buf + w.rest, value, length + 1);
    size_t self_length = self != nullptr ? strlen(self) : 0;
    Found f;
    for (int pass = 0; scan_reference(w.buf + w.rest, self, self_length, &f, dollars); ++pass) {
        if (pass >= MACRO_EXPAND_MAX_PASSES) {
            fprintf(stderr,
                    "Configuration Error: $(%.*s) still expanding after %d passes; "
                    "macros probably refer to each other in a cycle\n",
                    static_cast<int>(f.name_length), f.name, MACRO_EXPAND_MAX_PASSES);
            free(w.buf);
            return nullptr;
        }
        const char *replacement = referenced_value(f.name, f.name_length, table, table_size);
        size_t replacement_length = strlen(replacement);
        if (!replace_in_work(w, f, replacement, replacement_length)) {
            free(w.buf);
            return nullptr;
        }
        if (self == nullptr && formed_special(w, f.at - f.resume, replacement_length)) {
            *dollars = true;
            return expand_passes(w.joined(), pass + 1, table, table_size, self);
        }
    }
    return w.joined();
}
}  // namespace

char *expand_macro(const char *value, MacroBucket **table, int table_size, const char *self) {
    if (value == nullptr) {
        return nullptr;
    }
    const char *first = strchrnul(value, '$');
    size_t before = static_cast<size_t>(first - value);
    if (*first == '\0') {
        return copy_text(value, before);  // no reference of any kind can be in it
    }
    char *text = expand_direct(value, first, table, table_size, self);
    if (text != nullptr) {
        return text;
    }
    size_t length = before + strlen(first);
    bool dollars = true;
    if (self == nullptr && has_special(first, length - before)) {
        text = expand_passes(copy_text(value, length), 0, table, table_size, self);
    } else {
        dollars = false;
        text = expand_fast(value, length, table, table_size, self, &dollars);
    }
    if (text != nullptr && self == nullptr && dollars) {
        replace_dollars(&text);
    }
    return text;
}

MacroExpandCheck::MacroExpandCheck(MyString *reason) {
    check_reason = reason;
}

MacroExpandCheck::~MacroExpandCheck() {
    check_reason = nullptr;
}

bool get_var(char *text, char **left, char **name, char **tail, const char *self) {
    Found found;
    bool saw_dollar = false;
    if (!scan_reference(text, self, self != nullptr ? strlen(self) : 0, &found, &saw_dollar)) {
        return false;
    }
    char *start = text + (found.name - text);
    text[found.at] = '\0';
    start[found.name_length] = '\0';
    *left = text;
    *name = start;
    *tail = start + found.name_length + 1;
    return true;
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
