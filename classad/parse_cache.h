// Parsing attribute texts that repeat: the ads of a pool carry the same
// expressions ("Requirements = START", the Start and Rank policies) ad after
// ad, so the tree parsed for a text is kept and later parses of the very
// same text are answered from it instead of scanning and parsing again:
// with a copy of it (ParseRepeated), or with the kept parse itself, shared
// (ParseShared), which attribute lists hold instead of a tree of their own
// until one is asked for. The answers are those of Parse; only successful
// parses are kept, of texts of bounded length, in a bounded table. Shares
// process-wide state, like the parser: not reentrant.
//
// The kept trees hold the string space as any node does, but the table
// alone never keeps it: once nothing else holds it the table forgets them
// (ForgetRepeatedParses), so the space goes with the last tree or ad of
// the program's own, as it does without them. The texts are remembered
// still, with what their parse was (KnownAssignment), so that a program
// that drops each ad before reading the next need not parse the next
// ad's expressions before they are asked for. Keeping a parse costs next
// to nothing: the tree is the one parsed, not a copy.
#ifndef TORVEL_CLASSAD_PARSE_CACHE_H_
#define TORVEL_CLASSAD_PARSE_CACHE_H_

#include <stdint.h>

class ExprTree;

// One kept parse, shared by the table and by whoever asked for it. Its tree
// is never evaluated, changed or handed out: users copy it.
struct SharedParse {
    ExprTree *tree;       // owned
    int holders;          // the table's entry, if it still has it, and each user
    int spaceReferences;  // the string-space references tree holds (its nodes)
};

// Parse(text, tree), answered from the kept trees when text was parsed
// before.
int ParseRepeated(const char *text, ExprTree *&tree);
// What is known of a text parsed before whose tree the table no longer
// keeps: it parsed as "name = expression" with a plain name and a value
// that is no literal. name is the Variable's name (valid until the next
// parse), nameHash its case-blind text hash, textHash the whole text's
// case-blind hash (_torvel_text_hash(text, true), as the table and the
// string space take it), so that keeping the text does not hash it again.
struct KnownAssignment {
    const char *name;
    uint32_t nameHash;
    uint32_t textHash;
};

// Parse's answer for text; on success either shared is a kept parse the
// caller now holds (ReleaseSharedParse when done) and tree is null, or,
// when the text is not kept (too long), tree is the caller's own parse and
// shared is null. With known given, a text known as above is not parsed
// again: both are null and known is filled (its name null otherwise), for
// a caller that keeps the text and parses it only when asked.
int ParseShared(const char *text, SharedParse *&shared, ExprTree *&tree,
                KnownAssignment *known = nullptr);
void HoldSharedParse(SharedParse *shared);
// Deletes the parse with its last holder.
void ReleaseSharedParse(SharedParse *shared);

// How many references to the string space the table's kept trees hold (0
// while they are changing).
int RepeatedParseReferences();
// Drops the table's hold on every kept tree.
void ForgetRepeatedParses();

#endif  // TORVEL_CLASSAD_PARSE_CACHE_H_
