// Regex on PCRE. The compiled pattern is one flat block from pcre_malloc, so
// a copy is a byte copy of PCRE_INFO_SIZE bytes and both copies are released
// with pcre_free.
//
// Limits: PCRE backtracks by recursion on the C stack (about 500 bytes a
// level here), so a pattern such as (a|b)*$ over a long subject, or nested
// quantifiers such as (a+)+$, can either run for a very long time or overflow
// the stack and kill the process. Every match therefore runs with an explicit
// match limit and a recursion limit derived from the stack size; reaching
// either is reported by PCRE as an error, which we treat as giving up.
//
// Those limits count per start position, so a search over a long subject
// may still cost their product with its length; and a repeat of one
// character ("a*" scanning forward) costs none of their counts. The work
// bound therefore sits in a callout: patterns are compiled with
// PCRE_AUTO_CALLOUT, which calls count_step_ before every item PCRE tries
// at every start position, wherever it backtracks to. Each call charges a
// step plus the distance the subject position moved since the last call
// (a scan over characters moves it as far as it read). What one item can do
// between two calls without moving the position (a repeat of a fixed count
// that fails partway) is bounded by the item, and the CPU clock, read every
// few thousand steps, bounds it all. The counted answer is reproducible; the
// clock only ever stops work that the count let through.
#include "core/regex.h"

#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <time.h>

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

// A call of the callout costs this many units, a character moved over one:
// a callout takes about as long as PCRE's scan over 16 characters. The
// budget of a call is about 40 ms of steps of either kind on this class of
// machine; ordinary patterns over ordinary subjects use a tiny fraction.
const long kUnitsPerStep = 16;
const long kBudgetUnits = 160L * 1000 * 1000;
// The CPU clock is read after this many steps, and a call may use this much.
const unsigned kStepsPerClockRead = 4096;
const double kCpuSeconds = 0.1;

double thread_cpu_seconds() {
    struct timespec now;
    if (clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now) != 0) {
        return 0;
    }
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

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

RegexBudget::RegexBudget()
    : units_(kBudgetUnits),
      position_(0),
      unclocked_(0),
      clocked_(false),
      cpu_deadline_(0),
      exhausted_(false) {}

long RegexBudget::spent() const {
    return units_ >= 0 ? kBudgetUnits - units_ : kBudgetUnits;
}

int Regex::count_step_(pcre_callout_block *block) {
    RegexBudget &budget = *static_cast<RegexBudget *>(block->callout_data);
    int position = block->current_position;
    long moved =
        position > budget.position_ ? position - budget.position_ : budget.position_ - position;
    budget.position_ = position;
    budget.units_ -= kUnitsPerStep + moved;
    if (++budget.unclocked_ >= kStepsPerClockRead) {
        // The clock starts at the first read: the steps before it are few.
        budget.unclocked_ = 0;
        double now = thread_cpu_seconds();
        if (!budget.clocked_) {
            budget.clocked_ = true;
            budget.cpu_deadline_ = now + kCpuSeconds;
        } else if (now > budget.cpu_deadline_) {
            budget.units_ = -1;
        }
    }
    return budget.units_ < 0 ? PCRE_ERROR_CALLOUT : 0;
}

Regex::Regex() : pattern(nullptr), exec_options(0), counted_(false) {}

Regex::Regex(const Regex &copy) : pattern(nullptr), exec_options(0), counted_(false) {
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
    counted_ = copy.counted_;
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
    // The hooks only add items, so a pattern compiles with them exactly when
    // it compiles at all, unless they make it too large: then it is compiled
    // as given for its answer, and never matched.
    counted_ = true;
    pattern = pcre_compile(source.Value(), options | PCRE_AUTO_CALLOUT, &error_text, &error_offset,
                           nullptr);
    if (pattern == nullptr) {
        counted_ = false;
        pattern = pcre_compile(source.Value(), options, errptr != nullptr ? errptr : &error_text,
                               erroffset != nullptr ? erroffset : &error_offset, nullptr);
    }
    return pattern != nullptr;
}

// pcre_exec under the limits, with count_step_ charging budget; PCRE's
// result. REQUIRES: a counted pattern.
int Regex::exec_(const MyString &subject, int *offsets, int offsets_size, RegexBudget &budget) {
    pcre_extra extra;
    _torvel_regex_limits(&extra);
    extra.flags |= PCRE_EXTRA_CALLOUT_DATA;
    extra.callout_data = &budget;
    budget.position_ = 0;
    int (*outer)(pcre_callout_block *) = pcre_callout;
    pcre_callout = count_step_;
    int result = pcre_exec(pattern, &extra, subject.Value(), subject.Length(), 0, exec_options,
                           offsets, offsets_size);
    pcre_callout = outer;
    return result;
}

bool Regex::match(const MyString &subject, ExtArray<MyString> *groups, RegexBudget *budget) {
    if (pattern == nullptr) {
        return false;
    }
    RegexBudget own;
    RegexBudget &spent = budget != nullptr ? *budget : own;
    if (!counted_ || spent.units_ < 0) {
        spent.exhausted_ = true;
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

    const int filled = exec_(subject, offsets, offsets_size, spent);
    if (filled < 0 && filled != PCRE_ERROR_NOMATCH) {
        spent.units_ = -1;  // a limit, the budget, or a failure: no answer
        spent.exhausted_ = true;
    }
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
