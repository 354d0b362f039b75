// Regex: a compiled regular expression (PCRE syntax) with value semantics.
// Copies hold their own byte copy of the compiled pattern.
//
// Every match runs under a bound on its work, RegexBudget, so that no
// pattern on any subject can hold the process for long: PCRE's own guards
// (a match limit and a recursion limit) count afresh at each start position
// and not at all inside a repeat of one character, so "a*a*b" over a long
// run of "a" would take hours under them. A match that reaches the bound
// gives up: match() is false and the budget says it was exhausted. Within
// the bound, answers are PCRE's own. Single-threaded, like the rest of the
// library (the budget reaches PCRE through its process-wide callout hook,
// set only while a match runs).
#ifndef TORVEL_CORE_REGEX_H_
#define TORVEL_CORE_REGEX_H_

#include <pcre.h>

#include "core/ext_array.h"
#include "core/my_string.h"

// The work one call of the caller may spend on matches, shared by every
// match it is passed to: a count of PCRE's steps (each item of the pattern
// tried, each character a try moves over) and, as a backstop for items
// whose work that count cannot see, about 100 ms of the thread's CPU time.
// Once exhausted, every further match with it gives up at once.
class RegexBudget {
 public:
    RegexBudget();
    // Whether some match gave up on this budget.
    bool exhausted() const { return exhausted_; }
    // The steps spent so far, in units of the cost of one character moved
    // over (a step of the pattern costs 16).
    long spent() const;

 private:
    friend class Regex;

    long units_;          // steps left
    int position_;        // subject offset at the last step seen
    unsigned unclocked_;  // steps seen since the CPU clock was last read
    bool clocked_;        // whether the CPU clock was read yet
    double cpu_deadline_;
    bool exhausted_;
};

class Regex {
 public:
    // No pattern: match() is false until compile() succeeds.
    Regex();
    // Copies exec_options and a byte copy of the compiled pattern. Running
    // out of memory for the copy is fatal ("No memory to allocate re clone").
    Regex(const Regex &copy);
    Regex &operator=(const Regex &copy);
    ~Regex();

    // Compiles pattern with pcre_compile, passing options through as PCRE
    // compile options (PCRE_CASELESS, PCRE_MULTILINE, ...). On failure
    // *errptr gets PCRE's static error text and *erroffset the offset in the
    // pattern; both may be null when the caller does not want them. A
    // previously compiled pattern is released either way. True on success.
    bool compile(const MyString &pattern, const char **errptr, int *erroffset, int options = 0);

    // Runs the pattern over the whole subject. When groups is not null,
    // (*groups)[0] gets the whole match and (*groups)[i] capture group i, for
    // every group up to the highest one that took part (an unset group in
    // between gives an empty string); later entries are left alone. False
    // without a compiled pattern, when nothing matches, or when the match
    // gives up: budget (a budget of this one match when null) is then
    // exhausted. A pattern too large for PCRE to compile with the counting
    // hooks compiles, but every match of it gives up.
    bool match(const MyString &subject, ExtArray<MyString> *groups, RegexBudget *budget = nullptr);

 private:
    void copy_from_(const Regex &copy);
    void release_();
    // PCRE's callout: charges one step to the budget in the block's data;
    // negative (abandon the match) once the budget is exhausted.
    static int count_step_(pcre_callout_block *block);
    int exec_(const MyString &subject, int *offsets, int offsets_size, RegexBudget &budget);

    pcre *pattern;     // owned, from pcre_malloc; null before compile()
    int exec_options;  // option bits for pcre_exec; always 0 here, copied along
    bool counted_;     // compiled with a counting hook before every item
};

// The limits every Regex::match runs under, for callers (and benchmarks)
// that call PCRE directly on the same terms: fills *extra with no study
// data and the two limit fields set.
void _torvel_regex_limits(pcre_extra *extra);

#endif  // TORVEL_CORE_REGEX_H_
