// ArgList: a program's arguments as a list of strings, read from the V1
// syntax (white-space separated, no quoting) or the V2 quoted syntax
// ("..." around a V2 raw text of single-quoted sections).
//
// This is the part of the interface the configuration reader and child
// processes need so far; the writers, the Windows flavour and the ClassAd
// forms come with the full implementation.
#ifndef TORVEL_PROCESS_ARG_LIST_H_
#define TORVEL_PROCESS_ARG_LIST_H_

#include <string>
#include <vector>

class MyString;

class ArgList {
 public:
    enum ArgV1Syntax {
        V1_SYNTAX_UNSPECIFIED = 0,
        V1_SYNTAX_WIN32 = 1,
        V1_SYNTAX_UNIX = 2,
    };

    ArgList() = default;

    void Clear();
    int Count() const;
    // Argument n (0-based), borrowed from the list, or null.
    const char *GetArg(int n) const;
    // REQUIRES: arg not null (the process ends otherwise).
    void AppendArg(const char *arg);

    // The arguments as a new[]'d, null-terminated array of new[]'d copies;
    // release it with deleteStringArray.
    char **GetStringArray() const;

    // Each returns true on success; on failure a message is added to error
    // (when not null, after a newline if it already holds text) and the
    // arguments parsed before the error stay.
    // V1 raw, Unix flavour: blank, tab, CR and LF separate; nothing quotes.
    bool AppendArgsV1Raw(const char *text, MyString *error);
    // V2 raw: single quotes group, '' inside them is one quote.
    bool AppendArgsV2Raw(const char *text, MyString *error);
    // V2 quoted only.
    bool AppendArgsV2Quoted(const char *text, MyString *error);
    // V2 quoted when IsV2QuotedString(text), else V1 raw.
    bool AppendArgsV1RawOrV2Quoted(const char *text, MyString *error);

    // The first character that is not white space is a double quote.
    static bool IsV2QuotedString(const char *text);
    // Appends the V2 raw form of a V2 quoted text to raw.
    static bool V2QuotedToV2Raw(const char *text, MyString *raw, MyString *error);

 private:
    std::vector<std::string> args_list_;
    bool v1_flavour_unspecified_ = false;
};

// Frees an array from GetStringArray; null is accepted.
void deleteStringArray(char **array);

#endif  // TORVEL_PROCESS_ARG_LIST_H_
