// Regex on PCRE. The compiled pattern is one flat block from pcre_malloc, so
// a copy is a byte copy of PCRE_INFO_SIZE bytes and both copies are released
// with pcre_free.
//
// Limits: PCRE backtracks by recursion on the C stack (about 500 bytes a
// level here), so a pattern such as (a|b)*$ over a long subject, or nested
// quantifiers such as (a+)+$, can either run for a very long time or overflow
// the stack and kill the process. Every match therefore runs with an explicit
// match limit and a recursion limit derived from the stack size; reaching
// either is reported by PCRE as an error, which we treat as "no match".
#include "core/regex.h"

#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>

#include "diagnostics/except.h"

namespace {

// Calls of PCRE's internal match(): about 10 ms of backtracking. Ordinary
// patterns on ordinary subjects use a tiny fraction of it.
const unsigned long kMatchLimit = 1000000;

// At most this much stack goes to PCRE's recursion, and never more than half
// of the process's stack limit.
const rlim_t kStackBudget = 4 * 1024 * 1024;

// Used when PCRE cannot tell its frame size; generous so the limit errs low.
const int kFallbackFrameSize = 1024;

// Capture groups whose offsets fit on the stack; more go to the heap.
const int kStackGroups = 16;

[[noreturn]] void regex_fatal(int line, const char *message) {
    _EXCEPT_Line = line;
    _EXCEPT_File = "Regex";
    _EXCEPT_Errno = errno;
    _EXCEPT_("%s", message);
}

unsigned long compute_recursion_limit() {
    rlim_t budget = kStackBudget;
    struct rlimit stack;
    if (getrlimit(RLIMIT_STACK, &stack) == 0 && stack.rlim_cur != RLIM_INFINITY &&
        stack.rlim_cur / 2 < budget) {
        budget = stack.rlim_cur / 2;
    }
    // This special call reports the stack bytes of one recursion level as a
    // negative number.
    int frame = -pcre_exec(nullptr, nullptr, nullptr, -999, -999, 0, nullptr, 0);
    if (frame <= 0) {
        frame = kFallbackFrameSize;
    }
    unsigned long limit = static_cast<unsigned long>(budget / static_cast<rlim_t>(frame));
    return limit > 0 ? limit : 1;
}

}  // namespace

void _torvel_regex_limits(pcre_extra *extra) {
    static const unsigned long recursion_limit = compute_recursion_limit();
    memset(extra, 0, sizeof *extra);
    extra->flags = PCRE_EXTRA_MATCH_LIMIT | PCRE_EXTRA_MATCH_LIMIT_RECURSION;
    extra->match_limit = kMatchLimit;
    extra->match_limit_recursion = recursion_limit;
}

Regex::Regex() : pattern(nullptr), exec_options(0) {}

Regex::Regex(const Regex &copy) : pattern(nullptr), exec_options(0) {
    copy_from_(copy);
}

Regex &Regex::operator=(const Regex &copy) {
    if (this != &copy) {
        release_();
        copy_from_(copy);
    }
    return *this;
}

Regex::~Regex() {
    release_();
}

void Regex::copy_from_(const Regex &copy) {
    exec_options = copy.exec_options;
    pattern = nullptr;
    if (copy.pattern == nullptr) {
        return;
    }
    size_t size = 0;
    if (pcre_fullinfo(copy.pattern, nullptr, PCRE_INFO_SIZE, &size) != 0 || size == 0) {
        return;  // not a pattern PCRE recognises: nothing sound to copy
    }
    void *block = (*pcre_malloc)(size);
    if (block == nullptr) {
        regex_fatal(__LINE__, "No memory to allocate re clone");
    }
    memcpy(block, copy.pattern, size);
    pattern = static_cast<pcre *>(block);
}

void Regex::release_() {
    if (pattern != nullptr) {
        (*pcre_free)(pattern);
        pattern = nullptr;
    }
}

bool Regex::compile(const MyString &source, const char **errptr, int *erroffset, int options) {
    const char *error_text = nullptr;
    int error_offset = 0;
    release_();
    pattern = pcre_compile(source.Value(), options, errptr != nullptr ? errptr : &error_text,
                           erroffset != nullptr ? erroffset : &error_offset, nullptr);
    return pattern != nullptr;
}

bool Regex::match(const MyString &subject, ExtArray<MyString> *groups) {
    if (pattern == nullptr) {
        return false;
    }
    int group_count = 0;
    pcre_fullinfo(pattern, nullptr, PCRE_INFO_CAPTURECOUNT, &group_count);
    const int offsets_size = 3 * (group_count + 1);

    int stack_offsets[3 * (kStackGroups + 1)];
    int *offsets = stack_offsets;
    if (group_count > kStackGroups) {
        offsets = static_cast<int *>(malloc(sizeof(int) * offsets_size));
        if (offsets == nullptr) {
            regex_fatal(__LINE__, "No memory to allocate data for re match");
        }
    }

    pcre_extra extra;
    _torvel_regex_limits(&extra);
    const int filled = pcre_exec(pattern, &extra, subject.Value(), subject.Length(), 0,
                                 exec_options, offsets, offsets_size);
    if (groups != nullptr) {
        for (int i = 0; i < filled; ++i) {
            (*groups)[i] = subject.Substr(offsets[2 * i], offsets[2 * i + 1] - 1);
        }
    }

    if (offsets != stack_offsets) {
        free(offsets);
    }
    return filled > 0;
}
