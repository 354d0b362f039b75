// MyString: the library's owned, growable text. Appends grow the array by
// doubling; assignments allocate exactly and reuse an array that is already
// large enough. Positions are -1 when not found, out-of-range reads give NUL,
// and nothing throws. A memory shortage makes growth fail quietly (reserve,
// formatting and replaceString return false, an append is left undone);
// the constructors, assignments and Tokenize end the process through the
// fatal-error path instead. MyStringHash maps a string to a bucket of the library's hash
// tables.
//
// Every operation accepts arguments that point into the string itself
// (s += s, s += s.Value() + 1, s = s.Value() + 2, s.sprintf_cat("%s",
// s.Value())): the old array is only released after the new text is built.
//
// Not thread-safe; the tokenizer state makes even Tokenize/GetNextToken
// non-reentrant on one object.
#ifndef TORVEL_CORE_MY_STRING_H_
#define TORVEL_CORE_MY_STRING_H_

#include <stdarg.h>
#include <stdio.h>

#include <iosfwd>

class MyString {
 public:
    // Empty, without an array.
    MyString();
    // The "%d" form, in an array of exactly its length.
    explicit MyString(int i);
    // Empty, then assignment (a null or empty text allocates nothing).
    MyString(const char *s);  // NOLINT: implicit on purpose, like a literal
    MyString(const MyString &other);
    ~MyString();

    MyString &operator=(const MyString &other);
    // Null or empty empties the string; the array, if any, stays.
    MyString &operator=(const char *s);

    // The text, or "" when there is no array. Borrowed: valid until the next
    // change to the string.
    const char *Value() const;
    // The array itself, null when there is none. Borrowed, as Value().
    const char *GetCStr() const;
    int Length() const;
    // Characters the array holds without growing (0 without an array).
    int Capacity() const;

    // Character at 0 .. Length()-1, otherwise NUL.
    char operator[](int pos) const;
    // Reference to the character at 0 .. Length()-1. For any other position a
    // reference to a scratch byte, set to NUL each time it is handed out.
    // Writing NUL through it does not change Length(); use setChar to cut.
    char &operator[](int pos);
    // Stores c for 0 <= pos < Length(); NUL cuts the length to pos. Other
    // positions are ignored.
    void setChar(int pos, char c);

    // Makes the array hold exactly n characters (n + 1 bytes), cutting the
    // text when it is longer. False for n < 0 or when memory is short (then
    // nothing changes).
    bool reserve(int n);
    // Doubles the capacity when that is more than n, else reserves exactly n.
    bool reserve_at_least(int n);

    // Appends. On a memory shortage the string is left unchanged. Appending
    // (even an empty MyString) to a string without array gives it one.
    MyString &operator+=(const MyString &other);
    MyString &operator+=(const char *s);   // null or "" changes nothing at all
    MyString &operator+=(char c);          // NUL changes nothing
    MyString &operator+=(int i);           // "%d"
    MyString &operator+=(unsigned int u);  // "%u"
    MyString &operator+=(long l);          // "%ld"
    MyString &operator+=(double d);        // "%f", at most 127 characters

    // printf-style appends. A null or empty format changes nothing and
    // returns true. False (string unchanged) when the text cannot be measured
    // or memory is short.
    bool sprintf_cat(const char *format, ...) __attribute__((format(printf, 2, 3)));
    bool vsprintf_cat(const char *format, va_list args);
    // Replace the text by the formatted text; a null or empty format just
    // empties the string. On failure the old text stays.
    bool sprintf(const char *format, ...) __attribute__((format(printf, 2, 3)));
    bool vsprintf(const char *format, va_list args);

    // Characters first .. last, both included, clamped to the text.
    MyString Substr(int first, int last) const;
    // First position >= from of c (or of s), else -1; -1 also without an
    // array or for from outside 0 .. Length()-1.
    int FindChar(int c, int from = 0) const;
    int find(const char *s, int from = 0) const;
    // A copy in which every character found in special is preceded by escape.
    MyString EscapeChars(const MyString &special, char escape) const;
    // Replaces every non-overlapping occurrence of old at or after from, left
    // to right, with one allocation. True when at least one was replaced.
    bool replaceString(const char *old, const char *replacement, int from = 0);
    // Sum of (signed char)text[i] * i with 32-bit wrap-around.
    int Hash() const;

    // ASCII case conversion in place; other bytes are untouched.
    void lower_case();
    void upper_case();
    void strlwr();
    void strupr();
    // Removes one trailing newline; false when there was none.
    bool chomp();
    // Removes leading and trailing isspace() characters.
    void trim();

    // Reads one line (up to and including its newline), going on after a
    // read interrupted by a signal (core/line_read.h). Replace mode (append
    // false): true when anything was read, false at end of file with the
    // string unchanged. Append mode: true only when a newline was reached.
    // A NUL byte ends the text stored (the rest of its line is read).
    bool readLine(FILE *fp, bool append = false);

    // Takes a private copy of the text for GetNextToken; later changes to the
    // string do not affect the tokens.
    void Tokenize();
    // Next token up to one of delims, or null when the tokens are exhausted,
    // before Tokenize, or for a null/empty delims. Adjacent delimiters give an
    // empty token unless skipEmpty. Borrowed: valid until the next Tokenize
    // or the string's destruction.
    const char *GetNextToken(const char *delims, bool skipEmpty);

 private:
    // Allocates an array for at least n characters by the doubling rule,
    // holding a copy of the first keep characters of the current text; the
    // current array is left alone. Null when memory is short.
    char *grow_copy_(int n, int keep, int *new_capacity) const;
    // Appends n bytes from p, which may point into this string.
    bool append_(const char *p, int n);
    // Formats behind the first base characters (base is 0 or length).
    bool format_at_(int base, const char *format, va_list args);
    void adopt_(char *array, int new_length, int new_capacity);

    char *chars;
    char outOfRange;
    int length;
    int capacity;
    char *tokenBuffer;
    char *tokenCursor;
};

MyString operator+(const MyString &left, const MyString &right);

// Equal when both are empty (no array, no text, a null or "" pointer) or
// both hold the same bytes.
bool operator==(const MyString &a, const MyString &b);
bool operator==(const MyString &a, const char *b);
bool operator!=(const MyString &a, const MyString &b);
bool operator!=(const MyString &a, const char *b);
// A string without array is less than any string with one, even an empty
// one; two strings with arrays compare with strcmp.
bool operator<(const MyString &a, const MyString &b);
bool operator<=(const MyString &a, const MyString &b);
bool operator>(const MyString &a, const MyString &b);
bool operator>=(const MyString &a, const MyString &b);

// Writes the text (nothing without an array).
std::ostream &operator<<(std::ostream &os, const MyString &s);
// Skips white space and reads one white-space-delimited word, whatever its
// length: a word longer than 1023 characters is read whole, never cut and
// never left half in the stream. When no word can be read (end of input),
// failbit is set and the string is left unchanged.
std::istream &operator>>(std::istream &is, MyString &s);

// Bucket index in 0 .. buckets-1: Hash() taken as unsigned, modulo buckets.
// REQUIRES: buckets > 0 (0 is returned otherwise).
int MyStringHash(const MyString &key, int buckets);

#endif  // TORVEL_CORE_MY_STRING_H_
