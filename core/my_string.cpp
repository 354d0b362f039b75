// MyString implementation. Growth (reserve, appends, formatting,
// replaceString) takes its arrays from the non-throwing new[] so that a
// memory shortage is a failed growth; the constructors, assignments and
// Tokenize take theirs from new (torvel::or_die). Whenever an operation
// needs a bigger array it builds the new text in the new array while the old
// one is still alive and releases the old one last; that is what keeps
// arguments that point into the string itself valid. The array always has a
// NUL at position `capacity`, so any pointer into it ends inside it.
#include "core/my_string.h"

#include <ctype.h>
#include <limits.h>
#include <stdint.h>
#include <string.h>

#include <istream>
#include <new>
#include <ostream>

#include "core/allocation.h"
#include "core/bounded_printf.h"
#include "core/case_convert.h"
#include "core/line_read.h"

namespace {

// An array for n characters and the terminator; null when memory is short.
char *new_array(int n) {
    return new (std::nothrow) char[static_cast<size_t>(n) + 1];
}

// The same for callers with no failure result: never null.
char *new_array_or_die(int n) {
    return new (torvel::or_die) char[static_cast<size_t>(n) + 1];
}

// Length of s when it fits a MyString, else -1.
int checked_length(const char *s) {
    size_t n = strlen(s);
    return n > static_cast<size_t>(INT_MAX) ? -1 : static_cast<int>(n);
}

// Formatted text of up to this many characters needs no heap temporary.
constexpr int kStackFormatSize = 256;

}  // namespace

MyString::MyString()
    : chars(nullptr),
      outOfRange('\0'),
      length(0),
      capacity(0),
      tokenBuffer(nullptr),
      tokenCursor(nullptr) {}

MyString::MyString(int i) : MyString() {
    char work[50];
    int n = snprintf(work, sizeof work, "%d", i);
    char *array = new_array_or_die(n);
    memcpy(array, work, static_cast<size_t>(n) + 1);
    adopt_(array, n, n);
}

MyString::MyString(const char *s) : MyString() {
    *this = s;
}

MyString::MyString(const MyString &other) : MyString() {
    *this = other;
}

MyString::~MyString() {
    delete[] chars;
    delete[] tokenBuffer;
    chars = nullptr;
    tokenBuffer = nullptr;
    tokenCursor = nullptr;
    length = 0;
    capacity = 0;
}

void MyString::adopt_(char *array, int new_length, int new_capacity) {
    array[new_capacity] = '\0';
    if (array != chars) {
        delete[] chars;
        chars = array;
    }
    length = new_length;
    capacity = new_capacity;
}

MyString &MyString::operator=(const MyString &other) {
    if (&other == this) {
        return *this;
    }
    if (other.chars == nullptr) {
        if (chars != nullptr) {
            chars[0] = '\0';
        }
        length = 0;
        return *this;
    }
    if (chars != nullptr && capacity >= other.length) {
        memcpy(chars, other.chars, static_cast<size_t>(other.length));
        chars[other.length] = '\0';
        length = other.length;
        return *this;
    }
    char *array = new_array_or_die(other.length);
    memcpy(array, other.chars, static_cast<size_t>(other.length));
    array[other.length] = '\0';
    adopt_(array, other.length, other.length);
    return *this;
}

MyString &MyString::operator=(const char *s) {
    if (s == nullptr || *s == '\0') {
        if (chars != nullptr) {
            chars[0] = '\0';
        }
        length = 0;
        return *this;
    }
    int n = checked_length(s);
    if (n < 0) {
        return *this;
    }
    if (chars != nullptr && capacity >= n) {
        // s may be a tail of our own text: the regions can overlap.
        memmove(chars, s, static_cast<size_t>(n) + 1);
        length = n;
        return *this;
    }
    char *array = new_array_or_die(n);
    memcpy(array, s, static_cast<size_t>(n) + 1);
    adopt_(array, n, n);
    return *this;
}

const char *MyString::Value() const {
    return chars != nullptr ? chars : "";
}

const char *MyString::GetCStr() const {
    return chars;
}

int MyString::Length() const {
    return length;
}

int MyString::Capacity() const {
    return capacity;
}

char MyString::operator[](int pos) const {
    return (pos >= 0 && pos < length) ? chars[pos] : '\0';
}

char &MyString::operator[](int pos) {
    if (pos >= 0 && pos < length) {
        return chars[pos];
    }
    outOfRange = '\0';
    return outOfRange;
}

void MyString::setChar(int pos, char c) {
    if (pos < 0 || pos >= length) {
        return;
    }
    chars[pos] = c;
    if (c == '\0') {
        length = pos;
    }
}

