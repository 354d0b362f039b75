// The kept trees: a direct-mapped table keyed by the text's hash, each
// entry the text and the tree its parse gave (never evaluated or handed
// out; callers get copies). A text parsed again is compared whole before
// its tree is copied.
#include "classad/parse_cache.h"

#include <stdint.h>
#include <string.h>

#include <string>

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
    std::string text;
    ExprTree *tree = nullptr;  // owned; null while the entry is free
};

Entry *entries() {
    static Entry *table = new (torvel::or_die) Entry[kEntries];  // lives for the whole run
    return table;
}

// The string-space references of the kept trees' nodes, and whether they
// are changing (kept, dropped or all forgotten) right now.
int held = 0;
bool changing = false;

// A program that drops each ad before reading the next forgets the kept
// trees before any is asked for again; keeping them is then pure cost.
// After such a forgetting nothing is kept for a while.
int hits = 0;     // since the last forgetting
int resting = 0;  // parses left that keep nothing
const int kRestingParses = 4096;

// Counted as the change in the space's references, one per node.
void keep(Entry &entry, const ExprTree &tree) {
    changing = true;
    int before = ExprTree::string_space_references;
    entry.tree = tree.DeepCopy();
    held += ExprTree::string_space_references - before;
    changing = false;
}

void drop(Entry &entry) {
    bool was_changing = changing;
    changing = true;
    int before = ExprTree::string_space_references;
    delete entry.tree;
    entry.tree = nullptr;
    held -= before - ExprTree::string_space_references;
    changing = was_changing;
}

}  // namespace

int ParseRepeated(const char *text, ExprTree *&tree) {
    if (resting > 0) {
        resting--;  // nothing is kept to look for
        return Parse(text, tree);
    }
    size_t length = text != nullptr ? strlen(text) : 0;
    if (length == 0 || length > kLongestText) {
        return Parse(text, tree);
    }
    const uint32_t hash = _torvel_text_hash_n(text, length, false);
    Entry &entry = entries()[hash & (kEntries - 1)];
    if (entry.tree != nullptr && entry.hash == hash && entry.text.size() == length &&
        memcmp(entry.text.data(), text, length) == 0) {
        tree = entry.tree->DeepCopy();
        hits++;
        return 0;
    }
    int result = Parse(text, tree);
    if (result == 0 && tree != nullptr) {
        drop(entry);
        keep(entry, *tree);
        entry.hash = hash;
        entry.text.assign(text, length);
    }
    return result;
}

int RepeatedParseReferences() {
    return changing ? 0 : held;
}

void ForgetRepeatedParses() {
    if (changing) {
        return;
    }
    changing = true;
    if (hits == 0) {
        resting = kRestingParses;
    }
    hits = 0;
    Entry *table = entries();
    for (uint32_t i = 0; i < kEntries; i++) {
        if (table[i].tree != nullptr) {
            drop(table[i]);
        }
    }
    changing = false;
}
