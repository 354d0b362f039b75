// Parsing attribute texts that repeat: the ads of a pool carry the same
// expressions ("Requirements = START", the Start and Rank policies) ad after
// ad, so the tree parsed for a text is kept and later parses of the very
// same text get a copy of it instead of scanning and parsing again. The
// answers are those of Parse; only successful parses are kept, of texts of
// bounded length, in a bounded table. Shares process-wide state, like the
// parser: not reentrant.
//
// The kept trees hold the string space as any node does, but they alone
// never keep it: once nothing else holds it they are dropped
// (ForgetRepeatedParses), so the space goes with the last tree or ad of
// the program's own, as it does without them. When they are dropped
// before any was asked for again (each ad dropped before the next is
// read), nothing is kept for the next few thousand parses.
#ifndef TORVEL_CLASSAD_PARSE_CACHE_H_
#define TORVEL_CLASSAD_PARSE_CACHE_H_

class ExprTree;

// Parse(text, tree), answered from the kept trees when text was parsed
// before.
int ParseRepeated(const char *text, ExprTree *&tree);

// How many references to the string space the kept trees hold (0 while
// they are changing).
int RepeatedParseReferences();
// Drops every kept tree.
void ForgetRepeatedParses();

#endif  // TORVEL_CLASSAD_PARSE_CACHE_H_