bool MyString::reserve(int n) {
    if (n < 0) {
        return false;
    }
    char *array = new_array(n);
    if (array == nullptr) {
        return false;
    }
    array[0] = '\0';
    if (chars != nullptr) {
        int keep = length < n ? length : n;
        memcpy(array, chars, static_cast<size_t>(keep));
        array[keep] = '\0';
    }
    array[n] = '\0';
    adopt_(array, static_cast<int>(strlen(array)), n);
    return true;
}

char *MyString::grow_copy_(int n, int keep, int *new_capacity) const {
    int64_t doubled = 2 * static_cast<int64_t>(capacity);
    char *array = nullptr;
    int chosen = n;
    if (doubled > n && doubled <= INT_MAX) {
        chosen = static_cast<int>(doubled);
        array = new_array(chosen);
    }
    if (array == nullptr) {
        chosen = n;
        array = new_array(chosen);
    }
    if (array == nullptr) {
        return nullptr;
    }
    if (keep > 0) {
        memcpy(array, chars, static_cast<size_t>(keep));
    }
    array[keep] = '\0';
    array[chosen] = '\0';
    *new_capacity = chosen;
    return array;
}

bool MyString::reserve_at_least(int n) {
    if (n < 0) {
        return false;
    }
    int64_t doubled = 2 * static_cast<int64_t>(capacity);
    if (doubled > n && doubled <= INT_MAX && reserve(static_cast<int>(doubled))) {
        return true;
    }
    return reserve(n);
}

bool MyString::append_(const char *p, int n) {
    if (n < 0 || static_cast<int64_t>(length) + n > INT_MAX) {
        return false;
    }
    int new_length = length + n;
    if (chars == nullptr || new_length > capacity) {
        int new_capacity = 0;
        char *array = grow_copy_(new_length, length, &new_capacity);
        if (array == nullptr) {
            return false;
        }
        if (n > 0) {
            memcpy(array + length, p, static_cast<size_t>(n));  // p may be in chars
        }
        array[new_length] = '\0';
        adopt_(array, new_length, new_capacity);
        return true;
    }
    if (n > 0) {
        memmove(chars + length, p, static_cast<size_t>(n));
    }
    chars[new_length] = '\0';
    length = new_length;
    return true;
}

MyString &MyString::operator+=(const MyString &other) {
    append_(other.Value(), other.length);
    return *this;
}

MyString &MyString::operator+=(const char *s) {
    if (s != nullptr && *s != '\0') {
        int n = checked_length(s);
        if (n > 0) {
            append_(s, n);
        }
    }
    return *this;
}

MyString &MyString::operator+=(char c) {
    // A NUL would hide the rest of the text from every C-string reader.
    if (c != '\0') {
        append_(&c, 1);
    }
    return *this;
}

MyString &MyString::operator+=(int i) {
    char work[64];
    append_(work, snprintf(work, sizeof work, "%d", i));
    return *this;
}

MyString &MyString::operator+=(unsigned int u) {
    char work[64];
    append_(work, snprintf(work, sizeof work, "%u", u));
    return *this;
}

MyString &MyString::operator+=(long l) {
    char work[64];
    append_(work, snprintf(work, sizeof work, "%ld", l));
    return *this;
}

MyString &MyString::operator+=(double d) {
    char work[128];
    snprintf(work, sizeof work, "%f", d);
    append_(work, static_cast<int>(strlen(work)));
    return *this;
}

bool MyString::format_at_(int base, const char *format, va_list args) {
    if (format == nullptr || *format == '\0') {
        if (base == 0 && chars != nullptr) {
            chars[0] = '\0';
        }
        if (base == 0) {
            length = 0;
        }
        return true;
    }
    int n = vprintf_length(format, args);
    if (n < 0 || static_cast<int64_t>(base) + n > INT_MAX) {
        return false;
    }
    int needed = base + n;
    va_list copy;
    if (chars != nullptr && capacity >= needed) {
        // An argument may be our own text, which formatting in place would
        // overwrite while it is read: format aside, then copy in.
        char stack_buffer[kStackFormatSize + 1];
        char *text = n <= kStackFormatSize ? stack_buffer : new_array(n);
        if (text == nullptr) {
            return false;
        }
        va_copy(copy, args);
        vsnprintf(text, static_cast<size_t>(n) + 1, format, copy);
        va_end(copy);
        memcpy(chars + base, text, static_cast<size_t>(n));
        chars[needed] = '\0';
        length = needed;
        if (text != stack_buffer) {
            delete[] text;
        }
        return true;
    }
    int new_capacity = 0;
    char *array = grow_copy_(needed, base, &new_capacity);
    if (array == nullptr) {
        return false;
    }
    va_copy(copy, args);
    vsnprintf(array + base, static_cast<size_t>(n) + 1, format, copy);
    va_end(copy);
    adopt_(array, needed, new_capacity);
    return true;
}

