// ArgList: a program's arguments as a plain list of strings, and the
// conversions between that list and the two text syntaxes arguments travel
// in. V1 separates arguments by white space and comes in a Unix flavour (no
// quoting) and a Windows flavour (double quotes and backslashes); V2 quotes
// with single quotes and can express every argument. Each has a raw form and
// a form for embedding in a larger text (V2 quoted: "..." with inner double
// quotes doubled; V1 wacked: every double quote preceded by a backslash).
// In job ClassAds V1 is the attribute "Args" and V2 the attribute
// "Arguments".
//
// An ArgList is a plain value with no process-wide state. Operations taking
// a MyString *error add their message to it when it is not null (after a
// newline when it already holds text) unless said otherwise. Null where a
// text, result or position is required ends the process through the
// fatal-error path.
#ifndef TORVEL_PROCESS_ARG_LIST_H_
#define TORVEL_PROCESS_ARG_LIST_H_

#include "core/ext_array.h"
#include "core/my_string.h"
#include "core/simple_list.h"

class ClassAd;
class TorvelVersionInfo;

class ArgList {
 public:
    enum ArgV1Syntax {
        V1_SYNTAX_UNSPECIFIED = 0,  // parse as Unix, remember the flavour is unknown
        V1_SYNTAX_WIN32 = 1,
        V1_SYNTAX_UNIX = 2,
    };

    ArgList();
    // Copies hold their own copies of the arguments.
    ArgList(const ArgList &other);
    ArgList &operator=(const ArgList &other);
    ~ArgList();

    // Removes every argument and forgets an unspecified V1 flavour.
    void Clear();
    int Count() const;
    // Argument n (0-based), borrowed from the list until it changes, or null.
    const char *GetArg(int n) const;
    // REQUIRES: arg not null.
    void AppendArg(const char *arg);
    // Appends the "%d" form of n.
    void AppendArg(int n);
    // REQUIRES: 0 <= pos < Count().
    void RemoveArg(int pos);
    // Afterwards arg is argument number pos. REQUIRES: arg not null,
    // 0 <= pos <= Count().
    void InsertArg(const char *arg, int pos);

    // The arguments as a new[]'d, null-terminated array of new[]'d copies;
    // release it with deleteStringArray.
    char **GetStringArray() const;

    // Appends copies of other's arguments and takes over its unspecified
    // V1 flavour.
    void AppendArgsFromArgList(const ArgList &other);

    void SetArgV1Syntax(ArgV1Syntax syntax);
    // V1_SYNTAX_UNIX on every platform this library runs on.
    void SetArgV1SyntaxToCurrentPlatform();

    // Parsers: true on success. On failure the arguments parsed before the
    // error stay in the list.
    // V1 raw in the flavour of the V1 syntax set; null appends nothing.
    bool AppendArgsV1Raw(const char *text, MyString *error);
    // V2 raw; the message of an unbalanced quote replaces error's text.
    bool AppendArgsV2Raw(const char *text, MyString *error);
    // V2 quoted only.
    bool AppendArgsV2Quoted(const char *text, MyString *error);
    // V2 quoted when IsV2QuotedString(text), else V1 raw.
    bool AppendArgsV1RawOrV2Quoted(const char *text, MyString *error);
    // V2 quoted when IsV2QuotedString(text), else V1 wacked.
    bool AppendArgsV1WackedOrV2Quoted(const char *text, MyString *error);
    // A text starting with one blank is V2 raw (the blank is dropped), any
    // other is V1 raw: the form GetArgsStringV1or2Raw writes. Null appends
    // nothing.
    bool AppendArgsV1or2Raw(const char *text, MyString *error);

    // Writers: each appends to result. REQUIRES: result not null.
    // V2 raw of the arguments from number skip on; always true.
    bool GetArgsStringV2Raw(MyString *result, MyString *error, int skip = 0) const;
    // The arguments joined by single blanks (one also goes before the first
    // when result already holds text). Fails, replacing error's text, when
    // an argument cannot be written in V1: one holding white space, and the
    // empty argument, which V1 would silently lose.
    bool GetArgsStringV1Raw(MyString *result, MyString *error) const;
    bool GetArgsStringV2Quoted(MyString *result, MyString *error) const;
    // V1 wacked when every argument can be written in V1, else V2 quoted.
    bool GetArgsStringV1WackedOrV2Quoted(MyString *result, MyString *error) const;
    // V1 raw when possible, else one blank (the V2 marker) and V2 raw.
    bool GetArgsStringV1or2Raw(MyString *result, MyString *error) const;
    // A Windows command line of the arguments from number skip on.
    bool GetArgsStringWin32(MyString *result, int skip, MyString *error) const;
    // V2 raw from number skip on, for messages.
    void GetArgsStringForDisplay(MyString *result, int skip = 0) const;

