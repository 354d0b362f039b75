// The kept trees: a direct-mapped table keyed by the text's hash, each
// entry the text, the shared parse it gave (until forgotten) and whether it
// is an attribute's assignment. A text parsed again is compared whole
// before its entry is used.
#include "classad/parse_cache.h"

#include <stdint.h>
#include <string.h>

#include <string>

#include "classad/eval_value.h"
#include "classad/expr_tree.h"
#include "classad/parser.h"
#include "core/allocation.h"
#include "core/text_index.h"

namespace {

// Entries: a power of two, several times the expressions of an ad.
const uint32_t kEntries = 256;
// Longer texts are rarely repeated and are parsed each time.
const size_t kLongestText = 256;

struct Entry {
    uint32_t hash = 0;
    std::string text;               // empty while the entry is free
    SharedParse *shared = nullptr;  // held; null when forgotten
    // When text is a plain "name = expression" whose value is no literal:
    // the name, and its hash.
    std::string assignedName;
    uint32_t nameHash = 0;
};

Entry *entries() {
    static Entry *table = new (torvel::or_die) Entry[kEntries];  // lives for the whole run
    return table;
}

// The string-space references of the trees the table holds, and whether
// they are changing (kept, dropped or all forgotten) right now.
int held = 0;
bool changing = false;

// Parse's answer, with the string-space references the tree holds counted
// as the change it made; no forgetting starts meanwhile.
int parse_counted(const char *text, ExprTree *&tree, int &references) {
    bool was_changing = changing;
    changing = true;
    int before = ExprTree::string_space_references;
    int result = Parse(text, tree);
    references = ExprTree::string_space_references - before;
    changing = was_changing;
    return result;
}

void drop(Entry &entry) {
    bool was_changing = changing;
    changing = true;
    held -= entry.shared->spaceReferences;
    SharedParse *shared = entry.shared;
    entry.shared = nullptr;
    ReleaseSharedParse(shared);
    changing = was_changing;
}

// The entry of a text that is kept, or may be: null when it is not.
Entry *entry_for(const char *text, size_t length, uint32_t &hash) {
    if (length == 0 || length > kLongestText) {
        return nullptr;
    }
    hash = _torvel_text_hash_n(text, length, true);
    return &entries()[hash & (kEntries - 1)];
}

bool holds(const Entry &entry, const char *text, size_t length, uint32_t hash) {
    return !entry.text.empty() && entry.hash == hash && entry.text.size() == length &&
           memcmp(entry.text.data(), text, length) == 0;
}

// Notes in entry whether tree is a plain "name = expression" whose value is
// no literal (what an attribute list may keep as text).
void note_assignment(Entry &entry, ExprTree *tree) {
    entry.assignedName.clear();
    EvalValue literal;
    if (tree->MyType() != LX_ASSIGN || tree->LArg() == nullptr ||
        tree->LArg()->MyType() != LX_VARIABLE || tree->RArg() == nullptr ||
        eval_attribute_literal(tree->RArg(), literal)) {
        return;
    }
    const VariableBase *variable = static_cast<VariableBase *>(tree->LArg());
    const VariableBase::Scope &scope = variable->ReferenceScope();
    if (scope.name != variable->Name()) {
        return;  // a prefixed name
    }
    entry.assignedName = variable->Name();
    entry.nameHash = scope.hash;
}

}  // namespace

int ParseShared(const char *text, SharedParse *&shared, ExprTree *&tree, KnownAssignment *known) {
    shared = nullptr;
    if (known != nullptr) {
        known->name = nullptr;
    }
    size_t length = text != nullptr ? strlen(text) : 0;
    uint32_t hash = 0;
    Entry *entry = entry_for(text, length, hash);
    if (entry == nullptr) {
        return Parse(text, tree);
    }
    if (holds(*entry, text, length, hash)) {
        if (entry->shared != nullptr) {
            shared = entry->shared;
            HoldSharedParse(shared);
            return 0;
        }
        if (known != nullptr && !entry->assignedName.empty()) {
            tree = nullptr;
            known->name = entry->assignedName.c_str();
            known->nameHash = entry->nameHash;
            known->textHash = hash;
            return 0;
        }
    }
    int references = 0;
    int result = parse_counted(text, tree, references);
    if (result != 0 || tree == nullptr) {
        return result;
    }
    if (entry->shared != nullptr) {
        drop(*entry);
    }
    shared = new (torvel::or_die) SharedParse{tree, 2, references};
    tree = nullptr;
    entry->shared = shared;
    entry->hash = hash;
    entry->text.assign(text, length);
    note_assignment(*entry, shared->tree);
    held += references;
    return 0;
}

int ParseRepeated(const char *text, ExprTree *&tree) {
    SharedParse *shared = nullptr;
    int result = ParseShared(text, shared, tree);
    if (shared != nullptr) {
        tree = shared->tree->DeepCopy();
        ReleaseSharedParse(shared);
    }
    return result;
}

void HoldSharedParse(SharedParse *shared) {
    shared->holders++;
}

void ReleaseSharedParse(SharedParse *shared) {
    if (--shared->holders == 0) {
        delete shared->tree;  // its last node's release forgets, if need be
        delete shared;
    } else if (!changing && ExprTree::string_space_references == held) {
        // The last holder of the space besides the table was a user of a
        // kept parse, which held no reference of its own.
        ForgetRepeatedParses();
    }
}

int RepeatedParseReferences() {
    return changing ? 0 : held;
}

void ForgetRepeatedParses() {
    if (changing) {
        return;
    }
    changing = true;
    Entry *table = entries();
    for (uint32_t i = 0; i < kEntries; i++) {
        if (table[i].shared != nullptr) {
            drop(table[i]);
        }
    }
    changing = false;
}