bool MyString::vsprintf_cat(const char *format, va_list args) {
    return format_at_(length, format, args);
}

bool MyString::sprintf_cat(const char *format, ...) {
    va_list args;
    va_start(args, format);
    bool ok = format_at_(length, format, args);
    va_end(args);
    return ok;
}

bool MyString::vsprintf(const char *format, va_list args) {
    return format_at_(0, format, args);
}

bool MyString::sprintf(const char *format, ...) {
    va_list args;
    va_start(args, format);
    bool ok = format_at_(0, format, args);
    va_end(args);
    return ok;
}

MyString MyString::Substr(int first, int last) const {
    MyString result;
    if (chars == nullptr || length == 0) {
        return result;
    }
    if (last >= length) {
        last = length - 1;
    }
    if (first < 0) {
        first = 0;
    }
    if (last < first) {
        return result;
    }
    int n = last - first + 1;
    if (result.reserve(n)) {
        memcpy(result.chars, chars + first, static_cast<size_t>(n));
        result.chars[n] = '\0';
        result.length = n;
    }
    return result;
}

int MyString::FindChar(int c, int from) const {
    if (chars == nullptr || from < 0 || from >= length) {
        return -1;
    }
    for (int i = from; i < length; ++i) {
        if (chars[i] == static_cast<char>(c)) {
            return i;
        }
    }
    return -1;
}

int MyString::find(const char *s, int from) const {
    if (s == nullptr || chars == nullptr || from < 0 || from >= length) {
        return -1;
    }
    const char *hit = strstr(chars + from, s);
    return hit == nullptr ? -1 : static_cast<int>(hit - chars);
}

MyString MyString::EscapeChars(const MyString &special, char escape) const {
    MyString result;
    result.reserve(length);
    for (int i = 0; i < length; ++i) {
        char c = chars[i];
        if (special.FindChar(c, 0) >= 0) {
            result += escape;
        }
        result += c;
    }
    return result;
}

bool MyString::replaceString(const char *old, const char *replacement, int from) {
    if (old == nullptr || *old == '\0') {
        return false;
    }
    if (replacement == nullptr) {
        replacement = "";
    }
    // Both texts may lie inside our array; it stays intact until the end.
    int64_t old_length = static_cast<int64_t>(strlen(old));
    int64_t rep_length = static_cast<int64_t>(strlen(replacement));

    int64_t matches = 0;
    for (int p = from; p <= length;) {
        int pos = find(old, p);
        if (pos < 0) {
            break;
        }
        ++matches;
        p = pos + static_cast<int>(old_length);
    }
    if (matches == 0) {
        return false;
    }
    int64_t new_length = length + matches * (rep_length - old_length);
    if (new_length > INT_MAX) {
        return false;
    }
    char *array = new_array(static_cast<int>(new_length));
    if (array == nullptr) {
        return false;
    }
    int copied = 0;  // next source position still to copy
    char *out = array;
    for (int p = from; p <= length;) {
        int pos = find(old, p);
        if (pos < 0) {
            break;
        }
        memcpy(out, chars + copied, static_cast<size_t>(pos - copied));
        out += pos - copied;
        memcpy(out, replacement, static_cast<size_t>(rep_length));
        out += rep_length;
        copied = pos + static_cast<int>(old_length);
        p = copied;
    }
    memcpy(out, chars + copied, static_cast<size_t>(length - copied));
    array[new_length] = '\0';
    adopt_(array, static_cast<int>(new_length), static_cast<int>(new_length));
    return true;
}

int MyString::Hash() const {
    uint32_t hash = 0;
    for (int i = 0; i < length; ++i) {
        int32_t c = static_cast<signed char>(chars[i]);
        hash += static_cast<uint32_t>(c) * static_cast<uint32_t>(i);
    }
    return static_cast<int>(hash);
}

void MyString::lower_case() {
    if (chars != nullptr) {
        ::strlwr(chars);
    }
}

void MyString::upper_case() {
    if (chars != nullptr) {
        ::strupr(chars);
    }
}

void MyString::strlwr() {
    lower_case();
}

void MyString::strupr() {
    upper_case();
}

bool MyString::chomp() {
    if (length == 0 || chars[length - 1] != '\n') {
        return false;
    }
    chars[--length] = '\0';
    return true;
}

