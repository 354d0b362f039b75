// Fuzz target for the argument-list syntaxes. The first byte picks the
// reader (V2 raw, V2 quoted, V1 Unix, V1 Windows, V1 wacked, V1-or-V2 raw);
// the rest, cut at its first NUL, is parsed. A list that parses is written
// in every form that can hold it and read back, and each must give the same
// arguments: V2 raw, V2 quoted, V1-or-V2 raw, V1 wacked-or-V2 quoted, and the
// Windows command line read by the Windows reader. Any difference aborts.
// Nothing survives between inputs.
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "process/arg_list.h"

const char *mySubSystem = "TOOL";

namespace {

bool same_args(const ArgList &a, const ArgList &b) {
    if (a.Count() != b.Count()) {
        return false;
    }
    for (int i = 0; i < a.Count(); ++i) {
        if (strcmp(a.GetArg(i), b.GetArg(i)) != 0) {
            return false;
        }
    }
    return true;
}

// Writes list with writer, reads the text back with reader into a list of
// the given V1 flavour, and aborts unless both succeed with the same list.
template <typename Writer, typename Reader>
void check_round_trip(const ArgList &list, Writer writer, Reader reader,
                      ArgList::ArgV1Syntax syntax) {
    MyString text;
    MyString error;
    if (!writer(list, &text, &error)) {
        abort();
    }
    ArgList back;
    back.SetArgV1Syntax(syntax);
    if (!reader(back, text.Value(), &error) || !same_args(list, back)) {
        abort();
    }
}

bool parse(ArgList &list, int reader, const char *text) {
    switch (reader) {
        case 0:
            return list.AppendArgsV2Raw(text, nullptr);
        case 1:
            return list.AppendArgsV2Quoted(text, nullptr);
        case 2:
            list.SetArgV1Syntax(ArgList::V1_SYNTAX_UNIX);
            return list.AppendArgsV1Raw(text, nullptr);
        case 3:
            list.SetArgV1Syntax(ArgList::V1_SYNTAX_WIN32);
            return list.AppendArgsV1Raw(text, nullptr);
        case 4:
            return list.AppendArgsV1WackedOrV2Quoted(text, nullptr);
        default:
            return list.AppendArgsV1or2Raw(text, nullptr);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0) {
        return 0;
    }
    char *text = static_cast<char *>(malloc(size));
    memcpy(text, data + 1, size - 1);
    text[size - 1] = '\0';

    ArgList parsed;
    if (parse(parsed, data[0] % 6, text)) {
        // The written forms are read by fresh lists in a definite flavour.
        ArgList list;
        list.SetArgV1Syntax(ArgList::V1_SYNTAX_UNIX);
        for (int i = 0; i < parsed.Count(); ++i) {
            list.AppendArg(parsed.GetArg(i));
        }
        const ArgList::ArgV1Syntax kUnix = ArgList::V1_SYNTAX_UNIX;
        check_round_trip(
            list,
            [](const ArgList &l, MyString *t, MyString *e) { return l.GetArgsStringV2Raw(t, e); },
            [](ArgList &l, const char *t, MyString *e) { return l.AppendArgsV2Raw(t, e); }, kUnix);
        check_round_trip(
            list,
            [](const ArgList &l, MyString *t, MyString *e) {
                return l.GetArgsStringV2Quoted(t, e);
            },
            [](ArgList &l, const char *t, MyString *e) { return l.AppendArgsV2Quoted(t, e); },
            kUnix);
        check_round_trip(
            list,
            [](const ArgList &l, MyString *t, MyString *e) {
                return l.GetArgsStringV1or2Raw(t, e);
            },
            [](ArgList &l, const char *t, MyString *e) { return l.AppendArgsV1or2Raw(t, e); },
            kUnix);
        check_round_trip(
            list,
            [](const ArgList &l, MyString *t, MyString *e) {
                return l.GetArgsStringV1WackedOrV2Quoted(t, e);
            },
            [](ArgList &l, const char *t, MyString *e) {
                return l.AppendArgsV1WackedOrV2Quoted(t, e);
            },
            kUnix);
        check_round_trip(
            list,
            [](const ArgList &l, MyString *t, MyString *e) {
                return l.GetArgsStringWin32(t, 0, e);
            },
            [](ArgList &l, const char *t, MyString *e) { return l.AppendArgsV1Raw(t, e); },
            ArgList::V1_SYNTAX_WIN32);
    }
    free(text);
    return 0;
}
