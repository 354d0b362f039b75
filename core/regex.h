// Regex: a compiled regular expression (PCRE syntax) with value semantics.
// Copies hold their own byte copy of the compiled pattern. Every match runs
// under fixed match and recursion limits, so a pattern that would backtrack
// for ages or exhaust the stack on a hostile subject simply does not match.
// Single-threaded, like the rest of the library.
#ifndef TORVEL_CORE_REGEX_H_
#define TORVEL_CORE_REGEX_H_

#include <pcre.h>

#include "core/ext_array.h"
#include "core/my_string.h"

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
    // without a compiled pattern, when nothing matches, or when the match or
    // recursion limit is reached.
    bool match(const MyString &subject, ExtArray<MyString> *groups);

 private:
    void copy_from_(const Regex &copy);
    void release_();

    pcre *pattern;     // owned, from pcre_malloc; null before compile()
    int exec_options;  // option bits for pcre_exec; always 0 here, copied along
};

// The limits every Regex::match runs under, for callers (and benchmarks)
// that call PCRE directly on the same terms: fills *extra with no study
// data and the two limit fields set.
void _torvel_regex_limits(pcre_extra *extra);

#endif  // TORVEL_CORE_REGEX_H_
