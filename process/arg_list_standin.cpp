// Stand-in for the argument-list module until the real one (SimpleList
// storage, the Windows V1 flavour, V1 wacked, the writers and the ClassAd
// forms) lands; that change deletes this file and rewrites arg_list.h.
// What is here follows the real rules: V1 raw in the Unix flavour, V2 raw,
// and V2 quoted.
#include "process/arg_list.h"

#include <ctype.h>
#include <string.h>

#include "core/my_string.h"
#include "diagnostics/except.h"

namespace {

bool is_separator(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

void add_error_message(const char *message, MyString *error) {
    if (error == nullptr) {
        return;
    }
    if (error->Length() > 0) {
        *error += "\n";
    }
    *error += message;
}

char *copy_array(const std::string &text) {
    char *copy = new char[text.size() + 1];
    memcpy(copy, text.c_str(), text.size() + 1);
    return copy;
}

}  // namespace

void ArgList::Clear() {
    args_list_.clear();
    v1_flavour_unspecified_ = false;
}

int ArgList::Count() const {
    return static_cast<int>(args_list_.size());
}

const char *ArgList::GetArg(int n) const {
    if (n < 0 || n >= Count()) {
        return nullptr;
    }
    return args_list_[static_cast<size_t>(n)].c_str();
}

void ArgList::AppendArg(const char *arg) {
    ASSERT(arg);
    args_list_.emplace_back(arg);
}

char **ArgList::GetStringArray() const {
    char **array = new char *[args_list_.size() + 1];
    for (size_t i = 0; i < args_list_.size(); ++i) {
        array[i] = copy_array(args_list_[i]);
    }
    array[args_list_.size()] = nullptr;
    return array;
}

void deleteStringArray(char **array) {
    if (array == nullptr) {
        return;
    }
    for (char **p = array; *p != nullptr; ++p) {
        delete[] *p;
    }
    delete[] array;
}

bool ArgList::AppendArgsV1Raw(const char *text, MyString *error) {
    if (text == nullptr) {
        return true;
    }
    // Only the Unix flavour so far; unspecified text is parsed as Unix.
    v1_flavour_unspecified_ = true;
    const char *p = text;
    while (*p != '\0') {
        while (is_separator(*p)) {
            ++p;
        }
        const char *start = p;
        while (*p != '\0' && !is_separator(*p)) {
            ++p;
        }
        if (p > start) {
            args_list_.emplace_back(start, static_cast<size_t>(p - start));
        }
    }
    return true;
}

bool ArgList::AppendArgsV2Raw(const char *text, MyString *error) {
    if (text == nullptr) {
        return true;
    }
    const char *p = text;
    while (*p != '\0') {
        while (is_separator(*p)) {
            ++p;
        }
        if (*p == '\0') {
            break;
        }
        std::string arg;
        while (*p != '\0' && !is_separator(*p)) {
            if (*p != '\'') {
                arg += *p++;
                continue;
            }
            const char *quote = p++;
            for (;;) {
                if (*p == '\0') {
                    MyString message;
                    message.sprintf("Unbalanced quote starting here: %s", quote);
                    if (error != nullptr) {
                        *error = message;
                    }
                    return false;
                }
                if (*p == '\'' && p[1] == '\'') {
                    arg += '\'';
                    p += 2;
                } else if (*p == '\'') {
                    ++p;
                    break;
                } else {
                    arg += *p++;
                }
            }
        }
        args_list_.push_back(arg);
    }
    return true;
}

bool ArgList::IsV2QuotedString(const char *text) {
    if (text == nullptr) {
        return false;
    }
    while (isspace(static_cast<unsigned char>(*text))) {
        ++text;
    }
    return *text == '"';
}

bool ArgList::V2QuotedToV2Raw(const char *text, MyString *raw, MyString *error) {
    if (text == nullptr) {
        return true;
    }
    ASSERT(raw);
    while (isspace(static_cast<unsigned char>(*text))) {
        ++text;
    }
    ASSERT(*text == '"');
    const char *p = text + 1;
    for (;;) {
        if (*p == '\0') {
            add_error_message("Unterminated double-quote.", error);
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
        message.sprintf("Unexpected characters following double-quote.  Did you forget to "
                        "escape the double-quote by repeating it?  Here is the quote and "
                        "trailing characters: %s\n",
                        closing);
        add_error_message(message.Value(), error);
        return false;
    }
    return true;
}

bool ArgList::AppendArgsV2Quoted(const char *text, MyString *error) {
    if (!IsV2QuotedString(text)) {
        add_error_message("Expecting double-quoted input string (V2 format).", error);
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
