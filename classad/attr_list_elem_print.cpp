// Printing one attribute: through its tree when it has one (or the shared
// parse it holds instead), else straight from the literal it keeps, as the tree would print,
// without building a node.
#include <stdlib.h>
#include <string.h>

#include "classad/attr_list.h"
#include "classad/expr_tree.h"
#include "classad/literal_text.h"

namespace {

const char kAssign[] = " = ";
const size_t kAssignLength = sizeof kAssign - 1;

}  // namespace

size_t AttrListElem::PrintRoom() const {
    if (ExprTree *tree = treeOrShared_()) {
        return static_cast<size_t>(tree->lengthOf_(false));
    }
    size_t n = strlen(name) + kAssignLength;
    switch (builtKind_) {
        case LX_STRING:
            return n + 2 * static_cast<size_t>(literalLength) + 2;
        case LX_UNDEFINED:
            return n + 9;  // UNDEFINED
        case LX_BOOL:
        case LX_ERROR:
            return n + 5;  // FALSE, ERROR
        default:
            return n + literal_text::kNumberRoom;
    }
}

char *AttrListElem::PrintAt(char *end) const {
    if (ExprTree *tree = treeOrShared_()) {
        return tree->printAt_(end, false);
    }
    size_t name_length = strlen(name);
    memcpy(end, name, name_length);
    end += name_length;
    memcpy(end, kAssign, kAssignLength);
    end += kAssignLength;
    switch (builtKind_) {
        case LX_INTEGER:
            return end + literal_text::FormatInt(end, literalInt, false);
        case LX_BOOL:
            memcpy(end, literalInt ? "TRUE" : "FALSE", literalInt ? 4 : 5);
            return end + (literalInt ? 4 : 5);
        case LX_FLOAT:
            return end + literal_text::FormatFloat(end, literalFloat);
        case LX_STRING:
            return literal_text::PrintQuoted(end, literalText);
        case LX_UNDEFINED:
            memcpy(end, "UNDEFINED", 9);
            return end + 9;
        default:
            memcpy(end, "ERROR", 5);
            return end + 5;
    }
}

char *AttrListElem::PrintToNewStr() const {
    char *text = static_cast<char *>(malloc(PrintRoom() + 1));
    if (text != nullptr) {
        *PrintAt(text) = '\0';
    }
    return text;
}
