// AttrList text and wire forms: reading a file of lines and a delimited
// string, printing to a file, a string or the debug log, and the attribute
// count plus attribute texts sent over a Stream.
//
// Reads the process-wide subsystem name (mySubSystem): the "SCHEDD"
// subsystem adds its clock to every list it sends.
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include "classad/attr_list.h"
#include "classad/attr_names.h"
#include "classad/expr_tree.h"
#include "classad/parser.h"
#include "config/subsystem.h"
#include "core/line_read.h"
#include "core/my_string.h"
#include "diagnostics/debug_log.h"
#include "diagnostics/except.h"
#include "net/default_ip.h"
#include "stream/stream.h"

namespace {

bool is_blank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

bool starts_with(const char *line, const char *delimiter, size_t length) {
    return delimiter != nullptr && (length == 0 || line[0] == delimiter[0]) &&
           strncmp(line, delimiter, length) == 0;
}

bool is_schedd() {
    return mySubSystem != nullptr && strcmp(mySubSystem, "SCHEDD") == 0;
}

}  // namespace

// ---- reading ----

AttrList::AttrList(FILE *file, char *delimiter, int &isEOF, int &error, int &empty) : AttrList() {
    empty = 1;
    isEOF = 0;
    error = 0;
    const size_t delimiter_length = delimiter != nullptr ? strlen(delimiter) : 0;
    char *line = nullptr;
    size_t capacity = 0;
    StartRead();
    while (true) {
        errno = 0;
        if (file == nullptr || _torvel_getline(&line, &capacity, file) < 0) {
            isEOF = file == nullptr || feof(file) ? 1 : 0;
            error = file == nullptr || feof(file) ? 0 : errno;
            break;
        }
        if (starts_with(line, delimiter, delimiter_length)) {
            isEOF = feof(file) ? 1 : 0;
            break;
        }
        const char *text = line;
        while (*text == ' ' || *text == '\t') {
            ++text;
        }
        if (*text == '\0' || *text == '\n' || *text == '#') {
            continue;
        }
        if (!Insert(line, true)) {
            dprintf(D_ALWAYS, "failed to create classad; bad expr = %s\n", line);
            // The rest of this ad goes too, so the next read starts at the
            // next ad.
            while (_torvel_getline(&line, &capacity, file) >= 0 &&
                   !starts_with(line, delimiter, delimiter_length)) {
            }
            isEOF = feof(file) ? 1 : 0;
            error = -1;
            break;
        }
        empty = 0;
    }
    EndRead();
    free(line);
}

AttrList::AttrList(char *text, char delimiter) : AttrList() {
    const char *p = text;
    if (p == nullptr) {
        return;
    }
    MyString piece;
    while (true) {
        while (is_blank(*p)) {
            ++p;
        }
        piece = "";
        while (*p != '\0' && *p != delimiter) {
            piece += *p;
            ++p;
        }
        if (piece.Length() > 0) {
            ExprTree *tree = nullptr;
            // A bare ERROR is what a scan error parses to, so it fails too.
            if (Parse(piece.Value(), tree) != 0 || tree == nullptr || tree->MyType() == LX_ERROR) {
                delete tree;
                EXCEPT("Parse error in the input string");
            }
            if (!Insert(tree, true)) {
                delete tree;  // not an assignment: dropped
            }
        }
        if (*p == '\0') {
            break;
        }
        ++p;  // the delimiter
    }
    ClearAllDirtyFlags();
}

// ---- printing ----

bool AttrList::fPrint(FILE *file) {
    if (file == nullptr) {
        return false;
    }
    for (int pass = 0; pass < 2; ++pass) {
        AttrListElem *first =
            pass == 0 ? (chainedAttrs != nullptr ? chainedAttrs->head : nullptr) : elems_.head;
        for (AttrListElem *e = first; e != nullptr; e = e->next) {
            char *line = e->PrintToNewStr();
            fprintf(file, "%s\n", line != nullptr ? line : "");
            free(line);
        }
    }
    return true;
}

bool AttrList::sPrint(MyString &out) {
    for (int pass = 0; pass < 2; ++pass) {
        AttrListElem *first =
            pass == 0 ? (chainedAttrs != nullptr ? chainedAttrs->head : nullptr) : elems_.head;
        for (AttrListElem *e = first; e != nullptr; e = e->next) {
            char *line = e->PrintToNewStr();
            out += line;
            out += '\n';
            free(line);
        }
    }
    return true;
}

void AttrList::dPrint(int flags) {
    const int line_flags = static_cast<int>(static_cast<unsigned>(flags) | D_NOHEADER);
    for (int pass = 0; pass < 2; ++pass) {
        AttrListElem *first =
            pass == 0 ? (chainedAttrs != nullptr ? chainedAttrs->head : nullptr) : elems_.head;
        for (AttrListElem *e = first; e != nullptr; e = e->next) {
            char *line = e->PrintToNewStr();
            dprintf(line_flags, "%s\n", line != nullptr ? line : "");
            free(line);
        }
    }
}

bool AttrList::fPrintExpr(FILE *file, const char *name) {
    AttrListElem *e = file != nullptr ? LookupElem(name) : nullptr;
    if (e == nullptr) {
        return false;
    }
    char *line = e->PrintToNewStr();
    fprintf(file, "%s\n", line != nullptr ? line : "");
    free(line);
    return true;
}

char *AttrList::sPrintExpr(char *buffer, unsigned size, const char *name) {
    AttrListElem *e = LookupElem(name);
    if (e == nullptr) {
        return nullptr;
    }
    char *text = e->PrintToNewStr();
    if (text == nullptr) {
        EXCEPT("Out of memory");
    }
    if (buffer == nullptr) {
        return text;  // already a malloc copy, as strdup would give
    }
    strncpy(buffer, text, size);
    free(text);
    return buffer;
}

// ---- wire form ----

bool AttrList::put(Stream &stream) {
    int count = is_schedd() ? 1 : 0;
    AttrListElem *parent = chainedAttrs != nullptr ? chainedAttrs->head : nullptr;
    for (AttrListElem *e = parent; e != nullptr; e = e->next) {
        ++count;
    }
    for (AttrListElem *e = elems_.head; e != nullptr; e = e->next) {
        ++count;
    }
    stream.encode();
    if (!stream.code(count)) {
        return false;
    }
    for (int pass = 0; pass < 2; ++pass) {
        for (AttrListElem *e = pass == 0 ? parent : elems_.head; e != nullptr; e = e->next) {
            char *text = e->PrintToNewStr();
            if (text == nullptr) {
                return false;
            }
            ConvertDefaultIPToSocketIP(e->name, &text, stream);
            int sent = stream.put(text);
            free(text);
            if (!sent) {
                return false;
            }
        }
    }
    if (is_schedd()) {
        MyString server_time;
        server_time.sprintf("%s = %ld", ATTR_SERVER_TIME, static_cast<long>(time(nullptr)));
        if (!stream.put(server_time.Value())) {
            return false;
        }
    }
    return true;
}

bool AttrList::initFromStream(Stream &stream) {
    clear();
    stream.decode();
    int count = 0;
    if (!stream.code(count)) {
        return false;
    }
    StartRead();
    for (int i = 0; i < count; ++i) {
        // Borrowed from the stream until its next read: no copy per text.
        char *text = nullptr;
        int length = 0;
        if (!stream.get(text, length) || !Insert(text, true)) {
            EndRead();
            return false;
        }
    }
    EndRead();
    return true;
}
