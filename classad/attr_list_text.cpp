// AttrList text and wire forms: reading a file of lines and a delimited
// string, printing to a file, a string or the debug log, and the attribute
// count plus attribute texts sent over a Stream (the texts printed at a
// list's first put are kept and sent whole by the next, until the list
// changes).
//
// Reads the process-wide subsystem name (mySubSystem): the "SCHEDD"
// subsystem adds its clock to every list it sends.
#include <errno.h>
#include <limits.h>
#include <stddef.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <vector>

#include "classad/attr_list.h"
#include "classad/attr_names.h"
#include "classad/expr_tree.h"
#include "classad/parser.h"
#include "config/subsystem.h"
#include "core/allocation.h"
#include "core/line_read.h"
#include "core/my_string.h"
#include "diagnostics/debug_log.h"
#include "diagnostics/except.h"
#include "net/default_ip.h"
#include "stream/stream.h"

// The texts a list's own attributes send, one after another with their
// terminators: printed at the first put, copied whole at the next.
struct WireText {
    std::vector<char> bytes;
    int count = 0;
    bool addresses = false;  // some attribute the stream may rewrite is among them
};

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

// Prints e at the end of bytes, with its terminator; returns its length.
size_t print_appended(const AttrListElem &e, std::vector<char> &bytes) {
    size_t start = bytes.size();
    bytes.resize(start + e.PrintRoom() + 1);
    char *end = e.PrintAt(bytes.data() + start);
    *end = '\0';
    size_t length = static_cast<size_t>(end - (bytes.data() + start));
    bytes.resize(start + length + 1);
    return length;
}

// Null when a text is one no put accepts: those go one by one, to be
// refused there.
WireText *print_wire_text(const AttrListElem *first) {
    WireText *kept = new (torvel::or_die) WireText;
    for (const AttrListElem *e = first; e != nullptr; e = e->next) {
        size_t start = kept->bytes.size();
        size_t length = print_appended(*e, kept->bytes);
        bool marked = static_cast<unsigned char>(kept->bytes[start]) == 0xAD;
        if (marked || length >= static_cast<size_t>(Stream::max_string_length) ||
            kept->bytes.size() > static_cast<size_t>(INT_MAX)) {
            delete kept;
            return nullptr;
        }
        kept->addresses = kept->addresses || CarriesAddress(e->name);
        kept->count++;
    }
    kept->bytes.shrink_to_fit();
    return kept;
}

// The schedd's clock, sent after its lists' attributes.
bool put_server_time(Stream &stream) {
    if (!is_schedd()) {
        return true;
    }
    MyString server_time;
    server_time.sprintf("%s = %ld", ATTR_SERVER_TIME, static_cast<long>(time(nullptr)));
    return stream.put(server_time.Value()) != 0;
}

// Sends e's printed text, the host's default address in it replaced by the
// stream's own where it carries one.
bool put_printed(const AttrListElem &e, std::vector<char> &buffer, Stream &stream) {
    size_t room = e.PrintRoom() + 1;
    if (buffer.size() < room) {
        buffer.resize(room);
    }
    char *end = e.PrintAt(buffer.data());
    *end = '\0';
    char *replaced = nullptr;
    ConvertDefaultIPToSocketIP(e.name, buffer.data(), &replaced, stream);
    if (replaced != nullptr) {
        int sent = stream.put(replaced);
        free(replaced);
        return sent != 0;
    }
    ptrdiff_t length = end - buffer.data();
    if (length >= Stream::max_string_length) {
        return stream.put(buffer.data()) != 0;  // refused, and logged, as too long
    }
    return stream.put(buffer.data(), static_cast<int>(length) + 1) != 0;
}

// The count, then every attribute printed anew: the parent's, then the
// own.
bool put_each(const AttrListElem *parent, const AttrListElem *own, Stream &stream) {
    int count = is_schedd() ? 1 : 0;
    for (const AttrListElem *e = parent; e != nullptr; e = e->next) {
        ++count;
    }
    for (const AttrListElem *e = own; e != nullptr; e = e->next) {
        ++count;
    }
    if (!stream.code(count)) {
        return false;
    }
    // Each text is printed into one buffer reused for the whole list.
    std::vector<char> buffer;
    for (int pass = 0; pass < 2; ++pass) {
        for (const AttrListElem *e = pass == 0 ? parent : own; e != nullptr; e = e->next) {
            if (!put_printed(*e, buffer, stream)) {
                return false;
            }
        }
    }
    return put_server_time(stream);
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
    if (chainedAttrs == nullptr && wireText_ == nullptr) {
        wireText_ = print_wire_text(elems_.head);
    }
    stream.encode();
    if (chainedAttrs == nullptr && wireText_ != nullptr &&
        !(wireText_->addresses && RewritesDefaultIP(stream))) {
        const std::vector<char> &bytes = wireText_->bytes;
        int count = wireText_->count + (is_schedd() ? 1 : 0);
        return stream.code(count) &&
               stream.put_texts(bytes.data(), static_cast<int>(bytes.size())) &&
               put_server_time(stream);
    }
    return put_each(chainedAttrs != nullptr ? chainedAttrs->head : nullptr, elems_.head, stream);
}

void AttrList::dropWireText_() {
    delete wireText_;
    wireText_ = nullptr;
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
