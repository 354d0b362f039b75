// StringList: an ordered list of owned texts split from a delimited text,
// with one built-in cursor and exact, case-blind, prefix and single-'*'
// wildcard membership. Configuration lists are StringLists.
//
// Every entry is a malloc'd copy that the list frees. The membership and
// removal operations use and move the list's one cursor (rewind/next), so
// they are not reentrant on one object. Copying copies every entry and the
// delimiters; the copy's cursor stands before the first entry.
#ifndef TORVEL_CORE_STRING_LIST_H_
#define TORVEL_CORE_STRING_LIST_H_

#include "core/list.h"

class StringList {
 public:
    // Copies delims and, when text is not null, parses it. Callers use " ,"
    // (blank and comma) unless they need another set.
    // REQUIRES: delims is not null (the process ends otherwise).
    explicit StringList(const char *text = nullptr, const char *delims = " ,");
    StringList(const StringList &other);
    StringList &operator=(const StringList &other);
    virtual ~StringList();

    // Appends the entries of text: leading delimiters and white space are
    // skipped, an entry runs to the next delimiter (inner and trailing
    // non-delimiter white space stays). Trailing delimiters or white space
    // after the last entry give one further, empty entry. Null adds nothing.
    void initializeFromString(const char *text);
    // Whether c is one of the delimiters (NUL never is).
    bool isSeparator(char c) const;

    // Appends a copy of s; the cursor moves to it. False (nothing appended)
    // for a null s or when memory is short.
    bool append(const char *s);
    // Inserts a copy of s just before the entry under the cursor; after
    // rewind(), at the end. The cursor stays. Ignores a null s.
    void insert(const char *s);

    void rewind();
    // Next entry, or null at the end (the cursor then stays on the last).
    // Borrowed: owned by the list, valid until the entry is removed.
    char *next();
    int number() const;
    bool isEmpty() const;

    // Frees and unlinks the entry under the cursor; the cursor steps back so
    // next() yields the entry that followed. REQUIRES: an entry is under the
    // cursor (the process ends otherwise).
    void deleteCurrent();
    // Frees every entry.
    void clearAll();

    // Whether some entry equals s (bytes / ASCII case-blind). False for null.
    bool contains(const char *s);
    bool contains_anycase(const char *s);
    // Removes every entry equal to s.
    void remove(const char *s);
    void remove_anycase(const char *s);
    // Whether some entry is a prefix of s ("" is a prefix of everything).
    bool substring(const char *s);
    // Whether every entry of other is in this list (true for an empty other).
    // other's cursor is not moved; other may be this list.
    bool contains_list(const StringList &other, bool anycase);
    // Appends a copy of every entry of other not already here; true when
    // anything was added.
    bool create_union(const StringList &other, bool anycase);

    // Whether some entry, read as a pattern, matches s: the first '*' of an
    // entry stands for any text (later '*' are literal). False for null s.
    bool contains_withwildcard(const char *s);
    bool contains_anycase_withwildcard(const char *s);
    // The first entry (pattern) matching s case-blind, or null. Borrowed:
    // owned by the list.
    char *string_anycase_withwildcard(const char *s);

    // Writes each entry to standard output as "[%s]\n".
    void print();
    // The entries joined by ",", or null for an empty list. Caller free()s.
    // Running out of memory ends the process through the fatal-error path.
    char *print_to_string();

 private:
    // First entry matching s as a pattern, or null; moves the cursor.
    char *find_wildcard_match_(const char *s, bool anycase);
    bool contains_(const char *s, bool anycase);
    void remove_(const char *s, bool anycase);
    void copy_entries_(const StringList &other);

    List<char> entries;
    char *separators;  // new[]
};

#endif  // TORVEL_CORE_STRING_LIST_H_
