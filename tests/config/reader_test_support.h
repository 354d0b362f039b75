// Shared helpers for the configuration reader tests: a private temporary
// directory with files written into it, and a local macro table that is
// freed when the test ends.
#ifndef TORVEL_TESTS_CONFIG_READER_TEST_SUPPORT_H_
#define TORVEL_TESTS_CONFIG_READER_TEST_SUPPORT_H_

#include <stdio.h>

#include <string>

#include "config/macro_table.h"
#include "diagnostics/debug_log.h"
#include "tests/support/capture.h"
#include "tests/support/temp_dir.h"

namespace reader_test {

// A directory under TMPDIR (or /tmp), removed with its files on destruction.
class TempDir : public torvel_test::TempDir {
 public:
    TempDir() : torvel_test::TempDir("reader_test") {}
};

// A macro table of N buckets, freed on destruction.
template <int N>
struct LocalTable {
    MacroBucket *heads[N] = {};
    ~LocalTable() { clear_macro_table(heads, N); }
    static constexpr int size = N;
    const char *Lookup(const char *name) { return lookup_macro(name, heads, N); }
};

// Captures debug-log lines of the given categories, headers included,
// while it lives; Text() returns what was written so far.
class LogCapture : public DebugCapture {
 public:
    explicit LogCapture(int flags) : DebugCapture(flags, /*with_headers=*/true) {}
    std::string Text() const { return text(); }
};

}  // namespace reader_test

#endif  // TORVEL_TESTS_CONFIG_READER_TEST_SUPPORT_H_
