// StringList implementation. Entries are malloc'd copies released with free;
// the delimiter set is a new[] copy from strnewp. Membership and removal walk the built-in cursor;
// operations that only read every entry (contains_list, create_union,
// print, print_to_string and copying) walk with a ListIterator instead, so
// a list can be compared with itself.
#include "core/string_list.h"

#include <ctype.h>
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "core/strnewp.h"
#include "diagnostics/except.h"

namespace {

char ascii_lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// Whether the first n bytes of a and b agree (case-blind for ASCII letters
// when anycase). REQUIRES: both have at least n bytes.
bool same_bytes(const char *a, const char *b, size_t n, bool anycase) {
    if (!anycase) {
        return memcmp(a, b, n) == 0;
    }
    for (size_t i = 0; i < n; ++i) {
        if (ascii_lower(a[i]) != ascii_lower(b[i])) {
            return false;
        }
    }
    return true;
}

bool same_text(const char *a, const char *b, bool anycase) {
    size_t n = strlen(a);
    return n == strlen(b) && same_bytes(a, b, n, anycase);
}

// pattern read as: prefix '*' suffix, where only the first '*' is special.
bool wildcard_matches(const char *pattern, const char *s, bool anycase) {
    const char *star = strchr(pattern, '*');
    if (star == nullptr) {
        return same_text(pattern, s, anycase);
    }
    size_t prefix_length = static_cast<size_t>(star - pattern);
    const char *suffix = star + 1;
    size_t suffix_length = strlen(suffix);
    size_t n = strlen(s);
    if (n < prefix_length || !same_bytes(s, pattern, prefix_length, anycase)) {
        return false;
    }
    // Prefix and suffix may overlap in s: "a*a" matches "a".
    return n >= suffix_length && same_bytes(s + n - suffix_length, suffix, suffix_length, anycase);
}

char *copy_entry(const char *start, size_t n) {
    char *entry = static_cast<char *>(malloc(n + 1));
    if (entry != nullptr) {
        memcpy(entry, start, n);
        entry[n] = '\0';
    }
    return entry;
}

}  // namespace

StringList::StringList(const char *text, const char *delims) : separators(nullptr) {
    ASSERT(delims != nullptr);
    separators = strnewp(delims);
    if (text != nullptr) {
        initializeFromString(text);
    }
}

StringList::StringList(const StringList &other) : separators(strnewp(other.separators)) {
    copy_entries_(other);
}

StringList &StringList::operator=(const StringList &other) {
    if (&other == this) {
        return *this;
    }
    clearAll();
    delete[] separators;
    separators = strnewp(other.separators);
    copy_entries_(other);
    return *this;
}

StringList::~StringList() {
    clearAll();
    delete[] separators;
}

void StringList::copy_entries_(const StringList &other) {
    ListIterator<char> walker(other.entries);
    for (char *entry = walker.Next(); entry != nullptr; entry = walker.Next()) {
        append(entry);
    }
    rewind();
}

void StringList::initializeFromString(const char *text) {
    if (text == nullptr) {
        return;
    }
    const char *p = text;
    while (*p != '\0') {
        while (*p != '\0' && (isSeparator(*p) || isspace(static_cast<unsigned char>(*p)))) {
            ++p;
        }
        const char *start = p;
        while (*p != '\0' && !isSeparator(*p)) {
            ++p;
        }
        char *entry = copy_entry(start, static_cast<size_t>(p - start));
        if (entry != nullptr) {
            entries.Append(entry);
        }
    }
}

bool StringList::isSeparator(char c) const {
    return c != '\0' && separators != nullptr && strchr(separators, c) != nullptr;
}

bool StringList::append(const char *s) {
    if (s == nullptr) {
        return false;
    }
    char *entry = copy_entry(s, strlen(s));
    if (entry == nullptr) {
        return false;
    }
    return entries.Append(entry);
}

void StringList::insert(const char *s) {
    if (s == nullptr) {
        return;
    }
    char *entry = copy_entry(s, strlen(s));
    if (entry != nullptr) {
        entries.Insert(entry);
    }
}

void StringList::rewind() {
    entries.Rewind();
}

char *StringList::next() {
    return entries.Next();
}