    // ClassAd forms: "Arguments" holds V2 raw, "Args" V1 raw.
    // Appends the ad's string "Arguments" as V2 raw, else its string "Args"
    // as V1 raw, else nothing (true). REQUIRES: ad not null.
    bool AppendArgsFromClassAd(ClassAd *ad, MyString *error);
    // AppendArgsFromClassAd, then GetArgsStringV1or2Raw.
    bool GetArgsStringV1or2Raw(ClassAd *ad, MyString *result, MyString *error);
    // Appends the ad's "Arguments" string if present, else its "Args"
    // string, unchanged. REQUIRES: ad and result not null.
    static void GetArgsStringForDisplay(ClassAd *ad, MyString *result);
    // Whether a peer of this version reads only "Args": it was not built
    // since 6.7.15.
    static bool TorvelVersionRequiresV1(const TorvelVersionInfo &peer_version);
    // Writes the arguments into ad for a peer of peer_version (null: for a
    // peer of unknown version, which gets V1 exactly when the V1 flavour is
    // unknown): "Arguments" when the peer reads V2, else "Args", deleting
    // the other attribute. When V1 is needed but cannot hold the arguments
    // it fails for an unknown peer or flavour; for a known old peer both
    // attributes are deleted and the call succeeds. REQUIRES: ad not null.
    bool InsertArgsIntoClassAd(ClassAd *ad, const TorvelVersionInfo *peer_version,
                               MyString *error) const;

    // The first character that is not white space (isspace) is a double
    // quote. False for null.
    static bool IsV2QuotedString(const char *text);
    // Not null and free of blank, tab, carriage return and newline.
    static bool IsSafeArgV1Value(const char *text);
    // Appends the V2 raw form of a V2 quoted text to raw; null text is
    // success with nothing. REQUIRES: raw not null; text null or
    // IsV2QuotedString(text).
    static bool V2QuotedToV2Raw(const char *text, MyString *raw, MyString *error);
    // Appends raw in double quotes with inner double quotes doubled.
    // REQUIRES: result not null.
    static void V2RawToV2Quoted(const MyString &raw, MyString *result);
    // Appends the V1 raw form of a V1 wacked text to raw; null text is
    // success with nothing. REQUIRES: raw not null; text not V2 quoted.
    static bool V1WackedToV1Raw(const char *text, MyString *raw, MyString *error);
    // Appends raw with a backslash before every double quote.
    // REQUIRES: result not null.
    static void V1RawToV1Wacked(const MyString &raw, MyString *result);

 private:
    bool AppendArgsV1RawUnix(const char *text);
    bool AppendArgsV1RawWin32(const char *text, MyString *error);
    // Whether an argument survives a V1 round trip.
    static bool CanWriteInV1(const MyString &arg);
    // Appends a copy of arg.
    void AppendOwned_(const MyString &arg);
    // Deletes every argument.
    void DeleteArgs_();

    // The arguments, args_list[0 .. Count()-1], each new'd and owned here.
    // Pointers, so that reaching one is an index and inserting or removing
    // shifts pointers, never the texts.
    ExtArray<MyString *> args_list;
    bool v1_flavour_unspecified;
    ArgV1Syntax v1_syntax;
};

// Adds msg to error (when not null), after a newline when error already
// holds text.
void AddErrorMessage(const char *msg, MyString *error);

// Appends the arguments of the V2 raw text to list. On an unbalanced quote
// the text of error (when given) is replaced by the message and the result
// is false; the arguments before it stay in list. Null text appends nothing.
// REQUIRES: list not null.
bool split_args(const char *text, SimpleList<MyString> *list, MyString *error);
// The same into a new null-terminated array (release it with
// deleteStringArray); *argv is null on failure. REQUIRES: argv not null.
bool split_args(const char *text, char ***argv, MyString *error);

// append_arg for every argument from number start on. A null argv appends
// nothing. REQUIRES: result not null.
void join_args(const SimpleList<MyString> &list, MyString *result, int start = 0);
void join_args(const char * const *argv, MyString *result, int start = 0);
// Appends one argument in V2 raw form, after a blank when result is not
// empty. REQUIRES: arg and result not null.
void append_arg(const char *arg, MyString &result);

// Frees an array from GetStringArray or split_args; null is accepted.
void deleteStringArray(char **array);

#endif  // TORVEL_PROCESS_ARG_LIST_H_
