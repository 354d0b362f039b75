// The argument list itself and its V1 (Unix and Windows flavours, wacked)
// and V2 (raw and quoted) readers and writers, with the free V2 helpers
// split_args, join_args and append_arg. No process-wide state. Contract
// violations end the process through the fatal-error path, naming this
// module as "arglist".
#include "process/arg_list.h"

#include <ctype.h>
#include <string.h>

#include "core/allocation.h"
#include "core/strnewp.h"
#include "process/arglist_assert.h"

namespace {

bool is_separator(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// Characters that V2 raw must put inside single quotes.
bool needs_v2_quoting(char c) {
    return is_separator(c) || c == '\'';
}

char **list_to_array(const SimpleList<MyString> &list) {
    char **array = new (torvel::or_die) char *[list.Number() + 1];
    SimpleListIterator<MyString> it(list);
    MyString *arg = nullptr;
    int i = 0;
    while (it.Next(arg)) {
        array[i++] = strnewp(arg->Value());
    }
    array[i] = nullptr;
    return array;
}

// Reads one V2 quoted section starting at the opening quote *p into arg;
// leaves p after the closing quote. False when the section never closes.
bool read_v2_section(const char *&p, MyString &arg) {
    ++p;
    for (;;) {
        if (*p == '\0') {
            return false;
        }
        if (*p == '\'') {
            if (p[1] != '\'') {
                ++p;
                return true;
            }
            arg += '\'';
            p += 2;
        } else {
            arg += *p++;
        }
    }
}

// Reads one Windows quoted section starting at the opening quote *p into
// arg; leaves p after the closing quote. False when the section never
// closes.
bool read_win32_section(const char *&p, MyString &arg) {
    ++p;
    for (;;) {
        if (*p == '\0') {
            return false;
        }
        if (*p == '"') {
            ++p;
            return true;
        }
        if (*p != '\\') {
            arg += *p++;
            continue;
        }
        int run = 0;
        while (p[run] == '\\') {
            ++run;
        }
        bool before_quote = p[run] == '"';
        int kept = before_quote ? run / 2 : run;
        for (int i = 0; i < kept; ++i) {
            arg += '\\';
        }
        p += run;
        if (before_quote) {
            ++p;  // the quote: literal after an odd run, closing after an even one
            if (run % 2 == 0) {
                return true;
            }
            arg += '"';
        }
    }
}

// The reader of one quoted section (read_v2_section, read_win32_section).
typedef bool (*SectionReader)(const char *&p, MyString &arg);

// Hands the words of text, split at separators, to emit(const MyString &)
// in order. Inside a word, `quote` opens a section that read_section reads;
// without a reader nothing is quoted. Null when all of text was read;
// otherwise the opening quote of the section that never closes (the words
// before it are handed over).
template <class Emit>
const char *split_words(const char *text, char quote, SectionReader read_section, Emit emit) {
    const char *p = text;
    for (;;) {
        while (is_separator(*p)) {
            ++p;
        }
        if (*p == '\0') {
            return nullptr;
        }
        MyString arg;
        while (*p != '\0' && !is_separator(*p)) {
            if (read_section == nullptr || *p != quote) {
                arg += *p++;
                continue;
            }
            const char *opening = p;
            if (!read_section(p, arg)) {
                return opening;
            }
        }
        emit(arg);
    }
}

// Hands the arguments of V2 raw text to emit; on an unbalanced quote
// replaces the text of error (when given) by the message and fails.
template <class Emit>
bool split_v2(const char *text, Emit emit, MyString *error) {
    if (text == nullptr) {
        return true;
    }
    const char *open_quote = split_words(text, '\'', read_v2_section, emit);
    if (open_quote == nullptr) {
        return true;
    }
    if (error != nullptr) {
        error->sprintf("Unbalanced quote starting here: %s", open_quote);
    }
    return false;
}

// Appends one argument in Windows command-line quoting.
void append_win32_quoted(const char *arg, MyString *result) {
    *result += '"';
    for (const char *p = arg; *p != '\0';) {
        if (*p == '\\') {
            int run = 0;
            while (p[run] == '\\') {
                ++run;
            }
            // Backslashes before a quote, written or closing, are doubled.
            bool doubled = p[run] == '"' || p[run] == '\0';
            for (int i = 0; i < (doubled ? 2 * run : run); ++i) {
                *result += '\\';
            }
            p += run;
        } else if (*p == '"') {
            *result += "\\\"";
            ++p;
        } else {
            *result += *p++;
        }
    }
    *result += '"';
}

}  // namespace

void AddErrorMessage(const char *msg, MyString *error) {
    if (error == nullptr) {
        return;
    }
    if (error->Length() > 0) {
        *error += "\n";
    }
    *error += msg;
}

// ---------------------------------------------------------------- V2 helpers

bool split_args(const char *text, SimpleList<MyString> *list, MyString *error) {
    ARGLIST_ASSERT(list);
    return split_v2(
        text, [list](const MyString &arg) { list->Append(arg); }, error);
}

bool split_args(const char *text, char ***argv, MyString *error) {
    ARGLIST_ASSERT(argv);
    SimpleList<MyString> list;
    if (!split_args(text, &list, error)) {
        *argv = nullptr;
        return false;
    }
    *argv = list_to_array(list);
    return true;
}

void append_arg(const char *arg, MyString &result) {
    ARGLIST_ASSERT(arg);
    if (result.Length() > 0) {
        result += ' ';
    }
    if (*arg == '\0') {
        result += "''";
        return;
    }
    // Adjacent special characters share one quoted section.
    bool in_section = false;
    for (const char *p = arg; *p != '\0'; ++p) {
        if (!needs_v2_quoting(*p)) {
            if (in_section) {
                result += '\'';
                in_section = false;
            }
            result += *p;
            continue;
        }
        if (!in_section) {
            result += '\'';
            in_section = true;
        }
        result += *p;
        if (*p == '\'') {
            result += '\'';
        }
    }
    if (in_section) {
        result += '\'';
    }
}

void join_args(const SimpleList<MyString> &list, MyString *result, int start) {
    ARGLIST_ASSERT(result);
    SimpleListIterator<MyString> it(list);
    MyString *arg = nullptr;
    for (int i = 0; it.Next(arg); ++i) {
        if (i >= start) {
            append_arg(arg->Value(), *result);
        }
    }
}

void join_args(const char * const *argv, MyString *result, int start) {
    ARGLIST_ASSERT(result);
    if (argv == nullptr) {
        return;
    }
    for (int i = 0; argv[i] != nullptr; ++i) {
        if (i >= start) {
            append_arg(argv[i], *result);
        }
    }
}

void deleteStringArray(char **array) {
    if (array == nullptr) {
        return;
    }
    for (char **p = array; *p != nullptr; ++p) {
        delete[] * p;
    }
    delete[] array;
}

// ------------------------------------------------------------- list handling

ArgList::ArgList()
    : args_list(0), v1_flavour_unspecified(false), v1_syntax(V1_SYNTAX_UNSPECIFIED) {}

ArgList::ArgList(const ArgList &other)
    : args_list(0),
      v1_flavour_unspecified(other.v1_flavour_unspecified),
      v1_syntax(other.v1_syntax) {
    AppendArgsFromArgList(other);
}

ArgList &ArgList::operator=(const ArgList &other) {
    if (this != &other) {
        Clear();
        AppendArgsFromArgList(other);
        v1_syntax = other.v1_syntax;
    }
    return *this;
}

ArgList::~ArgList() {
    DeleteArgs_();
}

void ArgList::DeleteArgs_() {
    for (int i = 0; i < Count(); ++i) {
        delete args_list.getarray()[i];
    }
    args_list.truncate(-1);
}

void ArgList::Clear() {
    DeleteArgs_();
    v1_flavour_unspecified = false;
}

int ArgList::Count() const {
    return args_list.getlast() + 1;
}

const char *ArgList::GetArg(int n) const {
    if (n < 0 || n >= Count()) {
        return nullptr;
    }
    return args_list[n]->Value();
}

void ArgList::AppendOwned_(const MyString &arg) {
    args_list.add(new (torvel::or_die) MyString(arg));
}

void ArgList::AppendArg(const char *arg) {
    ARGLIST_ASSERT(arg);
    AppendOwned_(MyString(arg));
}

void ArgList::AppendArg(int n) {
    AppendOwned_(MyString(n));
}

void ArgList::RemoveArg(int pos) {
    ARGLIST_ASSERT(pos >= 0 && pos < Count());
    MyString **items = args_list.getarray();
    int count = Count();
    delete items[pos];
    memmove(items + pos, items + pos + 1,
            sizeof(MyString *) * static_cast<size_t>(count - pos - 1));
    args_list.truncate(count - 2);
}

void ArgList::InsertArg(const char *arg, int pos) {
    ARGLIST_ASSERT(arg);
    ARGLIST_ASSERT(pos >= 0 && pos <= Count());
    int count = Count();
    args_list.add(nullptr);  // room for one more, grown by doubling
    MyString **items = args_list.getarray();
    memmove(items + pos + 1, items + pos, sizeof(MyString *) * static_cast<size_t>(count - pos));
    items[pos] = new (torvel::or_die) MyString(arg);
}

char **ArgList::GetStringArray() const {
    char **array = new (torvel::or_die) char *[Count() + 1];
    for (int i = 0; i < Count(); ++i) {
        array[i] = strnewp(GetArg(i));
    }
    array[Count()] = nullptr;
    return array;
}

void ArgList::AppendArgsFromArgList(const ArgList &other) {
    v1_flavour_unspecified = other.v1_flavour_unspecified;
    // Counted first: other may be this list.
    int count = other.Count();
    for (int i = 0; i < count; ++i) {
        AppendOwned_(*other.args_list[i]);
    }
}

void ArgList::SetArgV1Syntax(ArgV1Syntax syntax) {
    v1_syntax = syntax;
}

void ArgList::SetArgV1SyntaxToCurrentPlatform() {
    v1_syntax = V1_SYNTAX_UNIX;
}

// ------------------------------------------------------------------- parsing

bool ArgList::AppendArgsV1RawUnix(const char *text) {
    split_words(text, '\0', nullptr, [this](const MyString &arg) { AppendOwned_(arg); });
    return true;
}

bool ArgList::AppendArgsV1RawWin32(const char *text, MyString *error) {
    const char *open_quote = split_words(text, '"', read_win32_section,
                                         [this](const MyString &arg) { AppendOwned_(arg); });
    if (open_quote == nullptr) {
        return true;
    }
    MyString message;
    message.sprintf("Unterminated quote in windows argument string starting here: %s", open_quote);
    AddErrorMessage(message.Value(), error);
    return false;
}

bool ArgList::AppendArgsV1Raw(const char *text, MyString *error) {
    if (text == nullptr) {
        return true;
    }
    switch (v1_syntax) {
        case V1_SYNTAX_WIN32:
            return AppendArgsV1RawWin32(text, error);
        case V1_SYNTAX_UNSPECIFIED:
            v1_flavour_unspecified = true;
            return AppendArgsV1RawUnix(text);
        case V1_SYNTAX_UNIX:
            return AppendArgsV1RawUnix(text);
    }
    ARGLIST_EXCEPT("Unexpected v1_syntax=%d in AppendArgsV1Raw", static_cast<int>(v1_syntax));
}

bool ArgList::AppendArgsV2Raw(const char *text, MyString *error) {
    return split_v2(
        text, [this](const MyString &arg) { AppendOwned_(arg); }, error);
}

bool ArgList::AppendArgsV2Quoted(const char *text, MyString *error) {
    if (!IsV2QuotedString(text)) {
        AddErrorMessage("Expecting double-quoted input string (V2 format).", error);
        return false;
    }
    MyString raw;
    if (!V2QuotedToV2Raw(text, &raw, error)) {
        return false;
    }
    return AppendArgsV2Raw(raw.Value(), error);
}

bool ArgList::AppendArgsV1RawOrV2Quoted(const char *text, MyString *error) {
    if (IsV2QuotedString(text)) {
        return AppendArgsV2Quoted(text, error);
    }
    return AppendArgsV1Raw(text, error);
}

bool ArgList::AppendArgsV1WackedOrV2Quoted(const char *text, MyString *error) {
    if (IsV2QuotedString(text)) {
        return AppendArgsV2Quoted(text, error);
    }
    MyString raw;
    if (!V1WackedToV1Raw(text, &raw, error)) {
        return false;
    }
    return AppendArgsV1Raw(raw.Value(), error);
}

bool ArgList::AppendArgsV1or2Raw(const char *text, MyString *error) {
    if (text == nullptr) {
        return true;
    }
    if (text[0] == ' ') {
        return AppendArgsV2Raw(text + 1, error);
    }
    return AppendArgsV1Raw(text, error);
}

// ------------------------------------------------------------------- writing

bool ArgList::CanWriteInV1(const MyString &arg) {
    return arg.Length() > 0 && IsSafeArgV1Value(arg.Value());
}

bool ArgList::GetArgsStringV2Raw(MyString *result, MyString *error, int skip) const {
    ARGLIST_ASSERT(result);
    for (int i = skip < 0 ? 0 : skip; i < Count(); ++i) {
        append_arg(GetArg(i), *result);
    }
    return true;
}

bool ArgList::GetArgsStringV1Raw(MyString *result, MyString *error) const {
    ARGLIST_ASSERT(result);
    for (int i = 0; i < Count(); ++i) {
        const MyString *arg = args_list[i];
        if (!CanWriteInV1(*arg)) {
            if (error != nullptr) {
                error->sprintf("Cannot represent '%s' in V1 arguments syntax.", arg->Value());
            }
            return false;
        }
        if (result->Length() > 0) {
            *result += ' ';
        }
        *result += *arg;
    }
    return true;
}

bool ArgList::GetArgsStringV2Quoted(MyString *result, MyString *error) const {
    ARGLIST_ASSERT(result);
    MyString raw;
    GetArgsStringV2Raw(&raw, error);
    V2RawToV2Quoted(raw, result);
    return true;
}

bool ArgList::GetArgsStringV1WackedOrV2Quoted(MyString *result, MyString *error) const {
    ARGLIST_ASSERT(result);
    MyString v1;
    if (GetArgsStringV1Raw(&v1, nullptr)) {
        V1RawToV1Wacked(v1, result);
        return true;
    }
    return GetArgsStringV2Quoted(result, error);
}

bool ArgList::GetArgsStringV1or2Raw(MyString *result, MyString *error) const {
    ARGLIST_ASSERT(result);
    MyString before = *result;
    if (GetArgsStringV1Raw(result, nullptr)) {
        return true;
    }
    // Cut off the partial V1 text, then mark the V2 form with one blank.
    *result = before;
    *result += ' ';
    return GetArgsStringV2Raw(result, error);
}

bool ArgList::GetArgsStringWin32(MyString *result, int skip, MyString *error) const {
    ARGLIST_ASSERT(result);
    for (int i = skip < 0 ? 0 : skip; i < Count(); ++i) {
        if (result->Length() > 0) {
            *result += ' ';
        }
        // Quoting is harmless on Windows, so everything the Windows reader
        // would split or lose (white space, quotes, the empty argument) is
        // quoted.
        const char *text = GetArg(i);
        bool plain = *text != '\0' && strpbrk(text, " \t\r\n\"") == nullptr;
        if (v1_flavour_unspecified || plain) {
            *result += text;
        } else {
            append_win32_quoted(text, result);
        }
    }
    return true;
}

void ArgList::GetArgsStringForDisplay(MyString *result, int skip) const {
    GetArgsStringV2Raw(result, nullptr, skip);
}

// ------------------------------------------------------ conversions and tests

bool ArgList::IsV2QuotedString(const char *text) {
    if (text == nullptr) {
        return false;
    }
    while (isspace(static_cast<unsigned char>(*text))) {
        ++text;
    }
    return *text == '"';
}

bool ArgList::IsSafeArgV1Value(const char *text) {
    return text != nullptr && strpbrk(text, " \t\r\n") == nullptr;
}

bool ArgList::V2QuotedToV2Raw(const char *text, MyString *raw, MyString *error) {
    if (text == nullptr) {
        return true;
    }
    ARGLIST_ASSERT(raw);
    while (isspace(static_cast<unsigned char>(*text))) {
        ++text;
    }
    ARGLIST_ASSERT(*text == '"');
    const char *p = text + 1;
    for (;;) {
        if (*p == '\0') {
            AddErrorMessage("Unterminated double-quote.", error);
            return false;
        }
        if (*p == '"' && p[1] == '"') {
            *raw += '"';
            p += 2;
        } else if (*p == '"') {
            break;
        } else {
            *raw += *p++;
        }
    }
    const char *closing = p++;
    while (isspace(static_cast<unsigned char>(*p))) {
        ++p;
    }
    if (*p != '\0') {
        MyString message;
        message.sprintf(
            "Unexpected characters following double-quote.  Did you forget to "
            "escape the double-quote by repeating it?  Here is the quote and "
            "trailing characters: %s\n",
            closing);
        AddErrorMessage(message.Value(), error);
        return false;
    }
    return true;
}

void ArgList::V2RawToV2Quoted(const MyString &raw, MyString *result) {
    ARGLIST_ASSERT(result);
    *result += '"';
    for (const char *p = raw.Value(); *p != '\0'; ++p) {
        *result += *p;
        if (*p == '"') {
            *result += '"';
        }
    }
    *result += '"';
}

bool ArgList::V1WackedToV1Raw(const char *text, MyString *raw, MyString *error) {
    if (text == nullptr) {
        return true;
    }
    ARGLIST_ASSERT(raw);
    ARGLIST_ASSERT(!IsV2QuotedString(text));
    for (const char *p = text; *p != '\0'; ++p) {
        if (*p == '\\' && p[1] == '"') {
            *raw += '"';
            ++p;
        } else if (*p == '"') {
            MyString message;
            message.sprintf("Found illegal unescaped double-quote: %s", p);
            AddErrorMessage(message.Value(), error);
            return false;
        } else {
            *raw += *p;
        }
    }
    return true;
}

void ArgList::V1RawToV1Wacked(const MyString &raw, MyString *result) {
    ARGLIST_ASSERT(result);
    for (const char *p = raw.Value(); *p != '\0'; ++p) {
        if (*p == '"') {
            *result += '\\';
        }
        *result += *p;
    }
}