int StringList::number() const {
    return entries.Number();
}

bool StringList::isEmpty() const {
    return entries.IsEmpty();
}

void StringList::deleteCurrent() {
    char *entry = entries.Current();
    entries.DeleteCurrent();  // ends the process when no entry is current
    free(entry);
}

void StringList::clearAll() {
    entries.Rewind();
    for (char *entry = entries.Next(); entry != nullptr; entry = entries.Next()) {
        entries.DeleteCurrent();
        free(entry);
    }
}

bool StringList::contains_(const char *s, bool anycase) {
    if (s == nullptr) {
        return false;
    }
    rewind();
    for (char *entry = next(); entry != nullptr; entry = next()) {
        if (same_text(entry, s, anycase)) {
            return true;
        }
    }
    return false;
}

bool StringList::contains(const char *s) {
    return contains_(s, false);
}

bool StringList::contains_anycase(const char *s) {
    return contains_(s, true);
}

void StringList::remove_(const char *s, bool anycase) {
    if (s == nullptr) {
        return;
    }
    rewind();
    for (char *entry = next(); entry != nullptr; entry = next()) {
        if (same_text(entry, s, anycase)) {
            deleteCurrent();
        }
    }
}

void StringList::remove(const char *s) {
    remove_(s, false);
}

void StringList::remove_anycase(const char *s) {
    remove_(s, true);
}

bool StringList::substring(const char *s) {
    if (s == nullptr) {
        return false;
    }
    rewind();
    for (char *entry = next(); entry != nullptr; entry = next()) {
        if (strncmp(entry, s, strlen(entry)) == 0) {
            return true;
        }
    }
    return false;
}

bool StringList::contains_list(const StringList &other, bool anycase) {
    ListIterator<char> walker(other.entries);
    for (char *entry = walker.Next(); entry != nullptr; entry = walker.Next()) {
        if (!contains_(entry, anycase)) {
            return false;
        }
    }
    return true;
}

bool StringList::create_union(const StringList &other, bool anycase) {
    if (&other == this) {
        return false;  // every entry is already here
    }
    bool added = false;
    ListIterator<char> walker(other.entries);
    for (char *entry = walker.Next(); entry != nullptr; entry = walker.Next()) {
        if (!contains_(entry, anycase)) {
            added = append(entry) || added;
        }
    }
    return added;
}

char *StringList::find_wildcard_match_(const char *s, bool anycase) {
    if (s == nullptr) {
        return nullptr;
    }
    rewind();
    for (char *entry = next(); entry != nullptr; entry = next()) {
        if (wildcard_matches(entry, s, anycase)) {
            return entry;
        }
    }
    return nullptr;
}

bool StringList::contains_withwildcard(const char *s) {
    return find_wildcard_match_(s, false) != nullptr;
}

bool StringList::contains_anycase_withwildcard(const char *s) {
    return find_wildcard_match_(s, true) != nullptr;
}

char *StringList::string_anycase_withwildcard(const char *s) {
    return find_wildcard_match_(s, true);
}

void StringList::print() {
    ListIterator<char> walker(entries);
    for (char *entry = walker.Next(); entry != nullptr; entry = walker.Next()) {
        printf("[%s]\n", entry);
    }
}

char *StringList::print_to_string() {
    if (entries.IsEmpty()) {
        return nullptr;
    }
    size_t total = 0;
    ListIterator<char> walker(entries);
    for (char *entry = walker.Next(); entry != nullptr; entry = walker.Next()) {
        total += strlen(entry);
    }
    char *joined =
        static_cast<char *>(calloc(total + static_cast<size_t>(entries.Number()) + 1, 1));
    if (joined == nullptr) {
        _EXCEPT_Line = __LINE__;
        _EXCEPT_File = "string_list";
        _EXCEPT_Errno = errno;
        _EXCEPT_("Out of memory in StringList::print_to_string");
    }
    char *out = joined;
    bool first = true;
    walker.ToBeforeFirst();
    for (char *entry = walker.Next(); entry != nullptr; entry = walker.Next()) {
        if (!first) {
            *out++ = ',';
        }
        first = false;
        size_t n = strlen(entry);
        memcpy(out, entry, n);
        out += n;
    }
    return joined;
}