void MyString::trim() {
    if (length == 0) {
        return;
    }
    int begin = 0;
    while (begin < length && isspace(static_cast<unsigned char>(chars[begin]))) {
        ++begin;
    }
    int end = length - 1;
    while (end >= begin && isspace(static_cast<unsigned char>(chars[end]))) {
        --end;
    }
    if (begin == 0 && end == length - 1) {
        return;
    }
    int n = end - begin + 1;
    memmove(chars, chars + begin, static_cast<size_t>(n));
    chars[n] = '\0';
    length = n;
}

bool MyString::readLine(FILE *fp, bool append) {
    if (fp == nullptr) {
        return false;
    }
    // Not fgets: an interrupted read would lose the part of the line read.
    char *line = nullptr;
    size_t capacity = 0;
    ssize_t length = _torvel_getline(&line, &capacity, fp);
    if (length < 0) {
        free(line);
        return false;
    }
    if (append) {
        *this += line;
    } else {
        *this = line;
    }
    bool whole = line[length - 1] == '\n';
    free(line);
    return whole || !append;
}

void MyString::Tokenize() {
    delete[] tokenBuffer;
    tokenCursor = nullptr;
    tokenBuffer = new_array_or_die(length);
    if (length > 0) {
        memcpy(tokenBuffer, chars, static_cast<size_t>(length));
    }
    tokenBuffer[length] = '\0';
    tokenCursor = length > 0 ? tokenBuffer : nullptr;
}

const char *MyString::GetNextToken(const char *delims, bool skipEmpty) {
    if (delims == nullptr || *delims == '\0') {
        return nullptr;
    }
    while (tokenCursor != nullptr) {
        char *start = tokenCursor;
        char *end = start + strcspn(start, delims);
        if (*end != '\0') {
            *end = '\0';
            tokenCursor = end + 1;
        } else {
            tokenCursor = nullptr;
        }
        if (!skipEmpty || *start != '\0') {
            return start;
        }
    }
    return nullptr;
}

MyString operator+(const MyString &left, const MyString &right) {
    MyString result(left);
    result += right;
    return result;
}

bool operator==(const MyString &a, const MyString &b) {
    if (a.Length() == 0 || b.Length() == 0) {
        return a.Length() == 0 && b.Length() == 0;
    }
    return strcmp(a.Value(), b.Value()) == 0;
}

bool operator==(const MyString &a, const char *b) {
    bool b_empty = b == nullptr || *b == '\0';
    if (a.Length() == 0 || b_empty) {
        return a.Length() == 0 && b_empty;
    }
    return strcmp(a.Value(), b) == 0;
}

bool operator!=(const MyString &a, const MyString &b) {
    return !(a == b);
}

bool operator!=(const MyString &a, const char *b) {
    return !(a == b);
}

bool operator<(const MyString &a, const MyString &b) {
    const char *x = a.GetCStr();
    const char *y = b.GetCStr();
    if (x == nullptr || y == nullptr) {
        return x == nullptr && y != nullptr;
    }
    return strcmp(x, y) < 0;
}

bool operator<=(const MyString &a, const MyString &b) {
    return a < b || a == b;
}

bool operator>(const MyString &a, const MyString &b) {
    return !(a <= b);
}

bool operator>=(const MyString &a, const MyString &b) {
    return !(a < b);
}

std::ostream &operator<<(std::ostream &os, const MyString &s) {
    if (s.GetCStr() != nullptr) {
        os << s.GetCStr();
    }
    return os;
}

std::istream &operator>>(std::istream &is, MyString &s) {
    std::istream::sentry guard(is);  // skips leading white space
    if (!guard) {
        return is;
    }
    std::streambuf *source = is.rdbuf();
    MyString word;
    char chunk[1024];
    int used = 0;
    for (;;) {
        int c = source->sgetc();
        if (c == std::char_traits<char>::eof()) {
            is.setstate(std::ios_base::eofbit);
            break;
        }
        if (isspace(c)) {
            break;
        }
        chunk[used++] = static_cast<char>(c);
        source->sbumpc();
        if (used == static_cast<int>(sizeof chunk) - 1) {
            chunk[used] = '\0';
            word += chunk;
            used = 0;
        }
    }
    chunk[used] = '\0';
    word += chunk;
    if (word.Length() == 0) {
        is.setstate(std::ios_base::failbit);
        return is;
    }
    s = word;
    return is;
}

int MyStringHash(const MyString &key, int buckets) {
    if (buckets <= 0) {
        return 0;
    }
    return static_cast<int>(static_cast<uint32_t>(key.Hash()) % static_cast<uint32_t>(buckets));
}
